// Key codes follow the Windows console read, _getch: a character gives its
// code, F1 to F10 and Alt plus a character give 0, every other special key
// gives 224 (the first of the two codes _getch returns for such keys), and
// Esc on its own gives 27.
#include "console/key_decoder.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr unsigned char esc = 0x1b;
constexpr int escape_code = 27;
constexpr int function_key_code = 0;   // F1 to F10, with any modifiers
constexpr int alt_key_code = 0;        // ESC followed by a character
constexpr int special_key_code = 224;  // arrows, editing keys, F11, F12, keypad, unknown

KeyDecode key(int code, std::size_t length) { return {KeyStatus::key, code, length}; }

constexpr KeyDecode need_more = {KeyStatus::need_more, 0, 0};

// How many bytes a UTF-8 character starting with lead takes, or 0 when
// lead cannot start one (ASCII is handled before this is asked).
std::size_t utf8_length(unsigned char lead) {
    if (lead >= 0xc2 && lead <= 0xdf) return 2;
    if (lead >= 0xe0 && lead <= 0xef) return 3;
    if (lead >= 0xf0 && lead <= 0xf4) return 4;
    return 0;
}

// Whether byte can stand at position index (1 to 3) of a character that
// starts with lead. The tighter ranges after E0, ED, F0 and F4 refuse
// overlong forms, surrogates and code points past U+10FFFF.
bool utf8_continues(unsigned char lead, std::size_t index, unsigned char byte) {
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (index == 1) {
        if (lead == 0xe0) low = 0xa0;
        if (lead == 0xed) high = 0x9f;
        if (lead == 0xf0) low = 0x90;
        if (lead == 0xf4) high = 0x8f;
    }
    return byte >= low && byte <= high;
}

// A plain byte or a UTF-8 character. A byte that does not start a valid
// character, or whose character is cut short, stands for itself.
KeyDecode decode_character(const unsigned char *bytes, std::size_t count, bool input_ended) {
    const unsigned char lead = bytes[0];
    const std::size_t length = lead < 0x80 ? 1 : utf8_length(lead);
    if (length <= 1) return key(lead, 1);

    int code_point = lead & (0x7f >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if (i == count) return input_ended ? key(lead, 1) : need_more;
        if (!utf8_continues(lead, i, bytes[i])) return key(lead, 1);
        code_point = code_point << 6 | (bytes[i] & 0x3f);
    }
    return key(code_point, length);
}

// F1 to F10 in the numbered form ESC [ n ~. 23 and 24 are F11 and F12.
constexpr int numbered_function_keys[] = {
    11, 12, 13, 14, 15, 17, 18, 19, 20, 21,  // F1 to F10 (VT220, rxvt)
    25, 26, 28, 29, 31, 32, 33, 34,          // shifted F-keys (Linux console, rxvt)
};

bool is_numbered_function_key(int number) {
    return std::find(std::begin(numbered_function_keys), std::end(numbered_function_keys),
                     number) != std::end(numbered_function_keys);
}

// The code of a whole sequence, from its first parameter and final byte.
int sequence_code(int number, unsigned char final_byte) {
    // ESC O P to S, and ESC [ 1 ; m P to S with modifiers: F1 to F4.
    if (final_byte >= 'P' && final_byte <= 'S') return function_key_code;
    // rxvt ends modified keys with $ (Shift), ^ (Ctrl) or @ (both).
    const bool numbered =
        final_byte == '~' || final_byte == '$' || final_byte == '^' || final_byte == '@';
    if (numbered && is_numbered_function_key(number)) return function_key_code;
    return special_key_code;
}

// A sequence that stops before its final byte. ESC [ or ESC O alone is
// Alt plus that character; anything longer is a special key cut short.
KeyDecode cut_sequence(std::size_t length) {
    return key(length == 2 ? alt_key_code : special_key_code, length);
}

bool is_digit(unsigned char byte) { return byte >= '0' && byte <= '9'; }

// ESC [ (CSI) or ESC O (SS3): parameter and intermediate bytes (0x20 to
// 0x3f) up to a final byte (0x40 to 0x7e). A byte that fits nowhere ends
// the sequence before it, so it is left for the next key.
KeyDecode decode_sequence(const unsigned char *bytes, std::size_t count, bool input_ended) {
    // The Linux console's F1 to F5: ESC [ [ A to ESC [ [ E.
    if (bytes[1] == '[' && count > 2 && bytes[2] == '[') {
        if (count == 3) return input_ended ? cut_sequence(3) : need_more;
        if (bytes[3] < 0x40 || bytes[3] > 0x7e) return cut_sequence(3);
        return key(bytes[3] >= 'A' && bytes[3] <= 'E' ? function_key_code : special_key_code, 4);
    }

    int number = 0;  // the first parameter, which names the key
    bool in_first_parameter = true;
    std::size_t i = 2;
    for (; i < count && i < max_sequence_length; ++i) {
        const unsigned char byte = bytes[i];
        const bool rxvt_end = byte == '$' && is_digit(bytes[i - 1]);
        if ((byte >= 0x40 && byte <= 0x7e) || rxvt_end)
            return key(sequence_code(number, byte), i + 1);
        if (byte < 0x20 || byte > 0x3f) return cut_sequence(i);
        if (!is_digit(byte)) {
            in_first_parameter = false;
        } else if (in_first_parameter && number < 1000) {
            number = number * 10 + (byte - '0');
        }
    }
    if (i == max_sequence_length) return key(special_key_code, i);  // endless: cut it here
    return input_ended ? cut_sequence(count) : need_more;
}

KeyDecode decode_escape(const unsigned char *bytes, std::size_t count, bool input_ended) {
    if (count == 1) return input_ended ? key(escape_code, 1) : need_more;

    if (bytes[1] == '[' || bytes[1] == 'O') return decode_sequence(bytes, count, input_ended);

    KeyDecode rest;
    if (bytes[1] == esc) {
        // rxvt sends Alt with a special key as ESC and then the key's own
        // sequence; ESC ESC followed by anything else is Alt plus Esc.
        if (count == 2) return input_ended ? key(alt_key_code, 2) : need_more;
        if (bytes[2] != '[' && bytes[2] != 'O') return key(alt_key_code, 2);
        rest = decode_sequence(bytes + 1, count - 1, input_ended);
    } else {
        rest = decode_character(bytes + 1, count - 1, input_ended);
        rest.code = alt_key_code;
    }
    if (rest.status != KeyStatus::key) return rest;
    return key(rest.code, rest.length + 1);
}

}  // namespace

KeyDecode decode_key(const unsigned char *bytes, std::size_t count, bool input_ended) {
    if (count == 0) return input_ended ? KeyDecode{KeyStatus::no_key, 0, 0} : need_more;
    if (bytes[0] == esc) return decode_escape(bytes, count, input_ended);
    return decode_character(bytes, count, input_ended);
}
