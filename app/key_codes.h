// Qt's key events in the game's own terms: the Windows virtual-key code of the key and the
// modifier mask (1 Shift, 2 Ctrl, 4 Alt) as it stands after the event.
#pragma once

#include <QKeyEvent>

#include <cstdint>

namespace hopshot {

// The virtual-key code of a Qt key; keypad digits and operators get their own codes. Keys with
// no code of their own give 0 (their events still reach the game: Ctrl held with any key fires).
int16_t virtualKeyCode(int qtKey, bool keypad);

// The modifier mask after a key event. A modifier key's own event counts from the key itself:
// Ctrl's press carries 2 and its release drops it, whatever the window system reports for it.
int16_t modifierMaskAfter(QEvent::Type type, int qtKey, Qt::KeyboardModifiers reported);

}  // namespace hopshot
