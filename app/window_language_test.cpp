// The window in the player's language, and its words in their places: the language chosen from
// the environment as gettext chooses, every menu in English beside today's Japanese, F1's help
// inside its panel and the score's text clear of the time's at every size, and the remembered
// size and full screen of the window (a file from outside read with care).
#include "app/form1.h"
#include "app/language.h"
#include "app/window_memory.h"
#include "testing/ending_test_support.h"

#include <QAction>
#include <QFontMetricsF>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>

#include <chrono>
#include <gtest/gtest.h>

namespace hopshot {
namespace {

using guitest::waitFor;
namespace fs = std::filesystem;

TEST(WindowLanguageChoice, TheEnvironmentChoosesAsGettextDoesAndEveryOtherLanguageIsEnglish) {
    struct Row { LocaleVariables v; WindowLanguage want; };
    const auto ja = WindowLanguage::Japanese, en = WindowLanguage::English;
    const Row rows[] = {
        {{"", "", "", ""}, ja},                                  // nothing set: C
        {{"", "", "", "C"}, ja},
        {{"", "", "", "C.UTF-8"}, ja},
        {{"", "", "", "POSIX"}, ja},
        {{"en_US", "", "", "C.UTF-8"}, ja},                      // under C, LANGUAGE is not read
        {{"", "", "", "ja_JP.UTF-8"}, ja},
        {{"", "", "", "en_US.UTF-8"}, en},
        {{"", "", "", "de_DE.UTF-8"}, en},
        {{"", "", "", "fr_FR@euro"}, en},
        {{"", "ja_JP.UTF-8", "", "en_US.UTF-8"}, ja},            // LC_ALL before LANG
        {{"", "", "en_GB.UTF-8", "ja_JP.UTF-8"}, en},            // LC_MESSAGES before LANG
        {{"", "C", "", "en_US.UTF-8"}, ja},
        {{"ja", "", "", "en_US.UTF-8"}, ja},                     // LANGUAGE before the locale
        {{"en", "", "", "ja_JP.UTF-8"}, en},
        {{"de:ja:en", "", "", "en_US.UTF-8"}, ja},               // the first it has
        {{"fr:de", "", "", "ja_JP.UTF-8"}, en},                  // none it has: the others' English
        {{"::", "", "", "ja_JP.UTF-8"}, ja},                     // an empty list is none
    };
    for (const Row& r : rows)
        EXPECT_EQ(chooseLanguage(r.v), r.want) << "LANGUAGE=" << r.v.language << " LC_ALL="
                                               << r.v.lcAll << " LC_MESSAGES=" << r.v.lcMessages
                                               << " LANG=" << r.v.lang;
}

TEST(WindowMemoryFile, TheSizeAndFullScreenComeBackAndAFileFromOutsideCannotMisleadIt) {
    const fs::path dir = fs::path(::testing::TempDir()) / "hopshot-window-memory";
    fs::remove_all(dir);
    const QString path = QString::fromStdString((dir / "hopshot/window.conf").string());
    const WindowMemory memory(path);
    EXPECT_FALSE(memory.read().size.isValid()) << "no file: nothing remembered";
    ASSERT_TRUE(memory.write({QSize(1000, 780), true}));
    EXPECT_EQ(memory.read().size, QSize(1000, 780));
    EXPECT_TRUE(memory.read().fullScreen);

    struct Row { const char* text; QSize size; bool fullScreen; };
    const Row rows[] = {
        {"[window]\nwidth=800\nheight=620\nfullScreen=false\n", {800, 620}, false},
        {"[window]\nwidth=-800\nheight=620\n", {}, false},
        {"[window]\nwidth=99999999999\nheight=620\nfullScreen=yes\n", {}, false},
        {"[window]\nwidth=20\nheight=20\nfullScreen=true\n", {}, true},
        {"[window]\nwidth=abc\nheight=\n", {}, false},
        {"\x01\xff[[[\n=\n", {}, false},
    };
    int written = 0;
    for (const Row& r : rows) {
        const fs::path file = dir / "hopshot/window.conf";
        std::ofstream(file, std::ios::binary | std::ios::trunc) << r.text;
        // Qt keeps what it read of a settings file until the file's size or time changes: each
        // row's file gets a time of its own, as a file written later from outside would.
        fs::last_write_time(file, fs::file_time_type::clock::now() + std::chrono::seconds(++written));
        const WindowState s = memory.read();
        EXPECT_EQ(s.size, r.size) << r.text;
        EXPECT_EQ(s.fullScreen, r.fullScreen) << r.text;
    }

    // The meeting service last named: a host name or address with a port or not, nothing else.
    struct Meet { const char* text; const char* read; };
    const Meet meets[] = {
        {"[network]\nmeet=meet.example.org:7311\n", "meet.example.org:7311"},
        {"[network]\nmeet=203.0.113.10\n", "203.0.113.10"},
        {"[network]\nmeet=\"a b\"\n", ""},
        {"[network]\nmeet=host:7311:1\n", ""},
        {"[network]\nmeet=a, b\n", ""},
        {"[network]\nmeet=-rf\n", ""},
        {"\x01\xff[[[\n=\n", ""},
    };
    for (const Meet& m : meets) {
        const fs::path file = dir / "hopshot/window.conf";
        std::ofstream(file, std::ios::binary | std::ios::trunc) << m.text << "[window]\nwidth=" << std::string(5000, '9') << "\n";
        fs::last_write_time(file, fs::file_time_type::clock::now() + std::chrono::seconds(++written));
        EXPECT_EQ(memory.meetService().toStdString(), m.read) << m.text;
    }
    EXPECT_FALSE(memory.writeMeetService(QString(300, QLatin1Char('a')))) << "too long to be a host's name";
    fs::remove(dir / "hopshot/window.conf");
    ASSERT_TRUE(memory.writeMeetService(QStringLiteral("meet.example.org")));
    ASSERT_TRUE(memory.write({QSize(900, 700), false}));   // the window's own state leaves it be
    EXPECT_EQ(memory.meetService(), QStringLiteral("meet.example.org"));
}

class WindowWords : public ::testing::TestWithParam<WindowLanguage> {
protected:
    void SetUp() override {
        if (!guitest::app()) GTEST_SKIP() << "needs an X display: run under xvfb-run";
        ASSERT_TRUE(setWindowLanguage(GetParam(), QStringLiteral(HOPSHOT_BUILD_DIR)));
        WindowPresets everyone;
        everyone.players = {true, true, true, true};
        form = std::make_unique<Form1>(everyone, guitest::assetsDir());
        ASSERT_TRUE(guitest::showAndFocus(*form));
    }
    void TearDown() override {
        form.reset();
        setWindowLanguage(WindowLanguage::Japanese, QString());
    }
    bool english() const { return GetParam() == WindowLanguage::English; }
    void resizeArea(QSize area) {
        form->resize(area.width(), area.height() + form->menuBar()->height());
        ASSERT_TRUE(waitFor([&] { return form->centralWidget()->size() == area; }, 5000));
        guitest::pump(30);
    }
    std::unique_ptr<Form1> form;
    const QSize areas[6] = {{640, 480}, {320, 240}, {960, 720}, {1000, 600}, {1280, 960}, {700, 1000}};
};

TEST_P(WindowWords, EveryMenuHasItsCaptionInTheWindowsLanguage) {
    struct Item { const char* name; const char* english; };
    const Item items[] = {{"ゲーム", "Game"}, {"スタート", "Start"}, {"終わる", "Quit"},
                          {"設定", "Settings"}, {"人数設定", "Players"}, {"人数0", "1P"},
                          {"人数3", "4P"}, {"画面設定", "Screen"}, {"ライブカメラ", "Live camera"},
                          {"小さい画面", "Small screen"}, {"簡易表示", "Simple display"},
                          {"ワイヤーフレームモード", "Wireframe"}, {"ハイスコア", "High scores"},
                          {"ひとりモード", "One player"}, {"協力モード", "Cooperative"},
                          {"ネットワーク", "Network"}, {"ホスト", "Host a game…"}, {"参加", "Join a game…"}};
    // Today's Japanese captions, as the menu tree's table has them.
    const std::map<std::string, QString> japanese = {
        {"人数0", QStringLiteral("１Ｐ")}, {"人数3", QStringLiteral("４Ｐ")},
        {"ひとりモード", QStringLiteral("１人モード")}, {"ホスト", QStringLiteral("ゲームをホスト…")},
        {"参加", QStringLiteral("ゲームに参加…")}};
    for (const Item& i : items) {
        const QString name = QString::fromUtf8(i.name);
        QString caption;
        if (auto* menu = form->findChild<QMenu*>(name)) caption = menu->title();
        else if (auto* action = form->findChild<QAction*>(name)) caption = action->text();
        const QString today = japanese.count(i.name) ? japanese.at(i.name) : name;
        EXPECT_EQ(caption, english() ? QString::fromUtf8(i.english) : today) << i.name;
    }
}

TEST_P(WindowWords, EveryLineOfTheHelpFitsItsPanelAtEverySize) {
    form->game().w.running = kRunning;   // F1 is a game's key: the help needs no frame loop
    ASSERT_TRUE(guitest::sh("xdotool key F1"));
    auto* help = form->findChild<QLabel*>(QStringLiteral("Help"));
    ASSERT_TRUE(waitFor([&] { return help->isVisible(); }, 5000));
    EXPECT_TRUE(help->text().contains("4P")) << "every player's lines are there";
    for (QSize area : areas) {
        SCOPED_TRACE(testing::Message() << area.width() << "x" << area.height());
        resizeArea(area);
        const QFontMetricsF m(help->font());
        const QRect room = help->contentsRect().marginsRemoved(
            QMargins(help->margin(), help->margin(), help->margin(), help->margin()));
        const QStringList lines = help->text().split('\n');
        for (const QString& line : lines)
            EXPECT_LE(m.horizontalAdvance(line), room.width()) << line.toStdString();
        EXPECT_LE(m.lineSpacing() * lines.size(), room.height());
        // Not shrunk to nothing: the text stays readable where there is room for it.
        EXPECT_GE(m.height(), 8 * form->centralWidget()->width() / 640.0);
    }
    form->game().w.running = 0;
}

// The rightmost column holding the score's colour (blue as strong as green; the time's is
// weaker), -1 if none.
int rightmostScorePixel(const QImage& shot) {
    for (int x = shot.width() - 1; x >= 0; --x)
        for (int y = 0; y < shot.height(); ++y) {
            const QColor c = shot.pixelColor(x, y);
            if (c.green() > 60 && c.blue() > c.green() * 9 / 10) return x;
        }
    return -1;
}

TEST_P(WindowWords, TheWidestScoresNeverReachTheTimesText) {
    auto* score = form->findChild<QLabel*>(QStringLiteral("Label2"));
    auto* time = form->findChild<QLabel*>(QStringLiteral("Label1"));
    form->show3DView();
    form->setCaption(Label::Time, "Time : 60");
    for (const char* text : {"Score :-36000", "Score :-2147483648", "Score : 2147483647", "Score : 0"}) {
        form->setCaption(Label::Score, text);
        for (QSize area : areas) {
            SCOPED_TRACE(testing::Message() << text << " at " << area.width() << "x" << area.height());
            resizeArea(area);
            const QFontMetricsF m(score->font());
            // Its whole text, then a space's width, before the time's label begins.
            EXPECT_LE(score->x() + m.horizontalAdvance(score->text()) + m.horizontalAdvance(' '),
                      time->x());
            // The time's label keeps its font: only the score gives way.
            EXPECT_NEAR(time->font().pointSizeF(),
                        36 * std::min(area.width() / 640.0, area.height() / 480.0), 0.01);
            // As drawn: the last space's width of its label is free (nothing cut off there).
            const QImage shot = score->grab().toImage();
            const int last = rightmostScorePixel(shot);
            EXPECT_LT(last, shot.width() - int(m.horizontalAdvance(' ')) + 1);
            EXPECT_GT(last, std::string(text).size() > 10 ? shot.width() / 2 : 0) << "drawn";
            if (area.width() == 640 && std::string(text).size() > 16)
                guitest::keepShot(form->centralWidget()->grab().toImage(),
                                  std::string("widest-score-") + (english() ? "en" : "ja"));
        }
    }
    form->showTitle();
}

INSTANTIATE_TEST_SUITE_P(, WindowWords,
                         ::testing::Values(WindowLanguage::Japanese, WindowLanguage::English),
                         [](const auto& info) {
                             return info.param == WindowLanguage::English ? "English" : "Japanese";
                         });

// --- the program as a player starts it ---

class ProgramLanguage : public ::testing::Test {
protected:
    void SetUp() override {
        if (!guitest::app()) GTEST_SKIP() << "needs an X display: run under xvfb-run";
        for (const char* file : {kEnglishCatalogue, "title-english.png"})
            fs::copy_file(fs::path(HOPSHOT_BUILD_DIR) / file, dir.path(file));
    }
    // The window as it first shows, with that environment; empty if it never shows.
    QImage shownWith(std::map<std::string, std::string> env) {
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) env.emplace(name, "");
        env["SDL_AUDIODRIVER"] = "dummy";
        env["XDG_CONFIG_HOME"] = dir.path("config");   // no size remembered from another run
        fs::remove_all(dir.path("config"));
        auto child = dir.start({}, env);
        const auto window = guitest::waitForWindow(*child, "HopShot", 15000);
        if (!window) return {};
        guitest::pump(500);
        const QImage shot = guitest::grabShown(*window);
        guitest::sendCloseRequest(uint32_t(*window));
        EXPECT_TRUE(child->waitEnd(10000));
        return shot;
    }
    guitest::ProgramDir dir{true};
};

// The client area below the menu bar: the title picture with its lines on how to start.
QImage clientArea(const QImage& shot) { return shot.copy(0, shot.height() - 480, 640, 480); }

TEST_F(ProgramLanguage, JapaneseCAndPosixShowTodaysWindowAndEveryOtherLocaleTheEnglishOne) {
    const QImage today = shownWith({{"LANG", "C"}});
    const QImage english = shownWith({{"LANG", "en_US.UTF-8"}});
    ASSERT_FALSE(today.isNull() || english.isNull());
    guitest::keepShot(today, "window-japanese");
    guitest::keepShot(english, "window-english");
    // English names the menus, and the title's lines on how to start, in English; the rest of
    // the title picture is the same.
    const int menu = today.height() - 480;
    EXPECT_NE(english.copy(0, 0, 640, menu), today.copy(0, 0, 640, menu));
    EXPECT_NE(clientArea(english).copy(0, 320, 640, 72), clientArea(today).copy(0, 320, 640, 72));
    EXPECT_EQ(clientArea(english).copy(0, 0, 640, 320), clientArea(today).copy(0, 0, 640, 320));
    EXPECT_EQ(clientArea(english).copy(0, 392, 640, 88), clientArea(today).copy(0, 392, 640, 88));

    // Under a Japanese locale the toolkit may choose other fonts for the menu bar itself, so
    // there the client area is compared; under POSIX the whole window is today's.
    struct Row { std::map<std::string, std::string> env; bool english, whole; };
    const Row rows[] = {
        {{{"LANG", "POSIX"}, {"LANGUAGE", "en"}}, false, true},
        {{{"LANG", "ja_JP.UTF-8"}}, false, false},
        {{{"LC_ALL", "de_DE.UTF-8"}, {"LANG", "ja_JP.UTF-8"}}, true, false},
        {{{"LANG", "ja_JP.UTF-8"}, {"LANGUAGE", "en_GB:ja"}}, true, false},
    };
    for (const Row& r : rows) {
        std::string said;
        for (const auto& [name, value] : r.env) said += name + "=" + value + " ";
        const QImage shot = shownWith(r.env);
        ASSERT_FALSE(shot.isNull()) << said;
        const QImage& want = r.english ? english : today;
        if (r.whole) EXPECT_EQ(shot, want) << said;
        else EXPECT_EQ(clientArea(shot), clientArea(want)) << said;
    }
}

}  // namespace
}  // namespace hopshot
