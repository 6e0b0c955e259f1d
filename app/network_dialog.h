// The network dialog: hosting a game (by address, or by an invite code through a meeting
// service) and joining one (by code or address, or one heard on the LAN). It is not modal: the
// window goes on while it shows who has joined, and it steps aside when a game starts.
//
// Joining runs on a JoinAttempt's thread and finding the LAN's games on a thread of its own, so
// the window never waits on the network; "Connecting…" shows at once with a Cancel that stops
// the attempt, and every failure ends in one sentence in the dialog.
#pragma once

#include "net/lan_games.h"

#include <QDialog>
#include <QTimer>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace hopshot {

class Form1;
class JoinAttempt;
struct NetChoice;

class NetworkDialog : public QDialog {
    Q_OBJECT
public:
    enum class Tab { Host, Join };
    // Shows the window's one network dialog at `tab`, made the first time.
    static void showFor(Form1& form, Tab tab);
    // The meeting service the build names (HOPSHOT_DEFAULT_MEET), used when none is remembered.
    static void setBuildMeet(const QString& service);

    NetworkDialog(Form1& form);
    ~NetworkDialog() override;

protected:
    void reject() override;   // Esc and the close box: cancels a connection first
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private slots:
    void hostChosen();
    void joinChosen();
    void lanGameChosen();
    void cancelChosen();
    void stopChosen();
    void startChosen();
    void copyCode();
    void refresh();
    void joinFinished();

private:
    QWidget* buildHostTab();
    QWidget* buildJoinTab();
    bool openSeat(const NetChoice& choice);   // the network seat for this choice, or a sentence why not
    void join(NetChoice choice);
    QString meetService();     // the field's, remembered when named
    void say(const QString& text);
    void fail(const std::string& sentence);
    void setBusy(bool connecting);
    void startListening();
    void stopListening();
    void showLanGames();

    Form1& form_;
    QTabWidget* tabs_ = nullptr;
    QRadioButton* byAddress_ = nullptr;
    QRadioButton* byCode_ = nullptr;
    QLineEdit* port_ = nullptr;
    QPushButton* host_ = nullptr;
    QLineEdit* code_ = nullptr;
    QPushButton* copy_ = nullptr;
    QListWidget* joined_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* stop_ = nullptr;
    QLineEdit* where_ = nullptr;
    QPushButton* join_ = nullptr;
    QListWidget* lan_ = nullptr;
    QPushButton* joinLan_ = nullptr;
    QLineEdit* meet_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QTimer refresh_;

    std::unique_ptr<JoinAttempt> attempt_;                 // the join under way, if any
    std::vector<std::unique_ptr<JoinAttempt>> cancelled_;  // cancelled ones, ending their waits
    bool seatShown_ = false;                               // a seat's state is on show

    // The LAN's games, found on a thread while the dialog shows.
    std::thread listener_;
    std::atomic<bool> listening_{false};   // while shown
    std::atomic<bool> quit_{false};
    std::mutex heardLock_;
    std::vector<LanGame> heard_;
    bool heardNew_ = false;
    std::vector<LanGame> shownGames_;
};

}  // namespace hopshot
