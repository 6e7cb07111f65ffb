// Turns the bytes a key sends into that key's code.
#ifndef CONSOLE_KEY_DECODER_H
#define CONSOLE_KEY_DECODER_H

#include <cstddef>

enum class KeyStatus {
    key,        // the bytes begin with a whole key
    need_more,  // the bytes so far begin a longer key
    no_key,     // there are no bytes and no more will come
};

struct KeyDecode {
    KeyStatus status;
    int code;            // the key's code, when status is key
    std::size_t length;  // how many bytes the key takes, when status is key
};

// The longest escape sequence taken as one key; a longer one is cut there.
constexpr std::size_t max_sequence_length = 32;
// The longest key: Alt (one more ESC) plus the longest sequence.
constexpr std::size_t max_key_length = 1 + max_sequence_length;

// Decodes the key at the start of bytes[0, count). When input_ended is
// true no more bytes will follow (end of input, or the rest of a sequence
// did not come in time), so the answer is never need_more.
KeyDecode decode_key(const unsigned char *bytes, std::size_t count, bool input_ended);

#endif
