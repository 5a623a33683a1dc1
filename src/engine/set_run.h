#pragma once
// The set run (channel 6 of iTimers1): one request per tick from a list of
// steps worked out when the run starts. A copy writes one parameter set to
// several instruments, every write read back on the following tick; an
// inspection reads instruments' sets for a comparison without touching the
// grid or ai_para.
#include "param_set.h"

#include <map>
#include <set>
#include <vector>

// Writes answered by nobody in a row before a run gives up on an instrument:
// it is gone (or moved), and the rest would only be lost.
inline constexpr int kSilentWritesLimit = 3;

struct SetStep {
    int address = 0; // where the request goes
    int code = 0;
    float value = 0; // written value (writes)
    bool write = false;
    int instrument = 0; // whose step it is (the baud rate goes to a new address)
};

// The writes that copy `set` to each target in turn, in ascending code order.
// The address (34) and the baud rate (35) are left out unless asked for; then
// they go last, and the baud rate to the instrument's new address.
std::vector<SetStep> copy_steps(const ParamSet& set, const std::vector<int>& targets, bool with_address_and_baud);

// The reads of an instrument's fixed parameters, codes 1..52; the program
// segments follow once the reply to code 40 has told how many there are.
std::vector<SetStep> inspection_steps(int address);

// Inserts the reads of the program segment pairs up to `last_code` after the
// last step of `address`, and not before index `from` (the next step to go).
void add_segment_reads(std::vector<SetStep>& steps, size_t from, int address, int last_code);

struct SetRun {
    bool active = false;
    bool inspecting = false; // reads for a comparison (else a copy)
    std::vector<SetStep> steps;
    size_t next = 0;
    int requests = 0; // requests sent so far (writes, read-backs and reads)
    // Copy: unanswered writes in a row per address, and the addresses given up.
    std::map<int, int> silent_in_row;
    std::set<int> abandoned;
    // Inspection: the parameter words each instrument answered (address ->
    // code -> word), and the number its result is reported under.
    std::map<int, std::map<int, int>> words;
    int inspection_id = 0;
};
