// The key decoder, driven with byte strings: no terminal needed.
#include "console/key_decoder.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

constexpr int more = -2;  // expected code meaning "need more bytes"

struct Case {
    const char *name;
    std::string bytes;
    bool input_ended;
    int code;            // or `more`
    std::size_t length;  // bytes the key takes
};

std::ostream &operator<<(std::ostream &out, const Case &c) { return out << c.name; }

class DecodeKey : public ::testing::TestWithParam<Case> {};

TEST_P(DecodeKey, GivesCodeAndLength) {
    const Case &c = GetParam();
    const auto *bytes = reinterpret_cast<const unsigned char *>(c.bytes.data());
    const KeyDecode got = decode_key(bytes, c.bytes.size(), c.input_ended);
    if (c.code == more) {
        EXPECT_EQ(got.status, KeyStatus::need_more);
        return;
    }
    ASSERT_EQ(got.status, KeyStatus::key);
    EXPECT_EQ(got.code, c.code);
    EXPECT_EQ(got.length, c.length);
}

const std::string esc = "\x1b";

// clang-format off
const Case cases[] = {
    // One byte, one key, whatever follows.
    {"letter", "a", false, 'a', 1},
    {"letter_then_next_key", "ab", false, 'a', 1},
    {"enter_is_cr", "\r", false, 13, 1},
    {"ctrl_c", "\x03", false, 3, 1},
    {"ctrl_d", "\x04", false, 4, 1},
    {"nul_from_ctrl_space", std::string(1, '\0'), false, 0, 1},
    {"backspace_del", "\x7f", false, 127, 1},
    {"tab", "\t", false, 9, 1},

    // UTF-8 characters give their code point.
    {"e_acute", "\xc3\xa9", false, 233, 2},
    {"euro_sign", "\xe2\x82\xac", false, 0x20ac, 3},
    {"emoji", "\xf0\x9f\x98\x80", false, 0x1f600, 4},
    {"highest_code_point", "\xf4\x8f\xbf\xbf", false, 0x10ffff, 4},
    {"character_then_next_key", "\xc3\xa9z", false, 233, 2},
    {"lead_waits_for_rest", "\xe2\x82", false, more, 0},
    {"lead_cut_short_by_silence", "\xe2\x82", true, 0xe2, 1},
    {"latin1_byte_alone", "\xe9", true, 0xe9, 1},
    {"lead_then_ascii", "\xe9z", false, 0xe9, 1},
    {"stray_continuation", "\x80", false, 0x80, 1},
    {"overlong_lead", "\xc0\x80", false, 0xc0, 1},
    {"overlong_three_bytes", "\xe0\x80\x80", false, 0xe0, 1},
    {"surrogate", "\xed\xa0\x80", false, 0xed, 1},
    {"past_u10ffff", "\xf4\x90\x80\x80", false, 0xf4, 1},
    {"byte_ff", "\xff", false, 0xff, 1},

    // Esc alone is only known once nothing follows.
    {"esc_waits", esc, false, more, 0},
    {"lone_esc", esc, true, 27, 1},

    // Alt plus a character: ESC and that character.
    {"alt_x", esc + "x", false, 0, 2},
    {"alt_enter", esc + "\r", false, 0, 2},
    {"alt_e_acute", esc + "\xc3\xa9", false, 0, 3},
    {"alt_waits_for_rest_of_character", esc + "\xc3", false, more, 0},
    {"alt_open_bracket", esc + "[", true, 0, 2},
    {"alt_capital_o", esc + "O", true, 0, 2},
    {"alt_esc", esc + esc, true, 0, 2},
    {"alt_esc_then_letter", esc + esc + "a", false, 0, 2},
    {"csi_waits", esc + "[", false, more, 0},
    {"ss3_waits", esc + "O", false, more, 0},

    // Arrows and editing keys: xterm, VT220, rxvt, screen, tmux.
    {"up_csi", esc + "[A", false, 224, 3},
    {"up_ss3", esc + "OA", false, 224, 3},
    {"up_then_next_key", esc + "[Ab", false, 224, 3},
    {"home_xterm", esc + "[H", false, 224, 3},
    {"home_ss3", esc + "OH", false, 224, 3},
    {"home_vt220", esc + "[1~", false, 224, 4},
    {"end_rxvt", esc + "[8~", false, 224, 4},
    {"insert", esc + "[2~", false, 224, 4},
    {"delete", esc + "[3~", false, 224, 4},
    {"page_up", esc + "[5~", false, 224, 4},
    {"page_down", esc + "[6~", false, 224, 4},
    {"shift_tab", esc + "[Z", false, 224, 3},
    {"keypad_enter", esc + "OM", false, 224, 3},
    {"keypad_7", esc + "Ow", false, 224, 3},

    // Modified special keys.
    {"ctrl_right_xterm", esc + "[1;5C", false, 224, 6},
    {"shift_delete_xterm", esc + "[3;2~", false, 224, 6},
    {"ctrl_up_rxvt", esc + "Oa", false, 224, 3},
    {"shift_up_rxvt", esc + "[a", false, 224, 3},
    {"shift_delete_rxvt", esc + "[3$", false, 224, 4},
    {"ctrl_home_rxvt", esc + "[7^", false, 224, 4},
    {"ctrl_shift_home_rxvt", esc + "[7@", false, 224, 4},
    {"alt_up_rxvt", esc + esc + "[A", false, 224, 4},
    {"alt_up_xterm", esc + "[1;3A", false, 224, 6},

    // F1 to F10 give 0, with any modifiers; F11 and F12 give 224.
    {"f1_xterm", esc + "OP", false, 0, 3},
    {"f4_xterm", esc + "OS", false, 0, 3},
    {"f1_vt220", esc + "[11~", false, 0, 5},
    {"f5", esc + "[15~", false, 0, 5},
    {"f6", esc + "[17~", false, 0, 5},
    {"f10", esc + "[21~", false, 0, 5},
    {"f11", esc + "[23~", false, 224, 5},
    {"f12", esc + "[24~", false, 224, 5},
    {"f1_linux", esc + "[[A", false, 0, 4},
    {"f5_linux", esc + "[[E", false, 0, 4},
    {"linux_prefix_waits", esc + "[[", false, more, 0},
    {"shift_f1_xterm", esc + "[1;2P", false, 0, 6},
    {"ctrl_f4_xterm", esc + "[1;5S", false, 0, 6},
    {"shift_f1_old_xterm", esc + "O2P", false, 0, 4},
    {"shift_f5_xterm", esc + "[15;2~", false, 0, 7},
    {"ctrl_shift_f12_xterm", esc + "[24;6~", false, 224, 7},
    {"shift_f3_linux", esc + "[25~", false, 0, 5},
    {"shift_f10_rxvt", esc + "[34~", false, 0, 5},
    {"ctrl_f1_rxvt", esc + "[11^", false, 0, 5},
    {"ctrl_shift_f11_rxvt", esc + "[23@", false, 224, 5},
    {"alt_f1_rxvt", esc + esc + "[11~", false, 0, 6},

    // Unknown sequences are special keys, read whole.
    {"unknown_number", esc + "[99~", false, 224, 5},
    {"unused_number_between_f5_and_f6", esc + "[16~", false, 224, 5},
    {"unused_number_between_shifted_f_keys", esc + "[30~", false, 224, 5},
    {"kitty_style", esc + "[97;5u", false, 224, 7},
    {"private_parameters", esc + "[<0;1;2M", false, 224, 9},

    // Sequences that arrive split, or never finish.
    {"csi_parameters_wait", esc + "[1;5", false, more, 0},
    {"csi_cut_short", esc + "[1;5", true, 224, 5},
    {"ss3_modifier_cut_short", esc + "O5", true, 224, 3},
    {"linux_prefix_cut_short", esc + "[[", true, 224, 3},
    {"alt_esc_csi_waits", esc + esc + "[1", false, more, 0},
    {"alt_esc_csi_cut_short", esc + esc + "[1", true, 224, 4},
    // A byte that cannot belong to a sequence ends it and is left over.
    {"control_byte_ends_csi", esc + "[1\r", false, 224, 3},
    {"control_byte_after_csi_start", esc + "[\r", false, 0, 2},
    {"high_byte_ends_ss3", esc + "O\xc3\xa9", false, 0, 2},
    {"control_byte_after_linux_prefix", esc + "[[\r", false, 224, 3},
    {"endless_parameters_cut_at_limit", esc + "[" + std::string(40, '1'), false, 224, max_sequence_length},
    {"alt_endless_parameters_cut_at_limit", esc + esc + "[" + std::string(40, ';'), false, 224, max_key_length},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Keys, DecodeKey, ::testing::ValuesIn(cases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(DecodeKey, NothingLeftIsNoKey) {
    EXPECT_EQ(decode_key(nullptr, 0, true).status, KeyStatus::no_key);
    EXPECT_EQ(decode_key(nullptr, 0, false).status, KeyStatus::need_more);
}

// Whatever the bytes, a decoder that waits must settle once input ends,
// and a key never takes more bytes than it was given.
TEST(DecodeKey, EveryPrefixOfEveryTableCaseSettlesAtEnd) {
    for (const Case &c : cases) {
        const auto *bytes = reinterpret_cast<const unsigned char *>(c.bytes.data());
        for (std::size_t n = 1; n <= c.bytes.size(); ++n) {
            const KeyDecode got = decode_key(bytes, n, true);
            ASSERT_EQ(got.status, KeyStatus::key) << c.name << " cut to " << n;
            EXPECT_GE(got.length, 1u) << c.name << " cut to " << n;
            EXPECT_LE(got.length, n) << c.name << " cut to " << n;
        }
    }
}

}  // namespace
