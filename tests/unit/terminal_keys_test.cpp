// Terminal input decoding: the key strings of real terminals, reports, UTF-8
// and the sequences that must be swallowed whole.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/terminal/keys.hpp"
#include "console/terminal/line_editor.hpp"

using namespace zuv;
using tty::Input;
using tty::InputKind;

namespace {

Input decode(const std::string& bytes, bool final = true) {
    return tty::decode_input(reinterpret_cast<const uint8_t*>(bytes.data()), int32_t(bytes.size()), final);
}

// Every item of the bytes, as the line editor reads them (final at the end).
std::vector<Input> decode_all(const std::string& bytes) {
    std::vector<Input> items;
    for (size_t at = 0; at < bytes.size();) {
        Input in = decode(bytes.substr(at));
        EXPECT_GT(in.length, 0) << bytes;
        if (in.length <= 0) break;
        items.push_back(in);
        at += size_t(in.length);
    }
    return items;
}

}  // namespace

// The strings that `infocmp` gives for the arrows, Home, End, Insert, Delete,
// Page Up/Down and F1-F12 of xterm-256color, screen-256color, tmux-256color
// and linux; each decodes whole into the line editor's code (F-keys: 0).
TEST(TerminalKeys, TerminfoKeyStrings) {
    struct Key {
        const char* name;
        const char* sequence;
        int32_t code;
    };
    const char* F[12] = {"\x1bOP", "\x1bOQ", "\x1bOR", "\x1bOS", "\x1b[15~", "\x1b[17~",
                         "\x1b[18~", "\x1b[19~", "\x1b[20~", "\x1b[21~", "\x1b[23~", "\x1b[24~"};
    struct Terminal {
        const char* name;
        std::vector<Key> keys;
    };
    auto common = [&](const char* home, const char* end, bool app_cursor, bool linux_f) {
        std::vector<Key> keys = {
            {"kcuu1", app_cursor ? "\x1bOA" : "\x1b[A", -20}, {"kcud1", app_cursor ? "\x1bOB" : "\x1b[B", -21},
            {"kcuf1", app_cursor ? "\x1bOC" : "\x1b[C", -22}, {"kcub1", app_cursor ? "\x1bOD" : "\x1b[D", -23},
            {"khome", home, -25},  {"kend", end, -24},         {"kich1", "\x1b[2~", -26},
            {"kdch1", "\x1b[3~", -27}, {"kpp", "\x1b[5~", -28}, {"knp", "\x1b[6~", -29},
        };
        const char* linux_fkeys[5] = {"\x1b[[A", "\x1b[[B", "\x1b[[C", "\x1b[[D", "\x1b[[E"};
        for (int i = 0; i < 12; i++) keys.push_back({"kf", linux_f && i < 5 ? linux_fkeys[i] : F[i], 0});
        return keys;
    };
    const Terminal terminals[] = {
        {"xterm-256color", common("\x1bOH", "\x1bOF", true, false)},
        {"screen-256color", common("\x1b[1~", "\x1b[4~", true, false)},
        {"tmux-256color", common("\x1b[1~", "\x1b[4~", true, false)},
        {"linux", common("\x1b[1~", "\x1b[4~", false, true)},
    };
    for (const Terminal& t : terminals) {
        for (const Key& k : t.keys) {
            std::string bytes = k.sequence;
            Input in = decode(bytes, false);
            EXPECT_EQ(in.kind, InputKind::key) << t.name << " " << k.name;
            EXPECT_EQ(in.length, int32_t(bytes.size())) << t.name << " " << k.name;
            EXPECT_EQ(terminal::key_code(in), k.code) << t.name << " " << k.name;
        }
    }
    // For the text-mode GUI the function keys keep their own codes.
    for (int i = 0; i < 12; i++) EXPECT_EQ(decode(F[i]).code, tty::KEY_F1 - i) << "F" << i + 1;
}

TEST(TerminalKeys, VariantsAndModifiers) {
    struct Case {
        const char* bytes;
        int32_t code;
    };
    const Case cases[] = {
        {"\x1b[H", tty::KEY_HOME},       {"\x1b[7~", tty::KEY_HOME},    {"\x1b[F", tty::KEY_END},
        {"\x1b[8~", tty::KEY_END},       {"\x1b[1;5C", tty::KEY_RIGHT}, {"\x1b[1;2D", tty::KEY_LEFT},
        {"\x1b[3;5~", tty::KEY_DELETE},  {"\x1bOM", 13},                {"\x1b[11~", tty::KEY_F1},
        {"\x1b[1;2P", tty::KEY_F1},      {"\r", 13},                    {"\x7f", 127},
        {"\x03", 3},                     {"a", 'a'},
    };
    for (const Case& c : cases) {
        Input in = decode(c.bytes);
        EXPECT_EQ(in.kind, InputKind::key) << c.bytes + 1;
        EXPECT_EQ(in.code, c.code) << c.bytes + 1;
        EXPECT_EQ(in.length, int32_t(std::string(c.bytes).size())) << c.bytes + 1;
    }
    Input back_tab = decode("\x1b[Z");
    EXPECT_EQ(back_tab.code, 9);
    EXPECT_EQ(back_tab.flags, tty::KEY_SHIFT);
    EXPECT_EQ(terminal::key_code(back_tab), 0);
}

// Sequences the table does not hold are dropped whole; what follows them is
// decoded as it stands.
TEST(TerminalKeys, SwallowedSequences) {
    const char* cases[] = {
        "\x1b[200~",                  // bracketed paste start
        "\x1b[1;5X",                  // a modified letter no key has
        "\x1b[I",                     // focus in
        "\x1b]0;title\x07",           // OSC ended by BEL
        "\x1b]11;rgb:0/0/0\x1b\\",    // OSC ended by ST
        "\x1bPq#0;2;0;0;0\x1b\\",     // DCS
        "\x1b" "a",                   // Alt with a letter
        "\x1b\xc3\xa9",               // Alt with a UTF-8 character
        "\x1b[99~",                   // no key
    };
    for (const char* c : cases) {
        std::vector<Input> items = decode_all(std::string(c) + "z");
        ASSERT_EQ(items.size(), 2u) << c + 1;
        EXPECT_EQ(items[0].kind, InputKind::ignored) << c + 1;
        EXPECT_EQ(items[1].code, 'z') << c + 1;
    }
    // A control byte breaks a sequence off and is a key of its own.
    std::vector<Input> broken = decode_all("\x1b[1\x03");
    ASSERT_EQ(broken.size(), 2u);
    EXPECT_EQ(broken[0].kind, InputKind::ignored);
    EXPECT_EQ(broken[1].code, 3);
}

TEST(TerminalKeys, EscapeAloneAndCutSequences) {
    // Until more bytes may come, a lone ESC and a cut sequence wait.
    for (const char* cut : {"\x1b", "\x1b[", "\x1b[1;5", "\x1bO", "\x1b[[", "\x1b]0;t", "\xe4\xb8"})
        EXPECT_EQ(decode(cut, false).kind, InputKind::incomplete) << cut + 1;
    // Then the ESC is the Escape key, a cut sequence is dropped, a cut character is U+FFFD.
    Input esc = decode("\x1b");
    EXPECT_EQ(esc.kind, InputKind::key);
    EXPECT_EQ(esc.code, 27);
    EXPECT_EQ(decode("\x1b[1;5").kind, InputKind::ignored);
    EXPECT_EQ(decode("\x1b[1;5").length, 5);
    EXPECT_EQ(decode("\xe4\xb8").code, 0xFFFD);
    // ESC before another ESC or a control stands alone.
    std::vector<Input> items = decode_all("\x1b\x1b[A\x1b\r");
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].code, 27);
    EXPECT_EQ(items[1].code, tty::KEY_UP);
    EXPECT_EQ(items[2].code, 27);
    EXPECT_EQ(items[3].code, 13);
}

TEST(TerminalKeys, Reports) {
    Input cursor = decode("\x1b[12;40R");
    EXPECT_EQ(cursor.kind, InputKind::cursor);
    EXPECT_EQ(cursor.y, 12);
    EXPECT_EQ(cursor.x, 40);
    Input press = decode("\x1b[<0;10;5M");
    EXPECT_EQ(press.kind, InputKind::mouse);
    EXPECT_EQ(press.code, 0);
    EXPECT_EQ(press.x, 10);
    EXPECT_EQ(press.y, 5);
    EXPECT_EQ(press.flags, 0);
    Input release = decode("\x1b[<64;3;3m");
    EXPECT_EQ(release.code, 64);
    EXPECT_EQ(release.flags, tty::MOUSE_RELEASE);
}

// UTF-8: one sequence is one code point; what is not UTF-8 is U+FFFD, and a
// broken sequence leaves the byte that broke it to the next item.
TEST(TerminalKeys, Utf8) {
    struct Case {
        const char* bytes;
        std::vector<int32_t> codes;
    };
    const Case cases[] = {
        {"\xc3\xa9", {0xE9}},
        {"\xe4\xb8\xad", {0x4E2D}},
        {"\xf0\x9f\x98\x80", {0x1F600}},
        {"\xff", {0xFFFD}},
        {"\x80", {0xFFFD}},
        {"\xc3(", {0xFFFD, '('}},
        {"\xc0\xaf", {0xFFFD, 0xFFFD}},            // overlong
        {"\xed\xa0\x80", {0xFFFD, 0xFFFD, 0xFFFD}},  // a surrogate
        {"\xf4\x90\x80\x80", {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},  // above U+10FFFF
    };
    for (const Case& c : cases) {
        std::vector<int32_t> codes;
        for (const Input& in : decode_all(c.bytes)) codes.push_back(in.code);
        EXPECT_EQ(codes, c.codes) << c.bytes;
    }
}
