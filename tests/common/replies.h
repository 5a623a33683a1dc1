#pragma once
// Instrument replies as the station receives them: ten bytes with the words
// little-endian and a correct check nibble.
#include "public_set.h"

#include <array>
#include <cstdint>

using ReplyBytes = std::array<std::uint8_t, 10>;

// Word A, word B (its extra digit in the low nibble of byte 10), output word in
// hundredths, status byte, parameter word. The check nibble (high nibble of
// byte 10) is the sum of the first nine bytes and the extra digit.
inline ReplyBytes reply_bytes(int a, int b, int extra, int mv, int status, int raw)
{
    const int words[9] = { a & 0xFF, (a >> 8) & 0xFF, b & 0xFF, (b >> 8) & 0xFF, mv & 0xFF, (mv >> 8) & 0xFF,
        status & 0xFF, raw & 0xFF, (raw >> 8) & 0xFF };
    ReplyBytes out {};
    int s = extra & 0x0F;
    for (int i = 0; i < 9; ++i) {
        out[static_cast<size_t>(i)] = static_cast<std::uint8_t>(words[i]);
        s = (s + words[i]) & 0xFF;
    }
    out[9] = static_cast<std::uint8_t>((s & 0xF0) | (extra & 0x0F));
    return out;
}

// A reply carrying set value `sv` and process value `pv` in instrument counts
// (before the decimal places scale them; each at most 9999 in magnitude).
inline ReplyBytes reply_counts(int sv, int pv, int mv, int status, int raw)
{
    return reply_bytes(sv - pv, sv, 0, mv, status, raw);
}

// A reply that only carries a parameter word.
inline ReplyBytes param_reply(int raw)
{
    return reply_bytes(0, 0, 0, 0, 0, raw);
}

// The bytes as the serial component hands them to the receive handler.
inline const char* as_block(const ReplyBytes& reply)
{
    return reinterpret_cast<const char*>(reply.data());
}

// Places a reply in rx_buf[1..10], as the receive handler does.
inline void load_rx_buf(const ReplyBytes& reply)
{
    rx_buf.assign(1, 0);
    for (std::uint8_t b : reply)
        rx_buf.push_back(b);
}

// The same for a reply given by its words.
inline void receive_reply(int a, int b, int extra, int mv, int status, int raw)
{
    load_rx_buf(reply_bytes(a, b, extra, mv, status, raw));
}
