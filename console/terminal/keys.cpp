// Terminal input decoding: one item (key, report or ignored sequence) from
// the start of a byte run.
#include "console/terminal/keys.hpp"

namespace zuv::tty {

namespace {

constexpr uint8_t ESC = 0x1B;
constexpr int32_t MAX_PARAMS = 4;
constexpr int32_t MAX_SEQUENCE = 64;  // a control sequence longer than this is dropped

Input make(InputKind kind, int32_t length, int32_t code = 0) {
    Input in;
    in.kind = kind;
    in.length = length;
    in.code = code;
    return in;
}

// The key of a final letter, in ESC [ and ESC O sequences alike; 0 for none.
int32_t letter_key(uint8_t c) {
    switch (c) {
    case 'A': return KEY_UP;
    case 'B': return KEY_DOWN;
    case 'C': return KEY_RIGHT;
    case 'D': return KEY_LEFT;
    case 'H': return KEY_HOME;
    case 'F': return KEY_END;
    case 'P': return KEY_F1;
    case 'Q': return KEY_F1 - 1;
    case 'R': return KEY_F1 - 2;
    case 'S': return KEY_F1 - 3;
    default: return 0;
    }
}

// The key of ESC [ n ~; 0 for none.
int32_t tilde_key(int32_t n) {
    switch (n) {
    case 1: case 7: return KEY_HOME;
    case 4: case 8: return KEY_END;
    case 2: return KEY_INSERT;
    case 3: return KEY_DELETE;
    case 5: return KEY_PAGE_UP;
    case 6: return KEY_PAGE_DOWN;
    case 11: case 12: case 13: case 14: case 15: return KEY_F1 - (n - 11);  // F1-F5 (rxvt)
    case 17: case 18: case 19: case 20: case 21: return KEY_F1 - 5 - (n - 17);  // F6-F10
    case 23: case 24: return KEY_F1 - 10 - (n - 23);  // F11, F12
    default: return 0;
    }
}

Input key_or_ignored(int32_t key, int32_t length) {
    return key ? make(InputKind::key, length, key) : make(InputKind::ignored, length);
}

// One UTF-8 character. A byte that cannot start a sequence, or a sequence
// broken by a byte that cannot continue it, is U+FFFD for the bytes up to
// the break.
Input decode_utf8(const uint8_t* p, int32_t count, bool final) {
    uint8_t lead = p[0];
    int32_t need;
    uint32_t cp;
    uint8_t low = 0x80, high = 0xBF;  // range of the first continuation byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        cp = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        cp = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return make(InputKind::key, 1, 0xFFFD);
    }
    for (int32_t i = 1; i <= need; i++) {
        if (i >= count) return final ? make(InputKind::key, i, 0xFFFD) : make(InputKind::incomplete, 0);
        uint8_t b = p[i];
        if (b < low || b > high) return make(InputKind::key, i, 0xFFFD);
        cp = cp << 6 | (b & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    return make(InputKind::key, need + 1, int32_t(cp));
}

// ESC [ ... : parameters, then a final byte from @ to ~.
Input decode_csi(const uint8_t* p, int32_t count, bool final) {
    // The Linux console's F1-F5: ESC [ [ A to ESC [ [ E.
    if (count > 2 && p[2] == '[') {
        if (count < 4) return final ? make(InputKind::ignored, count) : make(InputKind::incomplete, 0);
        return p[3] >= 'A' && p[3] <= 'E' ? make(InputKind::key, 4, KEY_F1 - (p[3] - 'A'))
                                          : make(InputKind::ignored, 4);
    }
    int32_t params[MAX_PARAMS] = {};
    int32_t n = 0;          // parameters seen
    bool mouse = false;     // the SGR mouse marker <
    for (int32_t i = 2; i < count; i++) {
        uint8_t c = p[i];
        if (i >= MAX_SEQUENCE) return make(InputKind::ignored, i);
        if (c >= '0' && c <= '9') {
            if (n == 0) n = 1;
            if (n <= MAX_PARAMS && params[n - 1] < 100000) params[n - 1] = params[n - 1] * 10 + (c - '0');
        } else if (c == ';') {
            n = (n == 0 ? 1 : n) + 1;
        } else if (c >= '<' && c <= '?') {
            mouse = mouse || c == '<';
        } else if (c >= 0x20 && c <= 0x2F) {
            // intermediate bytes: nothing the table uses
        } else if (c >= 0x40 && c <= 0x7E) {
            int32_t length = i + 1;
            if (mouse) {
                if ((c == 'M' || c == 'm') && n == 3) {
                    Input in = make(InputKind::mouse, length, params[0]);
                    in.x = params[1];
                    in.y = params[2];
                    in.flags = c == 'm' ? MOUSE_RELEASE : 0;
                    return in;
                }
                return make(InputKind::ignored, length);
            }
            if (c == 'R' && n == 2) {
                Input in = make(InputKind::cursor, length);
                in.y = params[0];
                in.x = params[1];
                return in;
            }
            if (c == 'Z') {
                Input in = make(InputKind::key, length, 9);
                in.flags = KEY_SHIFT;
                return in;
            }
            if (c == '~') return key_or_ignored(tilde_key(params[0]), length);
            return key_or_ignored(letter_key(c), length);
        } else {
            // A control byte breaks the sequence off: what came before it is dropped.
            return make(InputKind::ignored, i);
        }
    }
    return final ? make(InputKind::ignored, count) : make(InputKind::incomplete, 0);
}

// ESC O x: the keypad and function keys in application mode (a digit
// parameter of old modified forms is skipped).
Input decode_ss3(const uint8_t* p, int32_t count, bool final) {
    for (int32_t i = 2; i < count; i++) {
        uint8_t c = p[i];
        if ((c >= '0' && c <= '9') || c == ';') continue;
        if (c == 'M') return make(InputKind::key, i + 1, 13);  // keypad Enter
        return key_or_ignored(c >= 0x40 && c <= 0x7E ? letter_key(c) : 0, i + 1);
    }
    return final ? make(InputKind::ignored, count) : make(InputKind::incomplete, 0);
}

// ESC ] (OSC), ESC P (DCS), ESC _, ESC ^, ESC X: a string up to the string
// terminator ESC \ (or BEL), dropped whole.
Input decode_string(const uint8_t* p, int32_t count, bool final) {
    for (int32_t i = 2; i < count; i++) {
        if (p[i] == 0x07) return make(InputKind::ignored, i + 1);
        if (p[i] == ESC && i + 1 < count && p[i + 1] == '\\') return make(InputKind::ignored, i + 2);
    }
    return final ? make(InputKind::ignored, count) : make(InputKind::incomplete, 0);
}

Input decode_escape(const uint8_t* p, int32_t count, bool final) {
    if (count < 2) return final ? make(InputKind::key, 1, ESC) : make(InputKind::incomplete, 0);
    uint8_t c = p[1];
    switch (c) {
    case '[': return decode_csi(p, count, final);
    case 'O': return decode_ss3(p, count, final);
    case ']': case 'P': case '_': case '^': case 'X': return decode_string(p, count, final);
    default: break;
    }
    // ESC before a control character (another ESC among them) stands alone.
    if (c < 0x20) return make(InputKind::key, 1, ESC);
    // Alt with a character: the pair is dropped.
    if (c < 0x80) return make(InputKind::ignored, 2);
    Input ch = decode_utf8(p + 1, count - 1, final);
    if (ch.kind == InputKind::incomplete) return ch;
    return make(InputKind::ignored, 1 + ch.length);
}

}  // namespace

Input decode_input(const uint8_t* bytes, int32_t count, bool final) {
    if (count <= 0) return make(InputKind::incomplete, 0);
    uint8_t b = bytes[0];
    if (b == ESC) return decode_escape(bytes, count, final);
    if (b < 0x80) return make(InputKind::key, 1, b);
    return decode_utf8(bytes, count, final);
}

}  // namespace zuv::tty
