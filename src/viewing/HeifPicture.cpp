#include "viewing/HeifPicture.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include <libheif/heif.h>

#include "platform/ByteOrder.h"

namespace hx::viewing {

namespace {

// The largest primary image decoded for a small picture; beyond it only the
// file's own thumbnail is used (a corrupt header may claim any size).
constexpr unsigned long long kMaxPixels = 200ull * 1000 * 1000;

struct Context {
    heif_context* ctx = heif_context_alloc();
    heif_image_handle* primary = nullptr;
    ~Context() {
        if (primary) heif_image_handle_release(primary);
        if (ctx) heif_context_free(ctx);
    }
    bool open(const std::filesystem::path& file) {
        return ctx && heif_context_read_from_file(ctx, file.c_str(), nullptr).code == heif_error_Ok &&
               heif_context_get_primary_image_handle(ctx, &primary).code == heif_error_Ok;
    }
};

struct Image {
    heif_image* image = nullptr;
    ~Image() {
        if (image) heif_image_release(image);
    }
};

bool decode(heif_image_handle* handle, Image& out) {
    return heif_decode_image(handle, &out.image, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr).code ==
           heif_error_Ok;
}

}  // namespace

bool LooksLikeHeif(const std::uint8_t* head, std::size_t size) {
    if (size < 12 || std::memcmp(head + 4, "ftyp", 4) != 0) return false;
    static const char* const brands[] = {"heic", "heix", "hevc", "hevx", "heim", "heis", "hevm", "hevs", "mif1", "msf1",
                                         "avif", "avis"};
    for (const char* b : brands)
        if (std::memcmp(head + 8, b, 4) == 0) return true;
    return false;
}

bool DecodeHeif(const std::filesystem::path& file, unsigned maxWidth, RgbPicture& out) {
    Context c;
    if (!c.open(file)) return false;
    // The file's own small copy, when there is one wide enough.
    heif_image_handle* source = c.primary;
    heif_image_handle* thumb = nullptr;
    heif_item_id id = 0;
    if (maxWidth > 0 && heif_image_handle_get_list_of_thumbnail_IDs(c.primary, &id, 1) == 1 &&
        heif_image_handle_get_thumbnail(c.primary, id, &thumb).code == heif_error_Ok) {
        if (static_cast<unsigned>(heif_image_handle_get_width(thumb)) >= maxWidth) source = thumb;
    }
    const auto w = static_cast<unsigned long long>(heif_image_handle_get_width(source));
    const auto h = static_cast<unsigned long long>(heif_image_handle_get_height(source));
    Image full;
    const bool decoded = w > 0 && h > 0 && w * h <= kMaxPixels && decode(source, full);
    if (thumb) heif_image_handle_release(thumb);
    if (!decoded) return false;
    Image scaled;
    heif_image* picture = full.image;
    int width = heif_image_get_width(picture, heif_channel_interleaved);
    int height = heif_image_get_height(picture, heif_channel_interleaved);
    if (width <= 0 || height <= 0) return false;
    if (maxWidth > 0 && static_cast<unsigned>(width) > maxWidth) {
        const int newHeight = std::max(1, static_cast<int>(static_cast<long long>(height) * maxWidth / width));
        if (heif_image_scale_image(picture, &scaled.image, static_cast<int>(maxWidth), newHeight, nullptr).code !=
            heif_error_Ok)
            return false;
        picture = scaled.image;
        width = static_cast<int>(maxWidth);
        height = newHeight;
    }
    int stride = 0;
    const std::uint8_t* plane = heif_image_get_plane_readonly(picture, heif_channel_interleaved, &stride);
    if (!plane || stride < width * 3) return false;
    out.width = static_cast<unsigned>(width);
    out.height = static_cast<unsigned>(height);
    out.pixels.resize(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        std::memcpy(&out.pixels[static_cast<std::size_t>(y) * width * 3], plane + static_cast<std::size_t>(y) * stride,
                    static_cast<std::size_t>(width) * 3);
    return true;
}

bool ReadHeifExif(const std::filesystem::path& file, std::string& tiff, unsigned& width, unsigned& height) {
    Context c;
    if (!c.open(file)) return false;
    width = static_cast<unsigned>(std::max(0, heif_image_handle_get_width(c.primary)));
    height = static_cast<unsigned>(std::max(0, heif_image_handle_get_height(c.primary)));
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(c.primary, "Exif", &id, 1) != 1) return false;
    const std::size_t size = heif_image_handle_get_metadata_size(c.primary, id);
    if (size < 4 || size > (16u << 20)) return false;
    std::string block(size, '\0');
    if (heif_image_handle_get_metadata(c.primary, id, block.data()).code != heif_error_Ok) return false;
    // The block opens with the offset of the TIFF header behind these four bytes.
    const std::uint32_t skip = platform::Be32(reinterpret_cast<const std::uint8_t*>(block.data()));
    if (skip > size - 4) return false;
    tiff = block.substr(4 + skip);
    return true;
}

}  // namespace hx::viewing
