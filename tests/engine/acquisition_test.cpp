// Poll cycle, reply dispatch, the address table and the scan, on the engine:
// sends are recorded as the engine hands them to the serial component,
// replies go in through the receive handler, and handlers are called
// directly instead of waiting for timers.
#include "engine_fixture.h"

#include "frame_codec.h"
#include "param_catalogue.h"
#include "param_text.h"
#include "roster.h"

#include <QElapsedTimer>

#include <algorithm>
#include <optional>
#include <vector>

namespace {

std::string read_frame(int address, int code)
{
    return make_read_frame(static_cast<std::uint8_t>(address), code);
}

class Acquisition : public EngineFixture {
protected:
    // One scan tick; the probe it sent is answered with `reply` when given.
    // Every reply window is decided before the next tick.
    void scan_tick(const std::optional<ReplyBytes>& reply = std::nullopt)
    {
        engine().iTimers1Timer3();
        if (reply)
            inject(*reply);
        else
            engine().settle_replies();
    }
    // Runs a scan to its end; the addresses in `answering` answer their probe
    // (input type 0).
    void scan(const std::vector<int>& answering)
    {
        engine().start_scan();
        for (int t = 0; t < 200 && scan_active; ++t) {
            const int next = cur_addr + 1;
            const bool answers = std::find(answering.begin(), answering.end(), next) != answering.end();
            scan_tick(answers ? std::optional(reply_counts(0, 0, 0, 0, 0)) : std::nullopt);
        }
        ASSERT_EQ(scan_active, 0);
    }
    // Ticks the poll until it has sent a request to `address`.
    void poll_until(int address)
    {
        for (int i = 0; i < 200 && cur_addr != address; ++i)
            engine().Timer1Timer();
        ASSERT_EQ(cur_addr, address);
    }
    // Messages that are not plain information.
    QStringList problems() const
    {
        QStringList out;
        for (const EngineMessage& m : messages)
            if (m.level != EngineMessage::Level::Info)
                out << m.source + QStringLiteral(": ") + m.text;
        return out;
    }
};

} // namespace

// --- Poll cycle --------------------------------------------------------------

TEST_F(Acquisition, NoAddressEnabledZeroesSendsNothingAndClosesEverySweep)
{
    Engine& e = start_engine();
    chart_running = 1;
    sv_value = 1;
    pv_value = 2;
    para_value = 3;
    alarm_byte = 4;
    mv_raw = 5;
    e.Timer1Timer();
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(sv_value, 0);
    EXPECT_EQ(pv_value, 0);
    EXPECT_EQ(para_value, 0);
    EXPECT_EQ(alarm_byte, 0);
    EXPECT_EQ(mv_raw, 0);
    EXPECT_EQ(cur_addr, -1);
    EXPECT_EQ(chart_running, 0);
    e.Timer1Timer();
    EXPECT_TRUE(frames.empty());
}

TEST_F(Acquisition, SweepOverTwoAndFiveEndsWithASilentTick)
{
    Engine& e = start_engine();
    std::vector<int> sent_to; // the address each frame was reported for
    QObject::connect(
        &e, &Engine::frame_sent, [&](const QByteArray&, int address) { sent_to.push_back(address); });
    e.set_address_limit(8);
    addr_enabled[2] = addr_enabled[5] = 1;
    struct Step {
        int addr, slot;
    };
    const Step steps[] = { { 2, 1 }, { 5, 2 }, { -1, 0 }, { 2, 1 } };
    size_t sent = 0;
    for (const Step& s : steps) {
        e.Timer1Timer();
        EXPECT_EQ(cur_addr, s.addr);
        EXPECT_EQ(cur_slot, s.slot);
        if (s.addr >= 0) {
            ASSERT_EQ(frames.size(), ++sent);
            EXPECT_EQ(frames.back(), read_frame(s.addr, 0));
            EXPECT_EQ(sent_to.back(), s.addr);
            EXPECT_EQ(addr_slot[s.addr], s.slot);
            EXPECT_EQ(cur_code, 0);
        } else {
            EXPECT_EQ(frames.size(), sent); // the tick that closes the sweep sends nothing
        }
    }
}

// The address limit is inclusive. A limit outside 1..90 is refused with a
// message and the engine keeps its last good one: polling never stops for it.
TEST_F(Acquisition, AddressLimitIsInclusiveAndABadLimitKeepsTheLastGoodOne)
{
    struct Case {
        int limit;
        std::vector<int> enabled;
        std::vector<int> polled; // one sweep
        bool refused;
    };
    const Case cases[] = {
        { 5, { 5, 6 }, { 5 }, false },
        { 8, { 0, 8, 9 }, { 0, 8 }, false },
        { 90, { 3, 90 }, { 3, 90 }, false },
        { 91, { 0, 1 }, { 0, 1 }, true }, // the default limit 8 stays
        { 200, { 3, 9 }, { 3 }, true },
        { 0, { 0, 1 }, { 0, 1 }, true },
        { -3, { 0, 1 }, { 0, 1 }, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limit);
        Engine& e = start_engine();
        e.request([&] { e.set_address_limit(c.limit); }, "巡检");
        if (c.refused) {
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_TRUE(messages[0].refusal);
            EXPECT_EQ(messages[0].text, QStringLiteral("地址上限须为 1 到 90 之间的整数，仍为 8"));
            EXPECT_EQ(e.address_limit(), 8);
        } else {
            EXPECT_TRUE(messages.empty()) << said();
            EXPECT_EQ(e.address_limit(), c.limit);
        }
        for (int a : c.enabled)
            addr_enabled[a] = 1;
        do
            e.Timer1Timer();
        while (cur_addr != -1);
        std::vector<std::string> expected;
        for (int a : c.polled)
            expected.push_back(read_frame(a, 0));
        EXPECT_EQ(frames, expected);
    }
}

TEST_F(Acquisition, ReadAllTimerSuppressesSendsButTheSweepAdvances)
{
    Engine& e = start_engine();
    addr_enabled[1] = addr_enabled[3] = 1;
    e.iTimers1->SetEnabled(1, true);
    cur_code = 17;
    e.Timer1Timer();
    e.Timer1Timer();
    e.iTimers1->SetEnabled(1, false);
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(cur_addr, 3);
    EXPECT_EQ(cur_slot, 2);
    EXPECT_EQ(cur_code, 17);
}

TEST_F(Acquisition, ChartClockRunsInTheSweepAfterARunningInstrumentAndWraps)
{
    Engine& e = start_engine();
    addr_enabled[1] = 1;
    e.Timer1Timer(); // sends to 1
    run_seen = 1; // as a reply of a running instrument leaves it
    e.Timer1Timer(); // closes the sweep
    EXPECT_EQ(chart_running, 1);
    EXPECT_EQ(run_seen, 0);
    chart_clock = 65535;
    const int period = e.poll_period();
    ASSERT_GT(period, 0);
    e.Timer1Timer();
    EXPECT_EQ(chart_clock, (65535 + period) % 65536);
}

TEST_F(Acquisition, SendReportsTheFrameAndDarkensTheLampAndPausesEvenOnAClosedPort)
{
    Engine& e = start_engine();
    ASSERT_FALSE(e.serial()->is_open());
    QByteArray frame;
    int address = -2;
    std::vector<bool> lamp;
    QObject::connect(&e, &Engine::frame_sent, [&](const QByteArray& f, int a) {
        frame = f;
        address = a;
    });
    QObject::connect(&e, &Engine::comm_led, [&](bool lit) { lamp.push_back(lit); });
    e.send_pause_ms = 200;
    cur_addr = 12;
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(e.scomm485_write_command(read_frame(12, 0), RequestKind::Poll));
    EXPECT_GE(clock.elapsed(), 200);
    EXPECT_EQ(frame, QByteArray::fromStdString(read_frame(12, 0)));
    EXPECT_EQ(address, 12);
    EXPECT_EQ(lamp, std::vector<bool> { false });
    EXPECT_EQ(frames.size(), 1u);
    // The window is open even though the closed port refused the frame: it
    // is decided as unanswered.
    EXPECT_TRUE(e.replies.pending(RequestKind::Poll));
}

TEST_F(Acquisition, ReceiveReportsTenByteBlocksOnlyAndRejectsABadCheck)
{
    Engine& e = start_engine();
    std::vector<QByteArray> received;
    std::vector<bool> lamp;
    QObject::connect(&e, &Engine::frame_received, [&](const QByteArray& b) { received.push_back(b); });
    QObject::connect(&e, &Engine::comm_led, [&](bool lit) { lamp.push_back(lit); });
    dec_places[1] = 1;
    const ReplyBytes worked { 0x22, 0x00, 0xD2, 0x04, 0x7C, 0x15, 0x08, 0x07, 0x00, 0x90 };
    answer(RequestKind::Poll, 1, 0, worked);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].toHex().toUpper(), QByteArray("2200D2047C1508070090"));
    EXPECT_EQ(lamp, std::vector<bool> { true });
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_DOUBLE_EQ(shown[0].sv, 123.4);
    EXPECT_DOUBLE_EQ(shown[0].pv, 120.0);

    // Blocks of any other length leave no trace.
    e.SComm1_485ReceiveData(nullptr, as_block(worked), 9);
    e.SComm1_485ReceiveData(nullptr, "12345678901", 11);
    e.settle_replies();
    EXPECT_EQ(received.size(), 1u);
    EXPECT_EQ(lamp.size(), 1u);

    // A failed check nibble is reported as received, clears reply_ok and
    // shows nothing.
    ReplyBytes bad = reply_counts(500, 400, 0, 0, 0);
    bad[9] ^= 0x10;
    answer(RequestKind::Poll, 1, 0, bad);
    EXPECT_EQ(received.size(), 2u);
    EXPECT_EQ(reply_ok, 0);
    EXPECT_EQ(shown.size(), 1u);
}

// --- Reply dispatch -----------------------------------------------------------

TEST_F(Acquisition, MainPanelPrecisionFollowsDecimalPlacesAndMagnitude)
{
    struct Case {
        int dec, a, b, extra;
        double sv, pv;
        int sv_precision, pv_precision;
    };
    const Case cases[] = {
        { 1, 0, 123, 0, 12.3, 12.3, 1, 1 },
        { 1, 1234, 1234, 0, 123.4, 0, 2, 1 },
        { 1, 0, 10234, 5, 1234.5, 1234.5, 1, 1 }, // five-digit code of 12345
        { 3, 0, 22567, 8, 456.78, 456.78, 2, 2 }, // 456.789 carried as 456.78
        { 1, -1000, 100, 0, 10.0, 110.0, 1, 2 },
        { 0, 0, -1500, 0, -1500, -1500, 1, 1 },
    };
    start_engine();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sv);
        dec_places[1] = static_cast<byte_t>(c.dec);
        answer(RequestKind::Poll, 1, 0, reply_bytes(c.a, c.b, c.extra, 0, 0, 0));
        ASSERT_FALSE(shown.empty());
        EXPECT_NEAR(shown.back().sv, c.sv, 1e-9);
        EXPECT_NEAR(shown.back().pv, c.pv, 1e-9);
        EXPECT_EQ(shown.back().sv_precision, c.sv_precision);
        EXPECT_EQ(shown.back().pv_precision, c.pv_precision);
    }
}

TEST_F(Acquisition, CodeZeroSegmentWordFillsTheCellAndTheShownSegment)
{
    Engine& e = start_engine();
    enable({ 1, 2, 4 });
    poll_until(4);
    ASSERT_EQ(cur_slot, 3);
    inject(reply_counts(100, 100, 0, 0, -4));
    EXPECT_EQ(e.params().cell(4, 2), QStringLiteral("4"));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].slot, 3);
    EXPECT_TRUE(shown[0].has_segment);
    EXPECT_EQ(shown[0].segment, QStringLiteral("4"));

    // A non-negative word leaves the cell; the segment shown is what it holds.
    e.param_table.set_cell(4, 2, QStringLiteral("9"));
    poll_until(1);
    poll_until(4);
    inject(reply_counts(100, 100, 0, 0, 7));
    EXPECT_EQ(e.params().cell(4, 2), QStringLiteral("9"));
    EXPECT_EQ(shown.back().segment, QStringLiteral("9"));
}

TEST_F(Acquisition, CodeTwoAbove908IsStoredAndPutInTheTableAsZero)
{
    struct Case {
        int raw;
        const char* cell;
        double stored;
    };
    const Case cases[] = { { 950, "0", 0 }, { 900, "900", 900 } };
    Engine& e = start_engine();
    enable({ 1 });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.raw);
        answer(RequestKind::ReadRun, 1, 2, reply_counts(0, 0, 0, 0, c.raw));
        EXPECT_EQ(e.params().cell(1, 3), QString::fromLatin1(c.cell));
        EXPECT_DOUBLE_EQ(
            db_value(QStringLiteral("SELECT no1 FROM ai_para WHERE id = 3")).toDouble(), c.stored);
        EXPECT_FLOAT_EQ(shown.back().val, static_cast<float>(c.raw)); // the main panel shows what came
    }
}

TEST_F(Acquisition, ManualOutputReplyFillsRowOneAndEndsTheCommand)
{
    Engine& e = start_engine();
    enable({ 3 });
    e.param_table.set_cell(3, 43, QStringLiteral("10000"));
    e.param_table.set_cell(3, 2, QStringLiteral("5"));
    e.manual_output(3, 37.5);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(ctrl_cmd_pending, 1);
    EXPECT_EQ(write_pending, 1);
    const qint64 rows = mea_rows();
    inject(reply_counts(100, 90, 3750, 0, -2));
    EXPECT_EQ(e.params().cell(3, 1), QStringLiteral("37.50"));
    EXPECT_EQ(e.params().cell(3, 2), QStringLiteral("5")); // no segment from a command reply
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, RequestKind::Command);
    EXPECT_FALSE(shown[0].has_segment);
    EXPECT_EQ(ctrl_cmd_pending, 0);
    EXPECT_EQ(write_pending, 0);
    EXPECT_EQ(mea_rows(), rows);
    // The command's window is decided: its read-back of code 0 goes out.
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1], read_frame(3, 0));
}

TEST_F(Acquisition, EveryReplyOfTheReadAllRunMovesTheTopRow)
{
    Engine& e = start_engine();
    std::vector<int> top;
    QObject::connect(&e, &Engine::param_top_row, [&](int row) { top.push_back(row); });
    enable({ 1 });
    e.iTimers1->SetEnabled(1, true);
    for (int code = 1; code <= 3; ++code)
        answer(RequestKind::ReadRun, 1, code, reply_counts(0, 0, 0, 0, 5));
    e.iTimers1->SetEnabled(1, false);
    answer(RequestKind::ReadRun, 1, 4, reply_counts(0, 0, 0, 0, 5)); // a column read's: no scrolling
    EXPECT_EQ(top, (std::vector<int> { 2, 3, 4 }));
}

// A poll reply goes to its slot and into the log, the row stamped with the
// time the reply arrived, which the report carries too.
TEST_F(Acquisition, PollReplyFillsItsSlotAndLogsAMeasurement)
{
    Engine& e = start_engine();
    enable({ 1, 2, 3, 4, 5, 17 });
    e.set_address_limit(20);
    dec_places[17] = 1;
    poll_until(17);
    ASSERT_EQ(cur_slot, 6);
    const qint64 rows = mea_rows();
    inject(reply_counts(250, 253, 4550, 0x84, -2));

    ASSERT_EQ(shown.size(), 1u);
    const ReplyShown& r = shown[0];
    EXPECT_EQ(r.address, 17);
    EXPECT_EQ(r.kind, RequestKind::Poll);
    EXPECT_EQ(r.slot, 6);
    EXPECT_NEAR(r.sv, 25.0, 1e-9);
    EXPECT_NEAR(r.pv, 25.3, 1e-9);
    EXPECT_NEAR(r.mv, 45.5, 1e-9);
    EXPECT_EQ(r.sv_precision, 1);
    EXPECT_EQ(r.pv_precision, 1);
    EXPECT_EQ(r.alarm, 0x84);
    EXPECT_EQ(r.segment, QStringLiteral("2"));
    EXPECT_EQ(r.run_state, -1);
    EXPECT_EQ(run_seen, 1);

    ASSERT_EQ(mea_rows(), rows + 1);
    const QString last = QStringLiteral("SELECT %1 FROM mea_tbl ORDER BY rowid DESC LIMIT 1");
    EXPECT_EQ(db_value(last.arg(QStringLiteral("address"))).toString(), QStringLiteral("17#仪表"));
    EXPECT_DOUBLE_EQ(db_value(last.arg(QStringLiteral("sv"))).toDouble(), 25.0);
    EXPECT_NEAR(db_value(last.arg(QStringLiteral("pv"))).toDouble(), 25.3, 1e-9);
    EXPECT_DOUBLE_EQ(db_value(last.arg(QStringLiteral("mv"))).toDouble(), 45.5);
    EXPECT_DOUBLE_EQ(db_value(last.arg(QStringLiteral("val"))).toDouble(), para_value);
    EXPECT_EQ(db_value(last.arg(QStringLiteral("alm"))).toInt(), 0x84);
    const std::optional<qint64> logged
        = db_clock_ms(db_value(last.arg(QStringLiteral("\"time\""))).toString());
    ASSERT_TRUE(logged);
    EXPECT_EQ(*logged, db_clock_ms(r.arrived));
}

// Each instrument's alarms are followed from the status bytes of its poll
// replies; every change goes to the alarm history, and the window is told.
TEST_F(Acquisition, PollRepliesLogTheirAlarmTransitions)
{
    Engine& e = start_engine();
    int appended = 0;
    QObject::connect(&e, &Engine::alarms_appended, [&] { ++appended; });
    enable({ 1, 2 });
    e.set_address_limit(5);
    const struct {
        int address;
        int status;
    } replies[] = { { 1, 0x00 }, { 2, 0x40 }, { 1, 0x40 }, { 2, 0x40 }, { 1, 0x60 }, { 2, 0x00 } };
    for (const auto& r : replies) {
        poll_until(r.address);
        inject(reply_counts(0, 0, 0, r.status, 0));
    }
    EXPECT_EQ(db_value(QStringLiteral("SELECT group_concat(address || ' ' || alarm || ' ' || raised, ';') "
                                      "FROM (SELECT * FROM alarm_log ORDER BY id)"))
                  .toString(),
        QStringLiteral("2 HIAL 1;1 HIAL 1;1 LoAL 1;2 HIAL 0"));
    EXPECT_EQ(appended, 4);
    // Transitions come from poll replies only: a command's status byte is no
    // measurement.
    answer(RequestKind::Command, 1, 10, reply_counts(0, 0, 0, 0x00, 0));
    EXPECT_EQ(db_value(QStringLiteral("SELECT COUNT(*) FROM alarm_log")).toInt(), 4);
}

TEST_F(Acquisition, StoppedInstrumentDoesNotRunTheChartClock)
{
    Engine& e = start_engine();
    enable({ 1 });
    poll_until(1);
    e.param_table.set_cell(1, 11, QStringLiteral("StoP"));
    inject(reply_counts(100, 100, 0, 0, 0));
    EXPECT_EQ(run_seen, 0);
    e.param_table.set_cell(1, 11, QStringLiteral("run"));
    answer(RequestKind::Poll, 1, 0, reply_counts(100, 100, 0, 0, 0));
    EXPECT_EQ(run_seen, 1);
}

// The answer to a command for an address that is not polled has no column
// and no slot: no other column changes, nothing is logged, and its report
// names no slot and no run state.
TEST_F(Acquisition, ReplyOfAnAddressWithoutASlotTouchesNoOtherColumnOrTheLog)
{
    Engine& e = start_engine();
    enable({ 1, 2 });
    e.set_control_address(9);
    for (int a : { 1, 2 })
        for (int row = 1; row <= kParamRows; ++row)
            e.param_table.set_cell(a, row, QString::number(a * 1000 + row));
    (void)e.param_table.take_changes();
    const qint64 rows = mea_rows();
    struct Case {
        int addr, code, raw;
    };
    const Case cases[] = { { 9, 0, -3 }, { 9, 5, 123 }, { 9, 10, 0 }, { 30, 10, 2 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.addr * 1000 + c.code);
        answer(RequestKind::Command, c.addr, c.code, reply_counts(100, 120, 500, 0xFC, c.raw));
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.back().address, c.addr);
        EXPECT_EQ(shown.back().slot, 0);
        EXPECT_EQ(shown.back().run_state, -1);
        EXPECT_FALSE(shown.back().has_segment);
    }
    EXPECT_FALSE(e.param_table.changed());
    EXPECT_EQ(mea_rows(), rows);
    EXPECT_EQ(db_value(QStringLiteral("SELECT COUNT(*) FROM alarm_log")).toInt(), 0);
    EXPECT_TRUE(messages.empty()) << said();
}

TEST_F(Acquisition, ThirteenthInstrumentHasAColumnButNoPanelSlot)
{
    Engine& e = start_engine();
    std::vector<int> addresses;
    for (int a = 0; a <= 12; ++a)
        addresses.push_back(a);
    enable(addresses);
    e.set_address_limit(20);
    e.set_control_address(12);
    poll_until(12);
    ASSERT_EQ(cur_slot, 13);
    const qint64 rows = mea_rows();
    inject(reply_counts(100, 120, 500, 0xFC, -2));
    EXPECT_EQ(e.params().cell(12, 2), QStringLiteral("2"));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].slot, 13);
    EXPECT_EQ(shown[0].segment, QStringLiteral("2"));
    EXPECT_EQ(mea_rows(), rows + 1); // the poll reply is logged
    // The control address's run state has no lamp to go to.
    answer(RequestKind::Command, 12, 10, reply_counts(100, 120, 500, 0xFC, 0));
    EXPECT_EQ(e.params().cell(12, 11), QString::fromStdString(param_value_text(10, 0, 0)));
    EXPECT_EQ(shown.back().run_state, -1);
    // Only the alarms of its status byte are said.
    EXPECT_TRUE(std::all_of(messages.begin(), messages.end(),
        [](const EngineMessage& m) { return m.source == QStringLiteral("报警"); }))
        << said();
}

TEST(Roster, SlotIsTheRankAmongTheEnabledAddresses)
{
    public_set_reset();
    addr_enabled[3] = addr_enabled[7] = addr_enabled[20] = 1;
    const std::pair<int, int> ranks[]
        = { { 3, 1 }, { 7, 2 }, { 20, 3 }, { 5, 1 }, { 0, 0 }, { 100, 3 }, { 255, 3 } };
    for (auto [address, rank] : ranks)
        EXPECT_EQ(roster::rank(address), rank) << address;
    // Only enabled addresses have a slot.
    EXPECT_EQ(roster::slot_of(7), 2);
    EXPECT_EQ(roster::slot_of(5), 0);
    addr_enabled[100] = 1;
    EXPECT_EQ(roster::rank(255), 4);
    EXPECT_EQ(roster::slot_of(100), 0); // past the addresses polled
    public_set_reset();
}

// --- Address table and scan ------------------------------------------------------

TEST_F(Acquisition, BoxTickedBeforeAnyScanEnablesPollingButLaysOutNoPanel)
{
    Engine& e = start_engine();
    std::vector<RosterShown> rosters;
    QObject::connect(&e, &Engine::roster_changed, [&](const RosterShown& r) { rosters.push_back(r); });
    e.checkbox_change(3, true);
    EXPECT_EQ(addr_enabled[3], 1);
    EXPECT_EQ(inst_count, 0);
    ASSERT_FALSE(rosters.empty());
    EXPECT_EQ(rosters.back().addresses, std::vector<int> { 3 });
    EXPECT_EQ(rosters.back().inst_count, 0);
    e.Timer1Timer();
    EXPECT_EQ(frames, std::vector<std::string> { read_frame(3, 0) });
    // Boxes of addresses 12 and up only follow the scan.
    e.checkbox_change(20, true);
    EXPECT_EQ(addr_enabled[20], 0);
}

TEST_F(Acquisition, ScanProbesBelowTheLimitMarksAnswersAndLaysOutTheTable)
{
    Engine& e = start_engine();
    std::vector<int> found;
    std::vector<std::vector<int>> columns;
    QObject::connect(&e, &Engine::address_found, [&](int a) { found.push_back(a); });
    QObject::connect(&e, &Engine::param_columns, [&](const std::vector<int>& c) { columns.push_back(c); });
    e.store_parameter(4, 5, 123); // a stored set the end of the scan loads
    e.set_address_limit(8);
    e.start_scan();
    EXPECT_FALSE(e.Timer1->Enabled());
    EXPECT_TRUE(e.iTimers1->Enabled(3));
    EXPECT_TRUE(run.busy);
    EXPECT_TRUE(run.scanning);
    for (int tick = 0; tick < 9; ++tick)
        scan_tick(cur_addr + 1 == 1 || cur_addr + 1 == 4
                ? std::optional(reply_counts(0, 0, 0, 0, 0)) // input type 0
                : std::nullopt);
    std::vector<std::string> expected;
    for (int a = 0; a < 8; ++a)
        expected.push_back(read_frame(a, 22));
    EXPECT_EQ(frames, expected);

    EXPECT_EQ(scan_active, 0);
    EXPECT_FALSE(e.iTimers1->Enabled(3));
    EXPECT_TRUE(e.Timer1->Enabled());
    EXPECT_EQ(cur_addr, -1);
    EXPECT_EQ(cur_slot, 0);
    EXPECT_EQ(inst_count, 2);
    EXPECT_EQ(roster::addresses(), (std::vector<int> { 1, 4 }));
    EXPECT_EQ(addr_slot[1], 1);
    EXPECT_EQ(addr_slot[4], 2);
    EXPECT_EQ(found, (std::vector<int> { 1, 4 }));
    ASSERT_FALSE(columns.empty());
    EXPECT_EQ(columns.back(), (std::vector<int> { 1, 4 }));
    EXPECT_EQ(e.params().addresses(), (std::vector<int> { 1, 4 }));
    EXPECT_EQ(e.params().cell(4, 6), QString::fromStdString(param_value_text(5, 123, dec_places[4])));
    EXPECT_FALSE(run.busy);
    EXPECT_FALSE(run.scanning);
    EXPECT_TRUE(run.first_scan_done);
    EXPECT_TRUE(problems().isEmpty()) << problems().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(message_has(QStringLiteral("巡扫结束，找到仪表 1, 4"))) << said();
}

// The scan probes the addresses below the limit; the service's scan of
// 0..90 asks for a limit of 91.
TEST_F(Acquisition, ScanOfTheWholeRangeProbesZeroTo90)
{
    struct Case {
        int limit; // -1: the address limit, 90
        int probes;
    };
    for (const Case c : { Case { -1, 90 }, Case { 91, 91 }, Case { 500, 91 } }) {
        SCOPED_TRACE(c.limit);
        Engine& e = start_engine();
        e.set_address_limit(90);
        e.start_scan(c.limit);
        for (int t = 0; t < 200 && scan_active; ++t)
            scan_tick();
        ASSERT_EQ(scan_active, 0);
        ASSERT_EQ(frames.size(), static_cast<size_t>(c.probes));
        EXPECT_EQ(frames.front(), read_frame(0, 22));
        EXPECT_EQ(frames.back(), read_frame(c.probes - 1, 22));
        EXPECT_TRUE(message_has(QStringLiteral("巡扫结束，没有仪表应答"))) << said();
    }
}

// A box changed after a scan lays the panels out again (relabelled by
// index); a second scan reports its finds again.
TEST_F(Acquisition, BoxChangesAfterAScanRelayTheRoster)
{
    Engine& e = start_engine();
    std::vector<RosterShown> rosters;
    std::vector<int> found;
    QObject::connect(&e, &Engine::roster_changed, [&](const RosterShown& r) { rosters.push_back(r); });
    QObject::connect(&e, &Engine::address_found, [&](int a) { found.push_back(a); });
    scan({ 1, 4 });
    ASSERT_EQ(inst_count, 2);
    e.checkbox_change(6, true);
    EXPECT_EQ(inst_count, 3);
    ASSERT_FALSE(rosters.empty());
    EXPECT_TRUE(rosters.back().relabel);
    EXPECT_EQ(rosters.back().inst_count, 3);
    EXPECT_EQ(rosters.back().addresses, (std::vector<int> { 1, 4, 6 }));
    for (int a : { 6, 4, 1 })
        e.checkbox_change(a, false);
    EXPECT_EQ(inst_count, 0);
    EXPECT_EQ(rosters.back().inst_count, 0);
    EXPECT_TRUE(rosters.back().addresses.empty());

    scan({ 1, 4 });
    EXPECT_EQ(found, (std::vector<int> { 1, 4, 1, 4 }));
    EXPECT_EQ(inst_count, 2);
}

TEST_F(Acquisition, ScanFindingFifteenInstrumentsGivesEachItsSlotAndColumn)
{
    Engine& e = start_engine();
    e.set_address_limit(20);
    std::vector<int> answering;
    for (int a = 0; a < 15; ++a)
        answering.push_back(a);
    scan(answering);
    EXPECT_EQ(inst_count, 15);
    for (int a = 0; a < 15; ++a) {
        EXPECT_EQ(addr_enabled[a], 1);
        EXPECT_EQ(addr_slot[a], a + 1);
    }
    EXPECT_EQ(e.params().addresses(), answering);
    EXPECT_EQ(e.roster_shown().inst_count, 15);
    EXPECT_TRUE(problems().isEmpty()) << problems().join(QLatin1Char('\n')).toStdString();
}

// --- Which instrument ---------------------------------------------------------

namespace {

struct Sent {
    int address, code, word;
    bool write;
};

Sent parse_frame(const std::string& f)
{
    auto b = [&](int i) { return static_cast<std::uint8_t>(f[static_cast<size_t>(i)]); };
    const bool write = (b(2) & 0xFE) == 0x86;
    return { b(0) - 0x80, ((b(2) & 1) << 8) | b(3), static_cast<std::int16_t>(b(4) | (b(5) << 8)), write };
}

} // namespace

// After a box is unticked, every instrument keeps its own column and slot: a
// column write of address 2 sends the column of address 2 to address 2 (its
// own address in code 34, not another's), and the commands read its own
// program segment count.
TEST_F(Acquisition, UntickingABoxLeavesEveryColumnWithItsOwnAddress)
{
    Engine& e = start_engine();
    e.set_address_limit(4);
    scan({ 1, 2, 3 });
    ASSERT_EQ(e.params().addresses(), (std::vector<int> { 1, 2, 3 }));
    // Each column holds a writable table with its own address and segment count.
    for (int address : { 1, 2, 3 }) {
        for (int code = 1; code <= 52; ++code) {
            const auto& words = param_words(code);
            const ParamRange range = param_range(code);
            e.param_table.set_cell(address, code + 1,
                words.empty() ? QString::number(range.clamped && range.min > 0 ? range.min : 0.0f)
                              : QString::fromStdString(words[0]));
        }
        e.param_table.set_cell(address, 35, QString::number(address));
        e.param_table.set_cell(address, 36, QStringLiteral("19200"));
        e.param_table.set_cell(address, 41, QString::number(address == 2 ? 3 : 0)); // Pno
    }
    e.checkbox_change(1, false);
    shown.clear();
    for (int tick = 0; tick < 4; ++tick) {
        e.Timer1Timer();
        if (cur_addr >= 0)
            inject(reply_counts(100 * cur_addr, 100 * cur_addr, 0, 0, -cur_addr));
        else
            e.settle_replies();
    }
    ASSERT_EQ(shown.size(), 3u); // 2, 3, the silent tick, 2 again
    for (const ReplyShown& r : shown)
        EXPECT_EQ(r.slot, r.address == 2 ? 1 : 2) << r.address;
    EXPECT_EQ(e.params().cell(2, 2), QStringLiteral("2")); // segment

    e.set_control_address(2);
    e.run_hold(2); // address 2 runs a program, so no set value
    EXPECT_FALSE(run.button9_allowed);
    e.settle_replies();

    frames.clear();
    messages.clear();
    e.start_column_write(2);
    std::vector<Sent> writes;
    for (int t = 0; t < 200 && e.iTimers1->Enabled(2); ++t) {
        const size_t before = frames.size();
        e.iTimers1Timer2();
        if (frames.size() > before) {
            // A write, or its read-back finding what was written.
            const Sent sent = parse_frame(frames.back());
            if (sent.write)
                writes.push_back(sent);
            inject(param_reply(writes.back().word));
        }
    }
    ASSERT_FALSE(writes.empty());
    for (const Sent& w : writes) {
        EXPECT_EQ(w.address, 2);
        if (w.code == 34) {
            EXPECT_EQ(w.word, 2);
        }
    }
    EXPECT_EQ(writes.size(), 52u + 6u); // three program segments: codes up to 58
    EXPECT_TRUE(problems().isEmpty()) << problems().join(QLatin1Char('\n')).toStdString();
}

// A command between two sweeps, sent or refused, changes no slot: the next
// sweep's replies go to the same slots as before.
TEST_F(Acquisition, ACommandBetweenSweepsChangesNoSlot)
{
    struct Case {
        const char* name;
        std::function<void(Engine&)> command;
        bool refused;
    };
    const Case cases[] = {
        { "STOP to 3 (sent)", [](Engine& e) { e.stop_instrument(3); }, false },
        { "HAND to 3 (refused: no column)", [](Engine& e) { e.hand(3); }, true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Engine& e = start_engine();
        enable({ 2, 5, 7 });
        for (int sweep = 0; sweep < 2; ++sweep) {
            do {
                e.Timer1Timer();
                if (cur_addr >= 0)
                    inject(reply_counts(100 * cur_addr, 100 * cur_addr, 0, 0, 0));
            } while (cur_addr != -1);
            if (sweep == 0) {
                e.request([&] { c.command(e); }, "控制");
                e.settle_replies();
                EXPECT_EQ(messages.size(), c.refused ? 1u : 0u) << said();
            }
        }
        int polls = 0;
        for (const ReplyShown& r : shown) {
            if (r.kind != RequestKind::Poll)
                continue;
            ++polls;
            EXPECT_EQ(r.slot, r.address == 2 ? 1 : r.address == 5 ? 2 : 3) << r.address;
            EXPECT_DOUBLE_EQ(r.sv, 100.0 * r.address);
        }
        EXPECT_EQ(polls, 6);
    }
}

// A second answer for an address the scan has already found changes nothing:
// it is reported found once, and has one slot and one column.
TEST_F(Acquisition, AnAddressFoundTwiceIsMarkedOnce)
{
    Engine& e = start_engine();
    std::vector<int> found;
    QObject::connect(&e, &Engine::address_found, [&](int a) { found.push_back(a); });
    e.set_address_limit(4);
    e.start_scan();
    while (scan_active) {
        const bool probe_two = cur_addr + 1 == 2;
        scan_tick(probe_two ? std::optional(reply_counts(0, 0, 0, 0, 0)) : std::nullopt);
        if (probe_two)
            answer(RequestKind::Probe, 2, 22, reply_counts(0, 0, 0, 0, 0)); // the same probe answered again
    }
    EXPECT_EQ(found, std::vector<int> { 2 });
    EXPECT_EQ(inst_count, 1);
    EXPECT_EQ(e.params().addresses(), std::vector<int> { 2 });
}

// A run-state reply while the control address box holds no address is an
// answer for some other address: it is stored and ends its command, silently.
TEST_F(Acquisition, RunStateReplyWithoutAControlAddress)
{
    Engine& e = start_engine();
    enable({ 4 });
    e.stop_instrument(4);
    ASSERT_EQ(ctrl_cmd_pending, 1);
    e.set_control_address(std::nullopt);
    inject(reply_counts(0, 0, 0, 0, 2));
    EXPECT_TRUE(messages.empty()) << said();
    EXPECT_EQ(ctrl_cmd_pending, 0);
    EXPECT_EQ(write_pending, 0);
    EXPECT_EQ(shown.back().run_state, -1);
    EXPECT_EQ(db_value(QStringLiteral("SELECT no4 FROM ai_para WHERE id = 11")).toDouble(), 2.0);
}
