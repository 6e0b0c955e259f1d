// The window's seat in a network game: the session, the window caption that says who is
// connected, and the start of each game, whose input then comes from the lockstep (net/) with
// the window's own events as this machine's. The game runs on the window's clock: a pass with a
// step's commands not yet in runs no step, and a packet heard runs the next pass at once.
#pragma once

#include "net/net_game.h"
#include "net/session.h"
#include "net/ways_through.h"
#include "replay/feed.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>
#include <string>

class QSocketNotifier;

namespace hopshot {

class Form1;

struct NetChoice {
    bool host = false;
    std::string address;          // guest: the host's address; empty: the game heard on the LAN
    bool namesPlayers = true;     // guest: false takes the first free player the host has
    std::string code;             // guest: the host's invite code instead, found through `meet`
    std::string meet;             // the meeting service's HOST[:PORT]
    uint16_t port = kDefaultPort;
    int delay = 0;                // plain lockstep delay; 0: the machines predict
};

class NetSeat : public QObject {
    Q_OBJECT
public:
    NetSeat(Form1& form, const NetChoice& choice);
    ~NetSeat() override;

    // Hosts or joins. False with what the player should read when that cannot be.
    bool open(std::string& error);

    bool isHost() const { return session_ && session_->isHost(); }
    bool connected() const { return session_ != nullptr; }
    bool inGame() const { return game_ != nullptr; }

    // --- what Form1 hands over; each returns true when the seat has taken it ---
    // Esc on a guest leaves; between games keys move nothing; in a game every other key goes to
    // the game's source, which sends only this machine's players' commands.
    bool keyEvent(ScriptEvent& e);
    bool startChosen();
    void playersChanged();        // the player check marks changed
    // Only the host pauses, for every machine; a guest says so (unless told not to).
    bool mayPause(bool say = true);
    void pauseChanged(bool on);
    // During a game's setup: the players taking part, as the host's start says.
    std::optional<bool> checkedPlayer(int p) const;

    QString caption() const;

private slots:
    void pump();

private:
    void play(const StartMessage& m);
    void over(int number, JoystickService* own);
    void leave();
    void showCaption();
    bool forgetPauseNote();   // true: the caption's note went
    void tellProblem(const std::string& text);
    Players myPlayers() const;
    std::string keepReplay(const std::string& replay, int game);

    Form1& form_;
    NetChoice choice_;
    std::unique_ptr<net::RelayPump> relay_;   // a relayed guest's way to its host; outlives the session
    std::unique_ptr<NetSession> session_;
    QSocketNotifier* notifier_ = nullptr;
    QTimer pump_;
    std::string lastNotice_;

    // --- the running game ---
    std::unique_ptr<NetGame> game_;
    std::optional<StartMessage> start_;
    ScriptJoysticks joysticks_;   // both attached; the events set what they read
    int gamesStarted_ = 0;
    bool leaving_ = false;
    bool starting_ = false;       // a start taken, its game not yet running
};

}  // namespace hopshot
