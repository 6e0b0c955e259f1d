#include "play/script.h"

#include <gtest/gtest.h>

namespace hopshot {
namespace {

struct BadScript {
    const char* text;
    int line;
    const char* fragment;   // part of the message
};

class ScriptErrors : public ::testing::TestWithParam<BadScript> {};

TEST_P(ScriptErrors, NameTheLineAndWhatIsWrong) {
    const BadScript& c = GetParam();
    Script s;
    ScriptError e;
    EXPECT_FALSE(parseScript(c.text, s, e)) << c.text;
    EXPECT_EQ(e.line, c.line) << c.text;
    EXPECT_NE(e.message.find(c.fragment), std::string::npos)
        << c.text << "\nmessage: " << e.message;
}

INSTANTIATE_TEST_SUITE_P(
    EveryCheck, ScriptErrors,
    ::testing::Values(
        BadScript{"bogus\n", 1, "unknown command 'bogus'"},
        BadScript{"set speed 1\n", 1, "unknown value name 'speed'"},
        BadScript{"set steerX 4 1\n", 1, "index '4' is out of range 0..3"},
        BadScript{"set hopperVY 20 40000\n", 1, "out of range -32768..32767"},
        BadScript{"set bloodBudget 1 2\n", 1, "extra word"},
        BadScript{"draws -1\n", 1, "out of range"},
        BadScript{"game\nat 1 tick 2\n", 2, "extra word"},
        BadScript{"names TARO\n", 1, "unknown command"},
        BadScript{"Game\n", 1, "lower case"},
        BadScript{"PLAYERS 1 0 0 0\n", 1, "lower case"},
        BadScript{"Name TARO\n", 1, "lower case"},
        BadScript{"game\nat 1 KEY down 27 0\n", 2, "lower case"},
        BadScript{"game\nat 1 key Down 27 0\n", 2, "lower case"},
        BadScript{"game\nat 1 menu LIVE\n", 2, "lower case"},
        BadScript{"game\nat 1 menu 1p\n", 2, "'1P'"},
        BadScript{"at 1 key down 27 0\ngame\n", 1, "before any 'game'"},
        BadScript{"players 1 0 0\n", 1, "missing"},
        BadScript{"players 1 0 0 0 1\n", 1, "extra word '1'"},
        BadScript{"players 2 0 0 0\n", 1, "out of range 0..1"},
        BadScript{"options 1 0 0 -1\n", 1, "out of range 0..1"},
        BadScript{"options 1 0 0 x\n", 1, "not a whole number"},
        BadScript{"joysticks 3\n", 1, "out of range 0..2"},
        BadScript{"joysticks\n", 1, "missing"},
        BadScript{"timer 0\n", 1, "out of range 1..50"},
        BadScript{"timer 51\n", 1, "out of range 1..50"},
        BadScript{"timer 5 5\n", 1, "extra word"},
        BadScript{"game now\n", 1, "extra word 'now'"},
        BadScript{"game\nat 0 key down 27 0\n", 2, "out of range"},
        BadScript{"game\nat -3 key down 27 0\n", 2, "out of range"},
        BadScript{"game\nat 99999999999999999999 key down 27 0\n", 2, "out of range"},
        BadScript{"game\nat 1 key down 256 0\n", 2, "key code '256' is out of range 0..255"},
        BadScript{"game\nat 1 key up 27 8\n", 2, "out of range 0..7"},
        BadScript{"game\nat 1 key down 27\n", 2, "missing modifier mask"},
        BadScript{"game\nat 1 key down 27 0 0\n", 2, "extra word"},
        BadScript{"game\nat 1 key sideways 27 0\n", 2, "unknown key direction"},
        BadScript{"game\nat 1 mouse 1\n", 2, "unknown event"},
        BadScript{"game\nat 1\n", 2, "missing event"},
        BadScript{"game\nat 1 joy 2 0 0 0\n", 2, "out of range 0..1"},
        BadScript{"game\nat 1 joy 0 65536 0 0\n", 2, "out of range 0..65535"},
        BadScript{"game\nat 1 joy 0 0 -1 0\n", 2, "out of range 0..65535"},
        BadScript{"game\nat 1 joy 0 0 0 4294967296\n", 2, "out of range 0..4294967295"},
        BadScript{"game\nat 1 menu 5P\n", 2, "unknown menu item '5P'"},
        BadScript{"game\nat 1 menu live small\n", 2, "extra word"},
        BadScript{"game\nat +1 key down 27 0\n", 2, "not a whole number"},
        BadScript{"game\nat 1.0 key down 27 0\n", 2, "not a whole number"},
        BadScript{"game\nat 0x10 key down 27 0\n", 2, "not a whole number"},
        BadScript{"game\nat - key down 27 0\n", 2, "not a whole number"},
        // Comments and blank lines still count as lines; the first bad line is the one named.
        BadScript{"# a comment\n\n   \ngame\nbad\nworse\n", 5, "unknown command 'bad'"},
        BadScript{"game\r\nbad\r\n", 2, "unknown command 'bad'"},
        BadScript{"game\nname TARO\xff\n", 2, "UTF-8"},
        BadScript{"game # \xe5\xa4\n", 1, "UTF-8"},
        // Ticks, draws and carried values, as recordings write them.
        BadScript{"game\nat 5 tick 1\n", 2, "extra word '1'"},
        BadScript{"game\nat 5 Tick\n", 2, "lower case"},
        BadScript{"draws\n", 1, "missing draw count"},
        BadScript{"draws -1\n", 1, "out of range"},
        BadScript{"draws 12 13\n", 1, "extra word"},
        BadScript{"set steerX 4 1\n", 1, "index '4' is out of range 0..3"},
        BadScript{"set hopperVY 21 1\n", 1, "out of range 0..20"},
        BadScript{"set hopperVY 20\n", 1, "missing value"},
        BadScript{"set bloodBudget 1 2\n", 1, "extra word '2'"},
        BadScript{"set steerx 0 1\n", 1, "'steerx' should be 'steerX'"},
        BadScript{"set running 0\n", 1, "unknown value name 'running'"},
        BadScript{"set shellKind 0 32768\n", 1, "out of range -32768..32767"},
        BadScript{"SET bloodBudget 1\n", 1, "lower case"},
        // A recording cut off in the middle of a line.
        BadScript{"joysticks 2\ngame\nat 1 key down 37 0\nat 9 ke", 4, "unknown event 'ke'"},
        BadScript{"game\nat 1 key down 37 0\nat 9 joy 0 32767", 3, "missing joystick y"},
        BadScript{"players 1 0 0 0\noptions 1 0\n", 2, "missing third check mark"}));

TEST(ScriptParse, EmptyScriptHasTheDefaultsAndNoGames) {
    Script s;
    ScriptError e;
    ASSERT_TRUE(parseScript("# nothing here\n\n", s, e));
    EXPECT_EQ(s.joysticks, 0);
    EXPECT_TRUE(s.commands.empty());
    EXPECT_EQ(e.line, 0);
}

TEST(ScriptParse, SettingsStandInScriptOrderAroundTheGames) {
    Script s;
    ScriptError e;
    ASSERT_TRUE(parseScript("players 1 1 0 1\n"
                            "game\n"
                            "options 0 1 1 0   # after the first game\n"
                            "  timer 7\n"
                            "game\n"
                            "joysticks 2\n"
                            "joysticks 1\n",
                            s, e))
        << e.message;
    using K = ScriptCommand::Kind;
    ASSERT_EQ(s.commands.size(), 5u);
    EXPECT_EQ(s.commands[0].kind, K::Players);
    EXPECT_EQ(s.commands[0].marks, (std::array<bool, 4>{true, true, false, true}));
    EXPECT_EQ(s.commands[1].kind, K::Game);
    EXPECT_EQ(s.commands[2].kind, K::Options);
    EXPECT_EQ(s.commands[2].marks, (std::array<bool, 4>{false, true, true, false}));
    EXPECT_EQ(s.commands[3].kind, K::Timer);
    EXPECT_EQ(s.commands[3].timerPhase, 7);
    EXPECT_EQ(s.commands[4].kind, K::Game);
    EXPECT_EQ(s.commands[4].line, 5);
    EXPECT_EQ(s.joysticks, 1);   // the last one counts
}

TEST(ScriptParse, NameTakesTheRestOfTheLineAfterOneBlank) {
    struct Case {
        const char* line;
        std::string name;
    } cases[] = {
        {"name TARO\n", "TARO"},
        {"name  TARO  # the winner\n", " TARO  "},
        {"name 太郎 と 花子\n", "太郎 と 花子"},
        {"name a\"b,c\r\n", "a\"b,c"},
        {"name \n", ""},
        {"name\n", ""},
        {"name#nobody\n", ""},
    };
    for (const Case& c : cases) {
        Script s;
        ScriptError e;
        ASSERT_TRUE(parseScript(c.line, s, e)) << c.line << e.message;
        ASSERT_EQ(s.commands.size(), 1u) << c.line;
        EXPECT_EQ(s.commands[0].kind, ScriptCommand::Kind::Name);
        EXPECT_EQ(s.commands[0].name, c.name) << c.line;
    }
}

TEST(ScriptParse, AtLinesBelongToTheLatestGameOrderedByStepThenScriptOrder) {
    Script s;
    ScriptError e;
    ASSERT_TRUE(parseScript("game\n"
                            "at 3 key down 37 0\n"
                            "at 1 key down 39 2\n"
                            "players 0 1 0 0   # for the next game; the at lines below stay\n"
                            "at 3 key up 37 0\n"
                            "at 2 joy 1 0 65535 4294967295\n"
                            "at 007 menu wire\n"
                            "game\n"
                            "at 2 menu 3P\n",
                            s, e))
        << e.message;
    ASSERT_EQ(s.commands.size(), 3u);
    const auto& first = s.commands[0].events;
    ASSERT_EQ(first.size(), 5u);
    using K = ScriptEvent::Kind;
    EXPECT_EQ(first[0].step, 1);
    EXPECT_EQ(first[0].kind, K::KeyDown);
    EXPECT_EQ(first[0].keyCode, 39);
    EXPECT_EQ(first[0].mask, 2);
    EXPECT_EQ(first[1].step, 2);
    EXPECT_EQ(first[1].kind, K::Joy);
    EXPECT_EQ(first[1].joystick, 1);
    EXPECT_EQ(first[1].x, 0);
    EXPECT_EQ(first[1].y, 65535);
    EXPECT_EQ(first[1].buttons, 4294967295u);
    EXPECT_EQ(first[2].step, 3);
    EXPECT_EQ(first[2].kind, K::KeyDown);
    EXPECT_EQ(first[2].line, 2);
    EXPECT_EQ(first[3].step, 3);
    EXPECT_EQ(first[3].kind, K::KeyUp);
    EXPECT_EQ(first[3].line, 5);
    EXPECT_EQ(first[4].step, 7);
    EXPECT_EQ(first[4].item, MenuItem::Wireframe);
    EXPECT_EQ(s.commands[1].kind, ScriptCommand::Kind::Players);
    ASSERT_EQ(s.commands[2].events.size(), 1u);
    EXPECT_EQ(s.commands[2].events[0].item, MenuItem::Player3);
}

TEST(ScriptParse, MenuItemsMapToTheirCheckMarks) {
    Script s;
    ScriptError e;
    ASSERT_TRUE(parseScript("game\nat 1 menu 1P\nat 1 menu 2P\nat 1 menu 3P\nat 1 menu 4P\n"
                            "at 1 menu live\nat 1 menu small\nat 1 menu simple\nat 1 menu wire\n",
                            s, e))
        << e.message;
    std::vector<MenuItem> items;
    for (const ScriptEvent& ev : s.commands[0].events) items.push_back(ev.item);
    EXPECT_EQ(items, (std::vector<MenuItem>{MenuItem::Player1, MenuItem::Player2,
                                            MenuItem::Player3, MenuItem::Player4,
                                            MenuItem::LiveCamera, MenuItem::SmallScreen,
                                            MenuItem::SimpleDisplay, MenuItem::Wireframe}));
}

TEST(ScriptParse, NumbersMayHaveLeadingZerosAndMinusZero) {
    Script s;
    ScriptError e;
    ASSERT_TRUE(parseScript("\xEF\xBB\xBFplayers -0 001 0 0\ngame\nat 2147483647 key down 0 7\n",
                            s, e))
        << e.message;
    EXPECT_EQ(s.commands[0].marks, (std::array<bool, 4>{false, true, false, false}));
    EXPECT_EQ(s.commands[1].events[0].step, 2147483647);
}

}  // namespace
}  // namespace hopshot
