// Games found on the LAN, in the home lab (scripts/homelab): the program itself hosts on one
// machine of home 1, another machine of that LAN joins with no address, and a machine in home 2,
// behind its own router, hears nothing. Without root, network namespaces or iptables it skips,
// saying why.
#include "testing/headless_test_support.h"
#include "testing/home_lab.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace hopshot {
namespace {

namespace fs = std::filesystem;

constexpr long kSteps = 200;

// Each machine's own script: the host brings player 1 and the countdown's ticks; the guests name
// no player.
const char kHostScript[] = "players 1 0 0 0\ngame\nat 10 key down 37 0\nat 51 tick\nat 60 key up 37 0\n"
                           "at 101 tick\nat 120 key down 17 2\nat 151 tick\n";
const char kGuestScript[] = "game\nat 20 key down 68 0\nat 90 key up 68 0\nat 130 key down 70 0\n";
// The same game on one machine: every event a step later (the machines predict), player 2's key
// let go with Shift so that it touches player 2 alone.
const char kMerged[] = "joysticks 2\nplayers 1 1 0 0\ngame\nat 11 key down 37 0\nat 21 key down 68 0\n"
                       "at 52 tick\nat 61 key up 37 0\nat 91 key up 68 1\nat 102 tick\nat 121 key down 17 2\n"
                       "at 131 key down 70 0\nat 152 tick\n";

TEST(LanLab, AGuestOnTheHostsLanFindsItsGameWithoutAnAddressAndNoOtherHomeHearsIt) {
    if (!lab::whyNoLab().empty()) GTEST_SKIP() << "no home lab here: " << lab::whyNoLab();
    lab::HomeLab lab(0);
    ASSERT_TRUE(lab.ok()) << lab.error();
    auto machine = [&](const std::string& place, const std::string& script, std::vector<std::string> net) {
        const fs::path d = lab.dir() / place;
        fs::create_directories(d);
        std::ofstream(d / "script", std::ios::binary) << script;
        std::vector<std::string> args{"--headless", (d / "script").string(), "--trace", (d / "trace").string(),
                                      "--dir", d.string(), "--steps", std::to_string(kSteps)};
        args.insert(args.end(), net.begin(), net.end());
        return &lab.run(place, HOPSHOT_BINARY, args, place + "-run");
    };
    proc::Child* host = machine("h1", kHostScript, {"--host", "--machines", "2"});
    std::this_thread::sleep_for(std::chrono::milliseconds(500));   // hosting, and listening for finders

    const auto joinAt = std::chrono::steady_clock::now();
    proc::Child* guest = machine("h1b", kGuestScript, {"--join"});
    proc::Child* stranger = machine("h2", kGuestScript, {"--join"});
    ASSERT_TRUE(proc::waitUntil([&] { return host->err().find("machine 2 (players 2) joined") != std::string::npos; },
                                10000)) << host->err() << guest->err();
    const auto joinMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - joinAt);
    EXPECT_LE(joinMs.count(), 3000) << "from starting the guest to its joining";

    for (proc::Child* c : {host, guest, stranger}) ASSERT_TRUE(c->waitEnd(30000)) << c->err();
    EXPECT_EQ(host->exitCode(), 0) << host->err();
    EXPECT_EQ(guest->exitCode(), 0) << guest->err();
    EXPECT_NE(guest->err().find("joining the game on this LAN: "), std::string::npos) << guest->err();
    EXPECT_NE(guest->err().find(" at 198.51.100.2:7310, 1 machine, free players 234"), std::string::npos)
        << guest->err();
    EXPECT_EQ(stranger->exitCode(), 3);
    EXPECT_EQ(stranger->err(), "hopshot: no hosted game was heard on this LAN; to join one elsewhere, "
                               "give its host's address: --join ADDRESS\n");

    const testing::RunResult alone = testing::runScript(kMerged, kSteps);
    ASSERT_EQ(alone.code, 0) << alone.err;
    EXPECT_TRUE(proc::slurp((lab.dir() / "h1" / "trace").string()) == alone.traceText);
    EXPECT_TRUE(proc::slurp((lab.dir() / "h1b" / "trace").string()) == alone.traceText);

}

}  // namespace
}  // namespace hopshot
