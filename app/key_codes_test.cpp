#include "app/key_codes.h"

#include <gtest/gtest.h>

namespace hopshot {
namespace {

TEST(KeyCodes, QtKeysBecomeVirtualKeyCodes) {
    struct Case { int qtKey; bool keypad; int16_t code; };
    const Case cases[] = {
        {Qt::Key_Left, false, 37},   {Qt::Key_Up, false, 38},      {Qt::Key_Right, false, 39},
        {Qt::Key_Down, false, 40},   {Qt::Key_A, false, 65},       {Qt::Key_F, false, 70},
        {Qt::Key_Z, false, 90},      {Qt::Key_0, false, 48},       {Qt::Key_9, false, 57},
        {Qt::Key_Escape, false, 27}, {Qt::Key_Return, false, 13},  {Qt::Key_Enter, true, 13},
        {Qt::Key_Space, false, 32},  {Qt::Key_Shift, false, 16},   {Qt::Key_Control, false, 17},
        {Qt::Key_Alt, false, 18},    {Qt::Key_F1, false, 112},     {Qt::Key_F12, false, 123},
        {Qt::Key_Tab, false, 9},     {Qt::Key_Delete, false, 46},  {Qt::Key_Home, false, 36},
        {Qt::Key_PageDown, false, 34},
        // keypad digits and operators have codes of their own; keypad arrows do not
        {Qt::Key_0, true, 96},       {Qt::Key_7, true, 103},       {Qt::Key_Plus, true, 107},
        {Qt::Key_Left, true, 37},
        // a shifted symbol is the key that makes it
        {Qt::Key_Exclam, false, 49}, {Qt::Key_ParenRight, false, 48}, {Qt::Key_Comma, false, 188},
        {Qt::Key_Question, false, 191},
        // no code of its own
        {Qt::Key_VolumeUp, false, 0}, {Qt::Key_unknown, false, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(virtualKeyCode(c.qtKey, c.keypad), c.code) << std::hex << c.qtKey;
}

// The mask after the event, whether the window system reports a modifier key's own state before
// or after its event.
TEST(KeyCodes, ModifierMaskIsTheStateAfterTheEvent) {
    using Qt::AltModifier;
    using Qt::ControlModifier;
    using Qt::NoModifier;
    using Qt::ShiftModifier;
    const auto press = QEvent::KeyPress, release = QEvent::KeyRelease;
    struct Case { QEvent::Type type; int key; Qt::KeyboardModifiers reported; int16_t mask; };
    const Case cases[] = {
        {press, Qt::Key_Control, ControlModifier, 2},
        {press, Qt::Key_Control, NoModifier, 2},                  // reported as before the press
        {release, Qt::Key_Control, NoModifier, 0},
        {release, Qt::Key_Control, ControlModifier, 0},           // reported as before the release
        {press, Qt::Key_Control, ShiftModifier, 3},               // Shift held, then Ctrl
        {release, Qt::Key_Control, ShiftModifier | ControlModifier, 1},
        {press, Qt::Key_Shift, ControlModifier, 3},
        {release, Qt::Key_Shift, ControlModifier, 2},
        {press, Qt::Key_Alt, NoModifier, 4},
        {release, Qt::Key_Alt, AltModifier, 0},
        {press, Qt::Key_A, ControlModifier, 2},
        {release, Qt::Key_A, NoModifier, 0},
        {press, Qt::Key_Left, ShiftModifier | ControlModifier | AltModifier, 7},
        {press, Qt::Key_5, Qt::KeypadModifier, 0},                // not a modifier of the game's
        {press, Qt::Key_Meta, Qt::MetaModifier, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(modifierMaskAfter(c.type, c.key, c.reported), c.mask)
            << (c.type == press ? "press " : "release ") << std::hex << c.key << " reported "
            << c.reported.toInt();
}

}  // namespace
}  // namespace hopshot
