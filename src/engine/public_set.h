#pragma once
// Shared run-time state of the station. Every variable here is read and
// written on the main thread only (timer ticks, handlers and the receive
// handler all run there), so nothing is locked or atomic.
#include <cstdint>
#include <string>
#include <vector>

using byte_t = std::uint8_t;

inline constexpr int kAddrTableSize = 101;  // addresses 0..100
inline constexpr int kDecPlacesSize = 91;   // addresses 0..90
inline constexpr int kMaxAddress = 90;      // highest address the station uses
inline constexpr int kInpDecTableSize = 18; // input types 0..17
inline constexpr int kEditQueueSize = 101;

// Request and reply context.
extern std::int32_t cur_addr;  // address of the request in flight; -1 = none
extern std::int32_t cur_code;  // parameter code of the request in flight
extern std::vector<byte_t> rx_buf;  // last received block at 1..n; [0] unused
extern byte_t reply_ok;        // cleared by a reply failing its check nibble

// Decoded values of the last valid reply.
extern double sv_value;
extern double pv_value;
extern std::int32_t mv_raw;  // output in hundredths
extern byte_t alarm_byte;
extern float para_value;

// Per-address tables.
extern byte_t addr_enabled[kAddrTableSize];
extern byte_t dec_places[kDecPlacesSize];
extern const byte_t inp_dec_table[kInpDecTableSize];
extern byte_t addr_slot[kAddrTableSize];

// Sequencing flags and counters.
extern byte_t write_pending;
extern byte_t ctrl_cmd_pending;
extern byte_t para_run_active;
extern byte_t scan_active;
extern byte_t inst_count;
extern byte_t cur_slot;
extern byte_t segment_count;
extern const std::int32_t run_code_base;  // 52

// Queue of grid edits.
extern std::int32_t edit_addr[kEditQueueSize];
extern std::int32_t edit_code[kEditQueueSize];
extern std::string edit_text[kEditQueueSize];
extern std::int32_t edit_count;
extern std::int32_t edit_next;
extern byte_t db_load_col;

// Chart clock and run tracking.
extern std::uint16_t chart_clock;  // seconds; chart x = chart_clock / 60
extern byte_t chart_running;
extern byte_t run_seen;
extern double deviation;

// Puts every variable back to its initial value (program start, tests).
void public_set_reset();

// Checked table access: an address outside the table reads as 0 and a write
// to it is dropped, so a cur_addr of -1 or above 90 never touches memory
// outside a table.
bool address_in(int address, int table_size);
int dec_places_of(int address);
void set_dec_places(int address, int places);

// Decimal places for an input-type value; -1 when the value has no entry.
int inp_dec_places(int input_type);
