#include "viewing/JpegThumbnail.h"

#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include "viewing/ExifThumbnail.h"

namespace hx::viewing {

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void errorExit(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1); }
void quiet(j_common_ptr, int) {}

// Only plain C objects live across setjmp here.
bool decodeScaled(std::FILE* in, int maxWidth, std::vector<JSAMPLE>& pixels, JDIMENSION& width, JDIMENSION& height) {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.emit_message = quiet;
    jpeg_create_decompress(&cinfo);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_stdio_src(&cinfo, in);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    cinfo.scale_num = 1;
    cinfo.scale_denom = 1;
    while (maxWidth > 0 && cinfo.scale_denom < 8 && cinfo.image_width / (cinfo.scale_denom * 2) >= static_cast<JDIMENSION>(maxWidth))
        cinfo.scale_denom *= 2;
    jpeg_start_decompress(&cinfo);
    width = cinfo.output_width;
    height = cinfo.output_height;
    pixels.resize(static_cast<std::size_t>(width) * height * 3);
    while (cinfo.output_scanline < height) {
        JSAMPROW row = &pixels[static_cast<std::size_t>(cinfo.output_scanline) * width * 3];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return width > 0 && height > 0;
}

bool encode(std::FILE* out, const std::vector<JSAMPLE>& pixels, JDIMENSION width, JDIMENSION height,
            int quality = 85) {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    jpeg_create_compress(&cinfo);
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < height) {
        JSAMPROW row = const_cast<JSAMPLE*>(&pixels[static_cast<std::size_t>(cinfo.next_scanline) * width * 3]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

// The camera's own small copy, when the photo has one no wider than asked:
// written as it is, without decoding the photo.
bool copyEmbedded(std::FILE* in, const std::filesystem::path& thumbnail, int maxWidth) {
    std::vector<std::uint8_t> head(64 * 1024);
    head.resize(std::fread(head.data(), 1, head.size(), in));
    std::rewind(in);
    const ByteSpan s = FindExifThumbnail(head.data(), head.size());
    if (s.length == 0) return false;
    std::vector<JSAMPLE> pixels;
    JDIMENSION width = 0, height = 0;
    std::FILE* mem = fmemopen(head.data() + s.offset, s.length, "rb");
    if (!mem) return false;
    const bool decodes = decodeScaled(mem, maxWidth, pixels, width, height);
    std::fclose(mem);
    if (!decodes || width > static_cast<JDIMENSION>(maxWidth) * 2) return false;
    std::FILE* out = std::fopen(thumbnail.c_str(), "wb");
    if (!out) return false;
    const bool written = std::fwrite(head.data() + s.offset, 1, s.length, out) == s.length;
    return std::fclose(out) == 0 && written;
}

}  // namespace

bool DecodeJpegScaled(const std::uint8_t* data, std::size_t size, int maxWidth, RgbPicture& out) {
    if (size == 0) return false;
    std::FILE* mem = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (!mem) return false;
    JDIMENSION width = 0, height = 0;
    const bool decoded = decodeScaled(mem, maxWidth, out.pixels, width, height);
    std::fclose(mem);
    out.width = width;
    out.height = height;
    return decoded;
}

bool WriteJpegPicture(const std::filesystem::path& file, const RgbPicture& picture, int quality) {
    if (picture.width == 0 || picture.height == 0 ||
        picture.pixels.size() < static_cast<std::size_t>(picture.width) * picture.height * 3)
        return false;
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (!out) return false;
    const bool written = encode(out, picture.pixels, picture.width, picture.height, quality);
    const bool closed = std::fclose(out) == 0;
    if (!written || !closed) {
        std::error_code ec;
        std::filesystem::remove(file, ec);
        return false;
    }
    return true;
}

bool MakeJpegThumbnail(const std::filesystem::path& photo, const std::filesystem::path& thumbnail, int maxWidth) {
    std::FILE* in = std::fopen(photo.c_str(), "rb");
    if (!in) return false;
    if (copyEmbedded(in, thumbnail, maxWidth)) {
        std::fclose(in);
        return true;
    }
    RgbPicture picture;
    JDIMENSION width = 0, height = 0;
    const bool decoded = decodeScaled(in, maxWidth, picture.pixels, width, height);
    std::fclose(in);
    picture.width = width;
    picture.height = height;
    return decoded && WriteJpegPicture(thumbnail, picture);
}

}  // namespace hx::viewing
