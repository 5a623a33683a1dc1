#include "param_verify.h"

#include "frame_codec.h"
#include "param_set.h"


bool is_read_back(int code) { return code != 34 && code != 35; }

namespace {

std::string written_text(const WrittenValue& w) { return set_value_text(w.code, w.value, w.dec); }

std::string why_not_checked(const ReplyOutcome& outcome)
{
    switch (outcome.result) {
    case ReplyOutcome::Result::NoReply:
        return outcome.request.sent ? "无应答" : "读回请求未能发出";
    case ReplyOutcome::Result::Voided:
        return "应答无法辨认";
    case ReplyOutcome::Result::Reply:
        break;
    }
    return "应答校验错";
}

std::string list(const std::vector<ReadbackCheck>& checks)
{
    std::string text;
    for (const ReadbackCheck& c : checks)
        text += (text.empty() ? "" : "、") + c.text();
    return text;
}

} // namespace

std::string ReadbackCheck::text() const
{
    const std::string head = param_mnemonic(write.code) + " 写 " + written_text(write);
    if (verdict == Verdict::Unverified)
        return head + "（" + why + "）";
    return head + " 读回 " + set_value_text(write.code, returned, write.dec);
}

std::string ReadbackCheck::cell_hint() const
{
    const std::string head = "写入 " + written_text(write);
    switch (verdict) {
    case Verdict::Verified:
        return head + "，读回相符";
    case Verdict::Mismatch:
        return head + "，读回 " + set_value_text(write.code, returned, write.dec) + "：核对不符";
    case Verdict::Unverified:
        break;
    }
    return head + "，未能读回核对：" + why;
}

bool readable_reply(const ReplyOutcome& outcome)
{
    return outcome.result == ReplyOutcome::Result::Reply && reply_check_ok(outcome.reply.data());
}

ReadbackCheck judge_readback(const WrittenValue& write, const ReplyOutcome& outcome)
{
    ReadbackCheck check;
    check.write = write;
    if (!readable_reply(outcome)) {
        check.why = why_not_checked(outcome);
        return check;
    }
    const int raw = split_reply(outcome.reply.data()).raw;
    if (write.code == 0 && raw < 0) {
        // An instrument running a program reports its segment there.
        check.why = "仪表报告的是程序段，读不到手动功率";
        return check;
    }
    check.returned = static_cast<float>(decode_param_word(write.code, raw, write.dec));
    check.verdict = readback_holds(write.code, write.value, raw, write.dec) ? ReadbackCheck::Verdict::Verified
                                                                             : ReadbackCheck::Verdict::Mismatch;
    return check;
}

std::optional<WrittenValue> ReadbackLedger::take(const LineRequest& request)
{
    for (auto it = in_flight_.begin(); it != in_flight_.end(); ++it) {
        if (it->address == request.address && it->code == request.code) {
            const WrittenValue write = *it;
            in_flight_.erase(it);
            return write;
        }
    }
    return std::nullopt;
}

void WriteTally::checked(const ReadbackCheck& check)
{
    Address& a = by_address_[check.write.address];
    switch (check.verdict) {
    case ReadbackCheck::Verdict::Verified:
        a.verified.push_back(check);
        break;
    case ReadbackCheck::Verdict::Mismatch:
        a.mismatched.push_back(check);
        break;
    case ReadbackCheck::Verdict::Unverified:
        a.unverified.push_back(check);
        break;
    }
}

bool WriteTally::clean() const
{
    for (const auto& [address, a] : by_address_)
        if (!a.mismatched.empty() || !a.unverified.empty() || !a.abandoned.empty())
            return false;
    return true;
}

bool WriteTally::verified(int address, int code) const
{
    const auto it = by_address_.find(address);
    if (it == by_address_.end())
        return false;
    for (const ReadbackCheck& c : it->second.verified)
        if (c.write.code == code)
            return true;
    return false;
}

std::string WriteTally::summary() const
{
    std::string text;
    for (const auto& [address, a] : by_address_) {
        std::string line = "写入 " + std::to_string(a.written) + " 项";
        if (a.mismatched.empty() && a.unverified.empty())
            line += "，读回核对 " + std::to_string(a.verified.size()) + " 项，全部相符";
        if (!a.mismatched.empty())
            line += "，核对不符 " + std::to_string(a.mismatched.size()) + " 项: " + list(a.mismatched);
        if (!a.unverified.empty())
            line += "，未能核对 " + std::to_string(a.unverified.size()) + " 项: " + list(a.unverified);
        if (!a.abandoned.empty())
            line += "；" + a.abandoned;
        if (by_address_.size() > 1)
            line = "仪表 " + std::to_string(address) + "：" + line;
        text += (text.empty() ? "" : "\n") + line;
    }
    return text;
}

std::string WriteTally::short_text() const
{
    size_t verified = 0, mismatched = 0, unverified = 0;
    for (const auto& [address, a] : by_address_) {
        verified += a.verified.size();
        mismatched += a.mismatched.size();
        unverified += a.unverified.size();
    }
    if (mismatched == 0 && unverified == 0)
        return clean() ? "核对 " + std::to_string(verified) + " 项全部相符" : "写入未完成";
    std::string text;
    if (mismatched > 0)
        text = "核对不符 " + std::to_string(mismatched) + " 项";
    if (unverified > 0)
        text += (text.empty() ? "" : "，") + std::string("未能核对 ") + std::to_string(unverified) + " 项";
    return text;
}
