#include "app/key_codes.h"

#include "controls/keyboard.h"

namespace hopshot {

namespace {

// Printable keys that are not letters or digits, with the code of the key that makes them on a
// US keyboard: the shifted symbol counts as its key, as the game sees keys, not characters.
struct KeyCode { int qtKey; int16_t code; };
constexpr KeyCode kSymbols[] = {
    {Qt::Key_Exclam, '1'}, {Qt::Key_At, '2'}, {Qt::Key_NumberSign, '3'}, {Qt::Key_Dollar, '4'},
    {Qt::Key_Percent, '5'}, {Qt::Key_AsciiCircum, '6'}, {Qt::Key_Ampersand, '7'},
    {Qt::Key_Asterisk, '8'}, {Qt::Key_ParenLeft, '9'}, {Qt::Key_ParenRight, '0'},
    {Qt::Key_Semicolon, 186}, {Qt::Key_Colon, 186}, {Qt::Key_Equal, 187}, {Qt::Key_Plus, 187},
    {Qt::Key_Comma, 188}, {Qt::Key_Less, 188}, {Qt::Key_Minus, 189}, {Qt::Key_Underscore, 189},
    {Qt::Key_Period, 190}, {Qt::Key_Greater, 190}, {Qt::Key_Slash, 191}, {Qt::Key_Question, 191},
    {Qt::Key_QuoteLeft, 192}, {Qt::Key_AsciiTilde, 192}, {Qt::Key_BracketLeft, 219},
    {Qt::Key_BraceLeft, 219}, {Qt::Key_Backslash, 220}, {Qt::Key_Bar, 220},
    {Qt::Key_BracketRight, 221}, {Qt::Key_BraceRight, 221}, {Qt::Key_Apostrophe, 222},
    {Qt::Key_QuoteDbl, 222},
};

constexpr KeyCode kNamed[] = {
    {Qt::Key_Backspace, 8}, {Qt::Key_Tab, 9}, {Qt::Key_Backtab, 9}, {Qt::Key_Clear, 12},
    {Qt::Key_Return, 13}, {Qt::Key_Enter, 13}, {Qt::Key_Shift, 16}, {Qt::Key_Control, 17},
    {Qt::Key_Alt, 18}, {Qt::Key_AltGr, 18}, {Qt::Key_Pause, 19}, {Qt::Key_CapsLock, 20},
    {Qt::Key_Escape, 27}, {Qt::Key_Space, 32}, {Qt::Key_PageUp, 33}, {Qt::Key_PageDown, 34},
    {Qt::Key_End, 35}, {Qt::Key_Home, 36}, {Qt::Key_Left, 37}, {Qt::Key_Up, 38},
    {Qt::Key_Right, 39}, {Qt::Key_Down, 40}, {Qt::Key_Print, 44}, {Qt::Key_Insert, 45},
    {Qt::Key_Delete, 46}, {Qt::Key_Meta, 91}, {Qt::Key_Super_L, 91}, {Qt::Key_Super_R, 92},
    {Qt::Key_Menu, 93}, {Qt::Key_NumLock, 144}, {Qt::Key_ScrollLock, 145},
};

int16_t modifierBit(int qtKey) {
    switch (qtKey) {
    case Qt::Key_Shift: return kMaskShift;
    case Qt::Key_Control: return kMaskCtrl;
    case Qt::Key_Alt: return kMaskAlt;
    default: return 0;
    }
}

}  // namespace

int16_t virtualKeyCode(int qtKey, bool keypad) {
    if (keypad) {
        if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return int16_t(96 + (qtKey - Qt::Key_0));
        switch (qtKey) {
        case Qt::Key_Asterisk: return 106;
        case Qt::Key_Plus: return 107;
        case Qt::Key_Minus: return 109;
        case Qt::Key_Period: return 110;
        case Qt::Key_Slash: return 111;
        default: break;   // keypad arrows, Home, Enter, ...: the same codes as the main keys
        }
    }
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return int16_t('A' + (qtKey - Qt::Key_A));
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return int16_t('0' + (qtKey - Qt::Key_0));
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return int16_t(112 + (qtKey - Qt::Key_F1));
    for (const KeyCode& k : kNamed)
        if (k.qtKey == qtKey) return k.code;
    for (const KeyCode& k : kSymbols)
        if (k.qtKey == qtKey) return k.code;
    return 0;
}

int16_t modifierMaskAfter(QEvent::Type type, int qtKey, Qt::KeyboardModifiers reported) {
    int16_t mask = 0;
    if (reported & Qt::ShiftModifier) mask |= kMaskShift;
    if (reported & Qt::ControlModifier) mask |= kMaskCtrl;
    if (reported & Qt::AltModifier) mask |= kMaskAlt;
    if (int16_t own = modifierBit(qtKey)) {
        if (type == QEvent::KeyPress) mask |= own;
        else mask &= int16_t(~own);
    }
    return mask;
}

}  // namespace hopshot
