// The operator's commands to one instrument, the serial settings, the
// address and baud-rate writes and the sampling period, driven through the
// real window with the frames checked byte for byte.
#include "event_loop.h"
#include "form_fixture.h"
#include "serial_fixture.h"
#include "replies.h"

#include "frame_codec.h"
#include "iAnalogOutput.h"
#include "iIntegerOutput.h"
#include "iLedRound.h"
#include "iSevenSegmentAnalog.h"
#include "icolors.h"
#include "param_grid.h"
#include "scomm.h"
#include "station_db.h"
#include "ttimer.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTabWidget>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string hex(const std::string& frame)
{
    return to_hex(reinterpret_cast<const std::uint8_t*>(frame.data()), static_cast<int>(frame.size()));
}

// A window whose sends are recorded, with the given addresses enabled in
// ascending order (slots 1, 2, ...) and one grid column each.
class Control : public FormFixture {
protected:
    TForm1& ready_form(const std::vector<int>& addresses)
    {
        TForm1& f = make_form();
        errors.clear();
        f.send_pause_ms = 0;
        f.on_frame_sent = [this](const std::string& frame) { frames.push_back(hex(frame)); };
        int slot = 0;
        for (int a : addresses) {
            addr_enabled[a] = 1;
            addr_slot[a] = static_cast<byte_t>(++slot);
        }
        layout_value_columns(*f.StringGrid1, addresses);
        QObject::connect(f.db.get(), &StationDb::measurement_appended, [this] { ++logged; });
        return f;
    }
    // Cell of an address's grid column (its slot + 1).
    static void set_cell(TForm1& f, int address, int row, const char* text)
    {
        f.StringGrid1->setCells(value_column_of(*f.StringGrid1, address), row, QString::fromUtf8(text));
    }
    void reply(TForm1& f, int b, int mv, int raw)
    {
        const auto bytes = reply_bytes(0, b, 0, mv, 0, raw);
        answer(f, bytes.data());
    }

    std::vector<std::string> frames;
    int logged = 0;
};

} // namespace

TEST_F(Control, RunHoldSendsRunStateZeroAndAllowsSetValueOnlyWithoutProgram)
{
    struct Case {
        const char* pno;
        bool set_value_enabled;
    };
    for (const Case c : { Case { "3", false }, Case { "0", true } }) {
        SCOPED_TRACE(c.pno);
        public_set_reset();
        frames.clear();
        TForm1& f = ready_form({ 1 });
        f.ComboBox7->setEditText(QStringLiteral("1"));
        set_cell(f, 1, 41, c.pno);
        f.Button9->setEnabled(!c.set_value_enabled);
        f.Button5->click();
        EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
        ASSERT_EQ(frames, std::vector<std::string> { "8181860A0000870A" });
        EXPECT_EQ(f.Button9->isEnabled(), c.set_value_enabled);
        EXPECT_EQ(ctrl_cmd_pending, 1);
        EXPECT_EQ(write_pending, 1);
        EXPECT_EQ(cur_code, 10);
        EXPECT_EQ(cur_addr, 1);
    }
}

TEST_F(Control, HandNeedsAdvancedFunctionOf10000)
{
    TForm1& f = ready_form({ 1 });
    f.ComboBox7->setEditText(QStringLiteral("1"));
    set_cell(f, 1, 43, "10000");
    f.Button8->setEnabled(false);
    f.Button6->click();
    EXPECT_EQ(frames, std::vector<std::string> { "8181860A0200870A" });
    EXPECT_TRUE(f.Button8->isEnabled());
    EXPECT_EQ(ctrl_cmd_pending, 1);
    EXPECT_EQ(write_pending, 1);

    frames.clear();
    ctrl_cmd_pending = write_pending = 0;
    set_cell(f, 1, 43, "0");
    f.Button6->click();
    EXPECT_TRUE(frames.empty());
    EXPECT_FALSE(f.Button8->isEnabled());
    EXPECT_EQ(ctrl_cmd_pending, 0);
    EXPECT_EQ(write_pending, 0);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

TEST_F(Control, ManualPowerWritesTheOutputOnlyWithAdvancedFunction)
{
    TForm1& f = ready_form({ 1 });
    f.ComboBox7->setEditText(QStringLiteral("1"));
    f.iAnalogOutput1->SetValue(55.5);
    set_cell(f, 1, 43, "10000");
    f.Button8->click();
    // d = 55.5 x 100 = 5550 = 0x15AE.
    EXPECT_EQ(frames, std::vector<std::string> { "81818600AE158700" });
    EXPECT_EQ(cur_code, 0);
    EXPECT_FLOAT_EQ(para_value, 55.5f);
    EXPECT_EQ(ctrl_cmd_pending, 1);

    frames.clear();
    ctrl_cmd_pending = write_pending = 0;
    set_cell(f, 1, 43, "9999");
    f.Button8->click();
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(ctrl_cmd_pending, 0);
    EXPECT_EQ(write_pending, 0);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

TEST_F(Control, SetValueWritesTheSinglePrecisionValueOnlyWithoutProgram)
{
    TForm1& f = ready_form({ 1 });
    dec_places[1] = 2;
    f.ComboBox7->setEditText(QStringLiteral("1"));
    f.iAnalogOutput2->SetValue(123.45);
    set_cell(f, 1, 41, "0");
    f.Button9->click();
    // 123.45f x 100 = 12344.9997 -> 12345, five-digit code 10234 = 0x27FA.
    EXPECT_EQ(frames, std::vector<std::string> { "81818633FA278733" });
    EXPECT_EQ(cur_code, 51);
    EXPECT_EQ(para_value, 123.45f);
    EXPECT_EQ(ctrl_cmd_pending, 1);

    frames.clear();
    ctrl_cmd_pending = write_pending = 0;
    set_cell(f, 1, 41, "1");
    f.Button9->click();
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(ctrl_cmd_pending, 0);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

TEST_F(Control, StopReachesAnAddressWithoutPanelOrColumn)
{
    TForm1& f = ready_form({ 1 });
    f.ComboBox7->setEditText(QStringLiteral("7"));
    f.Button7->click();
    EXPECT_EQ(frames, std::vector<std::string> { "8787860A01008D0A" });
    EXPECT_EQ(cur_addr, 7);
    EXPECT_EQ(ctrl_cmd_pending, 1);
    EXPECT_EQ(write_pending, 1);
    // The highest address a box may name still goes out.
    frames.clear();
    f.ComboBox7->setEditText(QStringLiteral("90"));
    f.Button7->click();
    EXPECT_EQ(frames, std::vector<std::string> { "DADA860A0100E00A" });
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

TEST_F(Control, BadControlAddressSendsNothing)
{
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        { "abc", "'abc' is not a valid integer value" },
        { "1.5", "'1.5' is not a valid integer value" },
        { "", "'' is not a valid integer value" },
        // One byte carries the address: 300 would reach address 44.
        { "300", "控制地址 300 超出仪表地址范围 0..90，未发送" },
        { "91", "控制地址 91 超出仪表地址范围 0..90，未发送" },
        { "-1", "控制地址 -1 超出仪表地址范围 0..90，未发送" },
    };
    TForm1& f = ready_form({ 1 });
    set_cell(f, 1, 41, "0");
    set_cell(f, 1, 43, "10000");
    for (const Case& c : cases) {
        for (QPushButton* button : { f.Button5, f.Button6, f.Button7, f.Button8, f.Button9 }) {
            SCOPED_TRACE(std::string(c.text) + " / " + button->objectName().toStdString());
            errors.clear();
            ctrl_cmd_pending = write_pending = 0;
            f.ComboBox7->setEditText(QString::fromUtf8(c.text));
            button->click();
            EXPECT_EQ(errors, QStringList { QString::fromUtf8(c.message) });
            EXPECT_TRUE(frames.empty());
            // A command that sends nothing leaves no flag behind: the next poll
            // reply is still a poll reply.
            EXPECT_EQ(ctrl_cmd_pending, 0);
            EXPECT_EQ(write_pending, 0);
        }
    }
}

TEST_F(Control, AddressWithoutAGridColumnSendsNothing)
{
    TForm1& f = ready_form({ 1 });
    // Address 5 has no column of its own; no other column stands in for it.
    f.ComboBox7->setEditText(QStringLiteral("5"));
    const QString no_column = QStringLiteral("地址 5 在参数表中没有数据列，请先巡扫或遍读；命令未发送");
    for (QPushButton* button : { f.Button5, f.Button6, f.Button8, f.Button9 }) {
        errors.clear();
        button->click();
        EXPECT_EQ(errors, QStringList { no_column }) << button->objectName().toStdString();
    }
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(ctrl_cmd_pending, 0);
}

TEST_F(Control, CommandRepliesSetTheControlAddressRunLed)
{
    // Addresses 1 and 4 hold slots 1 and 2; the commands go to 4.
    TForm1& f = ready_form({ 1, 4 });
    dec_places[4] = 2;
    f.ComboBox7->setEditText(QStringLiteral("4"));
    set_cell(f, 4, 41, "0");
    set_cell(f, 4, 43, "10000");
    TiLedRound* led = f.run_led[2];
    TiLedRound* other = f.run_led[1];
    other->SetActive(false);
    led->SetActive(false);
    const double panel_sv = f.sv_disp[2]->Value();

    f.Button6->click(); // HAND, the instrument answers 2
    reply(f, 1500, 0, 2);
    EXPECT_TRUE(led->Active());
    EXPECT_EQ(led->ActiveColor(), tcolor(clGreen));
    EXPECT_EQ(ctrl_cmd_pending, 0);
    EXPECT_EQ(write_pending, 0);

    f.Button7->click(); // STOP, answer 1
    reply(f, 1500, 0, 1);
    EXPECT_FALSE(led->Active());

    f.Button5->click(); // RUN/HOLD, answer 0
    reply(f, 1500, 0, 0);
    EXPECT_TRUE(led->Active());
    EXPECT_EQ(led->ActiveColor(), tcolor(clRed));

    // Other values leave it as it is.
    f.Button5->click();
    reply(f, 1500, 0, 3);
    EXPECT_TRUE(led->Active());
    EXPECT_EQ(led->ActiveColor(), tcolor(clRed));

    // Only the control address's slot changes; the replies went to the main
    // panel, not to the instrument panel or the log.
    EXPECT_FALSE(other->Active());
    EXPECT_DOUBLE_EQ(f.iSevenSegmentAnalog_sv->Value(), 1500.0 / 100);
    EXPECT_DOUBLE_EQ(f.sv_disp[2]->Value(), panel_sv);
    EXPECT_EQ(logged, 0);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

TEST_F(Control, RunLedUnchangedDuringParameterRunOrForAnotherAddress)
{
    TForm1& f = ready_form({ 1, 4 });
    f.ComboBox7->setEditText(QStringLiteral("4"));
    TiLedRound* led = f.run_led[2];
    led->SetActive(false);

    // A read run's reply for the run state of the control address.
    para_run_active = 1;
    cur_addr = 4;
    cur_code = 10;
    reply(f, 0, 0, 2);
    EXPECT_FALSE(led->Active());
    para_run_active = 0;

    // The control address changed before the reply came.
    f.Button7->click();
    f.ComboBox7->setEditText(QStringLiteral("1"));
    reply(f, 0, 0, 2);
    EXPECT_FALSE(led->Active());
    EXPECT_FALSE(f.run_led[1]->Active());

    // An address without a slot changes no LED.
    f.ComboBox7->setEditText(QStringLiteral("7"));
    f.Button7->click();
    reply(f, 0, 0, 2);
    for (size_t s = 1; s <= 12; ++s)
        EXPECT_FALSE(f.run_led[s]->Active()) << s;
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

// --- Instrument set-up writes ----------------------------------------------

TEST_F(Control, WriteAddressSends500PlusNewAddressToTheOldAddress)
{
    TForm1& f = ready_form({ 1 });
    f.ComboBox8->setEditText(QStringLiteral("3"));
    f.ComboBox4->setEditText(QStringLiteral("12"));
    f.Button15->click();
    // Code 2, value 512 = 0x0200, to address 3.
    EXPECT_EQ(frames, std::vector<std::string> { "8383860200028902" });
    EXPECT_EQ(cur_addr, 3);
    EXPECT_EQ(cur_code, 2);
    EXPECT_FLOAT_EQ(para_value, 512.0f);
    EXPECT_EQ(write_pending, 1);
    EXPECT_EQ(ctrl_cmd_pending, 0);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

TEST_F(Control, WriteAddressWithBadBoxTextSendsNothing)
{
    struct Case {
        const char* old_address;
        const char* new_address;
        const char* message;
    };
    const Case cases[] = {
        { "3", "x", "'x' is not a valid integer value" },
        { "3a", "12", "'3a' is not a valid integer value" },
        { "3", "300", "新地址 300 超出仪表地址范围 0..90，未发送" },
        { "256", "12", "原地址 256 超出仪表地址范围 0..90，未发送" },
    };
    TForm1& f = ready_form({ 1 });
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.old_address) + " -> " + c.new_address);
        errors.clear();
        cur_code = 0;
        f.ComboBox8->setEditText(QString::fromUtf8(c.old_address));
        f.ComboBox4->setEditText(QString::fromUtf8(c.new_address));
        f.Button15->click();
        EXPECT_EQ(errors, QStringList { QString::fromUtf8(c.message) });
        EXPECT_TRUE(frames.empty());
        EXPECT_EQ(cur_code, 2);
        // Nothing went out, so monitoring is not held back.
        EXPECT_EQ(write_pending, 0);
        EXPECT_FALSE(f.setup_write_pending);
    }
}

TEST_F(Control, WriteBaudRateGoesToTheOldAddressBox)
{
    struct Case {
        int index;
        const char* frame;
    };
    // Code 2 with 603 / 602 / 601 (0x025B / 0x025A / 0x0259) to address 5.
    const Case cases[] = { { 0, "858586025B028B02" }, { 1, "858586025A028B02" }, { 2, "8585860259028B02" } };
    TForm1& f = ready_form({ 1 });
    f.ComboBox8->setEditText(QStringLiteral("5"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        frames.clear();
        cur_addr = -1; // between two sweeps
        f.ComboBox5->setCurrentIndex(c.index);
        f.Button16->click();
        EXPECT_EQ(frames, std::vector<std::string> { c.frame });
        EXPECT_EQ(cur_addr, 5);
        EXPECT_EQ(write_pending, 1);
        EXPECT_TRUE(f.setup_write_pending);
    }
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

TEST_F(Control, WriteBaudRateWithoutSelectionSendsNothing)
{
    TForm1& f = ready_form({ 1 });
    f.ComboBox8->setEditText(QStringLiteral("5"));
    f.ComboBox5->setEditText(QStringLiteral("1200"));
    f.Button16->click();
    EXPECT_EQ(errors, QStringList { QStringLiteral("请在“波特率输入”中选择 4800、9600 或 19200，未发送") });
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(write_pending, 0);
    // Typing an item's text exactly selects it.
    errors.clear();
    f.ComboBox5->setEditText(QStringLiteral("9600"));
    f.Button16->click();
    EXPECT_EQ(frames, std::vector<std::string> { "858586025A028B02" });
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

TEST_F(Control, MonitoringResumesAtTheNextTickAfterASetUpWrite)
{
    for (const bool answered : { true, false }) {
        SCOPED_TRACE(answered ? "answered" : "unanswered");
        public_set_reset();
        frames.clear();
        logged = 0;
        TForm1& f = ready_form({ 3 });
        dec_places[3] = 2;
        reply_ok = 1;
        cur_addr = -1;
        ASSERT_TRUE(f.Timer1->Enabled());
        f.ComboBox8->setEditText(QStringLiteral("3"));
        f.ComboBox4->setEditText(QStringLiteral("12"));
        f.Button15->click();
        ASSERT_EQ(write_pending, 1);
        const double panel_sv = f.sv_disp[1]->Value();
        if (answered) {
            reply(f, 2500, 1000, 512);
            // Shown on the main panel only.
            EXPECT_DOUBLE_EQ(f.iSevenSegmentAnalog_sv->Value(), 25.0);
            EXPECT_DOUBLE_EQ(f.sv_disp[1]->Value(), panel_sv);
            EXPECT_EQ(logged, 0);
            EXPECT_EQ(write_pending, 1);
        }
        // The next tick ends the hold and polls address 3: the sweep keeps its
        // own place, whatever address the write went to.
        frames.clear();
        f.Timer1Timer(nullptr);
        EXPECT_EQ(write_pending, 0);
        EXPECT_FALSE(f.setup_write_pending);
        ASSERT_EQ(frames, std::vector<std::string> { "8383A4000000A700" });
        reply(f, 3100, 1000, 0);
        EXPECT_DOUBLE_EQ(f.sv_disp[1]->Value(), 31.0);
        EXPECT_EQ(logged, 1);
        EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    }
}

// --- Sampling period -------------------------------------------------------

TEST_F(Control, PollIntervalFollowsThePeriod)
{
    struct Case {
        int period;
        int interval;
    };
    // A negative period counts as 0; one too long for the timer takes its
    // longest interval instead of wrapping to a negative count.
    const Case cases[] = { { 5, 5000 }, { 0, 0 }, { 2, 2000 }, { -3, 0 }, { 3000000, INT_MAX }, { 1, 1000 } };
    TForm1& f = ready_form({ 1 });
    for (const Case& c : cases) {
        f.iIntegerOutput1->SetValue(c.period);
        EXPECT_EQ(f.Timer1->Interval(), c.interval) << c.period;
    }
}

TEST_F(Control, PeriodZeroStopsThePollTicking)
{
    TForm1& f = ready_form({ 1 });
    int ticks = 0;
    f.Timer1->OnTimer = [&ticks] { ++ticks; };
    f.Timer1->setEnabled(true);
    f.iIntegerOutput1->SetValue(1);
    ASSERT_TRUE(wait_for([&] { return ticks > 0; }, 3000));
    f.iIntegerOutput1->SetValue(0);
    const int seen = ticks;
    wait_for([] { return false; }, 1500);
    EXPECT_EQ(ticks, seen);
}

TEST_F(Control, StartUpPeriodSetsThePollInterval)
{
    struct Case {
        const char* period;
        int interval;
    };
    for (const Case c : { Case { "2", 2000 }, Case { "5", 5000 }, Case { "-4", 0 } }) {
        SCOPED_TRACE(c.period);
        owned_form.reset();
        // Port com7 does not exist here: start-up reports it, the period applies.
        write_settings({ QStringLiteral("6"), QStringLiteral("2"), QString::fromUtf8(c.period) });
        TForm1& f = make_form();
        EXPECT_EQ(f.Timer1->Interval(), c.interval);
    }
}

// --- Serial settings -------------------------------------------------------

TEST_F(SerialSettings, PortItemGivesLowerCaseComName)
{
    PtyPort com1(dir.filePath(QStringLiteral("com1")));
    PtyPort com10(dir.filePath(QStringLiteral("com10")));
    PtyPort com16(dir.filePath(QStringLiteral("com16")));
    ASSERT_TRUE(com1.linked && com10.linked && com16.linked);
    write_settings({ QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("3") });
    TForm1& f = make_form();
    ASSERT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    ASSERT_TRUE(f.SComm1_485->is_open());

    f.ComboBox1->setCurrentIndex(f.ComboBox1->findText(QStringLiteral("COM10")));
    EXPECT_EQ(f.SComm1_485->CommName(), "com10");
    EXPECT_TRUE(f.SComm1_485->is_open());
    EXPECT_TRUE(frame_arrives(f, com10));
    EXPECT_EQ(saved(), "9\r\n1\r\n3\r\n");

    f.ComboBox1->setCurrentIndex(f.ComboBox1->findText(QStringLiteral("com16")));
    EXPECT_EQ(f.SComm1_485->CommName(), "com16");
    EXPECT_TRUE(frame_arrives(f, com16));
    EXPECT_EQ(saved(), "15\r\n1\r\n3\r\n");

    // Typing an item's text selects it; a text that is no item keeps the port
    // but still closes, saves and reopens.
    f.ComboBox1->setEditText(QStringLiteral("COM1"));
    EXPECT_EQ(f.SComm1_485->CommName(), "com1");
    EXPECT_EQ(saved(), "0\r\n1\r\n3\r\n");
    f.ComboBox1->setEditText(QStringLiteral("COM1x"));
    EXPECT_EQ(f.SComm1_485->CommName(), "com1");
    EXPECT_TRUE(frame_arrives(f, com1));
    // Enter does not make the typed text an item.
    const int items = f.ComboBox1->count();
    QTest::keyClick(f.ComboBox1->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(f.ComboBox1->count(), items);
    EXPECT_EQ(f.SComm1_485->CommName(), "com1");
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(f.port_device_label->text().contains(QStringLiteral("（已打开）")));
}

TEST_F(SerialSettings, BaudChangeClosesSavesAndReopens)
{
    PtyPort com1(dir.filePath(QStringLiteral("com1")));
    ASSERT_TRUE(com1.linked);
    write_settings({ QStringLiteral("0"), QStringLiteral("2"), QStringLiteral("5") });
    TForm1& f = make_form();
    ASSERT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    ASSERT_TRUE(f.SComm1_485->is_open());
    EXPECT_EQ(com1.speed(), static_cast<speed_t>(B19200));

    f.ComboBox2->setCurrentIndex(1);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(f.SComm1_485->BaudRate(), 9600u);
    EXPECT_TRUE(f.SComm1_485->is_open());
    EXPECT_EQ(com1.speed(), static_cast<speed_t>(B9600));
    EXPECT_EQ(saved(), "0\r\n1\r\n5\r\n");
    EXPECT_TRUE(frame_arrives(f, com1));
}

TEST_F(SerialSettings, PortThatFailsToOpenStaysClosedAfterSaving)
{
    PtyPort com1(dir.filePath(QStringLiteral("com1")));
    ASSERT_TRUE(com1.linked);
    write_settings({ QStringLiteral("0"), QStringLiteral("2"), QStringLiteral("5") });
    TForm1& f = make_form();
    ASSERT_TRUE(f.SComm1_485->is_open());
    errors.clear();

    // The port's device is gone: the new baud rate is saved, the error box
    // says so and the port stays closed.
    ASSERT_TRUE(QFile::remove(dir.filePath(QStringLiteral("com1"))));
    ::symlink("/nonexistent/tty", dir.filePath(QStringLiteral("com1")).toLocal8Bit().constData());
    f.ComboBox2->setCurrentIndex(1);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("Error opening serial port"))) << errors[0].toStdString();
    EXPECT_EQ(saved(), "0\r\n1\r\n5\r\n");
    EXPECT_FALSE(f.SComm1_485->is_open());
    EXPECT_TRUE(f.port_device_label->text().contains(QStringLiteral("（未打开）")));
    // The poll's requests are not sent meanwhile.
    const std::string frame = "\x81\x81\xA4\x00\x00\x00\xA5\x00";
    EXPECT_FALSE(f.SComm1_485->SendData(frame.data(), 8));

    // A later change opens it again.
    PtyPort again(dir.filePath(QStringLiteral("com1")));
    ASSERT_TRUE(again.linked);
    errors.clear();
    f.ComboBox2->setCurrentIndex(0);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(f.SComm1_485->is_open());
    EXPECT_EQ(again.speed(), static_cast<speed_t>(B4800));
    EXPECT_EQ(saved(), "0\r\n0\r\n5\r\n");
}

TEST_F(SerialSettings, SettingsThatCannotBeSavedLeaveThePortClosed)
{
    PtyPort com1(dir.filePath(QStringLiteral("com1")));
    ASSERT_TRUE(com1.linked);
    write_settings({ QStringLiteral("0"), QStringLiteral("2"), QStringLiteral("5") });
    TForm1& f = make_form();
    ASSERT_TRUE(f.SComm1_485->is_open());
    errors.clear();
    // A directory in place of the file: it cannot be rewritten.
    ASSERT_TRUE(QFile::remove(dir.filePath(QStringLiteral("save.txt"))));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("save.txt")));
    f.ComboBox2->setCurrentIndex(1);
    EXPECT_EQ(errors.size(), 1);
    EXPECT_FALSE(f.SComm1_485->is_open());
}

// A pulled adapter closes the port without a message box; the event log
// names the device that was open, and the port opens again by itself once
// the device is back.
TEST_F(SerialSettings, PulledAdapterIsReopenedWhenItComesBack)
{
    auto adapter = std::make_unique<PtyPort>(dir.filePath(QStringLiteral("com1")));
    ASSERT_TRUE(adapter->linked);
    const std::string pulled_device = adapter->slave;
    write_settings({ QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2") });
    TForm1& f = make_form();
    ASSERT_TRUE(f.SComm1_485->is_open());
    // The far end goes away, as a USB adapter does when it is pulled out.
    adapter.reset();
    ASSERT_TRUE(wait_for([&] { return !f.SComm1_485->is_open(); }, 3000));
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(f.status_link->text().contains(QStringLiteral("已断开"))) << f.status_link->text().toStdString();
    EXPECT_TRUE(f.port_device_label->text().contains(QStringLiteral("（未打开）")));
    QFile log(dir.filePath(QStringLiteral("station.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(log.readAll()).contains(QString::fromStdString("com1（" + pulled_device + "）已断开")));

    PtyPort back(dir.filePath(QStringLiteral("com1")));
    ASSERT_TRUE(back.linked);
    ASSERT_TRUE(wait_for([&] { return f.SComm1_485->is_open(); }, 5000));
    EXPECT_TRUE(frame_arrives(f, back));
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

// Choosing the item the port box already shows reopens the port: after a
// failed open the operator may pick the same port again.
TEST_F(SerialSettings, RechoosingTheCurrentPortItemReopensIt)
{
    TForm1& f = make_form(); // "com1" names no device: the open fails
    ASSERT_FALSE(f.SComm1_485->is_open());
    errors.clear();
    unlink_com1();
    PtyPort com1(dir.filePath(QStringLiteral("com1")));
    ASSERT_TRUE(com1.linked);
    // The box reports a choice of the current item only through `activated`.
    Q_EMIT f.ComboBox1->activated(f.ComboBox1->currentIndex());
    EXPECT_TRUE(f.SComm1_485->is_open());
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(f.PageControl2->isTabVisible(f.PageControl2->indexOf(f.TabSheet1)));
    EXPECT_TRUE(frame_arrives(f, com1));
}
