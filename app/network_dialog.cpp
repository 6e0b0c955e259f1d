#include "app/network_dialog.h"

#include "app/form1.h"
#include "app/net_seat.h"
#include "app/options.h"
#include "app/window_memory.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <chrono>
#include <iostream>

namespace hopshot {

namespace {

QString buildMeet;
constexpr int kRefreshMs = 250;
constexpr int kLanAskMs = 600;      // a round of LAN queries: its three queries and their answers
constexpr int kLanPauseMs = 1200;   // between one round and the next

QString sentence(const std::string& text) {
    QString s = QString::fromStdString(text);
    if (s.isEmpty()) return s;
    s[0] = s[0].toUpper();
    if (!s.endsWith(QLatin1Char('.')) && !s.endsWith(QChar(0x3002))) s += QLatin1Char('.');
    return s;
}

QPushButton* button(const char* name, const QString& text, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

}  // namespace

void NetworkDialog::setBuildMeet(const QString& service) { buildMeet = service; }

void NetworkDialog::showFor(Form1& form, Tab tab) {
    auto* d = form.findChild<NetworkDialog*>();
    if (!d) d = new NetworkDialog(form);
    if (!d->seatShown_ && !d->attempt_) d->tabs_->setCurrentIndex(tab == Tab::Host ? 0 : 1);
    d->show();
    d->raise();
    d->activateWindow();
}

NetworkDialog::NetworkDialog(Form1& form) : QDialog(&form), form_(form) {
    setObjectName("network");
    setWindowTitle(tr("ネットワーク対戦"));
    auto* layout = new QVBoxLayout(this);
    tabs_ = new QTabWidget(this);
    tabs_->addTab(buildHostTab(), tr("ホスト"));
    tabs_->addTab(buildJoinTab(), tr("参加"));
    layout->addWidget(tabs_);

    // Who has joined, on the host and on a guest alike, with the path each machine's packets take.
    auto* machines = new QFormLayout;
    joined_ = new QListWidget(this);
    joined_->setObjectName("machines");
    joined_->setSelectionMode(QAbstractItemView::NoSelection);
    joined_->setMaximumHeight(joined_->fontMetrics().height() * 5);
    machines->addRow(new QLabel(tr("マシン:"), this), joined_);
    start_ = button("start", tr("スタート(&S)"), this);
    stop_ = button("stop", tr("やめる(&E)"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(stop_);
    buttons->addWidget(start_);
    machines->addRow(buttons);
    layout->addLayout(machines);
    connect(start_, &QPushButton::clicked, this, &NetworkDialog::startChosen);
    connect(stop_, &QPushButton::clicked, this, &NetworkDialog::stopChosen);

    // The meeting service hands out the invite codes; the last one named is remembered.
    auto* meetRow = new QFormLayout;
    meet_ = new QLineEdit(this);
    meet_->setObjectName("meet");
    meet_->setPlaceholderText(QStringLiteral("HOST[:PORT]"));
    const QString remembered = WindowMemory(windowMemoryPath()).meetService();
    meet_->setText(remembered.isEmpty() ? buildMeet : remembered);
    auto* meetLabel = new QLabel(tr("ミーティングサービス(&M):"), this);
    meetLabel->setBuddy(meet_);
    meetRow->addRow(meetLabel, meet_);
    layout->addLayout(meetRow);

    auto* statusRow = new QHBoxLayout;
    status_ = new QLabel(this);
    status_->setObjectName("status");
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    cancel_ = button("cancel", tr("キャンセル(&N)"), this);
    cancel_->hide();
    auto* close = button("close", tr("閉じる"), this);
    statusRow->addWidget(status_, 1);
    statusRow->addWidget(cancel_);
    statusRow->addWidget(close);
    layout->addLayout(statusRow);
    setMinimumWidth(520);

    connect(cancel_, &QPushButton::clicked, this, &NetworkDialog::cancelChosen);
    connect(close, &QPushButton::clicked, this, &NetworkDialog::reject);
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &NetworkDialog::refresh);
    refresh_.start();
    refresh();

    // The LAN's games are asked for while the dialog shows, a round at a time.
    listener_ = std::thread([this] {
        while (!quit_) {
            if (!listening_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                continue;
            }
            std::string error;
            std::vector<LanGame> games = findGames(lanQueryPlaces(kLanPort), kLanAskMs, error);
            {
                std::lock_guard<std::mutex> hold(heardLock_);
                heard_ = std::move(games);
                heardNew_ = true;
            }
            for (int waited = 0; waited < kLanPauseMs && !quit_; waited += 100)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
}

NetworkDialog::~NetworkDialog() {
    quit_ = true;
    if (listener_.joinable()) listener_.join();
}

QWidget* NetworkDialog::buildHostTab() {
    auto* tab = new QWidget(this);
    auto* form = new QFormLayout(tab);
    byAddress_ = new QRadioButton(tr("アドレスで(&A)"), tab);
    byAddress_->setObjectName("byAddress");
    byCode_ = new QRadioButton(tr("招待コードで(&I)"), tab);
    byCode_->setObjectName("byCode");
    byCode_->setChecked(true);
    port_ = new QLineEdit(QString::number(kDefaultPort), tab);
    port_->setObjectName("port");
    port_->setMaxLength(5);
    auto* portLabel = new QLabel(tr("ポート(&P):"), tab);
    portLabel->setBuddy(port_);
    host_ = button("host", tr("ホストする(&H)"), tab);
    auto* how = new QHBoxLayout;
    how->addWidget(byCode_);
    how->addWidget(byAddress_);
    how->addStretch(1);
    how->addWidget(host_);
    form->addRow(how);
    form->addRow(portLabel, port_);

    code_ = new QLineEdit(tab);   // read only, but selectable
    code_->setObjectName("code");
    code_->setReadOnly(true);
    QFont big = code_->font();
    big.setPointSize(big.pointSize() * 3 / 2);
    big.setBold(true);
    code_->setFont(big);
    copy_ = button("copy", tr("コピー(&O)"), tab);
    auto* codeRow = new QHBoxLayout;
    codeRow->addWidget(code_, 1);
    codeRow->addWidget(copy_);
    form->addRow(new QLabel(tr("招待コード:"), tab), codeRow);

    connect(host_, &QPushButton::clicked, this, &NetworkDialog::hostChosen);
    connect(copy_, &QPushButton::clicked, this, &NetworkDialog::copyCode);
    return tab;
}

QWidget* NetworkDialog::buildJoinTab() {
    auto* tab = new QWidget(this);
    auto* form = new QFormLayout(tab);
    where_ = new QLineEdit(tab);
    where_->setObjectName("where");
    where_->setPlaceholderText(tr("招待コード、またはアドレス[:ポート]"));
    auto* whereLabel = new QLabel(tr("コードかアドレス(&C):"), tab);
    whereLabel->setBuddy(where_);
    join_ = button("join", tr("参加する(&J)"), tab);
    auto* whereRow = new QHBoxLayout;
    whereRow->addWidget(where_, 1);
    whereRow->addWidget(join_);
    form->addRow(whereLabel, whereRow);

    lan_ = new QListWidget(tab);
    lan_->setObjectName("lanGames");
    auto* lanLabel = new QLabel(tr("LANのゲーム(&L):"), tab);
    lanLabel->setBuddy(lan_);
    form->addRow(lanLabel, lan_);
    joinLan_ = button("joinLan", tr("選んだゲームに参加(&G)"), tab);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(joinLan_);
    form->addRow(buttons);

    connect(join_, &QPushButton::clicked, this, &NetworkDialog::joinChosen);
    connect(where_, &QLineEdit::returnPressed, this, &NetworkDialog::joinChosen);
    connect(joinLan_, &QPushButton::clicked, this, &NetworkDialog::lanGameChosen);
    connect(lan_, &QListWidget::itemActivated, this, &NetworkDialog::lanGameChosen);
    return tab;
}

void NetworkDialog::showEvent(QShowEvent* event) {
    listening_ = true;
    QDialog::showEvent(event);
}

void NetworkDialog::hideEvent(QHideEvent* event) {
    listening_ = false;
    QDialog::hideEvent(event);
}

void NetworkDialog::reject() {
    if (attempt_) cancelChosen();
    else QDialog::reject();
}

QString NetworkDialog::meetService() {
    const QString service = meet_->text().trimmed();
    if (!service.isEmpty() && service != buildMeet) WindowMemory(windowMemoryPath()).writeMeetService(service);
    return service;
}

void NetworkDialog::say(const QString& text) { status_->setText(text); }

void NetworkDialog::fail(const std::string& text) {
    std::cerr << "hopshot: " << text << std::endl;
    say(sentence(text));
}

void NetworkDialog::setBusy(bool connecting) {
    cancel_->setVisible(connecting);
    if (connecting) {
        say(tr("接続中…"));
        cancel_->setFocus();
    }
    refresh();
}

bool NetworkDialog::openSeat(const NetChoice& choice) {
    std::string error;
    if (form_.openNetwork(choice, &error)) {
        refresh();
        return true;
    }
    fail(error);
    return false;
}

void NetworkDialog::hostChosen() {
    CommandLine cl;
    const std::string error = parseCommandLine({"--host", port_->text().trimmed().toStdString()}, cl);
    if (!error.empty()) return fail(error);
    NetChoice c;
    c.host = true;
    c.port = uint16_t(cl.port);
    c.fromDialog = true;
    if (byCode_->isChecked()) {
        c.meet = meetService().toStdString();
        if (c.meet.empty())
            return fail(tr("招待コードにはミーティングサービスが要ります。下の欄に名前を入れてください。").toStdString());
    }
    if (openSeat(c)) say(byCode_->isChecked() ? tr("招待コードを待っています…") : tr("ホストしています。"));
}

void NetworkDialog::join(NetChoice c) {
    if (attempt_ || (form_.netSeat() && !form_.netSeat()->left())) return;
    c.fromDialog = true;
    c.namesPlayers = false;   // the host gives this machine its free players
    if (!c.code.empty()) c.meet = meetService().toStdString();
    attempt_ = std::make_unique<JoinAttempt>(c, Players{});
    connect(attempt_.get(), &JoinAttempt::finished, this, &NetworkDialog::joinFinished);
    setBusy(true);
}

void NetworkDialog::joinChosen() {
    const std::string typed = where_->text().trimmed().toStdString();
    CommandLine cl;
    if (!typed.empty()) {
        const std::string error = parseCommandLine({"--join", typed}, cl);
        if (!error.empty()) return fail(error);
    }
    NetChoice c;
    c.address = cl.address;
    c.code = cl.code;
    c.port = uint16_t(cl.port);
    join(c);
}

void NetworkDialog::lanGameChosen() {
    const int row = lan_->currentRow();
    if (row < 0 || row >= int(shownGames_.size())) return say(tr("LANのゲームを選んでください。"));
    CommandLine cl;
    if (!parseCommandLine({"--join", shownGames_[size_t(row)].where()}, cl).empty()) return;
    NetChoice c;
    c.address = cl.address;
    c.port = uint16_t(cl.port);
    join(c);
}

void NetworkDialog::cancelChosen() {
    if (attempt_) {
        attempt_->cancel();   // its thread ends within tens of ms; its end is waited for there
        cancelled_.push_back(std::move(attempt_));
    }
    setBusy(false);
    say(tr("キャンセルしました。"));
}

void NetworkDialog::joinFinished() {
    auto* done = qobject_cast<JoinAttempt*>(sender());
    if (!attempt_ || attempt_.get() != done) {
        for (auto& a : cancelled_)
            if (a.get() == done) a.release()->deleteLater();
        std::erase(cancelled_, nullptr);
        return;
    }
    JoinAttempt& a = *attempt_.release();
    a.deleteLater();
    setBusy(false);
    if (!a.result()) return fail(a.error());
    NetChoice c = a.choice();
    c.joined = a.result();
    if (openSeat(c)) say(tr("参加しました。ホストのスタートを待っています。"));
}

void NetworkDialog::stopChosen() {
    if (NetSeat* seat = form_.netSeat()) seat->stop();
    refresh();
}

void NetworkDialog::startChosen() {
    NetSeat* seat = form_.netSeat();
    if (!seat || seat->left() || !seat->isHost()) return;
    hide();
    if (auto* start = form_.findChild<QAction*>(QStringLiteral("スタート"))) start->trigger();
}

void NetworkDialog::copyCode() {
    const QString code = code_->text();
    if (code.isEmpty()) return;
    QGuiApplication::clipboard()->setText(code);
    if (QGuiApplication::clipboard()->supportsSelection())
        QGuiApplication::clipboard()->setText(code, QClipboard::Selection);
    say(tr("招待コードをコピーしました。"));
}

// What the seat is doing, the machines that joined and the LAN's games, as they change.
void NetworkDialog::refresh() {
    NetSeat* seat = form_.netSeat();
    const bool live = seat && !seat->left();
    if (live) {
        if (!seatShown_) tabs_->setCurrentIndex(seat->isHost() ? 0 : 1);
        seatShown_ = true;
        if (seat->isHost()) port_->setText(QString::number(seat->port()));   // also a --host PORT's
        const QString code = QString::fromStdString(seat->inviteCode());
        if (code_->text() != code) {
            code_->setText(code);
            if (!code.isEmpty()) say(tr("ホストしています。招待コードを相手に伝えてください。"));
        }
        QStringList lines;
        for (const SeatMachine& m : seat->machines()) {
            QString line = tr("マシン %1: プレイヤー %2").arg(m.id + 1).arg(QString::fromStdString(playersList(m.players)));
            if (m.id == 0) line += tr("（ホスト）");
            if (m.path != net::Path::None) line += QStringLiteral(" — ") + QString::fromLatin1(net::pathName(m.path));
            lines << line;
        }
        QStringList shown;
        for (int i = 0; i < joined_->count(); ++i) shown << joined_->item(i)->text();
        if (shown != lines) {
            joined_->clear();
            joined_->addItems(lines);
        }
        if (seat->inGame() && isVisible()) hide();   // the game has begun: the dialog steps aside
    } else if (seatShown_) {
        seatShown_ = false;
        code_->clear();
        joined_->clear();
        if (seat && !seat->problem().empty()) fail(seat->problem());
        else say(tr("ネットワーク対戦を終えました。"));
    }
    const bool idle = !live && !attempt_;
    host_->setEnabled(idle);
    join_->setEnabled(idle);
    joinLan_->setEnabled(idle);
    port_->setEnabled(idle);
    byAddress_->setEnabled(idle);
    byCode_->setEnabled(idle);
    copy_->setEnabled(!code_->text().isEmpty());
    start_->setEnabled(live && seat->isHost());
    stop_->setEnabled(live);
    showLanGames();
}

void NetworkDialog::showLanGames() {
    {
        std::lock_guard<std::mutex> hold(heardLock_);
        if (!heardNew_) return;
        heardNew_ = false;
        shownGames_ = heard_;
    }
    QStringList lines;
    for (const LanGame& g : shownGames_)
        lines << tr("%1 — マシン %2、空きプレイヤー %3（%4）")
                     .arg(QString::fromStdString(g.said.hostName))
                     .arg(g.said.machines)
                     .arg(g.said.free == Players{} ? tr("なし") : QString::fromStdString(playersList(g.said.free)))
                     .arg(QString::fromStdString(g.where()));
    if (lines.isEmpty()) lines << tr("LANにゲームは聞こえません。");
    QStringList shown;
    for (int i = 0; i < lan_->count(); ++i) shown << lan_->item(i)->text();
    if (shown == lines) return;
    const int row = lan_->currentRow();
    lan_->clear();
    lan_->addItems(lines);
    if (shownGames_.empty()) return;
    lan_->setCurrentRow(row >= 0 && row < lines.size() ? row : 0);
}

}  // namespace hopshot
