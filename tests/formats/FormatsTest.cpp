#include <gtest/gtest.h>

#include <set>

#include "formats/SignatureTable.h"
#include "formats/Formats.h"

using namespace hx;
using namespace hx::formats;

TEST(Formats, EachExtensionNamesOneFormatWhateverItsCase) {
    std::set<std::string_view> seen;
    for (const formats::Format& f : Formats()) {
        ASSERT_FALSE(f.extensions.empty());
        for (std::string_view e : f.extensions) {
            EXPECT_TRUE(seen.insert(e).second) << e << " names two formats";
            EXPECT_EQ(e[0], '.') << e;
            EXPECT_EQ(FormatOf(e), &f) << e;
        }
    }
    EXPECT_EQ(formats::FormatOf("NEF"), formats::FormatOf(".nef"));
    EXPECT_EQ(formats::FormatOf(".Jpg")->ending, formats::Ending::Jpeg);
    EXPECT_EQ(formats::FormatOf(".ne"), nullptr) << "a part of an extension is none";
    EXPECT_EQ(formats::FormatOf(""), nullptr);
    EXPECT_FALSE(formats::HasTrait(".xyz", formats::kReadsExif));
}

TEST(Formats, TheScansRowsFindFormatsItKnowsHowToEnd) {
    // A format with a rule of its own must be reachable from the rows that find it.
    std::set<const Format*> found;
    for (const auto& row : hx::formats::EveryRow())
        if (const Format* f = FormatOf(row.Extension)) found.insert(f);
    for (const char* ext : {".jpg", ".cr2", ".crw", ".raf", ".x3f", ".doc", ".png", ".heic", ".cr3", ".mp4", ".zip"})
        EXPECT_TRUE(found.count(formats::FormatOf(ext))) << ext << " has a rule but no row finds it";
    // Raws are drawn from their previews and not capped by the picture's size.
    for (const char* ext : {".cr2", ".nef", ".arw", ".dng", ".orf", ".rw2"}) {
        EXPECT_EQ(formats::FormatOf(ext)->family, formats::Family::Raw) << ext;
        EXPECT_TRUE(formats::HasTrait(ext, formats::kDrawn) && formats::HasTrait(ext, formats::kNoSizeCap) && formats::HasTrait(ext, formats::kReadsExif)) << ext;
    }
}
