// The operator's commands to one instrument, the serial settings, the
// address and baud-rate writes and the sampling period, asked of the engine
// with the frames checked byte for byte.
#include "engine_fixture.h"
#include "event_loop.h"
#include "pty_port.h"

#include "frame_codec.h"
#include "station_db.h"

#include <QDir>

#include <termios.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

namespace {

std::string hex(const std::string& frame)
{
    return to_hex(reinterpret_cast<const std::uint8_t*>(frame.data()), static_cast<int>(frame.size()));
}

// An engine with the given addresses enabled in ascending order (slots 1,
// 2, ...) and one parameter column each; the rows it logs are counted.
class Control : public EngineFixture {
protected:
    Engine& ready(const std::vector<int>& addresses)
    {
        Engine& e = start_engine();
        enable(addresses);
        int slot = 0;
        for (int a : addresses)
            addr_slot[a] = static_cast<byte_t>(++slot);
        QObject::connect(e.database(), &StationDb::measurement_appended, [this] { ++logged; });
        return e;
    }
    void set_cell(int address, int row, const char* text)
    {
        engine().param_table.set_cell(address, row, QString::fromUtf8(text));
    }
    // Answers the open reply window.
    void reply(int b, int mv, int raw) { inject(reply_bytes(0, b, 0, mv, 0, raw)); }
    std::vector<std::string> sent() const
    {
        std::vector<std::string> out;
        for (const std::string& f : frames)
            out.push_back(hex(f));
        return out;
    }
    // Decides the command's window and its read-back's (which the closed
    // port did not send), and forgets the frames and messages.
    void finish_command()
    {
        engine().settle_replies();
        engine().settle_replies();
        frames.clear();
        messages.clear();
    }

    int logged = 0;
};

using Commands = std::vector<std::pair<const char*, std::function<void(Engine&, int)>>>;

const Commands& all_commands()
{
    static const Commands commands = {
        { "RUN/HOLD", [](Engine& e, int a) { e.run_hold(a); } },
        { "HAND", [](Engine& e, int a) { e.hand(a); } },
        { "STOP", [](Engine& e, int a) { e.stop_instrument(a); } },
        { "手动调功", [](Engine& e, int a) { e.manual_output(a, 50); } },
        { "给定值", [](Engine& e, int a) { e.set_value(a, 50); } },
    };
    return commands;
}

} // namespace

TEST_F(Control, RunHoldSendsRunStateZeroAndAllowsSetValueOnlyWithoutProgram)
{
    struct Case {
        const char* pno;
        bool set_value_allowed;
    };
    for (const Case c : { Case { "3", false }, Case { "0", true } }) {
        SCOPED_TRACE(c.pno);
        Engine& e = ready({ 1 });
        set_cell(1, 41, c.pno);
        e.run_hold(1);
        EXPECT_TRUE(messages.empty()) << said();
        ASSERT_EQ(sent(), std::vector<std::string> { "8181860A0000870A" });
        EXPECT_EQ(run.button9_allowed, c.set_value_allowed);
        EXPECT_EQ(e.run_shown().button9_allowed, c.set_value_allowed);
        EXPECT_EQ(ctrl_cmd_pending, 1);
        EXPECT_EQ(write_pending, 1);
        EXPECT_EQ(cur_code, 10);
        EXPECT_EQ(cur_addr, 1);
    }
}

TEST_F(Control, HandNeedsAdvancedFunctionOf10000)
{
    Engine& e = ready({ 1 });
    set_cell(1, 43, "10000");
    e.hand(1);
    EXPECT_EQ(sent(), std::vector<std::string> { "8181860A0200870A" });
    EXPECT_TRUE(run.button8_allowed);
    EXPECT_EQ(ctrl_cmd_pending, 1);
    EXPECT_EQ(write_pending, 1);

    finish_command();
    ASSERT_EQ(ctrl_cmd_pending, 0);
    set_cell(1, 43, "0");
    e.hand(1);
    EXPECT_TRUE(frames.empty());
    EXPECT_FALSE(run.button8_allowed);
    EXPECT_EQ(ctrl_cmd_pending, 0);
    EXPECT_EQ(write_pending, 0);
    EXPECT_TRUE(messages.empty()) << said();
}

TEST_F(Control, ManualPowerWritesTheOutputOnlyWithAdvancedFunction)
{
    Engine& e = ready({ 1 });
    set_cell(1, 43, "10000");
    e.manual_output(1, 55.5);
    // d = 55.5 x 100 = 5550 = 0x15AE.
    EXPECT_EQ(sent(), std::vector<std::string> { "81818600AE158700" });
    EXPECT_EQ(cur_code, 0);
    EXPECT_FLOAT_EQ(para_value, 55.5f);
    EXPECT_EQ(ctrl_cmd_pending, 1);

    finish_command();
    set_cell(1, 43, "9999");
    // Refused with the reason, nothing sent.
    e.request([&] { e.manual_output(1, 55.5); }, "控制");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].refusal);
    EXPECT_EQ(messages[0].text, QStringLiteral("仪表 1 的高级功能AF 为 9999（小于 10000，不能手动调功），未发送"));
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(ctrl_cmd_pending, 0);
    EXPECT_EQ(write_pending, 0);
}

TEST_F(Control, SetValueWritesTheSinglePrecisionValueOnlyWithoutProgram)
{
    Engine& e = ready({ 1 });
    dec_places[1] = 2;
    set_cell(1, 41, "0");
    e.set_value(1, 123.45f);
    // 123.45f x 100 = 12344.9997 -> 12345, five-digit code 10234 = 0x27FA.
    EXPECT_EQ(sent(), std::vector<std::string> { "81818633FA278733" });
    EXPECT_EQ(cur_code, 51);
    EXPECT_EQ(para_value, 123.45f);
    EXPECT_EQ(ctrl_cmd_pending, 1);

    finish_command();
    set_cell(1, 41, "1");
    // Refused with the reason, nothing sent.
    e.request([&] { e.set_value(1, 123.45f); }, "控制");
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(ctrl_cmd_pending, 0);
    ASSERT_EQ(messages.size(), 1u) << said();
    EXPECT_TRUE(messages[0].refusal);
    EXPECT_EQ(messages[0].text, QStringLiteral("仪表 1 运行程序（程序段数Pno 为 1），给定值未发送"));
}

TEST_F(Control, StopReachesAnAddressWithoutSlotOrColumn)
{
    Engine& e = ready({ 1 });
    e.stop_instrument(7);
    EXPECT_EQ(sent(), std::vector<std::string> { "8787860A01008D0A" });
    EXPECT_EQ(cur_addr, 7);
    EXPECT_EQ(ctrl_cmd_pending, 1);
    EXPECT_EQ(write_pending, 1);
    // The highest address there is still goes out.
    finish_command();
    e.stop_instrument(90);
    EXPECT_EQ(sent(), std::vector<std::string> { "DADA860A0100E00A" });
    EXPECT_TRUE(messages.empty()) << said();
}

// An address a frame cannot carry, or one without a column to read the
// instrument's settings from, is refused with a message: nothing is sent and
// no flag is left behind, so the next poll reply is still a poll reply.
TEST_F(Control, CommandToABadAddressIsRefusedAndSendsNothing)
{
    struct Case {
        int address;
        const char* message;
        bool stop_refused; // STOP needs no column
    };
    const Case cases[] = {
        // One byte carries the address: 300 would reach address 44.
        { 300, "控制地址 300 超出仪表地址范围 0..90，未发送", true },
        { 91, "控制地址 91 超出仪表地址范围 0..90，未发送", true },
        { -1, "控制地址 -1 超出仪表地址范围 0..90，未发送", true },
        // Address 5 has no column of its own; no other column stands in for it.
        { 5, "地址 5 在参数表中没有数据列，请先巡扫或遍读；命令未发送", false },
    };
    Engine& e = ready({ 1 });
    set_cell(1, 41, "0");
    set_cell(1, 43, "10000");
    for (const Case& c : cases) {
        for (const auto& [name, command] : all_commands()) {
            const bool stop = std::string(name) == "STOP";
            if (stop && !c.stop_refused)
                continue;
            SCOPED_TRACE(std::to_string(c.address) + " / " + name);
            messages.clear();
            e.request([&] { command(e, c.address); }, "控制");
            ASSERT_EQ(messages.size(), 1u) << said();
            EXPECT_TRUE(messages[0].refusal);
            EXPECT_EQ(messages[0].source, QStringLiteral("控制"));
            EXPECT_EQ(messages[0].text, QString::fromUtf8(c.message));
            EXPECT_TRUE(frames.empty());
            EXPECT_EQ(ctrl_cmd_pending, 0);
            EXPECT_EQ(write_pending, 0);
        }
    }
}

// The run state a command's reply returns goes to the control address's slot
// (0 stopped, 1 unlit, 2 running), never another's, and never a value that
// is no run state. The replies go to the main panel only: nothing is logged.
TEST_F(Control, CommandRepliesCarryTheControlAddressRunState)
{
    // Addresses 1 and 4 hold slots 1 and 2; the commands go to 4.
    Engine& e = ready({ 1, 4 });
    dec_places[4] = 2;
    e.set_control_address(4);
    set_cell(4, 41, "0");
    set_cell(4, 43, "10000");
    struct Step {
        const char* name;
        std::function<void()> command;
        int answer;
        int run_state;
    };
    const Step steps[] = {
        { "HAND", [&] { e.hand(4); }, 2, 2 },
        { "STOP", [&] { e.stop_instrument(4); }, 1, 1 },
        { "RUN/HOLD", [&] { e.run_hold(4); }, 0, 0 },
        { "RUN/HOLD, no run state", [&] { e.run_hold(4); }, 3, -1 },
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        s.command();
        reply(1500, 0, s.answer);
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.back().kind, RequestKind::Command);
        EXPECT_EQ(shown.back().address, 4);
        EXPECT_EQ(shown.back().slot, 2);
        EXPECT_EQ(shown.back().run_state, s.run_state);
        EXPECT_DOUBLE_EQ(shown.back().sv, 15.0);
        EXPECT_EQ(ctrl_cmd_pending, 0);
        EXPECT_EQ(write_pending, 0);
    }
    EXPECT_EQ(logged, 0);
    EXPECT_TRUE(messages.empty()) << said();
}

TEST_F(Control, RunStateUnchangedForARunOrAnotherAddress)
{
    Engine& e = ready({ 1, 4 });
    e.set_control_address(4);
    // A read run's reply for the run state of the control address.
    answer(RequestKind::ReadRun, 4, 10, reply_bytes(0, 0, 0, 0, 0, 2));
    EXPECT_EQ(shown.back().run_state, -1);

    // The control address changed before the reply came.
    e.stop_instrument(4);
    e.set_control_address(1);
    reply(0, 0, 2);
    EXPECT_EQ(shown.back().address, 4);
    EXPECT_EQ(shown.back().run_state, -1);

    // An address without a slot has no lamp.
    e.set_control_address(7);
    e.stop_instrument(7);
    reply(0, 0, 2);
    EXPECT_EQ(shown.back().address, 7);
    EXPECT_EQ(shown.back().run_state, -1);
    EXPECT_TRUE(messages.empty()) << said();
}

// --- Instrument set-up writes ----------------------------------------------

TEST_F(Control, WriteAddressSends500PlusNewAddressToTheOldAddress)
{
    Engine& e = ready({ 1 });
    e.write_address(3, 12);
    // First a read of code 22 at the new address: is anyone there?
    EXPECT_EQ(sent(), std::vector<std::string> { "8C8CA4160000B016" });
    EXPECT_EQ(write_pending, 0);
    frames.clear();
    e.settle_replies(); // nobody answered
    // Code 2, value 512 = 0x0200, to address 3.
    EXPECT_EQ(sent(), std::vector<std::string> { "8383860200028902" });
    EXPECT_EQ(cur_addr, 3);
    EXPECT_EQ(cur_code, 2);
    EXPECT_FLOAT_EQ(para_value, 512.0f);
    EXPECT_EQ(write_pending, 1);
    EXPECT_EQ(ctrl_cmd_pending, 0);
    EXPECT_TRUE(e.setup_write_pending);
}

// A new address that is polled is refused before anything goes out (one
// that answers the probe: the end-to-end tests, on a real line).
TEST_F(Control, WriteAddressOntoAPolledAddressIsRefused)
{
    Engine& e = ready({ 1 });
    e.request([&] { e.write_address(3, 1); }, "设置");
    ASSERT_EQ(messages.size(), 1u) << said();
    EXPECT_TRUE(messages[0].refusal);
    EXPECT_EQ(messages[0].text, QStringLiteral("地址 1 上已有仪表在巡检，两台仪表不能占用同一地址；写地址未发送"));
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(write_pending, 0);
    EXPECT_FALSE(e.run_busy());
}

TEST_F(Control, SetUpWriteOutsideTheAddressesIsRefused)
{
    struct Case {
        const char* name;
        std::function<void(Engine&)> write;
        const char* message;
    };
    const Case cases[] = {
        { "new address 300", [](Engine& e) { e.write_address(3, 300); },
            "新地址 300 超出仪表地址范围 0..90，未发送" },
        { "old address 256", [](Engine& e) { e.write_address(256, 12); },
            "原地址 256 超出仪表地址范围 0..90，未发送" },
        { "baud rate of 256", [](Engine& e) { e.write_baud(256, 1); },
            "原地址 256 超出仪表地址范围 0..90，未发送" },
        { "no baud rate", [](Engine& e) { e.write_baud(5, -1); },
            "请在“波特率输入”中选择 4800、9600 或 19200，未发送" },
        { "baud rate item 3", [](Engine& e) { e.write_baud(5, 3); },
            "请在“波特率输入”中选择 4800、9600 或 19200，未发送" },
    };
    Engine& e = ready({ 1 });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        messages.clear();
        e.request([&] { c.write(e); }, "仪表设置");
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_TRUE(messages[0].refusal);
        EXPECT_EQ(messages[0].text, QString::fromUtf8(c.message));
        EXPECT_TRUE(frames.empty());
        // Nothing went out, so monitoring is not held back.
        EXPECT_EQ(write_pending, 0);
        EXPECT_FALSE(e.setup_write_pending);
    }
}

TEST_F(Control, WriteBaudRateGoesToTheOldAddress)
{
    struct Case {
        int index;
        const char* frame;
    };
    // Code 2 with 603 / 602 / 601 (0x025B / 0x025A / 0x0259) to address 5.
    const Case cases[] = { { 0, "858586025B028B02" }, { 1, "858586025A028B02" }, { 2, "8585860259028B02" } };
    Engine& e = ready({ 1 });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        frames.clear();
        cur_addr = -1; // between two sweeps
        e.write_baud(5, c.index);
        EXPECT_EQ(sent(), std::vector<std::string> { c.frame });
        EXPECT_EQ(cur_addr, 5);
        EXPECT_EQ(write_pending, 1);
        EXPECT_TRUE(e.setup_write_pending);
    }
}

TEST_F(Control, MonitoringResumesAtTheNextTickAfterASetUpWrite)
{
    for (const bool answered : { true, false }) {
        SCOPED_TRACE(answered ? "answered" : "unanswered");
        logged = 0;
        Engine& e = ready({ 3 });
        dec_places[3] = 2;
        cur_addr = -1;
        ASSERT_TRUE(e.Timer1->Enabled());
        e.write_address(3, 12);
        e.settle_replies(); // the probe of 12: nobody there
        ASSERT_EQ(write_pending, 1);
        if (answered) {
            reply(2500, 1000, 512);
            // Shown as a set-up write's answer, not as a measurement.
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0].kind, RequestKind::SetupWrite);
            EXPECT_DOUBLE_EQ(shown[0].sv, 25.0);
            EXPECT_EQ(logged, 0);
            EXPECT_EQ(write_pending, 1);
        } else {
            e.settle_replies();
        }
        // The next tick ends the hold and polls address 3: the sweep keeps its
        // own place, whatever address the write went to.
        frames.clear();
        e.Timer1Timer();
        EXPECT_EQ(write_pending, 0);
        EXPECT_FALSE(e.setup_write_pending);
        ASSERT_EQ(sent(), std::vector<std::string> { "8383A4000000A700" });
        reply(3100, 1000, 0);
        EXPECT_EQ(shown.back().kind, RequestKind::Poll);
        EXPECT_EQ(shown.back().slot, 1);
        EXPECT_DOUBLE_EQ(shown.back().sv, 31.0);
        EXPECT_EQ(logged, 1);
        EXPECT_TRUE(messages.empty()) << said();
    }
}

// --- Sampling period -------------------------------------------------------

// A period outside 1 .. 86400 s is refused with a message; the poll keeps
// the last good period.
TEST_F(Control, PollIntervalFollowsThePeriodAndABadPeriodKeepsTheLastGoodOne)
{
    struct Case {
        int period;
        int interval;
        bool refused;
    };
    const Case cases[] = { { 5, 5000, false }, { 0, 5000, true }, { 1, 1000, false }, { -3, 1000, true },
        { 86400, 86400000, false }, { 86401, 86400000, true }, { 2, 2000, false } };
    Engine& e = ready({ 1 });
    std::vector<SerialShown> reports;
    QObject::connect(&e, &Engine::serial_changed, [&](const SerialShown& s) { reports.push_back(s); });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.period);
        messages.clear();
        reports.clear();
        e.request([&] { e.set_period(c.period); }, "巡检");
        EXPECT_EQ(e.Timer1->Interval(), c.interval);
        EXPECT_TRUE(e.Timer1->Enabled());
        EXPECT_EQ(e.poll_period() * 1000, c.interval);
        if (c.refused) {
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_TRUE(messages[0].refusal);
            EXPECT_TRUE(messages[0].text.startsWith(QStringLiteral("采样周期须为 1 到 86400 秒，仍为 ")))
                << messages[0].text.toStdString();
        } else {
            EXPECT_TRUE(messages.empty()) << said();
            ASSERT_EQ(reports.size(), 1u);
            EXPECT_EQ(reports[0].period, c.period);
        }
    }
}

TEST_F(Control, StartUpPeriodSetsThePollInterval)
{
    struct Case {
        const char* period;
        int interval;
        bool named; // refused: the default (2 s) stands and the line is named
    };
    // A period under a second would stop polling and one above a day is no
    // sampling period: both keep the default, and the line is named.
    for (const Case c : { Case { "2", 2000, false }, Case { "5", 5000, false }, Case { "0", 2000, true },
             Case { "-4", 2000, true }, Case { "3000000", 2000, true } }) {
        SCOPED_TRACE(c.period);
        // Port com7 does not exist here: start-up reports it, the period applies.
        stop_engine(); // which saves its own settings as it closes
        write_settings({ QStringLiteral("6"), QStringLiteral("2"), QString::fromUtf8(c.period) });
        Engine& e = start_engine();
        EXPECT_EQ(e.Timer1->Interval(), c.interval);
        bool named = false;
        for (const EngineMessage& m : e.messages.backlog())
            named = named || (m.text.contains(QStringLiteral("第 3 行")) && m.text.contains(QString::fromUtf8(c.period)));
        EXPECT_EQ(named, c.named);
    }
}

// A period of 0 in save.txt never stops polling.
TEST_F(Control, PeriodZeroInTheSettingsFileKeepsPolling)
{
    write_settings({ QStringLiteral("0"), QStringLiteral("2"), QStringLiteral("0") });
    Engine& e = ready({ 1 });
    ASSERT_EQ(e.Timer1->Interval(), 2000);
    EXPECT_TRUE(wait_for([&] { return !frames.empty(); }, 5000));
}

// --- Serial settings -------------------------------------------------------

namespace {

class SerialSettings : public EngineFixture {
protected:
    // A frame sent now reaches the port's far end.
    bool frame_arrives(const PtyPort& port)
    {
        const std::string frame = "\x81\x81\xA4\x00\x00\x00\xA5\x00";
        engine().serial()->SendData(frame.data(), static_cast<unsigned short>(frame.size()));
        return port.read(frame.size(), 2000) == frame;
    }
    QStringList errors() const
    {
        QStringList out;
        for (const EngineMessage& m : messages)
            if (m.level == EngineMessage::Level::Error || m.refusal)
                out << m.source + QStringLiteral(": ") + m.text;
        return out;
    }
};

} // namespace

TEST_F(SerialSettings, PortItemGivesLowerCaseComName)
{
    unlink_com1();
    PtyPort com1(path("com1"));
    PtyPort com10(path("com10"));
    PtyPort com16(path("com16"));
    ASSERT_TRUE(com1.linked && com10.linked && com16.linked);
    write_settings({ QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("3") });
    Engine& e = start_engine();
    ASSERT_TRUE(e.serial()->is_open());

    e.set_port(9, QStringLiteral("com10"));
    EXPECT_EQ(e.serial()->CommName(), "com10");
    EXPECT_TRUE(e.serial()->is_open());
    EXPECT_TRUE(frame_arrives(com10));
    EXPECT_EQ(saved(), "9\r\n1\r\n3\r\n");
    EXPECT_EQ(e.serial_shown().port_index, 9);

    e.set_port(15, QStringLiteral("com16"));
    EXPECT_EQ(e.serial()->CommName(), "com16");
    EXPECT_TRUE(frame_arrives(com16));
    EXPECT_EQ(saved(), "15\r\n1\r\n3\r\n");

    e.set_port(0, QStringLiteral("com1"));
    EXPECT_EQ(e.serial()->CommName(), "com1");
    EXPECT_EQ(saved(), "0\r\n1\r\n3\r\n");
    EXPECT_TRUE(frame_arrives(com1));
    EXPECT_TRUE(errors().isEmpty()) << errors().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(e.link_shown().port_label.contains(QStringLiteral("（已打开）")))
        << e.link_shown().port_label.toStdString();
}

TEST_F(SerialSettings, BaudChangeClosesSavesAndReopens)
{
    unlink_com1();
    PtyPort com1(path("com1"));
    ASSERT_TRUE(com1.linked);
    write_settings({ QStringLiteral("0"), QStringLiteral("2"), QStringLiteral("5") });
    Engine& e = start_engine();
    ASSERT_TRUE(e.serial()->is_open());
    EXPECT_EQ(com1.speed(), static_cast<speed_t>(B19200));

    e.set_baud(1);
    EXPECT_TRUE(errors().isEmpty()) << errors().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(e.serial()->BaudRate(), 9600u);
    EXPECT_TRUE(e.serial()->is_open());
    EXPECT_EQ(com1.speed(), static_cast<speed_t>(B9600));
    EXPECT_EQ(saved(), "0\r\n1\r\n5\r\n");
    EXPECT_TRUE(frame_arrives(com1));
}

TEST_F(SerialSettings, PortThatFailsToOpenStaysClosedAfterSaving)
{
    unlink_com1();
    PtyPort com1(path("com1"));
    ASSERT_TRUE(com1.linked);
    write_settings({ QStringLiteral("0"), QStringLiteral("2"), QStringLiteral("5") });
    Engine& e = start_engine();
    ASSERT_TRUE(e.serial()->is_open());

    // The port's device is gone: the new baud rate is saved, a message says
    // the port did not open, and it stays closed.
    ASSERT_TRUE(QFile::remove(path("com1")));
    ASSERT_EQ(::symlink("/nonexistent/tty", path("com1").toLocal8Bit().constData()), 0);
    e.request([&] { e.set_baud(1); }, "串口");
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0].source, QStringLiteral("串口"));
    EXPECT_EQ(messages[0].level, EngineMessage::Level::Error);
    EXPECT_TRUE(messages[0].text.startsWith(QStringLiteral("串口 com1 未能打开：无法打开串口")))
        << said();
    EXPECT_EQ(saved(), "0\r\n1\r\n5\r\n");
    EXPECT_FALSE(e.serial()->is_open());
    EXPECT_FALSE(e.link_shown().open);
    EXPECT_TRUE(e.link_shown().port_label.contains(QStringLiteral("（未打开）")));
    // The poll's requests are not sent meanwhile.
    const std::string frame = "\x81\x81\xA4\x00\x00\x00\xA5\x00";
    EXPECT_FALSE(e.serial()->SendData(frame.data(), 8));

    // A later change opens it again.
    PtyPort again(path("com1"));
    ASSERT_TRUE(again.linked);
    messages.clear();
    e.request([&] { e.set_baud(0); }, "串口");
    EXPECT_TRUE(errors().isEmpty()) << errors().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(e.serial()->is_open());
    EXPECT_EQ(again.speed(), static_cast<speed_t>(B4800));
    EXPECT_EQ(saved(), "0\r\n0\r\n5\r\n");
}

// Saving save.txt fails (a directory stands in its place, which no user can
// replace with a file): the port opens all the same, on the new choice, and
// the failure is a message.
TEST_F(SerialSettings, PortReopensWhenTheSettingsCannotBeSaved)
{
    struct Case {
        const char* name;
        std::function<void(Engine&)> change;
        const char* device; // the link the port then opens
        unsigned baud;
    };
    const Case cases[] = {
        { "another port", [](Engine& e) { e.set_port(1, QStringLiteral("com2")); }, "com2", 19200 },
        { "another baud rate", [](Engine& e) { e.set_baud(1); }, "com1", 9600 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        stop_engine(); // which tries to save its own settings as it closes
        QFile::remove(path("com1"));
        QDir(dir.path()).rmdir(QStringLiteral("save.txt"));
        PtyPort com1(path("com1"));
        PtyPort com2(path("com2"));
        ASSERT_TRUE(com1.linked && com2.linked);
        write_settings({ QStringLiteral("0"), QStringLiteral("2"), QStringLiteral("5") });
        Engine& e = start_engine();
        ASSERT_TRUE(e.serial()->is_open());
        ASSERT_TRUE(QFile::remove(path("save.txt")));
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("save.txt")));

        e.request([&] { c.change(e); }, "串口");
        EXPECT_TRUE(e.serial()->is_open());
        EXPECT_EQ(e.serial()->CommName(), c.device);
        EXPECT_EQ(e.serial()->BaudRate(), c.baud);
        EXPECT_TRUE(frame_arrives(std::string(c.device) == "com2" ? com2 : com1));
        ASSERT_EQ(errors().size(), 1) << said();
        EXPECT_EQ(messages[0].source, QStringLiteral("设置"));
        EXPECT_FALSE(messages[0].refusal);
        EXPECT_TRUE(messages[0].text.contains(QStringLiteral("save.txt"))) << said();
        EXPECT_TRUE(in_event_log(messages[0].text)) << event_log_text().toStdString();
    }
}

// A pulled adapter closes the port with a message, not a box; the event log
// names the device that was open, and the port opens again by itself once
// the device is back.
TEST_F(SerialSettings, PulledAdapterIsReopenedWhenItComesBack)
{
    unlink_com1();
    auto adapter = std::make_unique<PtyPort>(path("com1"));
    ASSERT_TRUE(adapter->linked);
    const std::string pulled_device = adapter->slave;
    write_settings({ QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2") });
    Engine& e = start_engine();
    ASSERT_TRUE(e.serial()->is_open());
    std::vector<LinkShown> links;
    QObject::connect(&e, &Engine::link_changed, [&](const LinkShown& l) { links.push_back(l); });
    // The far end goes away, as a USB adapter does when it is pulled out.
    adapter.reset();
    ASSERT_TRUE(wait_for([&] { return !e.serial()->is_open(); }, 3000));
    ASSERT_FALSE(links.empty());
    EXPECT_FALSE(links.back().open);
    EXPECT_TRUE(links.back().state.contains(QStringLiteral("已断开"))) << links.back().state.toStdString();
    EXPECT_TRUE(links.back().port_label.contains(QStringLiteral("（未打开）")));
    ASSERT_FALSE(messages.empty());
    EXPECT_FALSE(messages[0].refusal);
    EXPECT_TRUE(event_log_text().contains(QString::fromStdString("com1（" + pulled_device + "）已断开")))
        << event_log_text().toStdString();

    PtyPort back(path("com1"));
    ASSERT_TRUE(back.linked);
    ASSERT_TRUE(wait_for([&] { return e.serial()->is_open(); }, 5000));
    EXPECT_TRUE(links.back().open);
    EXPECT_TRUE(frame_arrives(back));
}

// Choosing the port in use again reopens it: after a failed open the
// operator may pick the same port again.
TEST_F(SerialSettings, RechoosingTheCurrentPortReopensIt)
{
    Engine& e = start_engine(); // "com1" names no device: the open fails
    ASSERT_FALSE(e.serial()->is_open());
    unlink_com1();
    PtyPort com1(path("com1"));
    ASSERT_TRUE(com1.linked);
    e.request([&] { e.set_port(0, QStringLiteral("com1")); }, "串口");
    EXPECT_TRUE(e.serial()->is_open());
    EXPECT_TRUE(errors().isEmpty()) << errors().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(frame_arrives(com1));
}
