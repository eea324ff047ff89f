#include <gtest/gtest.h>

#include <random>

#include "formats/JpegEntropy.h"
#include "formats/PictureCheck.h"
#include "viewing/SamplePhoto.h"

using namespace hx;
using namespace hx::formats;
using namespace hx::viewing;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes photo(int number, int restartRows = 0, bool progressive = false, bool exif = true) {
    SamplePhotoOptions o;
    o.exif = exif;
    o.width = 640;
    o.height = 480;
    o.restartRows = restartRows;
    o.progressive = progressive;
    const std::string s = MakeSamplePhoto(number, o);
    return Bytes(s.begin(), s.end());
}

// Where the entropy-coded data of `p` begins.
std::size_t scanStart(const Bytes& p) {
    formats::JpegEntropy e;
    EXPECT_TRUE(e.readHeaders(p.data(), p.size()));
    return static_cast<std::size_t>(e.start().byte);
}

formats::JpegEntropy::Walk walkAll(const Bytes& p) {
    JpegEntropy e;
    if (!e.readHeaders(p.data(), p.size())) return {JpegEntropy::Outcome::Unsupported, 0, 0};
    return e.walk(p.data(), p.size(), e.start());
}

Bytes noise(std::size_t n, unsigned key) {
    std::mt19937 rng(key);
    Bytes b(n);
    for (auto& v : b) v = static_cast<std::uint8_t>(rng());
    return b;
}

}  // namespace

TEST(JpegEntropy, FollowsWholePicturesToTheirEndMarkerAsADecoderDoes) {
    for (const int restartRows : {0, 1, 3}) {
        Bytes p = photo(restartRows + 4, restartRows);
        const auto walk = walkAll(p);
        ASSERT_EQ(walk.outcome, formats::JpegEntropy::Outcome::Complete) << restartRows;
        EXPECT_EQ(walk.at, p.size());
        // Trailing bytes (a camera's trailer, the next sectors) are no part of it.
        const std::size_t size = p.size();
        p.resize(size + 3000, 0x5A);
        const formats::JpegCheck check = CheckJpegData(p.data(), p.size());
        const formats::JpegCheck decoded = CheckJpegBuffer(p.data(), p.size());
        EXPECT_TRUE(check.complete);
        EXPECT_EQ(check.end, size);
        EXPECT_EQ(check.end, decoded.end);
        EXPECT_EQ(check.width, 640);
    }
    // Several scans are left to the decoder, with the same answers.
    const Bytes progressive = photo(9, 0, true);
    EXPECT_EQ(walkAll(progressive).outcome, formats::JpegEntropy::Outcome::Unsupported);
    const formats::JpegCheck check = CheckJpegData(progressive.data(), progressive.size());
    EXPECT_TRUE(check.complete);
    EXPECT_EQ(check.end, progressive.size());
}

TEST(JpegEntropy, FindsForeignDataSoonAfterItBegins) {
    const Bytes a = photo(1), b = photo(2), r = photo(3, 1);
    const std::size_t cut = scanStart(a) + (a.size() - scanStart(a)) / 3;
    struct Case {
        const char* what;
        Bytes tail;
    } cases[] = {
        {"noise", noise(40000, 7)},
        {"zeros", Bytes(40000, 0)},
        {"another photo's headers", b},
    };
    for (const auto& c : cases) {
        Bytes spliced(a.begin(), a.begin() + static_cast<long>(cut));
        spliced.insert(spliced.end(), c.tail.begin(), c.tail.end());
        const auto walk = walkAll(spliced);
        EXPECT_EQ(walk.outcome, formats::JpegEntropy::Outcome::Fault) << c.what;
        EXPECT_GE(walk.at, cut - 16) << c.what;
        EXPECT_LT(walk.at, cut + 8192) << c.what;
        // The check says damaged, at the walk's place, no later than a decoder would.
        const formats::JpegCheck check = CheckJpegData(spliced.data(), spliced.size());
        const formats::JpegCheck decoded = CheckJpegBuffer(spliced.data(), spliced.size());
        EXPECT_TRUE(!check.complete || check.warnings > 0) << c.what;
        EXPECT_LE(check.firstFault, decoded.firstFault) << c.what;
        // It keeps places to start again up to the fault, for a joiner to try cuts from.
        std::vector<formats::JpegEntropy::Mark> marks;
        formats::CheckJpegData(spliced.data(), spliced.size(), false, &marks);
        ASSERT_FALSE(marks.empty()) << c.what;
        EXPECT_LE(marks.back().byte, check.firstFault) << c.what;
        EXPECT_GT(marks.back().byte + 4096, cut) << c.what;
    }
    std::vector<formats::JpegEntropy::Mark> none;
    formats::CheckJpegData(a.data(), a.size(), true, &none);
    EXPECT_TRUE(none.empty()) << "a whole picture needs none";
    // Another photo's data coded with the same tables reads as valid codes:
    // only the count of MCUs against the end marker tells.
    Bytes mixed(a.begin(), a.begin() + static_cast<long>(cut));
    mixed.insert(mixed.end(), b.begin() + static_cast<long>(b.size() / 2), b.end());
    EXPECT_EQ(walkAll(mixed).outcome, formats::JpegEntropy::Outcome::Fault);
    // A restart marker out of turn.
    Bytes swapped = r;
    std::size_t rst = 0;
    for (std::size_t i = scanStart(r); i + 1 < swapped.size(); ++i)
        if (swapped[i] == 0xFF && swapped[i + 1] == 0xD3) rst = i + 1;
    ASSERT_GT(rst, 0u);
    swapped[rst] = 0xD5;
    const auto walk = walkAll(swapped);
    EXPECT_EQ(walk.outcome, formats::JpegEntropy::Outcome::Fault);
    EXPECT_NEAR(static_cast<double>(walk.at), static_cast<double>(rst), 4);
    // Cut short: it runs out, without a fault.
    const Bytes cutShort(a.begin(), a.begin() + static_cast<long>(cut));
    const auto ran = walkAll(cutShort);
    EXPECT_EQ(ran.outcome, formats::JpegEntropy::Outcome::RanOut);
    EXPECT_EQ(ran.at, cutShort.size());
}

TEST(JpegEntropy, StartsAgainFromItsMarksOverOtherBytes) {
    for (const int restartRows : {0, 2}) {
        const Bytes p = photo(5, restartRows);
        formats::JpegEntropy e;
        ASSERT_TRUE(e.readHeaders(p.data(), p.size()));
        std::vector<formats::JpegEntropy::Mark> marks;
        const auto whole = e.walk(p.data(), p.size(), e.start(), &marks, 2000);
        ASSERT_EQ(whole.outcome, formats::JpegEntropy::Outcome::Complete);
        ASSERT_GT(marks.size(), 10u);
        for (std::size_t m = 1; m < marks.size(); m += 3) {
            const auto& mark = marks[m];
            EXPECT_GT(mark.mcu, marks[m - 1].mcu);
            // From the mark over the same bytes, and over a copy that starts at its byte.
            const auto again = e.walk(p.data(), p.size(), mark);
            EXPECT_EQ(again.outcome, formats::JpegEntropy::Outcome::Complete);
            EXPECT_EQ(again.at, p.size());
            const Bytes tail(p.begin() + static_cast<long>(mark.byte), p.end());
            const auto moved = e.walk(tail.data(), tail.size(), {0, mark.bit, mark.mcu});
            EXPECT_EQ(moved.outcome, formats::JpegEntropy::Outcome::Complete);
            EXPECT_EQ(moved.at + mark.byte, p.size());
            // The same mark before bytes that are not the picture's.
            Bytes other(p.begin() + static_cast<long>(mark.byte), p.begin() + static_cast<long>(mark.byte) + 64);
            const Bytes junk = noise(8192, static_cast<unsigned>(m));
            other.insert(other.end(), junk.begin(), junk.end());
            EXPECT_EQ(e.walk(other.data(), other.size(), {0, mark.bit, mark.mcu}).outcome,
                      formats::JpegEntropy::Outcome::Fault);
        }
    }
}

TEST(JpegEntropy, RefusesHeadersItCannotFollow) {
    const Bytes p = photo(6, 0, false, false);
    formats::JpegEntropy e;
    EXPECT_FALSE(e.readHeaders(p.data(), 100));  // cut inside the headers
    Bytes noFrame = p;
    for (std::size_t i = 2; i + 1 < noFrame.size(); ++i)
        if (noFrame[i] == 0xFF && noFrame[i + 1] == 0xC0) {
            noFrame[i + 1] = 0xC2;  // progressive
            break;
        }
    EXPECT_FALSE(e.readHeaders(noFrame.data(), noFrame.size()));
    Bytes badTable = p;
    for (std::size_t i = 2; i + 1 < badTable.size(); ++i)
        if (badTable[i] == 0xFF && badTable[i + 1] == 0xC4) {
            badTable[i + 5] = 0xFF;  // more codes of length 1 than there can be
            break;
        }
    EXPECT_FALSE(e.readHeaders(badTable.data(), badTable.size()));
    const Bytes junk = noise(5000, 3);
    EXPECT_FALSE(e.readHeaders(junk.data(), junk.size()));
    EXPECT_EQ(formats::CheckJpegData(junk.data(), junk.size()).decodes, false);
}
