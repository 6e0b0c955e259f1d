// The window's pause and its help: P (or Pause) holds the game where it is, F1 shows the
// controls of the players taking part over the picture and holds the game while it is shown.
// Neither is an event of the game: while it is held, no step runs and no countdown tick comes,
// so its replay plays the same steps.
#include "app/form1.h"

#include "app/gl_view.h"
#include "app/net_seat.h"
#include "app/screen_area.h"

#include <QKeyEvent>
#include <QLabel>

namespace hopshot {

namespace {

QLabel* overlay(QWidget* parent, const char* name, int pointSize) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignCenter);
    label->setTextFormat(Qt::PlainText);
    label->setAutoFillBackground(true);
    QPalette pal = label->palette();
    pal.setColor(QPalette::Window, QColor(0, 0, 0, 200));
    pal.setColor(QPalette::WindowText, QColor(255, 255, 160));
    label->setPalette(pal);
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPointSize(pointSize);
    label->setFont(font);
    label->hide();
    return label;
}

}  // namespace

void Form1::buildOverlays() {
    pauseMark_ = overlay(screen_->picture(), "PauseMark", 24);
    pauseMark_->setText(QStringLiteral("Paused — P goes on"));
    screen_->placeLabel(pauseMark_, QRect(120, 210, 400, 60));
    help_ = overlay(screen_->picture(), "Help", 12);
    help_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    screen_->placeLabel(help_, QRect(40, 70, 560, 380));
}

bool Form1::ownKey(const QKeyEvent& event) {
    const int key = event.key();
    const bool pause = key == Qt::Key_P || key == Qt::Key_Pause;
    if (!pause && key != Qt::Key_F1) return false;
    // Only while a game runs: at the title P and F1 are keys like any other.
    if (game_.w.running == 0 && !help_->isVisible()) return false;
    if (event.type() == QEvent::KeyPress && !event.isAutoRepeat()) {
        if (pause) togglePause();
        else toggleHelp();
    }
    return true;
}

void Form1::togglePause() {
    if (net_ && !net_->mayPause()) return;   // it has said why
    helpPaused_ = false;
    setPaused(!paused_);
    if (net_) net_->pauseChanged(paused_);
}

void Form1::setPaused(bool on) {
    paused_ = on && game_.w.running != 0;
    pauseMark_->setVisible(paused_ && !help_->isVisible());
    if (paused_) pauseMark_->raise();
    coverPicture();
}

// The 3D picture is shown in a GL window of its own, above the window's widgets: while the mark
// or the help is up, the picture is painted as a widget beneath them instead.
void Form1::coverPicture() {
    picture1_->setCovered(pauseMark_->isVisible() || help_->isVisible());
}

void Form1::toggleHelp() {
    if (help_->isVisible()) {
        help_->hide();
        if (helpPaused_) {
            helpPaused_ = false;
            setPaused(false);
            if (net_) net_->pauseChanged(false);
        }
        setPaused(paused_);
        return;
    }
    help_->setText(QString::fromStdString(helpText()));
    help_->show();
    help_->raise();
    pauseMark_->hide();
    coverPicture();
    // The game waits while the controls are read, where this machine may hold it.
    if (!paused_ && game_.w.running != 0 && (!net_ || net_->mayPause(false))) {
        helpPaused_ = true;
        paused_ = true;
        if (net_) net_->pauseChanged(true);
    }
}

void Form1::hideOverlays() {
    paused_ = helpPaused_ = false;
    pauseMark_->hide();
    help_->hide();
    coverPicture();
}

std::string Form1::helpText() const {
    std::string s = "Controls\n\n";
    const char* players[] = {
        "1P   ← →  turn    ↑ ↓  gun down / up    Ctrl  fire (hold to charge)",
        "2P   A D  turn    W S  gun down / up    F  fire (hold to charge)",
        "3P   joystick 1: stick left / right turns, forward / back moves the gun, button 1 fires",
        "4P   joystick 2: stick left / right turns, forward / back moves the gun, button 1 fires",
    };
    const MenuItem items[] = {MenuItem::Player1, MenuItem::Player2, MenuItem::Player3, MenuItem::Player4};
    for (int p = 0; p < kPlayers; ++p)
        if (checked(items[p])) s += std::string(players[p]) + "\n";
    s += "\nP or Pause   pause / go on\nF1   this help (the game waits)\nF11   full screen\n";
    s += net_ && !net_->isHost() ? "Esc   leave the network game\n" : "Esc   stop the game\n";
    return s;
}

}  // namespace hopshot
