// The window's seat in a network game: the session, the window caption that says who is
// connected, and the start of each game, whose input then comes from the lockstep (net/) with
// the window's own events as this machine's. The game runs on the window's clock: a pass with a
// step's commands not yet in runs no step, and a packet heard runs the next pass at once.
#pragma once

#include "net/net_game.h"
#include "net/session.h"
#include "net/ways_through.h"
#include "play/feed.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class QSocketNotifier;

namespace hopshot {

class Form1;

// A guest's session already joined (by a JoinAttempt), with the relay that carries it, if any.
struct JoinedSession {
    std::unique_ptr<net::RelayPump> relay;   // outlives the session: declared first
    std::unique_ptr<NetSession> session;
    net::Path path = net::Path::None;
};

struct NetChoice {
    bool host = false;
    std::string address;          // guest: the host's address; empty: the game heard on the LAN
    bool namesPlayers = true;     // guest: false takes the first free player the host has
    std::string code;             // guest: the host's invite code instead, found through `meet`
    std::string meet;             // the meeting service's HOST[:PORT]; host: empty hosts by address only
    bool meetGiven = true;        // named by the player (not the build): its failure ends hosting
    bool fromDialog = false;      // the network dialog tells the problems, not a box
    uint16_t port = kDefaultPort;
    int delay = 0;                // plain lockstep delay; 0: the machines predict
    std::shared_ptr<JoinedSession> joined;   // guest: joined already; the seat takes it over
};

// A guest joining away from the window's event loop, so that the window stays live and shows
// "Connecting…": the LAN asked, the invite code looked up and its ways tried, the host joined, on
// a thread of its own. cancel() stops it within a few tens of ms in every phase (the lookup, the
// punching, the relay's allocation and ENet's handshake), and the result is dropped.
class JoinAttempt : public QObject {
    Q_OBJECT
public:
    JoinAttempt(NetChoice choice, const Players& own, QObject* parent = nullptr);
    ~JoinAttempt() override;   // cancels, and waits for the thread
    void cancel() { cancel_ = true; }
    bool cancelled() const { return cancel_; }
    // After finished(): the session joined, or null with error() saying why.
    std::shared_ptr<JoinedSession> result() const { return joined_; }
    const std::string& error() const { return error_; }
    const NetChoice& choice() const { return choice_; }

signals:
    void finished();

private:
    void run(Players own);

    NetChoice choice_;
    std::atomic<bool> cancel_{false};
    std::shared_ptr<JoinedSession> joined_;
    std::string error_;
    std::thread thread_;
};

// The path a guest came or went by when no meeting service chose it: "lan" for an address in the
// subnet of one of this machine's interfaces (or loopback), "direct" for any other.
net::Path addressPath(uint32_t address);

// What the network dialog shows of a seat: its machines with their players and paths.
struct SeatMachine {
    int id = 0;
    Players players{};
    net::Path path = net::Path::None;
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

    // --- what the network dialog shows ---
    const std::string& inviteCode() const { return code_; }   // empty: none (yet)
    uint16_t port() const { return session_ ? session_->localPort() : 0; }
    std::vector<SeatMachine> machines() const;
    // The session ended or never began (the host's meeting failed, the host left, Esc).
    bool left() const { return !session_; }
    const std::string& problem() const { return problem_; }   // why it ended; empty: asked to
    void stop() { leave(); }

private slots:
    void pump();

private:
    void play(const StartMessage& m);
    void over(int number, JoystickService* own);
    void leave();
    void showCaption();
    bool forgetPauseNote();   // true: the caption's note went
    void tellProblem(const std::string& text);
    bool begin(std::string& error);
    void stepMeeting();
    Players myPlayers() const;
    std::string keepReplay(const std::string& replay, int game);

    Form1& form_;
    NetChoice choice_;
    std::unique_ptr<net::RelayPump> relay_;   // a relayed guest's way to its host; outlives the session
    std::unique_ptr<NetSession> session_;
    std::unique_ptr<net::HostMeeting> meeting_;   // host: its invite code at the meeting service, and its relay
    std::string code_, problem_;
    net::Path path_ = net::Path::None;         // guest: how it reached the host
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
