// A card read without root: its device node refuses this user, and the
// desktop's disk service (here a stand-in for UDisks2 on a private bus of the
// test's own) hands over a descriptor of the card instead.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <set>
#include <signal.h>
#include <sstream>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <thread>
#include <unistd.h>

#include "fixtures/CardFixture.h"
#include "platform/DiskService.h"
#include "platform/RawFile.h"
#include "shell/Startup.h"
#include "shell/WorkingState.h"

namespace hx {
namespace {

namespace fs = std::filesystem;

// A message bus of the test's own, open to every user, as the system bus is.
class PrivateBus {
public:
    explicit PrivateBus(const fs::path& dir) {
        const fs::path config = dir / "bus.conf";
        std::ofstream(config) << "<busconfig><type>system</type><listen>unix:path=" << (dir / "bus").string()
                              << "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/>"
                                 "<allow own=\"*\"/><allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                                 "</policy></busconfig>\n";
        std::string out;
        if (test::RunCommand("dbus-daemon --config-file='" + config.string() + "' --fork --print-address=1 --print-pid=1",
                             &out) != 0)
            return;
        std::istringstream lines(out);
        std::getline(lines, address_);
        lines >> pid_;
    }
    ~PrivateBus() {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
    }
    const std::string& address() const { return address_; }

private:
    std::string address_;
    pid_t pid_ = 0;
};

// UDisks2 as far as opening a block device goes: OpenDevice on the device's
// object answers with a descriptor of the image, or refuses.
class FakeDiskService {
public:
    FakeDiskService(const std::string& address, const std::string& device, fs::path image, bool refuse)
        : image_(std::move(image)), refuse_(refuse) {
        if (sd_bus_new(&bus_) < 0) return;
        sd_bus_set_address(bus_, address.c_str());
        sd_bus_set_bus_client(bus_, 1);
        if (sd_bus_start(bus_) < 0 || sd_bus_request_name(bus_, "org.freedesktop.UDisks2", 0) < 0) return;
        static const sd_bus_vtable vtable[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("OpenDevice", "sa{sv}", "h", &FakeDiskService::openDevice, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_VTABLE_END};
        const std::string object = platform::DiskServiceObjectPath(device);
        if (sd_bus_add_object_vtable(bus_, nullptr, object.c_str(), "org.freedesktop.UDisks2.Block", vtable, this) < 0)
            return;
        ready_ = true;
        thread_ = std::thread([this] {
            while (!stop_) {
                if (sd_bus_process(bus_, nullptr) == 0) sd_bus_wait(bus_, 50000);
            }
        });
    }
    ~FakeDiskService() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        sd_bus_flush_close_unref(bus_);
    }
    bool ready() const { return ready_; }
    const std::vector<std::string>& modes() const { return modes_; }

private:
    static int openDevice(sd_bus_message* m, void* self, sd_bus_error*) {
        auto* service = static_cast<FakeDiskService*>(self);
        const char* mode = nullptr;
        sd_bus_message_read(m, "s", &mode);
        service->modes_.push_back(mode ? mode : "");
        if (service->refuse_)
            return sd_bus_reply_method_errorf(m, "org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain",
                                              "Not authorized to perform operation");
        const int fd = ::open(service->image_.c_str(), std::string(mode ? mode : "") == "rw" ? O_RDWR : O_RDONLY);
        const int r = sd_bus_reply_method_return(m, "h", fd);
        ::close(fd);
        return r;
    }

    sd_bus* bus_ = nullptr;
    fs::path image_;
    bool refuse_;
    bool ready_ = false;
    std::atomic<bool> stop_{false};
    std::vector<std::string> modes_;
    std::thread thread_;
};

class DiskService : public test::CardFixture {
protected:
    void SetUp() override {
        test::CardFixture::SetUp();
        if (IsSkipped()) return;
        if (!test::HaveTool("dbus-daemon") || !test::HaveTool("setpriv")) GTEST_SKIP() << "dbus-daemon or setpriv missing";
        fs::permissions(dir.path(), fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
        bus.emplace(dir.path());
        if (bus->address().empty()) GTEST_SKIP() << "no private message bus";
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus->address().c_str(), 1);
    }
    void TearDown() override { ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS"); }

    std::optional<PrivateBus> bus;
};

TEST_F(DiskService, ACardThisUserMayNotOpenIsReadThroughTheDiskService) {
    makeCard(16, 4, 16);
    for (int n = 0; n < 3; ++n) putPhoto(n, 640, 480);
    // The card in a reader: a device node that only root and the group 'disk' may open.
    test::LoopDevice card(image);
    if (!card.ok()) GTEST_SKIP() << test::MediaSkipReason();
    FakeDiskService service(bus->address(), card.path(), image, false);
    ASSERT_TRUE(service.ready());

    // As this process (root) the service is asked directly: the descriptor reads the card.
    const platform::DiskServiceOpen opened = platform::OpenThroughDiskService(card.path(), false);
    ASSERT_GE(opened.fd, 0) << opened.failure;
    std::string head(4096, '\0');
    ASSERT_EQ(::pread(opened.fd, head.data(), head.size(), 0), 4096);
    ::close(opened.fd);
    EXPECT_EQ(head, test::ReadFile(image).substr(0, 4096));

    // A scan by a user without rights (nobody): the node refuses, the service opens it, the photos are back.
    const std::string asNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    if (test::RunCommand(asNobody + "test -x '" HX_CLI_PATH "'") != 0) GTEST_SKIP() << "the build folder is closed to other users";
    const fs::path home = dir.path() / "nobody";
    fs::create_directories(home / "cache");
    fs::permissions(home, fs::perms::all);
    fs::permissions(home / "cache", fs::perms::all);
    std::string out;
    const int rc = test::RunCommand(asNobody + "env HOME='" + home.string() +
                                        "' XDG_CONFIG_HOME='" + home.string() + "/config' XDG_DATA_HOME='" +
                                        home.string() + "/data' XDG_CACHE_HOME='" + home.string() +
                                        "/xdg-cache' DBUS_SYSTEM_BUS_ADDRESS='" + bus->address() + "' '" HX_CLI_PATH
                                        "' --cache '" + (home / "cache").string() + "' scan '" + card.path() +
                                        "' --new --yes </dev/null 2>&1",
                                    &out);
    ASSERT_EQ(rc, 0) << out;
    std::set<int> back;
    for (const auto& e : fs::directory_iterator(home / "cache" / "QXCache"))
        for (const auto& [n, bytes] : photos)
            if (e.is_regular_file() && test::ReadFile(e.path()) == bytes) back.insert(n);
    EXPECT_EQ(back, (std::set<int>{0, 1, 2})) << out;
    ASSERT_FALSE(service.modes().empty());
    EXPECT_EQ(service.modes().back(), "r") << "a scan asks to read only";
}

TEST_F(DiskService, ARefusalOrNoServiceIsToldWithItsReason) {
    makeCard(16, 4, 16);
    test::LoopDevice refusedCard(image), unservedCard(image), unreachedCard(image);
    if (!refusedCard.ok() || !unservedCard.ok() || !unreachedCard.ok()) GTEST_SKIP() << test::MediaSkipReason();
    {
        FakeDiskService refusing(bus->address(), refusedCard.path(), image, true);
        ASSERT_TRUE(refusing.ready());
        const auto refused = platform::OpenThroughDiskService(refusedCard.path(), false);
        EXPECT_LT(refused.fd, 0);
        EXPECT_NE(refused.failure.find("NotAuthorized"), std::string::npos) << refused.failure;
        EXPECT_EQ(platform::LastDiskServiceFailure(), refused.failure);
    }
    // No service owns the name on the bus; then no bus at all.
    const auto unserved = platform::OpenThroughDiskService(unservedCard.path(), false);
    EXPECT_LT(unserved.fd, 0);
    EXPECT_NE(unserved.failure.find("ServiceUnknown"), std::string::npos) << unserved.failure;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + (dir.path() / "none").string()).c_str(), 1);
    const auto noBus = platform::OpenThroughDiskService(unreachedCard.path(), false);
    EXPECT_LT(noBus.fd, 0);
    EXPECT_NE(noBus.failure.find("no system message bus"), std::string::npos) << noBus.failure;
    // The question about the drive's rights tells why and what to do.
    shell::WorkingState state;
    ui.answers.push_back(shell::Answer::No);
    shell::CheckDriveRights(state, ui, unreachedCard.path(), true);
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_NE(ui.messages.back().text.find("could not open it either: no system message bus"), std::string::npos)
        << ui.messages.back().text;
    EXPECT_NE(ui.messages.back().text.find("udisks2"), std::string::npos);
    EXPECT_EQ(platform::OpenThroughDiskService(image.string(), false).failure, "not a block device");
}

}  // namespace
}  // namespace hx
