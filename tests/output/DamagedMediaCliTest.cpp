// The command line's recovery from a damaged card, for real: a sector whose
// read ends the process (as the system may end a program on a dying card),
// and the stages that follow at each start.
#include <gtest/gtest.h>

#include <set>

#include "fixtures/CardFixture.h"

namespace hx {
namespace fs = std::filesystem;

class DamagedMediaCli : public test::CardFixture {};

TEST_F(DamagedMediaCli, AReadEndedByADamagedSectorIsFollowedByTheStagesAtEachStart) {
    makeCard(16, 4, 16);
    for (int n = 0; n < 3; ++n) putPhoto(n, 640, 480);
    // A sector half-way, past the photos, ends whatever reads it.
    const std::uint64_t sectors = fs::file_size(image) / 512;
    const std::string env = "env HARVESTRIX_FAULTY_SECTORS='" + image.string() + ":!" + std::to_string(sectors / 2) + "' ";
    const fs::path cache = dir.path() / "cache";
    std::string out;
    auto run = [&](const std::string& command) {
        return test::RunCommand(env + test::CliCommand() + " " + command + " --cache '" + cache.string() +
                                    "' </dev/null 2>&1",
                                &out);
    };
    EXPECT_NE(run("scan '" + image.string() + "'"), 0) << out;

    // Each start: the next stage, which the sector ends again.
    EXPECT_NE(run("damaged --yes"), 0) << out;
    EXPECT_NE(out.find("Do you want to continue with automated recovery?"), std::string::npos) << out;
    EXPECT_NE(out.find("Stage 1:"), std::string::npos) << out;
    EXPECT_NE(run("damaged --yes"), 0) << out;
    EXPECT_NE(out.find("Stage 2:"), std::string::npos) << out;
    EXPECT_EQ(out.find("Stage 1:"), std::string::npos) << out;

    // The last: the sectors saved before the damaged one are scanned, and the photos are back.
    ASSERT_EQ(run("damaged --yes"), 0) << out;
    EXPECT_NE(out.find("Final stage:"), std::string::npos) << out;
    EXPECT_NE(out.find("Finished."), std::string::npos) << out;
    std::set<int> back;
    for (const auto& e : fs::directory_iterator(cache / "QXCache"))
        for (const auto& [n, bytes] : photos)
            if (e.is_regular_file() && test::ReadFile(e.path()) == bytes) back.insert(n);
    EXPECT_EQ(back, (std::set<int>{0, 1, 2}));

    // Nothing is left to do after.
    EXPECT_EQ(run("damaged --yes"), 1) << out;
    EXPECT_NE(out.find("nothing to recover"), std::string::npos) << out;
}

}  // namespace hx
