#include "hoppers/hits.h"

#include "core/setup.h"
#include "core/store16.h"
#include "tanks/weapons.h"

namespace hopshot {

namespace {

constexpr int kHitHalfWidth = 30;      // a hopper's box: +-30 in x and z,
constexpr int kHitBelow = 30;          // 30 below its feet
constexpr int kHitAbove = 50;          // to 50 above them
constexpr int kContactHeight = 40;     // a hopper below this height ...
constexpr int kContactZ = -380;        // ... nearer than this reaches a tank
constexpr int kBombReach = 80;         // the bomb kills within 80 in x and in z
constexpr int16_t kBurst = 20;         // particles a kill throws at most
constexpr int kDamagePasses = 30;
constexpr int kEffectPasses = 100;
constexpr int kContactCost = 1000;
constexpr int kGoldContactExtra = 4000;
constexpr int kBloodFreeBelow = -50;

// The box test of a point against hopper i; all comparisons strict.
bool inHopperBox(const World& w, int i, int x, int y, int z) {
    return w.hopperX[i] != kIdleX &&
           w.hopperX[i] - kHitHalfWidth < x && x < w.hopperX[i] + kHitHalfWidth &&
           w.hopperY[i] - kHitBelow < y && y < w.hopperY[i] + kHitAbove &&
           w.hopperZ[i] - kHitHalfWidth < z && z < w.hopperZ[i] + kHitHalfWidth;
}

// Up to 20 free particles, lowest indexes first, fly from where the hopper was.
void bloodBurst(Game& g, int i) {
    World& w = g.w;
    for (int k = 0; k < kBlood; ++k) {
        if (w.bloodX[k] != kIdleX || w.bloodBudget <= 0) continue;
        w.bloodX[k] = w.hopperX[i];
        store16(w.bloodY[k], w.hopperY[i] + 10);
        w.bloodZ[k] = w.hopperZ[i];
        w.bloodBudget -= 1;
        store16(w.bloodVX[k], Int(g.rng.draw() * 20 - 10));   // -10..9
        store16(w.bloodVY[k], Int(g.rng.draw() * 20));        // 0..19
        store16(w.bloodVZ[k], Int(g.rng.draw() * 20 - 10));   // -10..9
    }
}

// A kill by player p's shell (p >= 0) or by the bomb (p < 0). The sooner a hopper dies, the
// more it is worth: hopperZ + 450 points, five times that for the small and the gold hopper.
void kill(Game& g, int i, int p) {
    World& w = g.w;
    w.bloodBudget = kBurst;
    if (i < kGoldHopper) playBank(g, Int(g.rng.draw() * 2) == 0 ? kHitBank : kHit2Bank);
    bloodBurst(g, i);
    w.hopperX[i] = kIdleX;
    if (p >= 0 && w.shellKind[p] == 0) w.shellX[p] = kIdleX;   // a charged shot flies on

    const int worth = w.hopperZ[i] + 450;
    int16_t special = 0;   // five times the worth, worked out in 16 bits
    const bool specialFits = store16(special, 5 * worth);
    if (i < kSmallHopper) {
        w.score += worth;
    } else if (i == kSmallHopper) {
        w.flashTimer = kEffectPasses;
        if (specialFits) w.score += special;
    } else {
        w.flickerTimer = kEffectPasses;
        scene::SetPosition(g.s.lightFrame, nullptr, 0, 0, 0);
        playBank(g, kGoldBank);
        if (specialFits) w.score += special;
    }
    showScore(g);
}

// While p charges, its projectile stands at the muzzle for these tests and is parked after
// each one, so a shell still in flight is withdrawn.
void shellTest(Game& g, int i, int p) {
    World& w = g.w;
    const bool charging = w.charge[p] > kChargeThreshold;
    if (charging) {
        const Point m = muzzlePoint(w, p);
        store16(w.shellX[p], m.x);
        store16(w.shellY[p], m.y);
        store16(w.shellZ[p], m.z);
    }
    if (inHopperBox(w, i, w.shellX[p], w.shellY[p], w.shellZ[p])) kill(g, i, p);
    if (charging) {
        w.shellX[p] = kIdleX;
        w.shellY[p] = 0;
        w.shellZ[p] = 0;
    }
}

void tankContactTest(Game& g, int i, int p) {
    World& w = g.w;
    const int x = tankX(p);
    if (!(w.hopperX[i] - kHitHalfWidth < x && x < w.hopperX[i] + kHitHalfWidth &&
          w.hopperY[i] < kContactHeight && w.hopperZ[i] < kContactZ))
        return;
    w.damageTimer[p] = kDamagePasses;
    w.hopperX[i] = kIdleX;
    playBank(g, kDamageBank);
    w.score -= kContactCost;
    if (i == kGoldHopper) w.score -= kGoldContactExtra;
    showScore(g);
}

// Height does not count: the bomb kills a hopper high in the air as well.
void bombTest(Game& g, int i) {
    const World& w = g.w;
    if (w.hopperX[i] != kIdleX &&
        w.bombX - kBombReach < w.hopperX[i] && w.hopperX[i] < w.bombX + kBombReach &&
        w.bombZ - kBombReach < w.hopperZ[i] && w.hopperZ[i] < w.bombZ + kBombReach)
        kill(g, i, -1);
}

}  // namespace

void showScore(Game& g) { g.host.setCaption(Label::Score, captionNumber("Score :", g.w.score)); }

void hopperHitTests(Game& g, int i) {
    for (int p = 0; p < kPlayers; ++p)
        if (g.w.playerIn[p] == 1) shellTest(g, i, p);
    for (int p = 0; p < kPlayers; ++p)
        if (g.w.playerIn[p] == 1) tankContactTest(g, i, p);
    bombTest(g, i);
}

// Particles are placed after their motion, so they are drawn where this step put them.
void bloodPass(Game& g) {
    World& w = g.w;
    for (int k = 0; k < kBlood; ++k) {
        store16(w.bloodX[k], w.bloodX[k] + w.bloodVX[k]);
        store16(w.bloodY[k], w.bloodY[k] + w.bloodVY[k]);
        store16(w.bloodZ[k], w.bloodZ[k] + w.bloodVZ[k]);
        if (w.bloodVY[k] >= kFallLimit) w.bloodVY[k] -= 1;
        if (w.bloodY[k] < kBloodFreeBelow) {
            w.bloodX[k] = kIdleX;
            w.bloodVY[k] = 0;
            w.bloodVZ[k] = 0;
        }
        scene::SetPosition(g.s.bloodFrames[k], nullptr, w.bloodX[k], w.bloodY[k], w.bloodZ[k]);
    }
}

}  // namespace hopshot
