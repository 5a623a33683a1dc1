#include "roster.h"

#include "public_set.h"

namespace roster {

bool enabled(int address) { return address >= 0 && address <= kMaxAddress && addr_enabled[address] != 0; }

int rank(int address)
{
    const int last = address < kAddrTableSize ? address : kAddrTableSize - 1;
    int n = 0;
    for (int a = 0; a <= last; ++a)
        n += addr_enabled[a] ? 1 : 0;
    return n;
}

int slot_of(int address) { return enabled(address) ? rank(address) : 0; }

int count()
{
    int n = 0;
    for (int a = 0; a <= kMaxAddress; ++a)
        n += addr_enabled[a] ? 1 : 0;
    return n;
}

std::vector<int> addresses()
{
    std::vector<int> list;
    for (int a = 0; a <= kMaxAddress; ++a)
        if (addr_enabled[a])
            list.push_back(a);
    return list;
}

int next_enabled(int after, int limit)
{
    const int last = limit < kMaxAddress ? limit : kMaxAddress;
    for (int a = after < -1 ? 0 : after + 1; a <= last; ++a)
        if (addr_enabled[a])
            return a;
    return -1;
}

} // namespace roster
