#include "viewing/SamplePhoto.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace hx::viewing {

namespace {

// A small linear congruential generator: the same photo on every machine.
struct Noise {
    std::uint32_t state;
    explicit Noise(std::uint32_t s) : state(s * 2654435761u + 12345u) {}
    int next(int amplitude) {
        state = state * 1664525u + 1013904223u;
        if (amplitude <= 0) return 0;
        return static_cast<int>((state >> 8) % static_cast<std::uint32_t>(2 * amplitude + 1)) - amplitude;
    }
};

std::string encode(int width, int height, int quality, int noise, int number, const std::string& app1,
                   int restartRows = 0, bool progressive = false) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.restart_in_rows = restartRows;
    if (progressive) jpeg_simple_progression(&cinfo);
    cinfo.write_JFIF_header = app1.empty() ? TRUE : FALSE;
    jpeg_start_compress(&cinfo, TRUE);
    if (!app1.empty())
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(app1.data()),
                          static_cast<unsigned>(app1.size()));
    std::vector<unsigned char> row(static_cast<std::size_t>(width) * 3);
    Noise rng(static_cast<std::uint32_t>(number));
    const double phase = number * 0.7;
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = static_cast<int>(cinfo.next_scanline);
        for (int x = 0; x < width; ++x) {
            // A sky-to-ground gradient with soft blobs, plus grain.
            const double fx = static_cast<double>(x) / width, fy = static_cast<double>(y) / height;
            const double blob = 40.0 * std::sin(6.0 * fx + phase) * std::cos(5.0 * fy - phase);
            const int r = static_cast<int>(90 + 120 * fy + blob) + rng.next(noise);
            const int g = static_cast<int>(120 + 60 * fx - 40 * fy + blob / 2) + rng.next(noise);
            const int b = static_cast<int>(210 - 150 * fy - blob) + rng.next(noise);
            row[3 * x] = static_cast<unsigned char>(r < 0 ? 0 : r > 255 ? 255 : r);
            row[3 * x + 1] = static_cast<unsigned char>(g < 0 ? 0 : g > 255 ? 255 : g);
            row[3 * x + 2] = static_cast<unsigned char>(b < 0 ? 0 : b > 255 ? 255 : b);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::string bytes(reinterpret_cast<const char*>(out), outSize);
    jpeg_destroy_compress(&cinfo);
    std::free(out);
    return bytes;
}

// Little-endian TIFF writer for the EXIF block.
struct TiffWriter {
    std::string bytes;
    void u16(std::uint32_t v) {
        bytes.push_back(static_cast<char>(v & 0xFF));
        bytes.push_back(static_cast<char>(v >> 8 & 0xFF));
    }
    void u32(std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void put32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(v >> (8 * i) & 0xFF);
    }
};

struct Entry {
    std::uint16_t tag, type;
    std::uint32_t count;
    std::uint32_t value;   // inline value or offset (patched)
    std::string data;      // out-of-line data, when longer than 4 bytes
};

std::string exifBlock(int number, int width, int height) {
    const std::string make = SamplePhotoMake(number), model = SamplePhotoModel(number), date = SamplePhotoDate(number);
    const std::string thumb = encode(160, 120, 80, 6, number, {});
    auto ascii = [](std::uint16_t tag, const std::string& s) {
        std::string z = s;
        z.push_back('\0');
        return Entry{tag, 2, static_cast<std::uint32_t>(z.size()), 0, z};
    };
    std::vector<Entry> ifd0 = {ascii(0x010F, make), ascii(0x0110, model), {0x0112, 3, 1, 1, {}},
                               ascii(0x0132, date), {0x8769, 4, 1, 0, {}}};
    std::vector<Entry> exif = {ascii(0x9003, date), {0xA001, 3, 1, 1, {}},
                               {0xA002, 4, 1, static_cast<std::uint32_t>(width), {}},
                               {0xA003, 4, 1, static_cast<std::uint32_t>(height), {}}};
    std::vector<Entry> ifd1 = {{0x0103, 3, 1, 6, {}}, {0x0201, 4, 1, 0, {}},
                               {0x0202, 4, 1, static_cast<std::uint32_t>(thumb.size()), {}}};

    TiffWriter w;
    w.bytes = "II";
    w.u16(42);
    w.u32(8);
    // Lays out one directory followed by its out-of-line data; returns the
    // positions of the entries' value fields.
    auto writeIfd = [&w](std::vector<Entry>& entries, std::size_t& nextField) {
        std::vector<std::size_t> fields;
        w.u16(static_cast<std::uint32_t>(entries.size()));
        for (auto& e : entries) {
            w.u16(e.tag);
            w.u16(e.type);
            w.u32(e.count);
            fields.push_back(w.bytes.size());
            w.u32(e.value);
        }
        nextField = w.bytes.size();
        w.u32(0);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].data.empty()) continue;
            if (entries[i].data.size() <= 4) {
                w.bytes.replace(fields[i], entries[i].data.size(), entries[i].data);
                continue;
            }
            w.put32(fields[i], static_cast<std::uint32_t>(w.bytes.size()));
            w.bytes += entries[i].data;
            if (w.bytes.size() % 2) w.bytes.push_back('\0');
        }
        return fields;
    };
    std::size_t next0 = 0, nextExif = 0, next1 = 0;
    auto f0 = writeIfd(ifd0, next0);
    w.put32(f0[4], static_cast<std::uint32_t>(w.bytes.size()));
    writeIfd(exif, nextExif);
    w.put32(next0, static_cast<std::uint32_t>(w.bytes.size()));
    auto f1 = writeIfd(ifd1, next1);
    w.put32(f1[1], static_cast<std::uint32_t>(w.bytes.size()));
    w.bytes += thumb;
    return std::string("Exif\0\0", 6) + w.bytes;
}

}  // namespace

std::string SamplePhotoMake(int number) {
    static const char* makes[] = {"Canon", "NIKON CORPORATION", "OLYMPUS IMAGING CORP.", "SONY"};
    return makes[static_cast<unsigned>(number) % 4];
}

std::string SamplePhotoModel(int number) {
    static const char* models[] = {"Canon EOS 400D DIGITAL", "NIKON D80", "E-510", "DSLR-A200"};
    return models[static_cast<unsigned>(number) % 4];
}

std::string SamplePhotoDate(int number) {
    const unsigned n = static_cast<unsigned>(number);
    char buf[32];
    std::snprintf(buf, sizeof buf, "2009:%02u:%02u %02u:%02u:%02u", 1 + n % 12, 1 + n % 28, 8 + n % 12, n * 7 % 60,
                  n * 13 % 60);
    return buf;
}

std::string MakeSamplePhoto(int number, const SamplePhotoOptions& options) {
    const std::string app1 = options.exif ? exifBlock(number, options.width, options.height) : std::string();
    return encode(options.width, options.height, options.quality, options.noise, number, app1, options.restartRows,
                  options.progressive);
}

}  // namespace hx::viewing
