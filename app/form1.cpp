#include "app/form1.h"

#include "game/game_routine.h"
#include "input/sdl_joysticks.h"
#include "play/rollback.h"
#include "play/trace.h"
#include "app/form1_replay.h"
#include "app/gl_view.h"
#include "app/key_codes.h"
#include "app/language.h"
#include "app/net_seat.h"
#include "app/network_dialog.h"
#include "app/screen_area.h"
#include "game/lifecycle.h"
#include "records/number_text.h"
#include "controls/joystick.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QDir>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpression>
#include <QProxyStyle>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>

#include <iostream>
#include <string_view>

namespace hopshot {

namespace {

constexpr int kTickMs = 20;   // one frame-loop tick

// The sound module's own words, for the catalogue: they reach the boxes as plain text.
const char* const kSoundTexts[] = {
    QT_TRANSLATE_NOOP("hopshot::Form1", "DirectSoundは利用できません。"),
    QT_TRANSLATE_NOOP("hopshot::Form1", "DirectSound起動失敗！"),
    QT_TRANSLATE_NOOP("hopshot::Form1", "Error"),
};
static_assert(std::string_view(kNoSoundDeviceText) == "DirectSoundは利用できません。");

// A box's text in the window's language: the sound module's fixed words, and the wave it
// cannot load ("効果音 "NAME" を読み込めません。" and a line of why) with its name kept.
QString translatedBoxText(const std::string& text) {
    for (const char* known : kSoundTexts)
        if (text == known) return Form1::tr(known);
    static const QRegularExpression wave(QString::fromUtf8("^効果音 \"(.*)\" を読み込めません。\n"),
                                         QRegularExpression::DotMatchesEverythingOption |
                                             QRegularExpression::InvertedGreedinessOption);
    const QString all = QString::fromStdString(text);
    const QRegularExpressionMatch m = wave.match(all);
    if (m.hasMatch())
        return Form1::tr("効果音 \"%1\" を読み込めません。").arg(m.captured(1)) + QLatin1Char('\n') +
               all.mid(m.capturedLength());
    return all;
}

// The sound module's messages as the window's message boxes, opened over the window.
class QtMessageBoxes : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* window) : window_(window) {}
    void show(const std::string& text, const std::string& title, Icon icon) override {
        QMessageBox box(icon == Icon::Critical ? QMessageBox::Critical : QMessageBox::Warning,
                        translatedBoxText(title), translatedBoxText(text), QMessageBox::Ok,
                        window_);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }

private:
    QWidget* window_;
};

// Alt pressed alone would open the menu bar and swallow the next keys; the game's players hold
// and release modifiers all the time, so the menus are reached by mouse and Ctrl+S only.
class NoAltMenuStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == QStyle::SH_MenuBar_AltKeyNavigation) return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, QRect place,
                  QColor textColor) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(place);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPointSize(36);
    font.setWeight(QFont::Normal);
    label->setFont(font);
    label->setAutoFillBackground(true);
    QPalette pal = label->palette();
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::WindowText, textColor);
    label->setPalette(pal);
    return label;
}

QAction* addItem(QMenu* menu, const char* name, const QString& caption) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    return action;
}

// A check item: choosing it flips its mark. Qt's own toggle on trigger is that flip, once per
// choice; nothing else touches the mark, and the game setup reads it at the next Start.
QAction* addCheckItem(QMenu* menu, const char* name, const QString& caption, bool on) {
    QAction* action = addItem(menu, name, caption);
    action->setCheckable(true);
    action->setChecked(on);
    return action;
}

QMenu* addSubmenu(QWidget* parent, const char* name, const QString& caption) {
    QMenu* menu = nullptr;
    if (auto* bar = qobject_cast<QMenuBar*>(parent)) menu = bar->addMenu(caption);
    else menu = static_cast<QMenu*>(parent)->addMenu(caption);
    menu->setObjectName(name);
    return menu;
}

}  // namespace

Form1::Form1(const WindowPresets& presets, const QString& programDir, Form1Services services,
             QWidget* parent)
    : QMainWindow(parent),
      programDir_(programDir),
      services_(services),
      boxes_(std::make_unique<QtMessageBoxes>(this)),
      game_(*this, heard_, programDir.toStdString()),
      input_(game_, nullptr, [this](MenuItem item) {
          if (!flipMarks_) return;
          QAction* a = markAction(item);
          a->setChecked(!a->isChecked());
      }) {
    setObjectName("Form1");
    setWindowTitle(QStringLiteral("HopShot"));
    buildControls(programDir);
    buildMenus(presets);
    resize(sizeHint());   // the picture at 1:1 below the menu bar; any size after that

    // F11 toggles full screen; the menu bar stays, as it is.
    auto* fullScreen = new QAction(this);
    fullScreen->setObjectName("fullScreen");
    fullScreen->setShortcut(QKeySequence(Qt::Key_F11));
    fullScreen->setShortcutContext(Qt::WindowShortcut);
    connect(fullScreen, &QAction::triggered, this, &Form1::toggleFullScreen);
    addAction(fullScreen);

    // Keys reach the game whichever child has the focus: the filter sees them before any widget.
    setFocusPolicy(Qt::StrongFocus);
    qApp->installEventFilter(this);

    turn_.setSingleShot(true);
    turn_.setTimerType(Qt::PreciseTimer);
    connect(&turn_, &QTimer::timeout, this, &Form1::playTurn);

    timer1_ = new QTimer(this);
    timer1_->setObjectName("Timer1");
    timer1_->setInterval(1000);
    connect(timer1_, &QTimer::timeout, this, &Form1::timer1Tick);
    timer1_->start();
}

Form1::~Form1() {
    qApp->removeEventFilter(this);
    net_.reset();
    game_.joysticks = nullptr;
    joysticks_.reset();
    if (services_.joysticks || services_.sound) stopSdl();
}

bool Form1::load() {
    if (services_.joysticks || services_.sound) startSdl();   // before any SDL device opens
    if (services_.sound) {
        audio_ = makeSdlAudio();
        soundModule_ = std::make_unique<Dx7DSndSupport>(*audio_, *boxes_);
        if (soundModule_->initSound(int32_t(winId()), 1) == 0) {
            // The boxes say what failed; the way round it goes where a terminal shows it.
            std::cerr << "hopshot: no sound device could be opened; start the game with --nosound"
                         " to play without sound\n";
            boxes_->show("DirectSound起動失敗！", "Error", MessageBoxes::Icon::Critical);
            releaseScene(game_);
            return false;
        }
    }
    // As built, the high-score file lives in the program's own directory (an installed program
    // finds its meshes elsewhere); it is opened relative to it.
    const QString recordsDir = services_.recordsDir.isEmpty() ? programDir_ : services_.recordsDir;
    if (!services_.recordsInDataHome) QDir::setCurrent(recordsDir);
    if (soundModule_) soundBanks_.loadAll(*soundModule_, programDir_.toStdString(), *boxes_);
    if (services_.joysticks) {
        joysticks_ = std::make_unique<SdlJoysticks>();
        game_.joysticks = joysticks_.get();
    }
    detectJoystick(game_.controller, game_.joysticks, kJoystickMargin);
    if (services_.records) {
        recordsPlace_ = services_.recordsInDataHome ? recordsPlace(recordsDir.toStdString(), false)
                                                    : recordsPlace(recordsDir.toStdString());
        removeSaveLeftovers(recordsPlace_.writePath);   // of saves that were cut off
        Records records;
        std::string error;
        if (!loadRecords(recordsPlace_.readPath, records, error)) {
            boxes_->show(error, "HopShot", MessageBoxes::Icon::Critical);
            return false;
        }
        takeRecords(game_.w, records);
        savedRecords_ = records;
    }
    return true;
}

void Form1::buildControls(const QString& programDir) {
    // The client area scales as one 640 x 480 picture; each part is placed on that picture.
    screen_ = new ScreenArea(this);
    setCentralWidget(screen_);
    QWidget* client = screen_->picture();

    picture1_ = new GLView(client);
    picture1_->setObjectName("Picture1");
    screen_->placeView(picture1_, QRect(0, scene::kDeviceHeight - scene::kShownHeight,
                                        scene::kDeviceWidth, scene::kShownHeight));

    // The label font's own name is kept; the system shows it in its metric-compatible stand-in.
    QFont::insertSubstitution(QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"));
    label2_ = makeLabel(client, "Label2", QStringLiteral("Score : 0"), QRect(0, 0, 320, 50),
                        QColor(192, 255, 255));
    label1_ = makeLabel(client, "Label1", QStringLiteral("Time : 0"), QRect(320, 0, 320, 50),
                        QColor(192, 255, 192));
    // The score's text is narrowed where it would reach the time's: both stay where they are.
    screen_->placeLabel(label2_, label2_->geometry(), ScreenArea::Fit::Narrow);
    screen_->placeLabel(label1_, label1_->geometry());

    // A missing title picture leaves the title area black; the game plays all the same.
    image1_ = new QLabel(client);
    image1_->setObjectName("Image1");
    image1_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    image1_->setAutoFillBackground(true);
    image1_->setPalette(client->palette());
    screen_->placeTitle(image1_, QPixmap(programDir + QStringLiteral("/title.bmp")),
                        QPixmap(programDir + QStringLiteral("/title-large.png")));
    // The title's lines on how to start name the menus: in English, the strip that names them
    // in English lies over them (its rows are the ones tools/make_title --english keeps).
    const QPixmap strip(programDir + QStringLiteral("/title-english.png"));
    if (windowLanguage() == WindowLanguage::English && !strip.isNull())
        screen_->paintOverTitle([strip](QPainter& p) {
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawPixmap(QRectF(0, 320, 640, 72), strip, QRectF(strip.rect()));
        });

    buildOverlays();
    showTitle();
}

void Form1::setScreen(const ScreenOptions& options) {
    picture1_->setRenderRows(options.renderRows);
    picture1_->setCalm(options.calm);
    screen_->setStartScale(options.scale);
    const QSize area = screen_->sizeHint();
    resize(area.width(), area.height() + menuBar()->sizeHint().height());
}

void Form1::toggleFullScreen() {
    if (isFullScreen()) showNormal();
    else showFullScreen();
}

void Form1::buildMenus(const WindowPresets& presets) {
    auto* altless = new NoAltMenuStyle;
    altless->setParent(this);
    menuBar()->setStyle(altless);

    QMenu* gameMenu = addSubmenu(menuBar(), "ゲーム", tr("ゲーム"));
    QAction* start = addItem(gameMenu, "スタート", tr("スタート"));
    start->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    start->setShortcutContext(Qt::ApplicationShortcut);
    // The game is set up here and then runs on the window's clock: the handler returns at once.
    connect(start, &QAction::triggered, this, &Form1::startChosen);
    QAction* quit = addItem(gameMenu, "終わる", tr("終わる"));
    connect(quit, &QAction::triggered, this, &Form1::quitChosen);

    QMenu* settings = addSubmenu(menuBar(), "設定", tr("設定"));
    QMenu* playerMenu = addSubmenu(settings, "人数設定", tr("人数設定"));
    const QString playerCaptions[kPlayers] = {tr("１Ｐ"), tr("２Ｐ"), tr("３Ｐ"), tr("４Ｐ")};
    const char* playerNames[kPlayers] = {"人数0", "人数1", "人数2", "人数3"};
    for (int p = 0; p < kPlayers; ++p)
        players_[p] = addCheckItem(playerMenu, playerNames[p], playerCaptions[p], presets.players[p]);

    QMenu* screen = addSubmenu(settings, "画面設定", tr("画面設定"));
    liveCamera_ = addCheckItem(screen, "ライブカメラ", tr("ライブカメラ"), presets.liveCamera);
    smallScreen_ = addCheckItem(screen, "小さい画面", tr("小さい画面"), presets.smallScreen);
    simpleDisplay_ = addCheckItem(screen, "簡易表示", tr("簡易表示"), presets.simpleDisplay);
    wireframe_ = addCheckItem(screen, "ワイヤーフレームモード", tr("ワイヤーフレームモード"),
                              presets.wireframe);
    // A check mark flipped during a game is a menu command that reached it: written down.
    const std::pair<QAction*, MenuItem> marks[] = {
        {players_[0], MenuItem::Player1},     {players_[1], MenuItem::Player2},
        {players_[2], MenuItem::Player3},     {players_[3], MenuItem::Player4},
        {liveCamera_, MenuItem::LiveCamera},  {smallScreen_, MenuItem::SmallScreen},
        {simpleDisplay_, MenuItem::SimpleDisplay}, {wireframe_, MenuItem::Wireframe}};
    for (const auto& [action, item] : marks)
        connect(action, &QAction::triggered, this, [this, item = item] {
            ScriptEvent e;
            e.kind = ScriptEvent::Kind::Menu;
            e.item = item;
            takeEvent(e);
        });

    QMenu* records = addSubmenu(menuBar(), "ハイスコア", tr("ハイスコア"));
    QAction* solo = addItem(records, "ひとりモード", tr("１人モード"));
    connect(solo, &QAction::triggered, this, &Form1::showSoloRecord);
    QAction* coop = addItem(records, "協力モード", tr("協力モード"));
    connect(coop, &QAction::triggered, this, &Form1::showCoopRecord);

    // Network play: the dialog, between games only.
    QMenu* network = addSubmenu(menuBar(), "ネットワーク", tr("ネットワーク"));
    const std::pair<QAction*, NetworkDialog::Tab> networkItems[] = {
        {addItem(network, "ホスト", tr("ゲームをホスト…")), NetworkDialog::Tab::Host},
        {addItem(network, "参加", tr("ゲームに参加…")), NetworkDialog::Tab::Join}};
    networkItems[0].first->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    networkItems[1].first->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_J));
    for (const auto& [action, tab] : networkItems) {
        action->setShortcutContext(Qt::ApplicationShortcut);
        connect(action, &QAction::triggered, this, [this, tab = tab] {
            if (game_.w.running == 0 && !replay_) NetworkDialog::showFor(*this, tab);
        });
    }
}

// --- menu commands and the timer ---

void Form1::startChosen() {
    if (net_ && net_->startChosen()) return;
    if (replay_) return;   // a replay starts its own games
    if (playing_ || game_.w.running != 0) return;   // Start during a game does nothing
    for (const std::string& line : missingJoysticks(checked(MenuItem::Player3),
                                                    checked(MenuItem::Player4), game_.joysticks))
        std::cerr << "hopshot: " << line << std::endl;
    beforeGame();
    setWindowTitle(QStringLiteral("HopShot"));   // no longer a seat in a network game left
    beginPlay(local_, 0, nullptr, false, {});
}

std::array<bool, kPlayers> Form1::menuPlayers() const {
    std::array<bool, kPlayers> marks{};
    for (int i = 0; i < kPlayers; ++i) marks[size_t(i)] = players_[size_t(i)]->isChecked();
    return marks;
}

void Form1::showMenuPlayers(const std::array<bool, kPlayers>& marks) {
    for (int i = 0; i < kPlayers; ++i) {
        QSignalBlocker quiet(players_[size_t(i)]);
        players_[size_t(i)]->setChecked(marks[size_t(i)]);
    }
}

std::array<bool, 4> Form1::screenMarks() const {
    return {liveCamera_->isChecked(), smallScreen_->isChecked(), simpleDisplay_->isChecked(),
            wireframe_->isChecked()};
}

JoystickService* Form1::ownJoysticks() { return joysticks_.get(); }

void Form1::warn(const std::string& text) { boxes_->show(text, "HopShot", MessageBoxes::Icon::Warning); }

void Form1::playFrom(InputSource& source, Rollback* rollback, long stepLimit, ScriptJoysticks* joysticks,
                     const std::vector<ScriptEvent>& first, std::function<std::string()> stoppedBy,
                     std::function<void()> then) {
    beforeGame();
    for (const ScriptEvent& e : first) noteEvent(e);
    stoppedByOf_ = std::move(stoppedBy);
    beginPlay(source, stepLimit, joysticks, false, std::move(then), rollback);
}

// --- the game on the window's clock ---

void Form1::beginPlay(InputSource& source, long stepLimit, ScriptJoysticks* joysticks, bool flipMarks,
                      std::function<void()> then, Rollback* rollback) {
    beginInput(source, stepLimit, joysticks, flipMarks, rollback);
    afterPlay_ = std::move(then);
    playing_ = true;
    if (!match_.begin()) {   // a game already runs: nothing is set up
        finishPlay();
        return;
    }
    nextTurn();
}

// One pass of the game's clock, run by Qt's own event loop: what the handlers read since the
// last pass reaches the game, a step runs once the clock has passed the last step's tick, and
// what the step after it needs is asked for at once (a network game sends this machine's
// commands). Between passes Qt runs every handler; none of them runs inside a step.
void Form1::playTurn() {
    if (!playing_ || ended_) return;
    if (match_.running()) {
        inputTurn();
        if (match_.running() && match_.stepOnClock()) inputTurn();
    }
    if (prompt_) return;   // the game is over and asks for a name: the answer goes on
    if (!match_.running()) {
        finishPlay();
        return;
    }
    nextTurn();
}

// The turn before the next step (GameInput::yieldAfter says the order): what came from outside
// taken in, the game corrected by the rollback beside it, if any, then the step's commands.
void Form1::inputTurn() {
    input_.takeIn(0);
    Rollback* rollback = input_.rollback();
    if (rollback && !input_.nextStepIn(steps_)) steps_ = rollback->correct();
    if (input_.yieldAfter(steps_) == InputSource::Turn::Stop && rollback)
        steps_ = rollback->stopAtSettled();
}

void Form1::nextTurn() {
    if (replay_) {
        const int wait = replayWaitMs();
        turn_.start(wait >= 0 ? wait : 1000);   // paused: its keys wake the game
        return;
    }
    turn_.start(int(kTickMs - realMs() % kTickMs));
}

void Form1::wakeGame() {
    if (playing_ && !prompt_) turn_.start(0);
}

// The teardown, unless the program ended during the game (then nothing is shown any more), and
// the game written down as it stands.
void Form1::finishPlay() {
    playing_ = false;
    turn_.stop();
    if (!ended_) match_.end();
    if (!ended_ && !replay_) hideOverlays();   // nothing more is shown once the program ended
    endInput();
    if (stoppedByOf_) stoppedBy_ = stoppedByOf_();
    stoppedByOf_ = {};
    afterGame();
    if (auto then = std::move(afterPlay_)) {
        afterPlay_ = {};
        then();
    }
}

void Form1::takeEvent(const ScriptEvent& e) {
    local_.push(e);
    if (!input_.active()) applyQueued();
}

// What the handlers queued, to the world at once: no game's steps wait for it.
void Form1::applyQueued() {
    std::vector<ScriptEvent> now;
    local_.eventsBefore(0, now);
    input_.apply(now);
}

void Form1::beginInput(InputSource& source, long stepLimit, ScriptJoysticks* joysticks,
                       bool flipMarks, Rollback* rollback) {
    flipMarks_ = flipMarks;
    input_.setJoysticks(joysticks);
    input_.begin(&source, stepLimit, [this](const ScriptEvent& e) { noteEvent(e); },
                 [this](long step, const World& w, uint64_t draws, const std::vector<int>& sounds) {
                     if (trace_) writeStepObject(*trace_, gameNumber_, step, w, draws, sounds);
                 },
                 rollback);
}

// What the handlers read after the game's last step (a key let go at the record prompt) still
// reaches the world, as any key between games does.
void Form1::endInput() {
    input_.end();
    input_.setJoysticks(nullptr);
    flipMarks_ = false;
    applyQueued();
}

bool Form1::openNetwork(const NetChoice& choice, std::string* told) {
    net_ = std::make_unique<NetSeat>(*this, choice);
    std::string error;
    if (!net_->open(error)) {
        net_.reset();
        if (told) {
            *told = error;
            return false;
        }
        error[0] = char(std::toupper(static_cast<unsigned char>(error[0])));
        boxes_->show(error + ".", "HopShot", MessageBoxes::Icon::Critical);
        return false;
    }
    for (QAction* p : players_)
        connect(p, &QAction::toggled, this, [this] { if (net_) net_->playersChanged(); });
    return true;
}

void Form1::quitChosen() {
    releaseScene(game_);
    close();   // runs the close handler, which ends the program
}

void Form1::timer1Tick() {
    if (replay_) return;   // a replay's ticks come from its file
    // A joystick plugged in since the last look is detected now, so that the thresholds come
    // from a real stick and it does not read as pushed.
    if (joysticks_ && !joysticks_->takeArrivals().empty())
        detectJoystick(game_.controller, game_.joysticks, kJoystickMargin);
    if (paused_) return;   // the countdown stands still too
    ScriptEvent tick;
    tick.kind = ScriptEvent::Kind::Tick;
    takeEvent(tick);
}

void Form1::showSoloRecord() {
    showRecord(tr("１人モードハイスコア"), game_.w.hiNameSolo, game_.w.hiScoreSolo);
}

void Form1::showCoopRecord() {
    showRecord(tr("協力モードハイスコア"), game_.w.hiNameCoop, game_.w.hiScoreCoop);
}

// The holder's name, an empty line, then "Score : " and the score with its leading space.
void Form1::showRecord(const QString& title, const std::string& name, int32_t score) {
    const std::string text = name + "\n\n" + "Score : " + signedNumber(score);
    QMessageBox box(QMessageBox::Information, title, QString::fromStdString(text),
                    QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void Form1::closeEvent(QCloseEvent* event) {
    // The close box, the window system or Quit: never refused. A game running is written down
    // where it stopped, without its teardown.
    event->accept();
    endProgram();
}

void Form1::endProgram() {
    if (ended_) return;
    // A record prompt still open is answered as cancelled: the record is kept with no name.
    if (prompt_) static_cast<QDialog*>(prompt_)->reject();
    closeHandler(game_);
    soundBanks_.releaseAll();
    if (soundModule_) soundModule_->releaseSound();
    if (services_.records && !replay_) {   // a record reached in a replay is no record
        std::string error;
        if (!saveRecords(recordsPlace_.writePath, recordsOf(game_.w), error)) {
            const std::string text = error + "\n" + tr("The records of this run are not saved.").toStdString();
            if (windowGone_) std::cerr << "hopshot: " << text << "\n";
            else boxes_->show(text, "HopShot", MessageBoxes::Icon::Critical);
        }
    }
    ended_ = true;
    if (playing_) finishPlay();   // written down where it stopped, with no teardown
    QCoreApplication::exit(0);
}

void Form1::windowLost() {
    windowGone_ = true;
    endProgram();
}

void Form1::displayLost() { windowLost(); }

// --- keys ---

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) return false;
    // Each key event passes here once for the platform window and once for every widget it is
    // offered to; the first widget of this window that gets it is where the game takes it.
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget && prompt_ && widget->window() == prompt_)
        return promptKeyEvent(*static_cast<QKeyEvent*>(event));
    if (!widget || widget->window() != this) return false;
    // F11 is the window's own (full screen): the game sees neither its press nor its release,
    // which would let go of a charging shot.
    if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_F11) return true;
    if (!replay_ && ownKey(*static_cast<QKeyEvent*>(event))) return true;
    keyEvent(*static_cast<QKeyEvent*>(event));
    return true;
}

namespace {

// A key by its place on the keyboard, whatever the modifiers make of it.
quint32 keyId(const QKeyEvent& e) { return e.nativeScanCode() ? e.nativeScanCode() : quint32(e.key()); }

// Presses that reach the prompt this soon after it opened were made before it showed (they
// waited in the queue while it was being made) and are not taken, nor their repeats.
constexpr auto kPromptSettle = std::chrono::milliseconds(200);

}  // namespace

// True drops the key: the prompt takes only keys pressed after it opened. A key let go that
// the game saw go down reaches the game, so it is not left held into the next game.
bool Form1::promptKeyEvent(const QKeyEvent& event) {
    const quint32 k = keyId(event);
    if (event.type() == QEvent::KeyPress) {
        if (promptIgnores_.count(k)) return true;
        if (event.isAutoRepeat() && !promptPressed_.count(k)) return true;
        // A busy program can get a repeat as a release and a press that Qt does not mark:
        // X gives both the same time, which a key let go and pressed again never has.
        const auto letGo = promptLetGo_.find(k);
        if (letGo != promptLetGo_.end()) {
            const bool repeat = letGo->second == event.timestamp();
            promptLetGo_.erase(letGo);
            if (repeat) {
                promptIgnores_.insert(k);
                return true;
            }
        }
        if (std::chrono::steady_clock::now() - promptOpened_ < kPromptSettle) {
            promptIgnores_.insert(k);
            return true;
        }
        promptPressed_.insert(k);
        return false;
    }
    if (event.isAutoRepeat()) return promptIgnores_.count(k) > 0;
    promptPressed_.erase(k);
    if (keysDown_.count(k)) keyEvent(event);
    if (promptIgnores_.erase(k) == 0) return false;
    promptLetGo_[k] = event.timestamp();
    return true;
}

void Form1::keyEvent(const QKeyEvent& event) {
    if (replay_) {
        replayKey(event);
        return;
    }
    const bool down = event.type() == QEvent::KeyPress;
    // A held key repeats as release + press pairs: the presses repeat the key-down as the game
    // expects, the releases in between would let go of what the key holds.
    if (!down && event.isAutoRepeat()) return;
    if (down) keysDown_.insert(keyId(event));
    else keysDown_.erase(keyId(event));
    const int16_t code = virtualKeyCode(event.key(), event.modifiers() & Qt::KeypadModifier);
    const int16_t mask = modifierMaskAfter(event.type(), event.key(), event.modifiers());
    ScriptEvent e;
    e.kind = down ? ScriptEvent::Kind::KeyDown : ScriptEvent::Kind::KeyUp;
    e.keyCode = code;
    e.mask = mask;
    if (net_ && net_->keyEvent(e)) return;
    takeEvent(e);
}

// --- Host ---

bool Form1::checked(MenuItem item) const {
    if (net_ && int(item) < kPlayers)
        if (auto taking = net_->checkedPlayer(int(item))) return *taking;
    switch (item) {
    case MenuItem::Player1: return players_[0]->isChecked();
    case MenuItem::Player2: return players_[1]->isChecked();
    case MenuItem::Player3: return players_[2]->isChecked();
    case MenuItem::Player4: return players_[3]->isChecked();
    case MenuItem::LiveCamera: return liveCamera_->isChecked();
    case MenuItem::SmallScreen: return smallScreen_->isChecked();
    case MenuItem::SimpleDisplay: return simpleDisplay_->isChecked();
    case MenuItem::Wireframe: return wireframe_->isChecked();
    }
    return false;
}

void Form1::setCaption(Label label, const std::string& text) {
    QLabel* shown = label == Label::Time ? label1_ : label2_;
    if (shown->text() == QString::fromStdString(text)) return;
    shown->setText(QString::fromStdString(text));
    screen_->refit(shown);
}

void Form1::show3DView() {
    image1_->hide();
    picture1_->show();
}

void Form1::showTitle() {
    picture1_->hide();
    image1_->show();
    image1_->raise();   // over the labels too
}

void Form1::clearWindowSurface() { centralWidget()->update(); }

scene::Window* Form1::picture1() { return picture1_; }

int32_t Form1::tickCount() {
    if (paused_) return game_.w.lastTick;   // no step while paused
    // No step runs ahead of its events: the clock stands until the input has them all.
    if (input_.active() && !input_.nextStepIn(steps_)) return game_.w.lastTick;
    if (replay_) return replayTicks();
    using namespace std::chrono;
    return static_cast<int32_t>(
        duration_cast<milliseconds>(steady_clock::now() - start_).count() / kTickMs);
}

// A name must come back from the high-score file as typed: a double quote cannot, so the field
// takes none (typing one does nothing, and the prompt stays open).
// The prompt holds the window (it takes the keys) but not the program: it is opened and left to
// Qt's own loop, and its answer comes back through promptAnswered.
void Form1::askRecordName(RecordKind kind) {
    if (replay_) {
        nameRecord(game_.w, kind, replayPrompt());
        return;
    }
    if (prompt_) return;   // one at a time; a game asks once
    auto* dialog = new QInputDialog(this);
    dialog->setInputMode(QInputDialog::TextInput);
    dialog->setWindowTitle(tr("NewRecord!"));
    dialog->setLabelText(tr("おめでとうございます！ハイスコアです！"));
    dialog->setTextValue(QString());
    if (auto* edit = dialog->findChild<QLineEdit*>())
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[^\"]*")), edit));
    // Keys held or hammered as the game ended do not type into the name.
    prompt_ = dialog;
    promptKind_ = kind;
    promptIgnores_ = keysDown_;
    promptPressed_.clear();
    promptLetGo_.clear();
    promptOpened_ = std::chrono::steady_clock::now();
    connect(dialog, &QDialog::finished, this,
            [this](int answer) { promptAnswered(answer == QDialog::Accepted); });
    dialog->open();
}

// The name as typed, or none when cancelled, is the record's and saved at once; the game waiting
// in the prompt then goes on to its end.
void Form1::promptAnswered(bool accepted) {
    auto* dialog = qobject_cast<QInputDialog*>(prompt_);
    if (!dialog) return;
    prompt_ = nullptr;
    std::string name;
    if (accepted) name = dialog->textValue().toStdString();
    if (!nameRoundTrips(name)) name.clear();
    if (recording_) recording_->recorder.prompted(name);
    nameRecord(game_.w, promptKind_, name);
    if (!ended_) saveNewRecords();   // named: saved now, before anything else happens
    dialog->deleteLater();
    wakeGame();
}

}  // namespace hopshot
