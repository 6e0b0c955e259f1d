#include "game/lifecycle.h"

#include "game/game_routine.h"

namespace hopshot {

namespace {


// floor(score / n): the largest whole number not above the real quotient (-1501 / 2 = -751).
int32_t floorDiv(int32_t a, int32_t n) {
    int32_t q = a / n;
    if ((a % n != 0) && ((a < 0) != (n < 0))) --q;
    return q;
}

}  // namespace

// Acts only while a game runs. At zero the game ends and the records are tested: a record beaten
// is stored at once, and its holder's name asked for. The front end holds the last picture on
// screen while it asks, and tears the game down after the answer.
void countdownTick(Game& g) {
    World& w = g.w;
    if (w.running != kRunning || w.timeLeft <= 0) return;
    w.timeLeft -= 1;
    if (w.timeLeft >= 1 && w.timeLeft <= 9) playBank(g, kTimeBank);
    g.host.setCaption(Label::Time, captionNumber("Time :", w.timeLeft));
    if (w.timeLeft != 0) return;

    w.running = 0;
    const int n = takingPart(w);
    if (n == 1 && w.hiScoreSolo < w.score) {   // a tie is no record
        w.hiScoreSolo = w.score;
        g.host.askRecordName(RecordKind::Solo);
    }
    if (n >= 2) {
        const int32_t coop = floorDiv(w.score, n);
        if (w.hiScoreCoop < coop) {
            w.hiScoreCoop = coop;
            g.host.askRecordName(RecordKind::Coop);
        }
    }
}

void nameRecord(World& w, RecordKind kind, const std::string& name) {
    (kind == RecordKind::Solo ? w.hiNameSolo : w.hiNameCoop) = name;
}

void closeHandler(Game& g) {
    g.w.running = 0;
}

Records recordsOf(const World& w) { return {w.hiNameSolo, w.hiScoreSolo, w.hiNameCoop, w.hiScoreCoop}; }

void takeRecords(World& w, const Records& r) {
    w.hiNameSolo = r.nameSolo;
    w.hiScoreSolo = r.scoreSolo;
    w.hiNameCoop = r.nameCoop;
    w.hiScoreCoop = r.scoreCoop;
}

}  // namespace hopshot
