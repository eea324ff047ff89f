#include "viewing/MetadataRead.h"

#include <limits>
#include <mutex>

namespace hx::viewing {

namespace {

std::mutex gXmpMutex;

void lockXmp(void*, bool lock) {
    if (lock) gXmpMutex.lock();
    else gXmpMutex.unlock();
}

void setUp() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::enableBMFF(true);  // HEIC, AVIF, CR3 and JPEG XL
        Exiv2::XmpParser::initialize(lockXmp, nullptr);
    });
}

Metadata read(Exiv2::Image::AutoPtr opened) {
    Metadata image(opened.release());
    if (!image) return image;
    try {
        image->readMetadata();
    } catch (const std::exception&) {
        // Cut short or damaged: what was read before the break stands.
    }
    return image;
}

}  // namespace

Metadata OpenMetadata(const std::filesystem::path& file) {
    setUp();
    try {
        return read(Exiv2::ImageFactory::open(file.string(), false));
    } catch (const std::exception&) {
        return nullptr;  // missing, unreadable, or a container exiv2 does not know
    }
}

Metadata OpenMetadata(const std::uint8_t* data, std::size_t size) {
    setUp();
    if (data == nullptr || size == 0 || size > static_cast<std::size_t>(std::numeric_limits<long>::max())) return nullptr;
    try {
        return read(Exiv2::ImageFactory::open(data, static_cast<long>(size)));
    } catch (const std::exception&) {
        return nullptr;
    }
}

bool DecodeTiffExif(const std::uint8_t* data, std::size_t size, Exiv2::ExifData& exif) {
    setUp();
    if (data == nullptr || size < 8 || size > std::numeric_limits<std::uint32_t>::max()) return false;
    try {
        Exiv2::ExifParser::decode(exif, data, static_cast<std::uint32_t>(size));
    } catch (const std::exception&) {
        // The tags read before the break stand.
    }
    return !exif.empty();
}

}  // namespace hx::viewing
