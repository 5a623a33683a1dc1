#pragma once
// Instrument replies as the station receives them: ten bytes with the words
// little-endian and a correct check nibble.
#include "public_set.h"

#include <array>

// word A, word B (its extra digit in the low nibble of byte 10), output word,
// status byte, parameter word.
inline std::array<char, 10> reply_bytes(int a, int b, int extra, int mv, int status, int raw)
{
    const int bytes[10] = { a & 0xFF, (a >> 8) & 0xFF, b & 0xFF, (b >> 8) & 0xFF, mv & 0xFF, (mv >> 8) & 0xFF,
        status & 0xFF, raw & 0xFF, (raw >> 8) & 0xFF, extra };
    int s = extra;
    for (int i = 0; i < 9; ++i)
        s = (s + bytes[i]) & 0xFF;
    std::array<char, 10> out {};
    for (int i = 0; i < 9; ++i)
        out[static_cast<size_t>(i)] = static_cast<char>(bytes[i]);
    out[9] = static_cast<char>((s & 0xF0) | extra);
    return out;
}

// A reply that only carries a parameter word.
inline std::array<char, 10> param_reply(int raw)
{
    return reply_bytes(0, 0, 0, 0, 0, raw);
}

// Places a reply in rx_buf[1..10].
inline void load_rx_buf(const std::array<char, 10>& reply)
{
    rx_buf.assign(1, 0);
    for (char c : reply)
        rx_buf.push_back(static_cast<byte_t>(c));
}
