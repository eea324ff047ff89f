#include <gtest/gtest.h>

#include <set>

#include "scan/SignatureTable.h"
#include "viewing/Formats.h"

using namespace hx::viewing;

TEST(Formats, EachExtensionNamesOneFormatWhateverItsCase) {
    std::set<std::string_view> seen;
    for (const Format& f : Formats()) {
        ASSERT_FALSE(f.extensions.empty());
        for (std::string_view e : f.extensions) {
            EXPECT_TRUE(seen.insert(e).second) << e << " names two formats";
            EXPECT_EQ(e[0], '.') << e;
            EXPECT_EQ(FormatOf(e), &f) << e;
        }
    }
    EXPECT_EQ(FormatOf("NEF"), FormatOf(".nef"));
    EXPECT_EQ(FormatOf(".Jpg")->ending, Ending::Jpeg);
    EXPECT_EQ(FormatOf(".ne"), nullptr) << "a part of an extension is none";
    EXPECT_EQ(FormatOf(""), nullptr);
    EXPECT_FALSE(HasTrait(".xyz", kReadsExif));
}

TEST(Formats, TheScansRowsFindFormatsItKnowsHowToEnd) {
    // A format with a rule of its own must be reachable from the rows that find it.
    std::set<const Format*> found;
    for (const auto& row : hx::scan::EveryRow())
        if (const Format* f = FormatOf(row.Extension)) found.insert(f);
    for (const char* ext : {".jpg", ".cr2", ".crw", ".raf", ".x3f", ".doc", ".png", ".heic", ".cr3", ".mp4", ".zip"})
        EXPECT_TRUE(found.count(FormatOf(ext))) << ext << " has a rule but no row finds it";
    // Raws are drawn from their previews and not capped by the picture's size.
    for (const char* ext : {".cr2", ".nef", ".arw", ".dng", ".orf", ".rw2"}) {
        EXPECT_EQ(FormatOf(ext)->family, Family::Raw) << ext;
        EXPECT_TRUE(HasTrait(ext, kDrawn) && HasTrait(ext, kNoSizeCap) && HasTrait(ext, kReadsExif)) << ext;
    }
}
