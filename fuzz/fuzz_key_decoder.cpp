// Feeds arbitrary bytes through the key decoder the way the key read does,
// and checks what must hold for any input.
//
// Input: chunks, each a length byte (its low six bits) and that many bytes.
// A chunk's bytes arrive together; between chunks the sender pauses long
// enough that a key still waiting for bytes is cut short there.
#include <cstdint>
#include <cstdlib>

#include "console/key_decoder.h"

namespace {

void require(bool holds) {
    if (!holds) std::abort();
}

constexpr unsigned char esc = 0x1b;

// The bytes a code point takes in UTF-8.
std::size_t utf8_size(int code) {
    return code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
}

// Whether `code` is one that the decoding rules may give for this key.
void check_code(const unsigned char *key, std::size_t length, int code) {
    if (key[0] == esc) {
        require(length == 1 ? code == 27 : code == 0 || code == 224);
        return;
    }
    if (length == 1) {
        require(code == key[0]);  // a byte stands for itself
        return;
    }
    // A whole UTF-8 character: a valid code point written in exactly
    // `length` bytes, so it cannot be an overlong form.
    require(code >= 0x80 && code <= 0x10ffff && (code < 0xd800 || code > 0xdfff));
    require(utf8_size(code) == length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    unsigned char pending[max_key_length];
    std::size_t count = 0;
    bool input_ended = false;
    std::size_t chunk_left = 0;
    std::size_t at = 0;

    for (;;) {
        const KeyDecode decoded = decode_key(pending, count, input_ended);
        if (decoded.status == KeyStatus::no_key) {
            require(count == 0 && input_ended);
            return 0;
        }
        if (decoded.status == KeyStatus::key) {
            require(decoded.length >= 1 && decoded.length <= count);
            check_code(pending, decoded.length, decoded.code);
            // Unlike the key read, which stops after one key, go on with
            // what follows, as the next reader would.
            count -= decoded.length;
            for (std::size_t i = 0; i < count; ++i) pending[i] = pending[decoded.length + i];
            input_ended = false;
            continue;
        }
        // Need more: then the answer must change once the next byte comes
        // or input ends, and input that has ended never needs more.
        require(!input_ended && count < max_key_length);
        bool paused = false;
        while (chunk_left == 0 && at < size) {
            chunk_left = data[at++] & 0x3f;
            paused = true;
        }
        if (at >= size || (paused && count > 0)) {
            input_ended = true;  // end of input, or a pause cuts the key short
        } else {
            pending[count++] = data[at++];
            --chunk_left;
        }
    }
}
