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
                               "--steps N", "--nosound", "--record FILE", "--replay FILE",
                               "--help", "--version"}) {
        std::istringstream lines(help);
        std::string line;
        bool found = false;
        while (std::getline(lines, line))
            if (line.rfind(std::string("  ") + option, 0) == 0) found = true;
        EXPECT_TRUE(found) << option;
    }
}

}  // namespace
}  // namespace hopshot
