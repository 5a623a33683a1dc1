#pragma once
// Which instrument: the one rule that maps an address to its slot and its
// panel. The poll, the scan, the dispatch, the commands and the runs ask here
// and never work these out themselves.
//
//   slot   - the 1-based rank of the address among the enabled addresses
//            0..90, whatever sweep, command or scan is under way; 0 when the
//            address is not enabled. Slots 1..12 have a panel and chart
//            channels.
//
// A parameter column belongs to its address (ParamTable), never to a slot, so
// ticking or unticking a box cannot make one instrument's values land in
// another's column.
#include <vector>

namespace roster {

inline constexpr int kPanels = 12;

bool enabled(int address);
// The number of enabled addresses from 0 up to `address` (never past the
// table's end): the slot of an enabled address, the count below it otherwise.
int rank(int address);
int slot_of(int address);
int count();
std::vector<int> addresses();
// The lowest enabled address above `after` and not above `limit`; -1 when none.
int next_enabled(int after, int limit);
// True for slots with a panel and chart channels.
inline bool has_panel(int slot) { return slot >= 1 && slot <= kPanels; }

} // namespace roster
