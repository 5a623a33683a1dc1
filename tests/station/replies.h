#pragma once
// Instrument replies as the station receives them: ten bytes with the words
// little-endian and a correct check nibble.
#include "public_set.h"

#include <array>

// Word A, word B (its extra digit in the low nibble of byte 10), output word,
// status byte, parameter word.
inline std::array<char, 10> reply_bytes(int a, int b, int extra, int mv, int status, int raw)
{
    int bytes[10] = { a & 0xFF, (a >> 8) & 0xFF, b & 0xFF, (b >> 8) & 0xFF, mv & 0xFF, (mv >> 8) & 0xFF,
        status & 0xFF, raw & 0xFF, (raw >> 8) & 0xFF, extra & 0x0F };
    int s = extra & 0x0F;
    for (int i = 0; i < 9; ++i)
        s = (s + bytes[i]) & 0xFF;
    bytes[9] = (s & 0xF0) | (extra & 0x0F);
    std::array<char, 10> out {};
    for (int i = 0; i < 10; ++i)
        out[static_cast<size_t>(i)] = static_cast<char>(bytes[i]);
    return out;
}

// A reply that only carries a parameter word.
inline std::array<char, 10> param_reply(int raw)
{
    return reply_bytes(0, 0, 0, 0, 0, raw);
}

// Places a reply in rx_buf[1..10], as the receive handler does.
inline void load_rx_buf(const std::array<char, 10>& reply)
{
    rx_buf.assign(1, 0);
    for (char c : reply)
        rx_buf.push_back(static_cast<byte_t>(c));
}

// The same for a reply given by its words.
inline void receive_reply(int a, int b, int extra, int mv, int status, int raw)
{
    load_rx_buf(reply_bytes(a, b, extra, mv, status, raw));
}
