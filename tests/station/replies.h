#pragma once
// Replies as an instrument sends them, with a correct check nibble, for tests
// that feed the decoder or the receive handler.
#include <array>
#include <cstdint>

using ReplyBytes = std::array<std::uint8_t, 10>;

// A 10-byte reply: word A, word B (extra digit in the low nibble of byte 10),
// output word in hundredths, status byte and parameter word, each word
// little-endian; the check nibble (high nibble of byte 10) is the sum of the
// first nine bytes and the extra digit.
inline ReplyBytes reply_words(int a, int b, int extra, int mv, int status, int raw)
{
    ReplyBytes bytes { static_cast<std::uint8_t>(a & 0xFF), static_cast<std::uint8_t>((a >> 8) & 0xFF),
        static_cast<std::uint8_t>(b & 0xFF), static_cast<std::uint8_t>((b >> 8) & 0xFF),
        static_cast<std::uint8_t>(mv & 0xFF), static_cast<std::uint8_t>((mv >> 8) & 0xFF),
        static_cast<std::uint8_t>(status), static_cast<std::uint8_t>(raw & 0xFF),
        static_cast<std::uint8_t>((raw >> 8) & 0xFF), 0 };
    int sum = extra;
    for (int i = 0; i < 9; ++i)
        sum = (sum + bytes[static_cast<size_t>(i)]) & 0xFF;
    bytes[9] = static_cast<std::uint8_t>((sum & 0xF0) | (extra & 0x0F));
    return bytes;
}

// A reply carrying set value `sv` and process value `pv` in instrument counts
// (before the decimal places scale them; each at most 9999 in magnitude).
inline ReplyBytes reply_counts(int sv, int pv, int mv, int status, int raw)
{
    return reply_words(sv - pv, sv, 0, mv, status, raw);
}
