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
    pauseMark_->setText(tr("Paused — P goes on"));
    screen_->placeLabel(pauseMark_, QRect(120, 210, 400, 60), ScreenArea::Fit::Shrink);
    help_ = overlay(screen_->picture(), "Help", 12);
    help_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    help_->setMargin(8);
    screen_->placeLabel(help_, QRect(40, 70, 560, 380), ScreenArea::Fit::Shrink);
}

// The mark says who can go on: on a guest of a network game only the host's P does.
void Form1::showPauseMark(bool on) {
    const QString text = net_ && net_->connected() && !net_->isHost()
                             ? tr("Paused — the host goes on with P")
                             : tr("Paused — P goes on");
    if (pauseMark_->text() != text) {
        pauseMark_->setText(text);
        screen_->refit(pauseMark_);
    }
    pauseMark_->setVisible(on && !help_->isVisible());
    if (pauseMark_->isVisible()) pauseMark_->raise();
    coverPicture();
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
    showPauseMark(paused_);
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
    help_->setText(helpText());
    screen_->refit(help_);
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

// The lines of the players taking part, then the window's own keys. A joystick's line is two:
// one would not fit the panel at a readable size.
QString Form1::helpText() const {
    QString s = tr("Controls") + QStringLiteral("\n\n");
    const QString players[] = {
        tr("1P   ← →  turn    ↑ ↓  gun down / up    Ctrl  fire (hold to charge)"),
        tr("2P   A D  turn    W S  gun down / up    F  fire (hold to charge)"),
        tr("3P   joystick 1: stick left / right turns,\n"
           "       forward / back moves the gun, button 1 fires"),
        tr("4P   joystick 2: stick left / right turns,\n"
           "       forward / back moves the gun, button 1 fires"),
    };
    const MenuItem items[] = {MenuItem::Player1, MenuItem::Player2, MenuItem::Player3, MenuItem::Player4};
    for (int p = 0; p < kPlayers; ++p)
        if (checked(items[p])) s += players[p] + QStringLiteral("\n");
    s += QStringLiteral("\n") + tr("P or Pause   pause / go on") + QStringLiteral("\n") +
         tr("F1   this help (the game waits)") + QStringLiteral("\n") + tr("F11   full screen") +
         QStringLiteral("\n");
    s += net_ && !net_->isHost() ? tr("Esc   leave the network game") : tr("Esc   stop the game");
    return s;
}

}  // namespace hopshot
