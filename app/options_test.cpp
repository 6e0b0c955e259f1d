#include "app/options.h"

#include <gtest/gtest.h>

#include <sstream>

namespace hopshot {
namespace {

using Mode = CommandLine::Mode;
using Marks = std::array<bool, 4>;

TEST(CommandLineOptions, GoodLinesSetTheMenuPresets) {
    struct Case {
        std::vector<std::string> args;
        Marks players;
        bool live, small, simple, wire;
    };
    const Case cases[] = {
        {{}, {1, 0, 0, 0}, true, false, false, false},   // the menu's own start state
        {{"--players", "134"}, {1, 0, 1, 1}, true, false, false, false},
        {{"--players", "431"}, {1, 0, 1, 1}, true, false, false, false},
        {{"--players=2"}, {0, 1, 0, 0}, true, false, false, false},
        {{"--players", "0"}, {0, 0, 0, 0}, true, false, false, false},
        {{"--players", ""}, {0, 0, 0, 0}, true, false, false, false},
        {{"--players", "1234"}, {1, 1, 1, 1}, true, false, false, false},
        {{"--live", "0", "--small", "1", "--simple", "1", "--wire=1"}, {1, 0, 0, 0}, false, true,
         true, true},
        {{"--wire", "1", "--wire", "0"}, {1, 0, 0, 0}, true, false, false, false},   // last wins
    };
    for (const Case& c : cases) {
        CommandLine cl;
        std::string joined;
        for (auto& a : c.args) joined += a + " ";
        SCOPED_TRACE(joined);
        ASSERT_EQ(parseCommandLine(c.args, cl), "");
        EXPECT_EQ(cl.mode, Mode::Window);
        EXPECT_EQ(cl.presets.players, c.players);
        EXPECT_EQ(cl.presets.liveCamera, c.live);
        EXPECT_EQ(cl.presets.smallScreen, c.small);
        EXPECT_EQ(cl.presets.simpleDisplay, c.simple);
        EXPECT_EQ(cl.presets.wireframe, c.wire);
    }
}

TEST(CommandLineOptions, HeadlessRunTakesItsFiles) {
    CommandLine cl;
    ASSERT_EQ(parseCommandLine({"--headless", "a.txt", "--trace", "t.jsonl", "--dir=/tmp/x",
                                "--steps", "120"},
                               cl),
              "");
    EXPECT_EQ(cl.mode, Mode::Headless);
    EXPECT_EQ(cl.script, "a.txt");
    EXPECT_EQ(cl.trace, "t.jsonl");
    EXPECT_EQ(cl.dir, "/tmp/x");
    EXPECT_EQ(cl.steps, 120);

    ASSERT_EQ(parseCommandLine({"--steps", "7", "--headless", "b.txt"}, cl), "");   // any order
    EXPECT_EQ(cl.script, "b.txt");
    EXPECT_EQ(cl.trace, "");
    EXPECT_EQ(cl.dir, "");
    EXPECT_EQ(cl.steps, 7);

    ASSERT_EQ(parseCommandLine({"--headless", "c.txt"}, cl), "");
    EXPECT_EQ(cl.steps, kDefaultStepLimit);
}

TEST(CommandLineOptions, TheWindowRecordsReplaysAndTraces) {
    CommandLine cl;
    ASSERT_EQ(parseCommandLine({"--record", "run.replay", "--trace=t.jsonl", "--players", "12"}, cl),
              "");
    EXPECT_EQ(cl.mode, Mode::Window);
    EXPECT_EQ(cl.record, "run.replay");
    EXPECT_EQ(cl.trace, "t.jsonl");
    ASSERT_EQ(parseCommandLine({"--replay", "old.replay", "--nosound", "--trace", "u"}, cl), "");
    EXPECT_EQ(cl.mode, Mode::Window);
    EXPECT_EQ(cl.replay, "old.replay");
    EXPECT_EQ(cl.record, "");
    EXPECT_FALSE(cl.sound);
}

TEST(CommandLineOptions, NoSoundIsAWindowOption) {
    CommandLine cl;
    ASSERT_EQ(parseCommandLine({}, cl), "");
    EXPECT_TRUE(cl.sound);
    ASSERT_EQ(parseCommandLine({"--players", "12", "--nosound"}, cl), "");
    EXPECT_FALSE(cl.sound);
    EXPECT_EQ(cl.mode, Mode::Window);
}

TEST(CommandLineOptions, ScreenOptionsSetHowTheWindowShowsTheGame) {
    struct Case {
        std::vector<std::string> args;
        double scale;
        bool fullScreen;
        int renderRows;
        bool calm;
    };
    const Case cases[] = {
        {{}, 1, false, 0, false},
        {{"--scale", "2"}, 2, false, 0, false},
        {{"--scale=1.5", "--fullscreen"}, 1.5, true, 0, false},
        {{"--scale", "0.5", "--render-height", "720"}, 0.5, false, 720, false},
        {{"--calm", "--render-height=480"}, 1, false, 480, true},
        {{"--scale", "8", "--players", "1234"}, 8, false, 0, false},
    };
    for (const Case& c : cases) {
        CommandLine cl;
        ASSERT_EQ(parseCommandLine(c.args, cl), "");
        EXPECT_EQ(cl.mode, Mode::Window);
        EXPECT_DOUBLE_EQ(cl.screen.scale, c.scale);
        EXPECT_EQ(cl.screen.fullScreen, c.fullScreen);
        EXPECT_EQ(cl.screen.renderRows, c.renderRows);
        EXPECT_EQ(cl.screen.calm, c.calm);
    }
}

TEST(CommandLineOptions, HelpAndVersionWinOverEverythingElse) {
    const std::pair<std::vector<std::string>, Mode> cases[] = {
        {{"--help"}, Mode::Help},
        {{"-h"}, Mode::Help},
        {{"--players", "9", "--help"}, Mode::Help},
        {{"--version"}, Mode::Version},
        {{"--bogus", "--version"}, Mode::Version},
    };
    for (const auto& [args, mode] : cases) {
        CommandLine cl;
        EXPECT_EQ(parseCommandLine(args, cl), "") << args[0];
        EXPECT_EQ(cl.mode, mode) << args[0];
    }
    EXPECT_EQ(versionText().rfind("hopshot ", 0), 0u);
}

// Every bad line is refused with a message that names what is wrong.
TEST(CommandLineOptions, BadLinesAreRefusedWithAMessage) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"-p"}, "unexpected argument '-p'"},
        {{"script.txt"}, "unexpected argument 'script.txt'"},
        {{"--players"}, "--players needs a value"},
        {{"--players", "5"}, "'5'"},
        {{"--players", "11"}, "'11'"},
        {{"--players", "01"}, "'01'"},
        {{"--players", "1,2"}, "'1,2'"},
        {{"--live", "2"}, "--live takes 0 or 1, not '2'"},
        {{"--small", "yes"}, "--small takes 0 or 1"},
        {{"--simple", ""}, "--simple takes 0 or 1"},
        {{"--wire"}, "--wire needs a value"},
        {{"--headless"}, "--headless needs"},
        {{"--headless", ""}, "--headless needs"},
        {{"--trace", ""}, "--trace needs a file"},
        {{"--record"}, "--record needs a file name"},
        {{"--replay", ""}, "--replay needs a file name"},
        {{"--record", "a", "--replay", "b"}, "cannot go together"},
        {{"--replay", "b", "--players", "12"}, "--players sets the window's menu; a replay"},
        {{"--headless", "s", "--replay", "b"}, "--replay is for the window"},
        {{"--record", "a", "--headless", "s"}, "--record is for the window"},
        {{"--dir", "d"}, "--dir needs --headless SCRIPT"},
        {{"--steps", "5"}, "--steps needs --headless SCRIPT"},
        {{"--headless", "s", "--steps", "0"}, "--steps takes a whole number"},
        {{"--headless", "s", "--steps", "-3"}, "--steps takes a whole number"},
        {{"--headless", "s", "--steps", "12x"}, "--steps takes a whole number"},
        {{"--headless", "s", "--steps", "99999999999"}, "--steps takes a whole number"},
        {{"--headless", "s", "--players", "1"}, "--players sets the window's menu"},
        {{"--wire", "1", "--headless", "s"}, "--wire sets the window's menu"},
        {{"--nosound=1"}, "--nosound takes no value"},
        {{"--headless", "s", "--nosound"}, "--nosound sets the window's menu"},
        {{"--scale", "0.4"}, "--scale takes a number from 0.5 to 8"},
        {{"--scale", "9"}, "--scale takes a number"},
        {{"--scale", "1.2.3"}, "--scale takes a number"},
        {{"--scale", "2x"}, "--scale takes a number"},
        {{"--scale", ".5"}, "--scale takes a number"},
        {{"--scale"}, "--scale needs a value"},
        {{"--render-height", "100"}, "--render-height takes a whole number of rows from 120"},
        {{"--render-height", "5000"}, "--render-height takes"},
        {{"--render-height", "1.5"}, "--render-height takes"},
        {{"--fullscreen=1"}, "--fullscreen takes no value"},
        {{"--headless", "s", "--calm"}, "--calm sets the window's menu, sound or screen"},
        {{"--scale", "2", "--headless", "s"}, "--scale sets the window's"},
    };
    for (const auto& [args, message] : cases) {
        CommandLine cl;
        const std::string error = parseCommandLine(args, cl);
        EXPECT_NE(error.find(message), std::string::npos)
            << args[0] << ": got \"" << error << "\", wanted \"" << message << "\"";
    }
}

TEST(CommandLineOptions, HelpHasALineForEveryOption) {
    const std::string help = usageText();
    for (const char* option : {"--players DIGITS", "--live 0|1", "--small 0|1", "--simple 0|1",
                               "--wire 0|1", "--headless SCRIPT", "--trace OUT", "--dir DIR",
                               "--steps N", "--nosound", "--scale N", "--fullscreen",
                               "--render-height N", "--calm", "--record FILE", "--replay FILE",
                               "--join CODE", "--meet HOST[:PORT]",
                               "--help", "--version"}) {
        std::istringstream lines(help);
        std::string line;
        bool found = false;
        while (std::getline(lines, line))
            if (line.rfind(std::string("  ") + option, 0) == 0) found = true;
        EXPECT_TRUE(found) << option;
    }
}

TEST(CommandLineOptions, NetworkPlayHostsOrJoins) {
    using Net = CommandLine::Net;
    struct Case {
        std::vector<std::string> args;
        Net net;
        std::string address;
        int port, delay;
    };
    const Case cases[] = {
        {{"--host"}, Net::Host, "", 7310, 0},
        {{"--host", "7400", "--players", "2"}, Net::Host, "", 7400, 0},
        {{"--host", "--players", "2"}, Net::Host, "", 7310, 0},   // the port is optional
        {{"--join", "192.168.1.20"}, Net::Join, "192.168.1.20", 7310, 0},
        {{"--join=friend.example:7401", "--delay", "4"}, Net::Join, "friend.example", 7401, 4},
        {{"--join", "::1"}, Net::Join, "::1", 7310, 0},   // two colons: no port given
        {{"--headless", "s.txt", "--host", "7402", "--delay", "10"}, Net::Host, "", 7402, 10},
        // No address: the game heard on the LAN, whatever follows.
        {{"--join"}, Net::Join, "", 7310, 0},
        {{"--join", "--delay", "2"}, Net::Join, "", 7310, 2},
        {{"--join="}, Net::Join, "", 7310, 0},
        {{"--headless", "s.txt", "--join", "--steps", "9"}, Net::Join, "", 7310, 0},
    };
    for (const Case& c : cases) {
        CommandLine cl;
        SCOPED_TRACE(c.args[0]);
        ASSERT_EQ(parseCommandLine(c.args, cl), "");
        EXPECT_EQ(cl.net, c.net);
        EXPECT_EQ(cl.address, c.address);
        EXPECT_EQ(cl.port, c.port);
        EXPECT_EQ(cl.delay, c.delay);
    }
    const std::pair<std::vector<std::string>, std::string> bad[] = {
        {{"--host", "0"}, "--host takes a port number from 1 to 65535"},
        {{"--host", "70000"}, "--host takes a port number"},
        {{"--join", "host:x"}, "--join takes ADDRESS[:PORT]"},
        {{"--join", ":7310"}, "--join needs the host's address"},
        {{"--host", "--join", "a"}, "cannot go together"},
        {{"--host", "--delay", "11"}, "--delay takes a number of steps from 1 to 10"},
        {{"--delay", "3"}, "--delay needs --host or --join"},
        {{"--headless", "s", "--host", "--machines", "5"}, "--machines takes 2, 3 or 4"},
        {{"--replay", "r.txt", "--join", "a"}, "cannot go with --host or --join"},
        {{"--host", "--meet"}, "--meet needs the meeting service's HOST[:PORT]"},
    };
    for (const auto& [args, message] : bad) {
        CommandLine cl;
        const std::string error = parseCommandLine(args, cl);
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
}

// A code is told from an address by its form alone: eight characters of the code's alphabet, in
// any case, with dashes or spaces anywhere.
TEST(CommandLineOptions, JoinTakesAnInviteCodeOrAnAddress) {
    const struct {
        std::vector<std::string> args;
        std::string code, address, meet;
    } cases[] = {
        {{"--join", "k7mq-4xz9"}, "K7MQ4XZ9", "", ""},
        {{"--join", "K7MQ 4XZ9", "--meet", "meet.example:7311"}, "K7MQ4XZ9", "", "meet.example:7311"},
        {{"--join", "gamebox2"}, "", "gamebox2", ""},          // an O: not of the alphabet
        {{"--join", "K7MQ4XZ9:7310"}, "", "K7MQ4XZ9", ""},     // a port: an address
        {{"--join", "K7MQ4XZ"}, "", "K7MQ4XZ", ""},            // seven characters
        {{"--host", "--meet", "203.0.113.10"}, "", "", "203.0.113.10"},
    };
    for (const auto& c : cases) {
        CommandLine cl;
        ASSERT_EQ(parseCommandLine(c.args, cl), "") << c.args[1];
        EXPECT_EQ(cl.code, c.code) << c.args[1];
        EXPECT_EQ(cl.address, c.address) << c.args[1];
        EXPECT_EQ(cl.meet, c.meet) << c.args[1];
    }
}

}  // namespace
}  // namespace hopshot
