// The verdict on a read-back and the summary of a run's writes.
#include "param_verify.h"
#include "replies.h"

#include <gtest/gtest.h>

namespace {

ReplyOutcome outcome(ReplyOutcome::Result result, int raw, bool sent = true)
{
    ReplyOutcome o;
    o.result = result;
    o.request.sent = sent;
    o.reply = param_reply(raw);
    return o;
}

} // namespace

TEST(ReadbackVerdict, OnlyAReadableReplyHoldingTheValueVerifies)
{
    using R = ReplyOutcome::Result;
    using V = ReadbackCheck::Verdict;
    const WrittenValue loal { 3, 4, -125.0f, 1, false };
    const WrittenValue manual { 3, 0, 55.5f, 1, true };
    auto corrupt = outcome(R::Reply, -1250);
    corrupt.reply[9] ^= 0x10;
    const struct {
        const char* name;
        WrittenValue write;
        ReplyOutcome got;
        V verdict;
        const char* text;
    } cases[] = {
        { "holds", loal, outcome(R::Reply, -1250), V::Verified, "LoAL 写 -125.0 读回 -125.0" },
        { "kept another value", loal, outcome(R::Reply, -1000), V::Mismatch, "LoAL 写 -125.0 读回 -100.0" },
        { "no reply", loal, outcome(R::NoReply, 0), V::Unverified, "LoAL 写 -125.0（无应答）" },
        { "not sent", loal, outcome(R::NoReply, 0, false), V::Unverified, "LoAL 写 -125.0（读回请求未能发出）" },
        { "void", loal, outcome(R::Voided, 0), V::Unverified, "LoAL 写 -125.0（应答无法辨认）" },
        { "bad check nibble", loal, corrupt, V::Unverified, "LoAL 写 -125.0（应答校验错）" },
        { "manual output in tenths", manual, outcome(R::Reply, 555), V::Verified, "MP 写 55.50 读回 55.50" },
        { "program segment in its place", manual, outcome(R::Reply, -2), V::Unverified,
            "MP 写 55.50（仪表报告的是程序段，读不到手动功率）" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ReadbackCheck check = judge_readback(c.write, c.got);
        EXPECT_EQ(check.verdict, c.verdict);
        EXPECT_EQ(check.text(), c.text);
    }
}

TEST(WriteTally, OneLinePerAddressWhenARunWroteToSeveral)
{
    using V = ReadbackCheck::Verdict;
    WriteTally tally;
    const auto check = [&](int address, int code, float written, V verdict, float returned) {
        ReadbackCheck c;
        c.write = { address, code, written, 1, false };
        c.verdict = verdict;
        c.returned = returned;
        c.why = "无应答";
        tally.written(address);
        tally.checked(c);
    };
    check(2, 4, -125.0f, V::Verified, -125.0f);
    check(2, 13, 600.0f, V::Verified, 600.0f);
    tally.written(2); // the address, not read back
    EXPECT_TRUE(tally.clean());
    EXPECT_EQ(tally.summary(), "写入 3 项，读回核对 2 项，全部相符");
    EXPECT_TRUE(tally.verified(2, 13));
    EXPECT_FALSE(tally.verified(2, 34));

    check(5, 4, -125.0f, V::Mismatch, -100.0f);
    check(5, 3, 150.0f, V::Unverified, 0);
    check(7, 4, -125.0f, V::Verified, -125.0f);
    tally.abandoned(7, "连续 3 项写入没有应答，其余参数未写入该仪表");
    EXPECT_FALSE(tally.clean());
    EXPECT_EQ(tally.summary(), "仪表 2：写入 3 项，读回核对 2 项，全部相符\n"
                               "仪表 5：写入 2 项，核对不符 1 项: LoAL 写 -125.0 读回 -100.0，未能核对 1 项: HiAL 写 150.0（无应答）\n"
                               "仪表 7：写入 1 项，读回核对 1 项，全部相符；连续 3 项写入没有应答，其余参数未写入该仪表");
    EXPECT_EQ(tally.short_text(), "核对不符 1 项，未能核对 1 项");
}
