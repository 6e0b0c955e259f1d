// The records in the window, in a real X server: the two record displays as a player reads them,
// the record prompt typed into, a game that runs out its time and asks for a name, the countdown's
// first second, and Quit during a game with the high-score file.
#include "testing/ending_test_support.h"
#include "app/form1.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>

#include <gtest/gtest.h>

namespace hopshot {
namespace {

using guitest::waitFor;

// Opens a window-modal prompt with `open` (which returns at once) and, once it is up, hands it to
// `look`, which must close it. Returns whether it came; one still open after timeoutMs is
// rejected, so a failing test does not hang.
template <class Modal>
bool whileOpen(const std::function<void()>& open, const std::function<void(Modal*)>& look,
               int timeoutMs = 10000) {
    bool seen = false, closed = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* modal = qobject_cast<Modal*>(QApplication::activeModalWidget());
        if (seen) {
            closed = !modal;
            return;
        }
        if (!modal || !modal->isVisible() || !modal->windowHandle()->isExposed()) return;
        seen = true;
        look(modal);
    });
    poll.start();
    open();
    guitest::waitFor([&] { return closed; }, timeoutMs);
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) dialog->reject();
    return seen;
}

// The lines of text as drawn: bands of rows holding dark pixels, as (first row, last row).
std::vector<std::pair<int, int>> inkBands(const QImage& picture) {
    std::vector<std::pair<int, int>> bands;
    for (int y = 0; y < picture.height(); ++y) {
        bool ink = false;
        for (int x = 0; x < picture.width() && !ink; ++x)
            ink = picture.pixelColor(x, y).lightness() < 128;
        if (!ink) continue;
        if (!bands.empty() && bands.back().second == y - 1) bands.back().second = y;
        else bands.emplace_back(y, y);
    }
    return bands;
}

class RecordsWindow : public ::testing::Test {
protected:
    void SetUp() override {
        if (!guitest::app()) GTEST_SKIP() << "needs an X display: run under xvfb-run";
        form = std::make_unique<Form1>(WindowPresets{}, guitest::programDir());
        ASSERT_TRUE(guitest::showAndFocus(*form));
    }

    World& world() { return form->game().w; }
    QAction* action(const char* name) { return form->findChild<QAction*>(QString::fromUtf8(name)); }
    QWidget* widget(const char* name) { return form->findChild<QWidget*>(QString::fromUtf8(name)); }
    bool titleShown() { return widget("Image1")->isVisible() && !widget("Picture1")->isVisible(); }

    // Chooses an item of the "ハイスコア" menu by real clicks, and runs the window until `done`.
    void chooseRecordItem(const char* item, const bool& done) {
        auto* menu = form->findChild<QMenu*>(QStringLiteral("ハイスコア"));
        QMenuBar* bar = form->menuBar();
        const QRect title = bar->actionGeometry(menu->menuAction());
        ASSERT_TRUE(guitest::clickAt(bar->mapToGlobal(title.center())));
        ASSERT_TRUE(waitFor([&] { return menu->isVisible(); }, 3000));
        const QRect place = menu->actionGeometry(action(item));
        ASSERT_TRUE(guitest::clickAt(menu->mapToGlobal(place.center())));
        waitFor([&] { return done; }, 10000);
    }

    std::unique_ptr<Form1> form;
};

TEST_F(RecordsWindow, TheRecordDisplaysShowTheHolderAnEmptyLineAndTheScore) {
    struct Case {
        const char* item;
        bool byClicks;
        const char* name;
        int32_t score;
        const char* title;
        const char* text;
        const char* shot;
    };
    const Case cases[] = {
        {"ひとりモード", true, "TARO", 12345, "１人モードハイスコア", "TARO\n\nScore :  12345", "record-solo"},
        {"ひとりモード", false, "", 0, "１人モードハイスコア", "\n\nScore :  0", "record-solo-empty"},
        {"協力モード", false, "HANAKO", 800, "協力モードハイスコア", "HANAKO\n\nScore :  800", "record-coop"},
        {"協力モード", true, "ななし", -751, "協力モードハイスコア", "ななし\n\nScore : -751", "record-coop-negative"},
    };
    int scoreLineUnderAName = -1;   // where the score's line is drawn when a name is above it
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shot);
        // The other record holds something else, so that showing the wrong one shows.
        const bool solo = std::string(c.item) == "ひとりモード";
        world().hiNameSolo = solo ? c.name : "OTHER";
        world().hiScoreSolo = solo ? c.score : 99;
        world().hiNameCoop = solo ? "OTHER" : c.name;
        world().hiScoreCoop = solo ? 99 : c.score;

        struct Seen { QString title, text; QMessageBox::Icon icon = QMessageBox::NoIcon;
                      QMessageBox::StandardButtons buttons; QWidget* parent = nullptr;
                      std::vector<std::pair<int, int>> lines; int lineSpacing = 0; } seen;
        bool looked = false;
        auto look = [&](QMessageBox* box) {
            seen.title = box->windowTitle();
            seen.text = box->text();
            seen.icon = box->icon();
            seen.buttons = box->standardButtons();
            seen.parent = box->parentWidget();
            guitest::pump(150);   // painted
            auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
            if (label) {
                seen.lines = inkBands(label->grab().toImage());
                seen.lineSpacing = label->fontMetrics().lineSpacing();
            }
            guitest::keepShot(guitest::grabShown(box->winId()), c.shot);
            // Dismissed with Return, as a player would.
            EXPECT_TRUE(guitest::focusWindow(box->winId()));
            EXPECT_TRUE(guitest::sh("xdotool key Return"));
        };
        const bool came = whileOpen<QMessageBox>(
            [&] {
                if (c.byClicks) chooseRecordItem(c.item, looked);
                else action(c.item)->trigger();
            },
            [&](QMessageBox* box) { look(box); looked = true; });
        ASSERT_TRUE(came);
        EXPECT_EQ(seen.title.toStdString(), c.title);
        EXPECT_EQ(seen.text.toStdString(), c.text);
        EXPECT_EQ(seen.icon, QMessageBox::Information);
        EXPECT_EQ(seen.buttons, QMessageBox::Ok);
        EXPECT_EQ(seen.parent, form.get()) << "over the window";

        // As drawn: the score's line is two lines below the name's, with an empty line between;
        // with no name, the score's line alone, as low as it is under a name.
        ASSERT_GT(seen.lineSpacing, 0);
        ASSERT_EQ(seen.lines.size(), *c.name ? 2u : 1u);
        if (*c.name) {
            const int between = seen.lines[1].first - seen.lines[0].first;
            EXPECT_NEAR(between, 2 * seen.lineSpacing, 3);
            scoreLineUnderAName = seen.lines[1].first;
        } else {
            ASSERT_GE(scoreLineUnderAName, 0);
            EXPECT_NEAR(seen.lines[0].first, scoreLineUnderAName, 1) << "the empty lines are lost";
        }
    }
}

TEST_F(RecordsWindow, ThePromptRefusesAQuoteAndGivesTheTypedNameOrNothing) {
    struct Case { const char* typed; bool ok; const char* name; };
    for (const Case c : {Case{"TA\"RO", true, "TARO"}, Case{"JIRO", false, ""}}) {
        SCOPED_TRACE(c.typed);
        struct Seen { QString title, label, before, typed; bool openAfterTyping = false; } seen;
        world().hiNameSolo = "unset";
        const bool came = whileOpen<QInputDialog>(
            [&] { form->askRecordName(RecordKind::Solo); },
            [&](QInputDialog* dialog) {
                seen.title = dialog->windowTitle();
                seen.label = dialog->labelText();
                auto* edit = dialog->findChild<QLineEdit*>();
                seen.before = edit->text();
                guitest::pump(300);   // keys of the prompt's first moment were pressed before it
                EXPECT_TRUE(guitest::focusWindow(dialog->winId()));
                EXPECT_TRUE(guitest::sh(std::string("xdotool type --delay 20 '") + c.typed + "'"));
                // The last letter shows once every key has been taken.
                const QString last = QString(QChar(c.typed[std::strlen(c.typed) - 1]));
                waitFor([&] { return edit->text().endsWith(last); }, 3000);
                seen.typed = edit->text();
                seen.openAfterTyping = dialog->isVisible();
                auto* buttons = dialog->findChild<QDialogButtonBox*>();
                QPushButton* button =
                    buttons->button(c.ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel);
                EXPECT_TRUE(guitest::clickAt(button->mapToGlobal(button->rect().center())));
            });
        ASSERT_TRUE(came);
        EXPECT_EQ(seen.title.toStdString(), "NewRecord!");
        EXPECT_EQ(seen.label.toStdString(), "おめでとうございます！ハイスコアです！");
        EXPECT_EQ(seen.before.toStdString(), "");
        EXPECT_EQ(seen.typed.toStdString(), c.ok ? "TARO" : "JIRO");
        EXPECT_TRUE(seen.openAfterTyping);
        EXPECT_EQ(world().hiNameSolo, c.name);
    }
}

TEST_F(RecordsWindow, AGameThatRunsOutItsTimeAsksOnceForTheNameOverItsLastPicture) {
    world().hiNameSolo = "OLD";
    world().hiScoreSolo = 100;
    world().hiNameCoop = "COOP";
    world().hiScoreCoop = 300;
    enum class Stage { Starting, Ending, Prompted, Answered } stage = Stage::Starting;
    struct AtPrompt { bool picture = false, title = true; int16_t running = 1; int32_t score = 0,
                      record = 0; QString time, dialogTitle; } at;
    int prompts = 0;
    QTimer drive;
    drive.setInterval(20);
    QObject::connect(&drive, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        if (stage == Stage::Starting && world().running == kRunning) {
            // Nearly a minute later, with a score above the record: the next tick ends the game.
            world().score = 5000;
            world().timeLeft = 1;
            stage = Stage::Ending;
        } else if (dialog && dialog->isVisible() && dialog->windowHandle()->isExposed() &&
                   stage == Stage::Ending) {
            stage = Stage::Prompted;
            ++prompts;
            at = {widget("Picture1")->isVisible(), widget("Image1")->isVisible(), world().running,
                  world().score, world().hiScoreSolo,
                  form->findChild<QLabel*>(QStringLiteral("Label1"))->text(),
                  dialog->windowTitle()};
            guitest::keepShot(guitest::grabShown(form->winId()), "prompt-window");
            guitest::keepShot(guitest::grabShown(dialog->winId()), "prompt");
            guitest::pump(300);   // keys of the prompt's first moment were pressed before it
            EXPECT_TRUE(guitest::focusWindow(dialog->winId()));
            EXPECT_TRUE(guitest::sh("xdotool type --delay 20 KEN"));
            auto* edit = dialog->findChild<QLineEdit*>();
            waitFor([&] { return edit->text() == "KEN"; }, 3000);
            EXPECT_TRUE(guitest::sh("xdotool key Return"));
        } else if (stage == Stage::Prompted && !(dialog && dialog->isVisible())) {
            stage = Stage::Answered;
        } else if (stage == Stage::Answered && dialog && dialog->isVisible()) {
            ++prompts;   // a second prompt
            dialog->reject();
        }
    });
    drive.start();
    action("スタート")->trigger();
    // The game runs during this wait, until it is over and the title picture is back.
    EXPECT_TRUE(waitFor([&] { return stage == Stage::Answered && titleShown(); }, 20000));
    guitest::pump(1200);   // a later tick asks nothing more
    drive.stop();

    EXPECT_EQ(prompts, 1);
    EXPECT_EQ(at.dialogTitle.toStdString(), "NewRecord!");
    EXPECT_TRUE(at.picture) << "the game's last picture stays while the prompt is open";
    EXPECT_FALSE(at.title);
    EXPECT_EQ(at.running, 0);
    EXPECT_EQ(at.time.toStdString(), "Time : 0");
    EXPECT_GT(at.score, 100);
    EXPECT_EQ(at.record, at.score) << "the record is stored before the prompt opens";
    EXPECT_EQ(world().hiScoreSolo, at.score);
    EXPECT_EQ(world().hiNameSolo, "KEN");
    EXPECT_EQ(world().hiScoreCoop, 300);
    EXPECT_EQ(world().hiNameCoop, "COOP");
}

// A player still holding a game key as the game runs out: the key and its repeats do not type
// into the name, which starts empty and takes only the keys pressed after the prompt opened.
TEST_F(RecordsWindow, AKeyHeldAsTheGameEndsDoesNotTypeIntoThePrompt) {
    world().hiScoreSolo = 100;
    enum class Stage { Starting, Holding, Prompted, Answered } stage = Stage::Starting;
    QString whileHeld = "unset", typed;
    int repeatsAtThePrompt = 0;   // X's key repeats of the held key that reached the prompt
    struct RepeatCounter : QObject {
        int* count;
        explicit RepeatCounter(int* c) : count(c) {}
        bool eventFilter(QObject* watched, QEvent* e) override {
            auto* w = qobject_cast<QWidget*>(watched);
            if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->isAutoRepeat() && w &&
                qobject_cast<QInputDialog*>(w->window()))
                ++*count;
            return false;
        }
    } counter(&repeatsAtThePrompt);
    QTimer drive;
    drive.setInterval(20);
    QObject::connect(&drive, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        if (stage == Stage::Starting && world().running == kRunning) {
            stage = Stage::Holding;
            EXPECT_TRUE(guitest::sh("xdotool keydown d"));   // player 2's turn key, held
            guitest::pump(700);
            world().score = 5000;
            world().timeLeft = 1;   // the next tick ends the game with a record
        } else if (stage == Stage::Holding && dialog && dialog->isVisible() &&
                   dialog->windowHandle()->isExposed()) {
            stage = Stage::Prompted;
            EXPECT_TRUE(guitest::focusWindow(dialog->winId()));
            qApp->installEventFilter(&counter);   // after the window's: it sees the keys first
            auto* edit = dialog->findChild<QLineEdit*>();
            // The key goes on repeating into the prompt: a few of X's repeats, however busy the
            // machine is.
            waitFor([&] { return repeatsAtThePrompt > 3; }, 8000);
            guitest::pump(200);
            whileHeld = edit->text();
            guitest::keepShot(guitest::grabShown(dialog->winId()), "prompt-key-held");
            EXPECT_TRUE(guitest::sh("xdotool keyup d"));
            EXPECT_TRUE(guitest::sh("xdotool type --delay 20 dKEN"));
            waitFor([&] { return edit->text().endsWith("N"); }, 3000);
            typed = edit->text();
            EXPECT_TRUE(guitest::sh("xdotool key Return"));
        } else if (stage == Stage::Prompted && !(dialog && dialog->isVisible())) {
            stage = Stage::Answered;
        }
    });
    drive.start();
    action("スタート")->trigger();
    EXPECT_TRUE(waitFor([&] { return stage == Stage::Answered && titleShown(); }, 20000));
    drive.stop();
    guitest::sh("xdotool keyup d");   // whatever happened above, nothing stays held

    EXPECT_GT(repeatsAtThePrompt, 3) << "the held key did not repeat: the test proves nothing";
    EXPECT_EQ(whileHeld.toStdString(), "");
    EXPECT_EQ(typed.toStdString(), "dKEN");
    EXPECT_EQ(world().hiNameSolo, "dKEN");
    EXPECT_GT(world().hiScoreSolo, 100);
}

TEST_F(RecordsWindow, TheTimeLabelReads59AboutASecondAfterTheStart) {
    auto* label1 = form->findChild<QLabel*>(QStringLiteral("Label1"));
    QElapsedTimer clock;
    QString atStart;
    qint64 firstTickMs = -1;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!clock.isValid() && world().running == kRunning) {
            clock.start();
            atStart = label1->text();
        }
        if (clock.isValid() && firstTickMs < 0 && label1->text() == "Time : 59") {
            firstTickMs = clock.elapsed();
            guitest::sh("xdotool key Escape");
        }
        if (clock.isValid() && clock.elapsed() > 3000) world().running = 0;   // never ticked
    });
    watch.start();
    ASSERT_TRUE(guitest::sh("xdotool key ctrl+s"));
    EXPECT_TRUE(waitFor([&] { return clock.isValid() && world().running == 0 && titleShown(); },
                        15000));
    watch.stop();
    EXPECT_EQ(atStart.toStdString(), "Time : 60");
    EXPECT_GE(firstTickMs, 0) << "never read Time : 59";
    EXPECT_LE(firstTickMs, 1250);   // within the first second, give or take a busy machine
    // Esc ended it before zero: the label keeps its value.
    EXPECT_EQ(label1->text().toStdString(), "Time : 59");
}

// Quit during a game with the high-score file: the records as they stand are written, and the
// running game's score is never tested.
TEST(RecordsWindowFile, QuitDuringAGameWritesTheRecordsAsTheyStand) {
    if (!guitest::app()) GTEST_SKIP() << "needs an X display: run under xvfb-run";
    const QString savedDir = QDir::currentPath();   // the load handler moves to the program's
    guitest::ProgramDir dir(false);
    const std::string records = "TARO\r\n 12345\r\nHANAKO\r\n 800\r\n";
    dir.write("gun3.x", records);
    const ino_t before = dir.inode("gun3.x");
    {
        Form1 form(WindowPresets{}, dir.qpath(), {false, false, true, {}});
        ASSERT_TRUE(form.load());
        EXPECT_EQ(form.game().w.hiNameSolo, "TARO");
        EXPECT_EQ(form.game().w.hiScoreCoop, 800);
        ASSERT_TRUE(guitest::showAndFocus(form));
        bool quitInGame = false;
        QTimer quitter;
        quitter.setInterval(20);
        QObject::connect(&quitter, &QTimer::timeout, [&] {
            if (form.game().w.running != kRunning) return;
            quitter.stop();
            form.game().w.score = 99999;   // would beat 12345 at the end of the minute
            quitInGame = true;
            form.findChild<QAction*>(QStringLiteral("終わる"))->trigger();
        });
        quitter.start();
        form.findChild<QAction*>(QStringLiteral("スタート"))->trigger();
        EXPECT_TRUE(waitFor([&] { return form.ended(); }, 10000));
        EXPECT_TRUE(quitInGame);
        EXPECT_EQ(form.game().w.hiScoreSolo, 12345);
    }
    QDir::setCurrent(savedDir);
    EXPECT_EQ(dir.read("gun3.x"), records);
    EXPECT_NE(dir.inode("gun3.x"), before) << "the file was not written";
}

}  // namespace
}  // namespace hopshot
