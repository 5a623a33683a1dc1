#pragma once
// The frame codec bound to the shared state: the write frame takes its value
// class from cur_code and its scaling from the decimal places of cur_addr, and
// the reply decoder fills the decoded-value variables.
#include <cstdint>
#include <string>

// Write request for `value`. While ctrl_cmd_pending is set, cur_addr takes
// `address` first. The value is coded by the class of cur_code (callers set it
// to the same code they pass) with the decimal places of cur_addr.
std::string make_write_frame(std::uint8_t address, int code, float value);

// First step of reply handling for the reply of the request (address, code):
// tests the check nibble of the 10 bytes and, when it holds, sets sv_value,
// pv_value, mv_raw, alarm_byte, para_value and, for code 22 / 40,
// dec_places[address] / segment_count. The reply to a manual-output command
// (code 0, command_reply) carries no value of its own: para_value becomes the
// value that was written. An invalid reply only clears reply_ok. Returns
// whether the reply was valid.
bool decode_reply(const std::uint8_t* reply, int address, int code, bool command_reply, float written);

// The same for the reply in rx_buf[1..10] to the request described by
// cur_addr, cur_code and ctrl_cmd_pending (the written value being the one in
// para_value). rx_buf must hold at least 11 elements.
bool decode_reply();

// The parameter word of the last decoded reply (signed 16 bits).
int last_reply_raw();
