#pragma once
// Read-back verification of parameter writes. After a parameter write the
// station reads the code back and compares the instrument's value with what
// was written, at the parameter's resolution. This file keeps the books: the
// writes whose read-back is under way, the verdict on each read-back, and
// what a run's writes came to, per address.
#include "reply_matcher.h"

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

// A parameter write whose read-back is due or under way.
struct WrittenValue {
    int address = 0;
    int code = 0;
    float value = 0; // the value sent (after the clamp)
    int dec = 0; // the address's decimal places when it was sent
    bool command = false; // a control command's write, checked on its own
};

// The address (code 34) and the baud rate (code 35) move the instrument or
// its line: it answers elsewhere afterwards, so they are not read back.
bool is_read_back(int code);

struct ReadbackCheck {
    enum class Verdict { Verified, Mismatch, Unverified };
    WrittenValue write;
    Verdict verdict = Verdict::Unverified;
    float returned = 0; // the value read back (Verified, Mismatch)
    std::string why; // why it could not be checked (Unverified)

    // "LoAL 写 -125.00 读回 -100.00", "LoAL 写 -125.00（无应答）".
    std::string text() const;
    // The grid cell's tooltip: "写入 -125.00，读回 -100.00：核对不符".
    std::string cell_hint() const;
};

// A reply came and its check nibble holds.
bool readable_reply(const ReplyOutcome& outcome);

// The verdict on a decided read-back of `write`. No reply, a void or
// unreadable reply, or a manual-output read-back that carries the program
// segment instead leave the write unverified.
ReadbackCheck judge_readback(const WrittenValue& write, const ReplyOutcome& outcome);

// Writes waiting for their read-back (or for the request that precedes
// it), in request order.
class ReadbackLedger {
public:
    void sent(const WrittenValue& write) { in_flight_.push_back(write); }
    // The write a decided read-back request was for; nothing when it was
    // for none (a ledger cleared by a stop).
    std::optional<WrittenValue> take(const LineRequest& request);
    void clear() { in_flight_.clear(); }

private:
    std::deque<WrittenValue> in_flight_;
};

// What the writes of one run came to, per address.
class WriteTally {
public:
    void written(int address) { ++by_address_[address].written; }
    void checked(const ReadbackCheck& check);
    // Writing to an address stopped early (it stopped answering).
    void abandoned(int address, const std::string& why) { by_address_[address].abandoned = why; }
    void clear() { by_address_.clear(); }

    bool empty() const { return by_address_.empty(); }
    // Every read-back verified and nothing abandoned.
    bool clean() const;
    bool verified(int address, int code) const;
    // One line per address ("仪表 3：" first when the run wrote to several):
    //   "写入 52 项，读回核对 50 项，全部相符"
    //   "写入 52 项，核对不符 1 项: LoAL 写 -125.00 读回 -100.00"
    std::string summary() const;
    // A few words for the parameter page: "核对 50 项全部相符", "核对不符 1 项".
    std::string short_text() const;

private:
    struct Address {
        int written = 0;
        std::vector<ReadbackCheck> verified, mismatched, unverified;
        std::string abandoned;
    };
    std::map<int, Address> by_address_;
};
