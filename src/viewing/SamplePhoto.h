#pragma once
// Photographic-looking JPEGs with a camera's EXIF header and thumbnail, made
// deterministically from a number: the demo's card and the tests use them.
#include <cstdint>
#include <string>

namespace hx::viewing {

struct SamplePhotoOptions {
    int width = 2048;
    int height = 1536;
    int quality = 96;
    int noise = 24;      // amplitude of the sensor-like noise; more noise, bigger file
    bool exif = true;    // APP1 with Make, Model, dates, dimensions and a thumbnail
    int restartRows = 0;       // a restart marker after every so many rows of MCUs (0: none)
    bool progressive = false;  // written in several scans, coarse to fine
};

// The bytes of photo `number`.
std::string MakeSamplePhoto(int number, const SamplePhotoOptions& options = {});
// The camera make, model and "YYYY:MM:DD HH:MM:SS" date written into photo `number`.
std::string SamplePhotoMake(int number);
std::string SamplePhotoModel(int number);
std::string SamplePhotoDate(int number);

}  // namespace hx::viewing
