// Poll cycle, reply dispatch, address boxes and scan, on the real window: sends
// are recorded as SendData receives them, replies go in through the receive
// handler, and handlers are called directly instead of waiting for timers.
#include "alarm_page.h"
#include "chart_history.h"
#include "errors.h"
#include "form_fixture.h"
#include "frame_codec.h"
#include "iLedRectangle.h"
#include "iLedRound.h"
#include "iPlot.h"
#include "iPlotChannel.h"
#include "iSevenSegmentAnalog.h"
#include "iTimers.h"
#include "icolors.h"
#include "param_catalogue.h"
#include "param_grid.h"
#include "param_text.h"
#include "replies.h"
#include "station_db.h"
#include "string_grid.h"
#include "ttimer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <optional>
#include <vector>

namespace {

class Acquisition : public FormFixture {
protected:
    TForm1& ready_form()
    {
        TForm1& f = make_form();
        errors.clear(); // no save.txt: the port stays closed, which is all these tests need
        f.send_pause_ms = 0;
        f.on_frame_sent = [this](const std::string& frame) { frames.push_back(frame); };
        return f;
    }

    static void inject(TForm1& f, const ReplyBytes& reply) { answer(f, reply.data()); }

    // One scan tick; the probe it sent is answered with `reply` when given.
    // Every reply window is decided before the next tick.
    static void scan_tick(TForm1& f, const std::optional<ReplyBytes>& reply = std::nullopt)
    {
        f.iTimers1Timer3(nullptr);
        if (reply)
            inject(f, *reply);
        else
            f.settle_replies();
    }

    // Enables the addresses (as the scan would) and lays out their grid columns.
    static void enable(TForm1& f, const std::vector<int>& addresses)
    {
        for (int a : addresses)
            addr_enabled[a] = 1;
        layout_value_columns(*f.StringGrid1, addresses);
    }

    // Ticks the poll until it has sent a request to `address`.
    void poll_until(TForm1& f, int address)
    {
        for (int i = 0; i < 200 && cur_addr != address; ++i)
            f.Timer1Timer(nullptr);
        ASSERT_EQ(cur_addr, address);
    }

    // One value of the working database, read on a connection of our own.
    QVariant db_value(const QString& sql)
    {
        QVariant value;
        const QString name = QStringLiteral("acquisition_test_reader");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(dir.filePath(QStringLiteral("control_db.sqlite")));
            EXPECT_TRUE(db.open());
            QSqlQuery q(db);
            EXPECT_TRUE(q.exec(sql)) << sql.toStdString();
            if (q.next())
                value = q.value(0);
        }
        QSqlDatabase::removeDatabase(name);
        return value;
    }
    qint64 mea_rows() { return db_value(QStringLiteral("SELECT COUNT(*) FROM mea_tbl")).toLongLong(); }

    std::vector<std::string> frames;
};

std::string read_frame(int address, int code)
{
    return make_read_frame(static_cast<std::uint8_t>(address), code);
}

int visible_panels(const TForm1& f)
{
    int n = 0;
    for (QGroupBox* box : f.panel_box)
        n += box->isVisibleTo(box->parentWidget()) ? 1 : 0;
    return n;
}

} // namespace

// --- Poll cycle --------------------------------------------------------------

TEST_F(Acquisition, NoAddressEnabledZeroesSendsNothingAndClosesEverySweep)
{
    TForm1& f = ready_form();
    chart_running = 1;
    sv_value = 1;
    pv_value = 2;
    para_value = 3;
    alarm_byte = 4;
    mv_raw = 5;
    f.Timer1Timer(nullptr);
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(sv_value, 0);
    EXPECT_EQ(pv_value, 0);
    EXPECT_EQ(para_value, 0);
    EXPECT_EQ(alarm_byte, 0);
    EXPECT_EQ(mv_raw, 0);
    EXPECT_EQ(cur_addr, -1);
    EXPECT_EQ(chart_running, 0);
    f.Timer1Timer(nullptr);
    EXPECT_TRUE(frames.empty());
}

TEST_F(Acquisition, SweepOverTwoAndFiveEndsWithASilentTick)
{
    TForm1& f = ready_form();
    f.ComboBox10->setEditText(QStringLiteral("8"));
    addr_enabled[2] = addr_enabled[5] = 1;
    struct Step {
        int addr, slot;
    };
    const Step steps[] = { { 2, 1 }, { 5, 2 }, { -1, 0 }, { 2, 1 } };
    size_t sent = 0;
    for (const Step& s : steps) {
        f.Timer1Timer(nullptr);
        EXPECT_EQ(cur_addr, s.addr);
        EXPECT_EQ(cur_slot, s.slot);
        if (s.addr >= 0) {
            ASSERT_EQ(frames.size(), ++sent);
            EXPECT_EQ(frames.back(), read_frame(s.addr, 0));
            EXPECT_EQ(addr_slot[s.addr], s.slot);
            EXPECT_EQ(f.Label28->text(), QString::number(s.addr));
            EXPECT_EQ(cur_code, 0);
        } else {
            EXPECT_EQ(frames.size(), sent); // the tick that closes the sweep sends nothing
        }
    }
}

TEST_F(Acquisition, AddressLimitIsInclusiveClampedAt90AndNegativeMeansNone)
{
    struct Case {
        const char* limit;
        std::vector<int> enabled;
        std::vector<int> polled; // one sweep
    };
    const Case cases[] = {
        { "5", { 5, 6 }, { 5 } },
        { "8", { 0, 8, 9 }, { 0, 8 } },
        { "200", { 3, 90, 100 }, { 3, 90 } }, // above 90 taken as 90: address 100 is never read
        { "-3", { 0, 1 }, {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limit);
        public_set_reset();
        frames.clear();
        TForm1& f = ready_form();
        f.ComboBox10->setEditText(QString::fromLatin1(c.limit));
        for (int a : c.enabled)
            addr_enabled[a] = 1;
        do
            f.Timer1Timer(nullptr);
        while (cur_addr != -1);
        std::vector<std::string> expected;
        for (int a : c.polled)
            expected.push_back(read_frame(a, 0));
        EXPECT_EQ(frames, expected);
    }
}

TEST_F(Acquisition, LimitThatIsNoNumberFailsTheTickAfterZeroing)
{
    TForm1& f = ready_form();
    addr_enabled[1] = 1;
    sv_value = 7;
    f.ComboBox10->setEditText(QStringLiteral("x8"));
    try {
        f.Timer1Timer(nullptr);
        ADD_FAILURE() << "no conversion error";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'x8' is not a valid integer value");
    }
    EXPECT_EQ(sv_value, 0);
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(cur_addr, -1);
}

TEST_F(Acquisition, ReadAllTimerSuppressesSendsButTheSweepAdvances)
{
    TForm1& f = ready_form();
    addr_enabled[1] = addr_enabled[3] = 1;
    f.iTimers1->SetEnabled(1, true);
    cur_code = 17;
    f.Timer1Timer(nullptr);
    f.Timer1Timer(nullptr);
    f.iTimers1->SetEnabled(1, false);
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(cur_addr, 3);
    EXPECT_EQ(cur_slot, 2);
    EXPECT_EQ(cur_code, 17);
}

TEST_F(Acquisition, ChartClockRunsInTheSweepAfterARunningInstrumentAndWraps)
{
    TForm1& f = ready_form();
    addr_enabled[1] = 1;
    f.Timer1Timer(nullptr); // sends to 1
    run_seen = 1; // as a reply of a running instrument leaves it
    f.Timer1Timer(nullptr); // closes the sweep
    EXPECT_EQ(chart_running, 1);
    EXPECT_EQ(run_seen, 0);
    chart_clock = 65535;
    const int period = f.poll_period();
    ASSERT_GT(period, 0);
    f.Timer1Timer(nullptr);
    EXPECT_EQ(chart_clock, (65535 + period) % 65536);
}

TEST_F(Acquisition, SendLogsFramePrefixAndPausesEvenOnAClosedPort)
{
    TForm1& f = ready_form();
    f.send_pause_ms = 200;
    cur_addr = 12;
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(f.scomm485_write_command(read_frame(12, 0), RequestKind::Poll));
    EXPECT_GE(clock.elapsed(), 200);
    // The read request of code 0 shows up to its first zero byte.
    EXPECT_EQ(f.Memo1->toPlainText(), QString::fromLatin1("\x8C\x8C\xA4"));
    EXPECT_EQ(f.Label28->text(), QStringLiteral("12"));
    EXPECT_FALSE(f.iLedRound1->Active());
    EXPECT_EQ(frames.size(), 1u);
}

TEST_F(Acquisition, ReceiveLogsTenByteBlocksOnlyAndRejectsABadCheck)
{
    TForm1& f = ready_form();
    cur_addr = 1;
    dec_places[1] = 1;
    const ReplyBytes worked { 0x22, 0x00, 0xD2, 0x04, 0x7C, 0x15, 0x08, 0x07, 0x00, 0x90 };
    inject(f, worked);
    EXPECT_EQ(f.Memo2->toPlainText(), QStringLiteral("2200D2047C1508070090"));
    EXPECT_TRUE(f.iLedRound1->Active());
    EXPECT_DOUBLE_EQ(f.iSevenSegmentAnalog_sv->Value(), 123.4);

    // Blocks of any other length leave no trace.
    f.iLedRound1->SetActive(false);
    f.SComm1_485ReceiveData(nullptr, reinterpret_cast<const char*>(worked.data()), 9);
    f.SComm1_485ReceiveData(nullptr, "12345678901", 11);
    EXPECT_EQ(f.Memo2->blockCount(), 1);
    EXPECT_FALSE(f.iLedRound1->Active());

    // A failed check nibble is logged, clears reply_ok and shows nothing.
    ReplyBytes bad = reply_counts(500, 400, 0, 0, 0);
    bad[9] ^= 0x10;
    inject(f, bad);
    EXPECT_EQ(f.Memo2->blockCount(), 2);
    EXPECT_EQ(reply_ok, 0);
    EXPECT_DOUBLE_EQ(f.iSevenSegmentAnalog_sv->Value(), 123.4);
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
    TForm1& f = ready_form();
    cur_addr = 1;
    cur_code = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sv);
        dec_places[1] = static_cast<byte_t>(c.dec);
        inject(f, reply_bytes(c.a, c.b, c.extra, 0, 0, 0));
        EXPECT_NEAR(f.iSevenSegmentAnalog_sv->Value(), c.sv, 1e-9);
        EXPECT_NEAR(f.iSevenSegmentAnalog_pv->Value(), c.pv, 1e-9);
        EXPECT_EQ(f.iSevenSegmentAnalog_sv->Precision(), c.sv_precision);
        EXPECT_EQ(f.iSevenSegmentAnalog_pv->Precision(), c.pv_precision);
    }
}

TEST_F(Acquisition, StatusBitsTwoToSevenLightTheAlarmLeds)
{
    struct Case {
        int status;
        std::array<bool, 6> lit;
    };
    const Case cases[] = {
        { 0xFC, { true, true, true, true, true, true } },
        { 0x03, { false, false, false, false, false, false } },
        { 0x04, { true, false, false, false, false, false } },
        { 0x80, { false, false, false, false, false, true } },
    };
    TForm1& f = ready_form();
    enable(f, { 1, 2, 3, 4, 5, 6, 7, 8, 9 });
    f.ComboBox10->setEditText(QStringLiteral("9"));
    poll_until(f, 9); // slot 9: first panel of 数据显示3
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        inject(f, reply_counts(100, 100, 0, c.status, 0));
        for (int k = 0; k < 6; ++k) {
            EXPECT_EQ(f.main_alarm_led[static_cast<size_t>(k)]->Active(), c.lit[static_cast<size_t>(k)]);
            TiLedRectangle* led = f.alarm_led[static_cast<size_t>(8 * 6 + k + 1)];
            EXPECT_EQ(led->Active(), c.lit[static_cast<size_t>(k)]);
            EXPECT_TRUE(f.panel_box[8]->isAncestorOf(led));
            EXPECT_EQ(f.panel_box[8]->objectName(), QStringLiteral("GroupBox23"));
        }
    }
}

TEST_F(Acquisition, CodeZeroSegmentWordFillsCellAndSegmentLabels)
{
    TForm1& f = ready_form();
    enable(f, { 1, 2, 4 });
    poll_until(f, 4);
    ASSERT_EQ(cur_slot, 3);
    inject(f, reply_counts(100, 100, 0, 0, -4));
    EXPECT_EQ(f.StringGrid1->Cells(4, 2), QStringLiteral("4"));
    EXPECT_EQ(f.Label16->text(), QStringLiteral("4"));
    EXPECT_EQ(f.segment_label[3]->text(), QStringLiteral("4"));

    // A non-negative word leaves the cell; the labels show what it holds.
    f.StringGrid1->setCells(4, 2, QStringLiteral("9"));
    inject(f, reply_counts(100, 100, 0, 0, 7));
    EXPECT_EQ(f.StringGrid1->Cells(4, 2), QStringLiteral("9"));
    EXPECT_EQ(f.Label16->text(), QStringLiteral("9"));
    EXPECT_EQ(f.segment_label[3]->text(), QStringLiteral("9"));
}

TEST_F(Acquisition, CodeTwoAbove908IsStoredAndShownInTheGridAsZero)
{
    struct Case {
        int raw;
        const char* cell;
        double stored;
    };
    const Case cases[] = { { 950, "0", 0 }, { 900, "900", 900 } };
    TForm1& f = ready_form();
    enable(f, { 1 });
    addr_slot[1] = 1;
    f.Timer1->setEnabled(false); // a run's read
    cur_addr = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.raw);
        cur_code = 2;
        inject(f, reply_counts(0, 0, 0, 0, c.raw));
        EXPECT_EQ(f.StringGrid1->Cells(2, 3), QString::fromLatin1(c.cell));
        EXPECT_DOUBLE_EQ(
            db_value(QStringLiteral("SELECT no1 FROM ai_para WHERE id = 3")).toDouble(), c.stored);
        EXPECT_DOUBLE_EQ(f.iSevenSegmentAnalog_val->Value(), c.raw);
    }
}

TEST_F(Acquisition, ManualOutputReplyFillsRowOneAndEndsTheCommand)
{
    TForm1& f = ready_form();
    enable(f, { 3 });
    addr_slot[3] = 1;
    cur_addr = 3;
    cur_code = 0;
    ctrl_cmd_pending = 1;
    write_pending = 1;
    para_value = 37.5f; // the commanded output
    const qint64 rows = mea_rows();
    const QString segment_cell = f.StringGrid1->Cells(2, 2);
    inject(f, reply_counts(100, 90, 3750, 0, -2));
    EXPECT_EQ(f.StringGrid1->Cells(2, 1), QStringLiteral("37.50"));
    EXPECT_EQ(f.StringGrid1->Cells(2, 2), segment_cell); // no segment from a command reply
    EXPECT_EQ(f.Label16->text(), QStringLiteral("1"));
    EXPECT_EQ(ctrl_cmd_pending, 0);
    EXPECT_EQ(write_pending, 0);
    EXPECT_EQ(f.iPlot[0]->Channel(0)->Count(), 0);
    EXPECT_EQ(mea_rows(), rows);
}

TEST_F(Acquisition, EveryReplyOfTheReadAllRunScrollsTheGrid)
{
    TForm1& f = ready_form();
    enable(f, { 1 });
    addr_slot[1] = 1;
    f.Timer1->setEnabled(false);
    f.iTimers1->SetEnabled(1, true);
    cur_addr = 1;
    const int top = f.StringGrid1->TopRow();
    for (int code = 1; code <= 3; ++code) {
        cur_code = code;
        inject(f, reply_counts(0, 0, 0, 0, 5));
    }
    f.iTimers1->SetEnabled(1, false);
    EXPECT_EQ(f.StringGrid1->TopRow(), top + 3);
}

TEST_F(Acquisition, RunStateReplyOfTheControlAddressSetsItsLed)
{
    TForm1& f = ready_form();
    enable(f, { 3, 7 });
    addr_slot[7] = 2;
    f.ComboBox7->setEditText(QStringLiteral("7"));
    f.Timer1->setEnabled(false);
    cur_addr = 7;
    TiLedRound* led = f.run_led[2];
    struct Step {
        int value;
        bool active;
        TColor colour;
    };
    const Step steps[]
        = { { 0, true, clRed }, { 1, false, clRed }, { 2, true, clGreen }, { 5, true, clGreen } };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.value);
        cur_code = 10;
        inject(f, reply_counts(0, 0, 0, 0, s.value));
        EXPECT_EQ(led->Active(), s.active);
        EXPECT_EQ(led->ActiveColor(), tcolor(s.colour));
    }
    // Not while a parameter run is active, and not for another address.
    para_run_active = 1;
    inject(f, reply_counts(0, 0, 0, 0, 1));
    EXPECT_TRUE(led->Active());
    para_run_active = 0;
    f.ComboBox7->setEditText(QStringLiteral("3"));
    inject(f, reply_counts(0, 0, 0, 0, 1));
    EXPECT_TRUE(led->Active());
    for (size_t s = 1; s <= 12; ++s) {
        if (s != 2) {
            EXPECT_FALSE(f.run_led[s]->Active()) << s;
        }
    }
}

TEST_F(Acquisition, PollReplyPlotsFillsItsPanelAndLogsAMeasurement)
{
    TForm1& f = ready_form();
    enable(f, { 1, 2, 3, 4, 5, 17 });
    f.ComboBox10->setEditText(QStringLiteral("20"));
    dec_places[17] = 1;
    poll_until(f, 17);
    ASSERT_EQ(cur_slot, 6);
    const qint64 rows = mea_rows();
    inject(f, reply_counts(250, 253, 4550, 0x84, -2));

    TiPlot* trend = f.iPlot[1];
    TiPlot* dev = f.iPlot[4];
    ASSERT_EQ(trend->Channel(2)->Count(), 1);
    ASSERT_EQ(trend->Channel(3)->Count(), 1);
    ASSERT_EQ(dev->Channel(1)->Count(), 1);
    // The charts hold their points as floats.
    EXPECT_FLOAT_EQ(trend->Channel(2)->DataY(0), 25.3);
    EXPECT_FLOAT_EQ(trend->Channel(3)->DataY(0), 25.0);
    EXPECT_FLOAT_EQ(dev->Channel(1)->DataY(0), 0.3);
    EXPECT_EQ(trend->Channel(2)->TitleText(), QStringLiteral("17#"));
    EXPECT_EQ(trend->Channel(3)->TitleText(), QStringLiteral("17#set"));
    EXPECT_EQ(dev->Channel(1)->TitleText(), QStringLiteral("17#"));
    for (TiPlot* p : f.iPlot) {
        for (int ch = 0; ch < p->ChannelCount(); ++ch) {
            if (!((p == trend && (ch == 2 || ch == 3)) || (p == dev && ch == 1))) {
                EXPECT_EQ(p->Channel(ch)->Count(), 0) << p->objectName().toStdString() << ch;
            }
        }
    }

    EXPECT_NEAR(f.sv_disp[6]->Value(), 25.0, 1e-9);
    EXPECT_NEAR(f.pv_disp[6]->Value(), 25.3, 1e-9);
    EXPECT_NEAR(f.mv_disp[6]->Value(), 45.5, 1e-9);
    EXPECT_EQ(f.sv_disp[6]->Precision(), 1);
    EXPECT_EQ(f.pv_disp[6]->Precision(), 1);
    EXPECT_EQ(f.panel_label[6]->text(), QStringLiteral("17"));
    for (int k = 1; k <= 6; ++k)
        EXPECT_EQ(f.alarm_led[static_cast<size_t>(5 * 6 + k)]->Active(), k == 1 || k == 6) << k;
    EXPECT_EQ(f.segment_label[6]->text(), QStringLiteral("2"));
    EXPECT_EQ(run_seen, 1);

    ASSERT_EQ(mea_rows(), rows + 1);
    const QString last = QStringLiteral("SELECT %1 FROM mea_tbl ORDER BY rowid DESC LIMIT 1");
    EXPECT_EQ(db_value(last.arg(QStringLiteral("address"))).toString(), QStringLiteral("17#仪表"));
    EXPECT_DOUBLE_EQ(db_value(last.arg(QStringLiteral("sv"))).toDouble(), 25.0);
    EXPECT_NEAR(db_value(last.arg(QStringLiteral("pv"))).toDouble(), 25.3, 1e-9);
    EXPECT_DOUBLE_EQ(db_value(last.arg(QStringLiteral("mv"))).toDouble(), 45.5);
    EXPECT_DOUBLE_EQ(db_value(last.arg(QStringLiteral("val"))).toDouble(), para_value);
    EXPECT_EQ(db_value(last.arg(QStringLiteral("alm"))).toInt(), 0x84);
    // The points stand at the time of their row: the charts and the log share one axis.
    const std::optional<qint64> logged = db_clock_ms(db_value(last.arg(QStringLiteral("\"time\""))).toString());
    ASSERT_TRUE(logged);
    for (TiPlotChannel* c : { trend->Channel(2), trend->Channel(3), dev->Channel(1) })
        EXPECT_DOUBLE_EQ(c->DataX(0), chart_x(*logged));
}

// Each instrument's alarms are followed from the status bytes of its poll
// replies; every change goes to the alarm history and its page.
TEST_F(Acquisition, PollRepliesLogTheirAlarmTransitions)
{
    TForm1& f = ready_form();
    enable(f, { 1, 2 });
    f.ComboBox10->setEditText(QStringLiteral("5"));
    const struct {
        int address;
        int status;
    } replies[] = { { 1, 0x00 }, { 2, 0x40 }, { 1, 0x40 }, { 2, 0x40 }, { 1, 0x60 }, { 2, 0x00 } };
    for (const auto& r : replies) {
        poll_until(f, r.address);
        inject(f, reply_counts(0, 0, 0, r.status, 0));
    }
    EXPECT_EQ(db_value(QStringLiteral("SELECT group_concat(address || ' ' || alarm || ' ' || raised, ';') "
                                      "FROM (SELECT * FROM alarm_log ORDER BY id)"))
                  .toString(),
        QStringLiteral("2 HIAL 1;1 HIAL 1;1 LoAL 1;2 HIAL 0"));
    f.PageControl1->setCurrentWidget(f.TabSheet_alarm);
    f.alarm_page->refresh();
    EXPECT_EQ(f.alarm_page->model()->rowCount(), 4);
}

TEST_F(Acquisition, StoppedInstrumentDoesNotRunTheChartClock)
{
    TForm1& f = ready_form();
    enable(f, { 1 });
    poll_until(f, 1);
    f.StringGrid1->setCells(2, 11, QStringLiteral("StoP"));
    inject(f, reply_counts(100, 100, 0, 0, 0));
    EXPECT_EQ(run_seen, 0);
    f.StringGrid1->setCells(2, 11, QStringLiteral("run"));
    inject(f, reply_counts(100, 100, 0, 0, 0));
    EXPECT_EQ(run_seen, 1);
}

TEST_F(Acquisition, PlottingRuleChannelsAndDeviationClamp)
{
    struct Case {
        int slot;
        double pv, sv, dev;
        int trend, pv_channel, deviation_chart, dev_channel;
    };
    const Case cases[] = {
        { 6, 25.3, 25.0, 0.3, 1, 2, 4, 1 },
        { 1, 30, 25, 0.5, 0, 0, 3, 0 },
        { 1, 20, 25, -0.5, 0, 0, 3, 0 },
        { 12, 80, 80.2, -0.2, 2, 6, 5, 3 },
    };
    TForm1& f = ready_form();
    const QDateTime when(QDate(2026, 3, 1), QTime(12, 0, 1, 500));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.slot);
        pv_value = c.pv;
        sv_value = c.sv;
        f.plot_reply(c.slot, 40, when);
        TiPlotChannel* pv = f.iPlot[static_cast<size_t>(c.trend)]->Channel(c.pv_channel);
        TiPlotChannel* sv = f.iPlot[static_cast<size_t>(c.trend)]->Channel(c.pv_channel + 1);
        TiPlotChannel* dev = f.iPlot[static_cast<size_t>(c.deviation_chart)]->Channel(c.dev_channel);
        EXPECT_DOUBLE_EQ(pv->DataX(pv->Count() - 1), chart_x(when));
        EXPECT_FLOAT_EQ(pv->DataY(pv->Count() - 1), c.pv);
        EXPECT_FLOAT_EQ(sv->DataY(sv->Count() - 1), c.sv);
        EXPECT_FLOAT_EQ(dev->DataY(dev->Count() - 1), c.dev);
        EXPECT_EQ(pv->TitleText(), QStringLiteral("40#"));
        EXPECT_EQ(sv->TitleText(), QStringLiteral("40#set"));
        EXPECT_EQ(dev->TitleText(), QStringLiteral("40#"));
    }
    // No chart has a channel for a slot outside 1..12.
    std::int64_t before = 0, after = 0;
    for (TiPlot* p : f.iPlot)
        for (int ch = 0; ch < p->ChannelCount(); ++ch)
            before += p->Channel(ch)->Count();
    f.plot_reply(0, 1, when);
    f.plot_reply(13, 1, when);
    for (TiPlot* p : f.iPlot)
        for (int ch = 0; ch < p->ChannelCount(); ++ch)
            after += p->Channel(ch)->Count();
    EXPECT_EQ(after, before);
}

// The answer to a command for an address that is not polled has no value
// column: column 1 holds the parameter names and must not change, and no
// panel, LED or chart belongs to it.
TEST_F(Acquisition, ReplyOfAnAddressWithoutASlotTouchesNoGridPanelLedOrChart)
{
    TForm1& f = ready_form();
    enable(f, { 1, 2 });
    f.ComboBox7->setEditText(QStringLiteral("9"));
    QStringList names;
    for (int r = 0; r < f.StringGrid1->RowCount(); ++r)
        names << f.StringGrid1->Cells(1, r);
    const QString label16 = f.Label16->text();
    const qint64 rows = mea_rows();
    struct Case {
        int addr, code, raw;
    };
    const Case cases[] = { { 9, 0, -3 }, { 9, 5, 123 }, { 9, 10, 0 }, { 30, 10, 2 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.addr * 1000 + c.code);
        cur_addr = c.addr;
        cur_code = c.code;
        ctrl_cmd_pending = 1;
        inject(f, reply_counts(100, 120, 500, 0xFC, c.raw));
    }
    QStringList after;
    for (int r = 0; r < f.StringGrid1->RowCount(); ++r)
        after << f.StringGrid1->Cells(1, r);
    EXPECT_EQ(after, names);
    EXPECT_EQ(f.Label16->text(), label16);
    for (size_t s = 1; s <= 12; ++s) {
        EXPECT_EQ(f.panel_label[s]->text(), QStringLiteral("0"));
        EXPECT_EQ(f.segment_label[s]->text(), QStringLiteral("1"));
        EXPECT_FALSE(f.run_led[s]->Active());
        EXPECT_EQ(f.sv_disp[s]->Value(), 0);
    }
    for (size_t k = 1; k <= 72; ++k)
        EXPECT_FALSE(f.alarm_led[k]->Active());
    for (TiPlot* p : f.iPlot)
        for (int ch = 0; ch < p->ChannelCount(); ++ch)
            EXPECT_EQ(p->Channel(ch)->Count(), 0);
    EXPECT_EQ(mea_rows(), rows);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(Acquisition, ThirteenthInstrumentHasAGridColumnButNoPanelLedOrChart)
{
    TForm1& f = ready_form();
    std::vector<int> addresses;
    for (int a = 0; a <= 12; ++a)
        addresses.push_back(a);
    enable(f, addresses);
    f.ComboBox10->setEditText(QStringLiteral("20"));
    f.ComboBox7->setEditText(QStringLiteral("12"));
    ASSERT_EQ(f.StringGrid1->ColCount(), 15);
    poll_until(f, 12);
    ASSERT_EQ(cur_slot, 13);
    const qint64 rows = mea_rows();
    inject(f, reply_counts(100, 120, 500, 0xFC, -2));
    EXPECT_EQ(f.StringGrid1->Cells(14, 2), QStringLiteral("2"));
    EXPECT_EQ(f.Label16->text(), QStringLiteral("2"));
    f.Timer1->setEnabled(false); // as for a run's read
    cur_code = 10;
    inject(f, reply_counts(100, 120, 500, 0xFC, 0));
    EXPECT_EQ(f.StringGrid1->Cells(14, 11), QString::fromStdString(param_value_text(10, 0, 0)));
    for (size_t s = 1; s <= 12; ++s) {
        EXPECT_EQ(f.panel_label[s]->text(), QStringLiteral("0"));
        EXPECT_EQ(f.segment_label[s]->text(), QStringLiteral("1"));
        EXPECT_FALSE(f.run_led[s]->Active());
    }
    for (size_t k = 1; k <= 72; ++k)
        EXPECT_FALSE(f.alarm_led[k]->Active());
    for (TiPlot* p : f.iPlot)
        for (int ch = 0; ch < p->ChannelCount(); ++ch)
            EXPECT_EQ(p->Channel(ch)->Count(), 0);
    EXPECT_EQ(mea_rows(), rows + 1); // the poll reply is logged
    EXPECT_TRUE(errors.isEmpty());
}

// --- Panels ---------------------------------------------------------------------

TEST_F(Acquisition, SlotRankAlarmPanelsAndBitTest)
{
    TForm1& f = ready_form();
    addr_enabled[3] = addr_enabled[7] = addr_enabled[20] = 1;
    const std::pair<int, int> ranks[]
        = { { 3, 1 }, { 7, 2 }, { 20, 3 }, { 5, 1 }, { 0, 0 }, { 100, 3 }, { 255, 3 } };
    for (auto [address, rank] : ranks)
        EXPECT_EQ(f.get_dis_pos(address), rank) << address;
    addr_enabled[100] = 1;
    EXPECT_EQ(f.get_dis_pos(255), 4);

    alarm_byte = 0xFC;
    f.dis_alarm(12);
    f.dis_alarm(255);
    f.dis_alarm(-1);
    for (size_t k = 1; k <= 72; ++k)
        EXPECT_FALSE(f.alarm_led[k]->Active());
    f.dis_alarm(11); // slot 12: GroupBox1, last panel of 数据显示3
    for (size_t k = 67; k <= 72; ++k) {
        EXPECT_TRUE(f.alarm_led[k]->Active());
        EXPECT_TRUE(f.panel_box[11]->isAncestorOf(f.alarm_led[k]));
    }
    EXPECT_EQ(f.panel_box[11]->objectName(), QStringLiteral("GroupBox1"));
    EXPECT_EQ(f.panel_box[11]->parentWidget(), f.TabSheet5);

    EXPECT_TRUE(gethexbit(0x81, 0));
    EXPECT_TRUE(gethexbit(0x81, 7));
    EXPECT_FALSE(gethexbit(0x81, 3));
}

// --- Address boxes and scan ------------------------------------------------------

TEST_F(Acquisition, BoxTickedBeforeAnyScanEnablesPollingButShowsNoPanel)
{
    TForm1& f = ready_form();
    f.addr_check[3]->click();
    EXPECT_EQ(addr_enabled[3], 1);
    EXPECT_EQ(inst_count, 0);
    EXPECT_EQ(visible_panels(f), 0);
    f.Timer1Timer(nullptr);
    EXPECT_EQ(frames, std::vector<std::string> { read_frame(3, 0) });
    // Boxes of addresses 12 and up only follow the scan.
    f.addr_check[20]->click();
    EXPECT_EQ(addr_enabled[20], 0);
}

TEST_F(Acquisition, ScanProbesBelowTheLimitMarksAnswersAndLaysOutTheGrid)
{
    TForm1& f = ready_form();
    f.store_parameter(4, 5, 123); // a stored set the end of the scan loads
    f.ComboBox10->setEditText(QStringLiteral("8"));
    f.Button_scanClick(nullptr);
    EXPECT_FALSE(f.Timer1->Enabled());
    EXPECT_TRUE(f.iTimers1->Enabled(3));
    for (QGroupBox* g : f.address_groups)
        EXPECT_FALSE(g->isEnabled());
    for (int tick = 0; tick < 9; ++tick)
        scan_tick(f, cur_addr + 1 == 1 || cur_addr + 1 == 4 ? std::optional(reply_counts(0, 0, 0, 0, 0)) // input type 0
                                                              : std::nullopt);
    std::vector<std::string> expected;
    for (int a = 0; a < 8; ++a)
        expected.push_back(read_frame(a, 22));
    EXPECT_EQ(frames, expected);

    EXPECT_EQ(scan_active, 0);
    EXPECT_FALSE(f.iTimers1->Enabled(3));
    EXPECT_TRUE(f.Timer1->Enabled());
    EXPECT_EQ(cur_addr, -1);
    EXPECT_EQ(cur_slot, 0);
    EXPECT_EQ(inst_count, 2);
    for (QGroupBox* g : f.address_groups)
        EXPECT_TRUE(g->isEnabled());
    for (int a = 0; a < 90; ++a)
        EXPECT_EQ(f.addr_check[static_cast<size_t>(a)]->isChecked(), a == 1 || a == 4) << a;
    EXPECT_EQ(addr_slot[1], 1);
    EXPECT_EQ(addr_slot[4], 2);
    EXPECT_EQ(visible_panels(f), 2);
    EXPECT_EQ(f.ComboBox6->count(), 2);
    EXPECT_EQ(f.ComboBox7->itemText(1), QStringLiteral("4"));
    ASSERT_EQ(f.StringGrid1->ColCount(), 4);
    EXPECT_EQ(f.StringGrid1->Cells(2, 0), QStringLiteral("1#仪表"));
    EXPECT_EQ(f.StringGrid1->Cells(3, 0), QStringLiteral("4#仪表"));
    EXPECT_EQ(f.StringGrid1->Cells(3, 6), QString::fromStdString(param_value_text(5, 123, dec_places[4])));
    EXPECT_TRUE(f.Button3->isEnabled());
    EXPECT_TRUE(f.Button12->isEnabled());
    EXPECT_TRUE(f.Button14->isEnabled());
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

TEST_F(Acquisition, ScanLimitOutsideTheAddressesProbesZeroTo89OrNothing)
{
    TForm1& f = ready_form();
    f.ComboBox10->setEditText(QStringLiteral("500"));
    f.Button_scanClick(nullptr);
    while (scan_active)
        scan_tick(f);
    ASSERT_EQ(frames.size(), 90u);
    EXPECT_EQ(frames.back(), read_frame(89, 22));

    frames.clear();
    f.ComboBox10->setEditText(QStringLiteral("-2"));
    f.Button_scanClick(nullptr);
    scan_tick(f);
    EXPECT_EQ(scan_active, 0);
    EXPECT_TRUE(frames.empty());
}

TEST_F(Acquisition, BoxChangesAfterAScanRelabelThePanelsByIndex)
{
    TForm1& f = ready_form();
    f.ComboBox10->setEditText(QStringLiteral("8"));
    f.Button_scanClick(nullptr);
    while (scan_active)
        scan_tick(f, cur_addr + 1 == 1 || cur_addr + 1 == 4 ? std::optional(reply_counts(0, 0, 0, 0, 0)) : std::nullopt);
    ASSERT_EQ(inst_count, 2);
    f.addr_check[6]->click();
    EXPECT_EQ(inst_count, 3);
    EXPECT_EQ(visible_panels(f), 3);
    for (size_t k = 0; k < 3; ++k)
        EXPECT_EQ(f.panel_label[k + 1]->text(), QString::number(k) + QStringLiteral("#仪表"));
    for (int a : { 6, 4, 1 })
        f.addr_check[static_cast<size_t>(a)]->click();
    EXPECT_EQ(inst_count, 0);
    EXPECT_EQ(visible_panels(f), 0);

    // A second scan lists its finds again in both address boxes.
    f.Button_scanClick(nullptr);
    while (scan_active)
        scan_tick(f, cur_addr + 1 == 1 || cur_addr + 1 == 4 ? std::optional(reply_counts(0, 0, 0, 0, 0)) : std::nullopt);
    QStringList items6, items7;
    for (int i = 0; i < f.ComboBox6->count(); ++i)
        items6 << f.ComboBox6->itemText(i);
    for (int i = 0; i < f.ComboBox7->count(); ++i)
        items7 << f.ComboBox7->itemText(i);
    const QStringList twice { QStringLiteral("1"), QStringLiteral("4"), QStringLiteral("1"),
        QStringLiteral("4") };
    EXPECT_EQ(items6, twice);
    EXPECT_EQ(items7.mid(items7.size() - 4), twice);
}

TEST_F(Acquisition, ScanFindingFifteenInstrumentsShowsTwelvePanels)
{
    TForm1& f = ready_form();
    f.ComboBox10->setEditText(QStringLiteral("20"));
    f.Button_scanClick(nullptr);
    while (scan_active)
        scan_tick(f, cur_addr + 1 < 15 ? std::optional(reply_counts(0, 0, 0, 0, 0)) : std::nullopt);
    EXPECT_EQ(inst_count, 15);
    for (int a = 0; a < 15; ++a) {
        EXPECT_EQ(addr_enabled[a], 1);
        EXPECT_TRUE(f.addr_check[static_cast<size_t>(a)]->isChecked());
        EXPECT_EQ(addr_slot[a], a + 1);
    }
    EXPECT_EQ(visible_panels(f), 12);
    EXPECT_EQ(f.StringGrid1->ColCount(), 17);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
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

// After a box is unticked, every instrument keeps its own column, panel and
// values: a column write of address 2 sends the column titled "2#仪表" to
// address 2 (its own address in code 34, not another's), and the commands
// read its own program segment count.
TEST_F(Acquisition, UntickingABoxLeavesEveryColumnWithItsOwnAddress)
{
    TForm1& f = ready_form();
    f.ComboBox10->setEditText(QStringLiteral("4"));
    f.Button_scanClick(nullptr);
    while (scan_active)
        scan_tick(f, cur_addr + 1 >= 1 && cur_addr + 1 <= 3 ? std::optional(reply_counts(0, 0, 0, 0, 0)) : std::nullopt);
    ASSERT_EQ(f.StringGrid1->ColCount(), 5);
    // Each column holds a writable table with its own address and segment count.
    for (int address : { 1, 2, 3 }) {
        const int col = value_column_of(*f.StringGrid1, address);
        ASSERT_EQ(f.StringGrid1->Cells(col, 0), value_column_title(address));
        for (int code = 1; code <= 52; ++code) {
            const auto& words = param_words(code);
            const ParamRange range = param_range(code);
            f.StringGrid1->setCells(col, code + 1,
                words.empty() ? QString::number(range.clamped && range.min > 0 ? range.min : 0.0f)
                              : QString::fromStdString(words[0]));
        }
        f.StringGrid1->setCells(col, 35, QString::number(address));
        f.StringGrid1->setCells(col, 36, QStringLiteral("19200"));
        f.StringGrid1->setCells(col, 41, QString::number(address == 2 ? 3 : 0)); // Pno
    }
    f.addr_check[1]->click();
    for (int tick = 0; tick < 4; ++tick) {
        f.Timer1Timer(nullptr);
        if (cur_addr >= 0)
            inject(f, reply_counts(100 * cur_addr, 100 * cur_addr, 0, 0, -cur_addr));
        else
            f.settle_replies();
    }
    EXPECT_EQ(f.panel_label[1]->text(), QStringLiteral("2"));
    EXPECT_EQ(f.panel_label[2]->text(), QStringLiteral("3"));
    EXPECT_EQ(f.StringGrid1->Cells(value_column_of(*f.StringGrid1, 2), 2), QStringLiteral("2")); // segment

    f.ComboBox7->setEditText(QStringLiteral("2"));
    f.Button9->setEnabled(true);
    f.Button5->click(); // RUN/HOLD: address 2 runs a program, so no set value
    EXPECT_FALSE(f.Button9->isEnabled());
    f.settle_replies();

    frames.clear();
    f.Button14->click();
    ASSERT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    std::vector<Sent> writes;
    for (int t = 0; t < 200 && f.iTimers1->Enabled(2); ++t) {
        const size_t before = frames.size();
        f.iTimers1->OnTimer(2)(nullptr);
        if (frames.size() > before) {
            // A write, or its read-back finding what was written.
            const Sent sent = parse_frame(frames.back());
            if (sent.write)
                writes.push_back(sent);
            inject(f, param_reply(writes.back().word));
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
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

// A command between two sweeps, sent or refused, changes no slot: the next
// sweep's replies go to the same panels and chart channels as before.
TEST_F(Acquisition, ACommandBetweenSweepsChangesNoSlot)
{
    struct Case {
        const char* name;
        QPushButton* TForm1::*button;
    };
    const Case cases[] = { { "STOP to 3 (sent)", &TForm1::Button7 }, { "HAND to 3 (refused: no column)", &TForm1::Button6 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        owned_form.reset();
        public_set_reset();
        frames.clear();
        TForm1& f = ready_form();
        enable(f, { 2, 5, 7 });
        for (int sweep = 0; sweep < 2; ++sweep) {
            do {
                f.Timer1Timer(nullptr);
                if (cur_addr >= 0)
                    inject(f, reply_counts(100 * cur_addr, 100 * cur_addr, 0, 0, 0));
            } while (cur_addr != -1);
            if (sweep == 0) {
                f.ComboBox7->setEditText(QStringLiteral("3"));
                errors.clear();
                (f.*(c.button))->click();
                f.settle_replies();
            }
        }
        const int addresses[] = { 2, 5, 7 };
        for (size_t slot = 1; slot <= 3; ++slot) {
            const int a = addresses[slot - 1];
            EXPECT_EQ(f.panel_label[slot]->text(), QString::number(a)) << slot;
            EXPECT_DOUBLE_EQ(f.sv_disp[slot]->Value(), 100.0 * a) << slot;
            TiPlotChannel* pv = f.iPlot[0]->Channel(2 * static_cast<int>(slot - 1));
            EXPECT_EQ(pv->TitleText(), QString::number(a) + QStringLiteral("#")) << slot;
            for (int i = 0; i < pv->Count(); ++i)
                EXPECT_DOUBLE_EQ(pv->DataY(i), 100.0 * a) << slot;
        }
    }
}

// A second answer for an address the scan has already found changes nothing:
// no second item in the address boxes, no second panel.
TEST_F(Acquisition, AnAddressFoundTwiceIsMarkedOnce)
{
    TForm1& f = ready_form();
    f.ComboBox10->setEditText(QStringLiteral("4"));
    f.Button_scanClick(nullptr);
    while (scan_active) {
        const bool probe_two = cur_addr + 1 == 2;
        scan_tick(f, probe_two ? std::optional(reply_counts(0, 0, 0, 0, 0)) : std::nullopt);
        if (probe_two)
            inject(f, reply_counts(0, 0, 0, 0, 0)); // the same probe answered again
    }
    EXPECT_EQ(inst_count, 1);
    EXPECT_EQ(f.ComboBox7->count(), 1);
    EXPECT_EQ(f.ComboBox6->count(), 1);
    EXPECT_EQ(visible_panels(f), 1);
    EXPECT_EQ(f.StringGrid1->ColCount(), 3);
}

// A scan limit that is no number is refused once, when the scan is asked for:
// nothing starts, so nothing repeats every 300 ms and no address is skipped.
TEST_F(Acquisition, ScanLimitThatIsNoNumberStartsNothing)
{
    for (const char* limit : { "8a", "", " " }) {
        SCOPED_TRACE(limit);
        TForm1& f = ready_form();
        f.addr_check[2]->click();
        errors.clear();
        f.ComboBox10->setEditText(QString::fromLatin1(limit));
        f.Button_scan->click();
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors[0].contains(QStringLiteral("“巡扫”未开始"))) << errors[0].toStdString();
        EXPECT_EQ(scan_active, 0);
        EXPECT_FALSE(f.iTimers1->Enabled(3));
        EXPECT_TRUE(f.Timer1->Enabled());
        EXPECT_EQ(addr_enabled[2], 1);
        EXPECT_TRUE(f.addr_check[2]->isChecked());
        for (QGroupBox* g : f.address_groups)
            EXPECT_TRUE(g->isEnabled());
        EXPECT_TRUE(frames.empty());
        owned_form.reset();
        public_set_reset();
        QFile::remove(dir.filePath(QStringLiteral("station.ini"))); // no resuming in the next round
    }
}

// A run-state reply while the control address box holds no number is an
// answer for some other address: it is stored and ends its command, silently.
TEST_F(Acquisition, RunStateReplyWithAControlAddressThatIsNoNumber)
{
    TForm1& f = ready_form();
    enable(f, { 4 });
    f.ComboBox7->setEditText(QStringLiteral("abc"));
    cur_addr = 4;
    cur_code = 10;
    ctrl_cmd_pending = 1;
    write_pending = 1;
    inject(f, reply_counts(0, 0, 0, 0, 2));
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(ctrl_cmd_pending, 0);
    EXPECT_EQ(write_pending, 0);
    EXPECT_FALSE(f.run_led[1]->Active());
    EXPECT_EQ(db_value(QStringLiteral("SELECT no4 FROM ai_para WHERE id = 11")).toDouble(), 2.0);
}
