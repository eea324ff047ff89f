// The raw converter as the preview runs it: options, outputs kept once, and a
// converter that hangs is ended after its time-out.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <sys/stat.h>

#include "fixtures/TempDir.h"
#include "viewing/RawConverter.h"

namespace hx {
namespace fs = std::filesystem;

namespace {

// A stand-in converter: logs its arguments and answers with a script's output.
fs::path FakeConverter(const fs::path& dir, const std::string& body) {
    const fs::path script = dir / "conv.sh";
    test::WriteFile(script, "#!/bin/sh\necho \"$@\" >> '" + (dir / "calls.log").string() + "'\n" + body + "\n");
    ::chmod(script.c_str(), 0755);
    ::setenv("HARVESTRIX_RAW_CONVERTER", script.c_str(), 1);
    return script;
}

struct ConverterEnv {
    ~ConverterEnv() { ::unsetenv("HARVESTRIX_RAW_CONVERTER"); }
};

}  // namespace

TEST(RawConverter, EachOutputHasItsOptionsAndNameAndIsMadeOnce) {
    ConverterEnv restore;
    test::TempDir dir;
    FakeConverter(dir.path(), "printf 'picture of %s' \"$5\"");
    const fs::path raw = dir.path() / "R#0017.cr2";
    test::WriteFile(raw, "raw bytes");
    const fs::path conv = dir.path() / "Conv";

    const fs::path preview = viewing::ConvertRaw(raw, conv, viewing::RawOutput::EmbeddedPreview, 5000);
    EXPECT_EQ(preview, conv / "0017cr2.thc");
    EXPECT_EQ(test::ReadFile(preview), "picture of " + raw.string());
    EXPECT_EQ(viewing::ConvertRaw(raw, conv, viewing::RawOutput::HalfSize, 5000), conv / "0017cr2.rpc");
    EXPECT_EQ(viewing::ConvertRaw(raw, conv, viewing::RawOutput::Full, 5000), conv / "0017cr2.tif");
    // Asked again, the file made before is used.
    viewing::ConvertRaw(raw, conv, viewing::RawOutput::EmbeddedPreview, 5000);
    EXPECT_EQ(test::ReadFile(dir.path() / "calls.log"), "-c -T -e -w " + raw.string() + "\n-c -T -h -w " +
                                                            raw.string() + "\n-c -T -w " + raw.string() + "\n");
    EXPECT_TRUE(viewing::IsConverterRawType(".cr2"));
    EXPECT_TRUE(viewing::IsConverterRawType(".RW2"));
    EXPECT_FALSE(viewing::IsConverterRawType(".jpg"));
    EXPECT_FALSE(viewing::IsConverterRawType(".R"));
}

TEST(RawConverter, AHungOrFailingConverterGivesNothingAndIsEnded) {
    ConverterEnv restore;
    test::TempDir dir;
    const fs::path raw = dir.path() / "a.nef";
    test::WriteFile(raw, "raw");

    // Hangs, with a child of its own: both are ended at the time-out. Their
    // odd duration tells them from the sleeps of tests running beside this one.
    FakeConverter(dir.path(), "printf half; sleep 31.7 & sleep 31.7");
    int steps = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(viewing::ConvertRaw(raw, dir.path(), viewing::RawOutput::Full, 300, [&] { ++steps; }).empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_GT(steps, 3);  // the window was served while it waited
    EXPECT_FALSE(fs::exists(dir.path() / "anef.tif"));  // no half picture left
    // Ended, not waited for: the system may take a moment to take them away.
    bool gone = false;
    for (int tries = 0; tries < 40 && !gone; ++tries) {
        gone = std::system("pgrep -f 'slee[p] 31.7' >/dev/null") != 0;
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(gone);

    // Says no, or is not there at all.
    FakeConverter(dir.path(), "printf x; exit 1");
    EXPECT_TRUE(viewing::ConvertRaw(raw, dir.path(), viewing::RawOutput::Full, 5000).empty());
    ::setenv("HARVESTRIX_RAW_CONVERTER", (dir.path() / "missing").c_str(), 1);
    EXPECT_FALSE(viewing::RunConverter(" -c -T -e -w ", raw, dir.path() / "out.thc", 5000));
    // dcraw itself on a file that is no raw.
    ::unsetenv("HARVESTRIX_RAW_CONVERTER");
    EXPECT_TRUE(viewing::ConvertRaw(raw, dir.path(), viewing::RawOutput::EmbeddedPreview, 10000).empty());
}

}  // namespace hx
