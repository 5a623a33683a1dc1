#pragma once
// Which instrument: the one rule that maps an address to its slot, its grid
// column and its panel. The poll, the scan, the dispatch, the commands and
// the runs ask here and never work these out themselves.
//
//   slot   - the 1-based rank of the address among the enabled addresses
//            0..90, whatever sweep, command or scan is under way; 0 when the
//            address is not enabled. Slots 1..12 have a panel and chart
//            channels.
//   column - the grid column titled by the address ("7#仪表"); 0 when the
//            grid has none. Columns are laid out by the scan and the read-all
//            run; a column is found by its title, never by a slot, so
//            ticking or unticking a box cannot make one instrument's values
//            land in another's column.
#include <vector>

class TStringGrid;

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
int column_of(const TStringGrid& grid, int address);
// True for slots with a panel and chart channels.
inline bool has_panel(int slot) { return slot >= 1 && slot <= kPanels; }

} // namespace roster
