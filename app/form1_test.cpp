// The window in a real X server: layout, menus, real clicks and keys, the game started and
// stopped from the keyboard, the prompt, the timer and the game's clock.
#include "app/form1.h"
#include "testing/gui_test_support.h"

#include <QAction>
#include <QFontInfo>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>

namespace hopshot {
namespace {

using guitest::waitFor;

class Form1Test : public ::testing::Test {
protected:
    void SetUp() override {
        if (!guitest::app()) GTEST_SKIP() << "needs an X display: run under xvfb-run";
        form = std::make_unique<Form1>(presets, guitest::programDir());
        ASSERT_TRUE(guitest::showAndFocus(*form));
    }

    template <class T> T* child(const char* name) {
        T* found = form->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QWidget* widget(const char* name) { return child<QWidget>(name); }
    QAction* action(const char* name) { return child<QAction>(name); }

    // Opens a menu of the bar by a real click on its title.
    QMenu* openFromBar(const char* menuName) {
        QMenu* menu = child<QMenu>(menuName);
        QMenuBar* bar = form->menuBar();
        const QPoint at = bar->mapToGlobal(bar->actionGeometry(menu->menuAction()).center());
        EXPECT_TRUE(guitest::clickAt(at));
        EXPECT_TRUE(waitFor([&] { return menu->isVisible(); }, 3000)) << menuName;
        return menu;
    }
    // A real click on an item of an open menu; a submenu item opens that submenu.
    void clickItem(QMenu* menu, QAction* item) {
        ASSERT_TRUE(guitest::clickAt(menu->mapToGlobal(menu->actionGeometry(item).center())));
    }
    QMenu* openSubmenu(QMenu* menu, const char* submenuName) {
        QMenu* sub = child<QMenu>(submenuName);
        clickItem(menu, sub->menuAction());
        EXPECT_TRUE(waitFor([&] { return sub->isVisible(); }, 3000)) << submenuName;
        return sub;
    }

    World& world() { return form->game().w; }

    WindowPresets presets;
    std::unique_ptr<Form1> form;
};

TEST_F(Form1Test, TheWindowIsLaidOutAsDrawnWithTheTitleOverEverything) {
    EXPECT_EQ(form->windowTitle(), "HopShot");
    QWidget* client = form->centralWidget();
    EXPECT_EQ(client->size(), QSize(640, 480));
    EXPECT_EQ(client->y(), form->menuBar()->geometry().bottom() + 1);   // right below the menus
    // It opens at 1:1 and can be made any size: the picture scales with it.
    EXPECT_LT(form->minimumSize().width(), 640);
    EXPECT_GT(form->maximumSize().width(), 640);
    EXPECT_EQ(form->size(), QSize(640, 480 + form->menuBar()->height()));
    QWidget* picture = widget("client");   // the 640 x 480 picture, filling the area at 1:1
    EXPECT_EQ(picture->geometry(), QRect(0, 0, 640, 480));

    const std::pair<const char*, QRect> places[] = {
        {"Picture1", {0, 50, 640, 430}}, {"Label2", {0, 0, 320, 50}},
        {"Label1", {320, 0, 320, 50}},   {"Image1", {0, 0, 640, 480}}};
    for (const auto& [name, place] : places) {
        EXPECT_EQ(widget(name)->geometry(), place) << name;
        EXPECT_EQ(widget(name)->parentWidget(), picture) << name;
    }

    struct LabelLook { const char* name; const char* text; QColor color; };
    for (const LabelLook& l : {LabelLook{"Label2", "Score : 0", QColor(192, 255, 255)},
                               LabelLook{"Label1", "Time : 0", QColor(192, 255, 192)}}) {
        auto* label = child<QLabel>(l.name);
        EXPECT_EQ(label->text(), l.text) << l.name;
        EXPECT_EQ(label->palette().color(QPalette::Window), QColor(Qt::black)) << l.name;
        EXPECT_EQ(label->palette().color(QPalette::WindowText), l.color) << l.name;
        EXPECT_EQ(label->font().family(), QStringLiteral("ＭＳ Ｐゴシック")) << l.name;
        EXPECT_EQ(label->font().pointSize(), 36) << l.name;
        EXPECT_EQ(label->font().weight(), QFont::Normal) << l.name;
        EXPECT_EQ(QFontInfo(label->font()).family(), "IPAPGothic") << l.name;   // the stand-in
    }

    // At start the title picture is shown and on top everywhere: over both labels and where the
    // 3D view goes, which is hidden.
    auto* image1 = child<QLabel>("Image1");
    EXPECT_TRUE(image1->isVisible());
    EXPECT_FALSE(widget("Picture1")->isVisible());
    for (QPoint p : {QPoint(10, 10), QPoint(400, 25), QPoint(320, 300), QPoint(639, 479)})
        EXPECT_EQ(picture->childAt(p), image1) << p.x() << "," << p.y();
    ASSERT_FALSE(image1->pixmap().isNull()) << "title.bmp beside the program";
    EXPECT_EQ(image1->pixmap().size(), QSize(640, 480));
}

TEST_F(Form1Test, TheGameViewShowsTheLabelsInTheirColoursOverTheBlack3DView) {
    form->show3DView();
    EXPECT_FALSE(widget("Image1")->isVisible());
    EXPECT_TRUE(widget("Picture1")->isVisible());
    const QImage shot = form->centralWidget()->grab().toImage();
    auto count = [&](QRect area, QColor c) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (shot.pixelColor(x, y) == c) ++n;
        return n;
    };
    EXPECT_GT(count({0, 0, 320, 50}, QColor(192, 255, 255)), 50);   // the score's letters
    EXPECT_GT(count({320, 0, 320, 50}, QColor(192, 255, 192)), 50);  // the time's letters
    EXPECT_EQ(count({0, 0, 320, 50}, QColor(192, 255, 192)), 0);
    EXPECT_EQ(count({0, 50, 640, 430}, QColor(Qt::black)), 640 * 430);

    form->showTitle();
    EXPECT_TRUE(widget("Image1")->isVisible());
    EXPECT_FALSE(widget("Picture1")->isVisible());
    EXPECT_EQ(form->centralWidget()->childAt(10, 10), widget("Image1"));
}

TEST_F(Form1Test, TheMenuTreeHasEveryItemWithItsCaptionAndMark) {
    // Each menu's items in order, by name; a submenu stands as its own name.
    const std::vector<std::pair<const char*, std::vector<const char*>>> tree = {
        {"ゲーム", {"スタート", "終わる"}},
        {"設定", {"人数設定", "画面設定"}},
        {"人数設定", {"人数0", "人数1", "人数2", "人数3"}},
        {"画面設定", {"ライブカメラ", "小さい画面", "簡易表示", "ワイヤーフレームモード"}},
        {"ハイスコア", {"ひとりモード", "協力モード"}},
        {"ネットワーク", {"ホスト", "参加"}},
    };
    auto nameOf = [](QAction* a) { return a->menu() ? a->menu()->objectName() : a->objectName(); };
    std::vector<QString> bar;
    for (QAction* a : form->menuBar()->actions()) bar.push_back(nameOf(a));
    EXPECT_EQ(bar, (std::vector<QString>{"ゲーム", "設定", "ハイスコア", "ネットワーク"}));
    for (const auto& [menuName, items] : tree) {
        auto* menu = child<QMenu>(menuName);
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->title(), QString::fromUtf8(menuName));
        std::vector<QString> names, wanted;
        for (QAction* a : menu->actions()) names.push_back(nameOf(a));
        for (const char* n : items) wanted.push_back(QString::fromUtf8(n));
        EXPECT_EQ(names, wanted) << menuName;
    }

    struct Item { const char* name; const char* caption; bool checkable, checked; };
    const Item items[] = {
        {"スタート", "スタート", false, false},   {"終わる", "終わる", false, false},
        {"人数0", "１Ｐ", true, true},            {"人数1", "２Ｐ", true, false},
        {"人数2", "３Ｐ", true, false},           {"人数3", "４Ｐ", true, false},
        {"ライブカメラ", "ライブカメラ", true, true}, {"小さい画面", "小さい画面", true, false},
        {"簡易表示", "簡易表示", true, false},
        {"ワイヤーフレームモード", "ワイヤーフレームモード", true, false},
        {"ひとりモード", "１人モード", false, false}, {"協力モード", "協力モード", false, false},
        {"ホスト", "ゲームをホスト…", false, false}, {"参加", "ゲームに参加…", false, false},
    };
    for (const Item& i : items) {
        QAction* a = action(i.name);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->text(), QString::fromUtf8(i.caption)) << i.name;
        EXPECT_EQ(a->isCheckable(), i.checkable) << i.name;
        EXPECT_EQ(a->isChecked(), i.checked) << i.name;
        EXPECT_TRUE(a->isEnabled() && a->isVisible()) << i.name;
    }
    EXPECT_EQ(action("スタート")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    EXPECT_EQ(action("スタート")->shortcutContext(), Qt::ApplicationShortcut);

    // What the game setup reads is the marks as shown.
    const std::pair<MenuItem, bool> marks[] = {
        {MenuItem::Player1, true},     {MenuItem::Player2, false},     {MenuItem::Player3, false},
        {MenuItem::Player4, false},    {MenuItem::LiveCamera, true},   {MenuItem::SmallScreen, false},
        {MenuItem::SimpleDisplay, false}, {MenuItem::Wireframe, false}};
    for (auto [item, on] : marks) EXPECT_EQ(form->checked(item), on) << int(item);
}

TEST(Form1Presets, TheCommandLinePresetsAreTheStartingMarks) {
    if (!guitest::app()) GTEST_SKIP() << "needs an X display: run under xvfb-run";
    WindowPresets p;
    p.players = {false, true, false, true};
    p.liveCamera = false;
    p.smallScreen = true;
    p.wireframe = true;
    Form1 form(p, guitest::programDir());
    const std::pair<MenuItem, bool> marks[] = {
        {MenuItem::Player1, false},    {MenuItem::Player2, true},      {MenuItem::Player3, false},
        {MenuItem::Player4, true},     {MenuItem::LiveCamera, false},  {MenuItem::SmallScreen, true},
        {MenuItem::SimpleDisplay, false}, {MenuItem::Wireframe, true}};
    for (auto [item, on] : marks) EXPECT_EQ(form.checked(item), on) << int(item);
    EXPECT_FALSE(form.findChild<QAction*>("人数0")->isChecked());
}

TEST_F(Form1Test, ChoosingAnItemByClickFlipsItsMarkOnce) {
    struct Choice { const char* submenu; const char* item; MenuItem reads; bool after; };
    const Choice choices[] = {
        {"人数設定", "人数1", MenuItem::Player2, true},
        {"人数設定", "人数1", MenuItem::Player2, false},   // twice: as it was
        {"人数設定", "人数0", MenuItem::Player1, false},
        {"画面設定", "ワイヤーフレームモード", MenuItem::Wireframe, true},
        {"画面設定", "ライブカメラ", MenuItem::LiveCamera, false},
        {"画面設定", "小さい画面", MenuItem::SmallScreen, true},
        {"画面設定", "簡易表示", MenuItem::SimpleDisplay, true},
    };
    for (const Choice& c : choices) {
        SCOPED_TRACE(c.item);
        QMenu* settings = openFromBar("設定");
        QMenu* sub = openSubmenu(settings, c.submenu);
        clickItem(sub, action(c.item));
        ASSERT_TRUE(waitFor([&] { return !settings->isVisible(); }, 3000));   // chosen: menus close
        guitest::pump(50);
        EXPECT_EQ(form->checked(c.reads), c.after);
        EXPECT_EQ(action(c.item)->isChecked(), c.after);
    }
    EXPECT_TRUE(form->checked(MenuItem::Player1) == false && !form->checked(MenuItem::Player3));
}

TEST_F(Form1Test, CtrlSStartsAGameAndEscEndsIt) {
    auto* image1 = widget("Image1");
    auto* picture1 = widget("Picture1");
    struct Seen { bool checked = false; bool picture = false, image = true; int16_t running = 0;
                  QString time; } seen;
    // The game runs on the window's clock: look from a timer while it runs.
    QTimer look;
    look.setSingleShot(true);
    QObject::connect(&look, &QTimer::timeout, [&] {
        seen = {true, picture1->isVisible(), image1->isVisible(), world().running,
                child<QLabel>("Label1")->text()};
        guitest::sh("xdotool key Escape");
    });
    look.start(1500);
    ASSERT_TRUE(guitest::sh("xdotool key ctrl+s"));
    EXPECT_TRUE(waitFor([&] { return seen.checked && world().running == 0 && image1->isVisible(); },
                        15000));
    ASSERT_TRUE(seen.checked);
    EXPECT_TRUE(seen.picture);
    EXPECT_FALSE(seen.image);
    EXPECT_EQ(seen.running, kRunning);
    EXPECT_TRUE(seen.time == "Time : 59" || seen.time == "Time : 58") << seen.time.toStdString();
    // After Esc: the title picture is back over everything and no game runs.
    EXPECT_FALSE(picture1->isVisible());
    EXPECT_EQ(form->centralWidget()->childAt(10, 10), image1);
}

// Ctrl held through the system's key repeat fires one shell, then charges; letting go fires the
// charged shot. A repeated release reaching the game would cut the charge short.
TEST_F(Form1Test, CtrlHeldInAGameFiresOnceThenChargesAndItsReleaseFiresTheChargedShot) {
    struct Seen { int16_t kind = -1, x = 0, fire = -1, charge = -1; } shell, held, released;
    QTimer::singleShot(500, [&] {   // inside the running game
        guitest::sh("xdotool keydown ctrl");
        QTimer::singleShot(100, [&] {
            shell = {world().shellKind[0], world().shellX[0], world().fireState[0], world().charge[0]};
            QTimer::singleShot(1400, [&] {   // well into the key repeat
                held = {world().shellKind[0], world().shellX[0], world().fireState[0],
                        world().charge[0]};
                guitest::sh("xdotool keyup ctrl");
                QTimer::singleShot(150, [&] {
                    released = {world().shellKind[0], world().shellX[0], world().fireState[0],
                                world().charge[0]};
                    world().running = 0;
                });
            });
        });
    });
    action("スタート")->trigger();
    ASSERT_TRUE(waitFor([&] { return released.kind != -1 && world().running == 0; }, 15000));
    EXPECT_EQ(shell.kind, 0);          // a shell left at the press
    EXPECT_NE(shell.x, -5000);
    EXPECT_EQ(held.fire, 2);           // fired and still held: the repeats armed nothing more
    EXPECT_GT(held.charge, 50);        // held without a break all along
    EXPECT_EQ(held.x, -5000);          // no second shell: the slot is held at the muzzle
    EXPECT_EQ(released.kind, 1);       // the charged shot flies
    EXPECT_NE(released.x, -5000);
    EXPECT_EQ(released.fire, 0);
}

TEST_F(Form1Test, RealKeysReachTheKeyHandlersWithTheMaskAfterEachEvent) {
    struct Step {
        const char* keys;   // xdotool arguments; each step ends on a key whose effect shows
        std::function<bool(const World&)> done;
        std::function<void(const World&)> check;
    };
    const Step steps[] = {
        {"keydown Left", [](auto& w) { return w.steerX[0] == -1; }, nullptr},
        {"keydown Right keyup Left", [](auto& w) { return w.steerX[0] == 1; }, nullptr},
        {"keyup Right", [](auto& w) { return w.steerX[0] == 0; }, nullptr},
        {"keydown ctrl", [](auto& w) { return w.fireState[0] == 1; }, nullptr},   // mask 2
        {"keyup ctrl", [](auto& w) { return w.fireState[0] == 0; }, nullptr},     // mask 0
        // Shift held, then Ctrl: mask 3 does not fire.
        {"keydown shift keydown ctrl keydown Up", [](auto& w) { return w.steerY[0] == -1; },
         [](auto& w) { EXPECT_EQ(w.fireState[0], 0); }},
        {"keyup Up keyup ctrl keyup shift keydown Down", [](auto& w) { return w.steerY[0] == 1; },
         nullptr},
        // Alt alone does not take the keys to the menu bar.
        {"keyup Down keydown alt keyup alt keydown a", [](auto& w) { return w.steerX[1] == -1; },
         nullptr},
        {"keyup a keydown f", [](auto& w) { return w.fireState[1] == 1 && w.steerX[1] == 0; },
         nullptr},
        {"keyup f", [](auto& w) { return w.fireState[1] == 0; }, nullptr},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.keys);
        ASSERT_TRUE(guitest::sh(std::string("xdotool ") + s.keys));
        EXPECT_TRUE(waitFor([&] { return s.done(world()); }, 3000));
        if (s.check) s.check(world());
        EXPECT_EQ(form->menuBar()->activeAction(), nullptr);
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    }
}

TEST_F(Form1Test, KeysReachTheGameWhicheverChildHasTheFocusAndRepeatedReleasesAreDropped) {
    auto send = [](QWidget* to, QEvent::Type type, int key, Qt::KeyboardModifiers mods,
                   bool repeat) {
        QKeyEvent ev(type, key, mods, QString(), repeat);
        QApplication::sendEvent(to, &ev);
    };
    QWidget* label1 = widget("Label1");
    send(label1, QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier, false);
    EXPECT_EQ(world().steerX[0], -1);
    send(form->menuBar(), QEvent::KeyPress, Qt::Key_F, Qt::NoModifier, false);
    EXPECT_EQ(world().fireState[1], 1);

    world().fireState[1] = 2;   // as when the shot has gone
    // A held key: release + press pairs marked as repeats. The releases must not let go.
    for (int i = 0; i < 3; ++i) {
        send(label1, QEvent::KeyRelease, Qt::Key_Left, Qt::NoModifier, true);
        send(label1, QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier, true);
        send(label1, QEvent::KeyRelease, Qt::Key_F, Qt::NoModifier, true);
        send(label1, QEvent::KeyPress, Qt::Key_F, Qt::NoModifier, true);
    }
    EXPECT_EQ(world().steerX[0], -1);
    EXPECT_EQ(world().fireState[1], 2);   // one shot per press
    send(label1, QEvent::KeyRelease, Qt::Key_Left, Qt::NoModifier, false);
    send(label1, QEvent::KeyRelease, Qt::Key_F, Qt::NoModifier, false);
    EXPECT_EQ(world().steerX[0], 0);
    EXPECT_EQ(world().fireState[1], 0);
}

TEST_F(Form1Test, RecordPromptGivesTheTypedNameOrNothingWhenCancelled) {
    for (bool accept : {true, false}) {
        QString title, label;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible()) return;
            answer.stop();
            title = dialog->windowTitle();
            label = dialog->labelText();
            dialog->setTextValue(QStringLiteral("ななし, 2"));
            if (accept) dialog->accept();
            else dialog->reject();
        });
        answer.start(50);
        world().hiNameSolo = "OLD";
        form->askRecordName(RecordKind::Solo);   // opens it and returns: the answer comes later
        EXPECT_TRUE(waitFor([&] { return !title.isEmpty() && !QApplication::activeModalWidget(); }, 5000));
        EXPECT_EQ(title, "NewRecord!");
        EXPECT_EQ(label, QStringLiteral("おめでとうございます！ハイスコアです！"));
        EXPECT_EQ(world().hiNameSolo, accept ? "ななし, 2" : "");
    }
}

TEST_F(Form1Test, Timer1CountsARunningGameDownOnceASecond) {
    auto* timer1 = child<QTimer>("Timer1");
    EXPECT_TRUE(timer1->isActive());
    world().running = kRunning;   // as the game's setup leaves it
    world().timeLeft = 30;
    ASSERT_TRUE(waitFor([&] { return world().timeLeft == 29; }, 2500));
    QElapsedTimer between;
    between.start();
    ASSERT_TRUE(waitFor([&] { return world().timeLeft == 28; }, 2500));
    const qint64 ms = between.elapsed();
    world().running = 0;
    EXPECT_GE(ms, 900);
    EXPECT_LE(ms, 1200);
    EXPECT_EQ(child<QLabel>("Label1")->text(), "Time : 28");
}

// The window's clock steps the game from Qt's own loop: at most one step a tick, none while P or
// F1 holds the game, and a slow step slows the game rather than being made up for by a burst.
class ClockedForm1 : public Form1 {
public:
    using Form1::Form1;
    long steps = 0;
    int slowMs = 0;   // every second step takes this long
    void stepDone() override {
        ++steps;
        if (slowMs > 0 && steps % 2 == 0) QThread::msleep(ulong(slowMs));
        Form1::stepDone();
    }
};

TEST(Form1Clock, OneStepATickAtMostNoneWhileHeldAndNoBurstAfterASlowStep) {
    if (!guitest::app()) GTEST_SKIP() << "needs an X display: run under xvfb-run";
    struct Case {
        const char* what;
        const char* key;   // pressed once the game runs; empty: none
        int slowMs;
        double mostPerTick;   // steps over the ticks that passed, at most
        bool steps;           // any step at all while watched
    };
    const Case cases[] = {
        {"on the timer", "", 0, 1.0, true},
        {"paused with P", "p", 0, 0.0, false},
        {"F1's help holds it", "F1", 0, 0.0, false},
        {"every second step slow (3 ticks)", "", 60, 0.5, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClockedForm1 form(WindowPresets{}, guitest::programDir());
        ASSERT_TRUE(guitest::showAndFocus(form));
        form.slowMs = c.slowMs;
        form.findChild<QAction*>(QStringLiteral("スタート"))->trigger();
        ASSERT_TRUE(waitFor([&] { return form.steps > 2; }, 5000));
        if (*c.key) {
            ASSERT_TRUE(guitest::sh(std::string("xdotool key ") + c.key));
            ASSERT_TRUE(waitFor([&] { return form.paused(); }, 3000));
            guitest::pump(100);   // a step already due when the key came
        }
        const long before = form.steps;
        const int32_t first = form.game().w.lastTick;
        QElapsedTimer watched;
        watched.start();
        guitest::pump(600);
        const long steps = form.steps - before;
        const double ticks = double(watched.elapsed()) / 20;
        EXPECT_LE(double(steps), c.mostPerTick * ticks + 2) << steps << " steps in " << ticks << " ticks";
        EXPECT_EQ(steps > 0, c.steps);
        if (c.steps) {
            EXPECT_GT(form.game().w.lastTick, first);
        }
        EXPECT_TRUE(form.playing());
        form.game().w.running = 0;   // as Esc stops it
        EXPECT_TRUE(waitFor([&] { return !form.playing(); }, 3000));
    }
}

// Ending the program during a game, in a process of its own (it ends that process): the game
// is written down where it stopped, without its teardown. Quit lets go of the scene first; the
// close box does not.
enum class Ending { CloseBox, Quit };

[[noreturn]] void endDuringAGame(Ending how) {
    guitest::app();
    Form1 form(WindowPresets{}, guitest::programDir());
    guitest::showAndFocus(form);
    bool endedInGame = false;
    QTimer ender;
    ender.setSingleShot(true);
    QObject::connect(&ender, &QTimer::timeout, [&] {
        endedInGame = form.game().w.running == kRunning;
        if (how == Ending::CloseBox) guitest::sendCloseRequest(uint32_t(form.winId()));
        else form.findChild<QAction*>(QStringLiteral("終わる"))->trigger();
    });
    ender.start(800);
    form.findChild<QAction*>(QStringLiteral("スタート"))->trigger();
    waitFor([&] { return !form.isVisible(); }, 10000);   // the game runs during this wait

    const Game& g = form.game();
    const bool noTeardown = form.findChild<QWidget*>("Image1")->isHidden() &&
                            !form.findChild<QWidget*>("Picture1")->isHidden();
    const bool released = g.s.sceneRoot == nullptr && g.s.cameraFrame == nullptr;
    std::fprintf(stderr, "ended in a game %d, ended() %d, running %d, teardown skipped %d, "
                 "scene released %d\n", endedInGame, form.ended(), g.w.running, noTeardown,
                 released);
    std::fflush(stderr);
    const bool good = endedInGame && form.ended() && g.w.running == 0 && noTeardown &&
                      released == (how == Ending::Quit);
    std::_Exit(good ? 0 : 1);
}

TEST(Form1Ending, TheCloseBoxDuringAGameEndsItWithoutTheTeardown) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display: run under xvfb-run";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(endDuringAGame(Ending::CloseBox), ::testing::ExitedWithCode(0),
                "ended in a game 1, ended\\(\\) 1, running 0, teardown skipped 1, scene released 0");
}

TEST(Form1Ending, QuitDuringAGameReleasesTheSceneAndSkipsTheTeardown) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X display: run under xvfb-run";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(endDuringAGame(Ending::Quit), ::testing::ExitedWithCode(0),
                "ended in a game 1, ended\\(\\) 1, running 0, teardown skipped 1, scene released 1");
}

}  // namespace
}  // namespace hopshot
