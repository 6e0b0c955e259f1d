#include "core/world.h"

namespace hopshot {

int takingPart(const World& w) {
    int n = 0;
    for (int16_t in : w.playerIn) n += in;
    return n;
}

}  // namespace hopshot
