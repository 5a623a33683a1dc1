// The window as a view, with no line and no engine at work: reports are
// emitted on the engine's signals directly (as a queued report arrives) and
// the panels, lamps, charts, grid and buttons are checked.
#include "alarm_log.h"
#include "alarm_page.h"
#include "browser_pages.h"
#include "chart_history.h"
#include "form_fixture.h"
#include "iLedRectangle.h"
#include "iLedRound.h"
#include "iPlot.h"
#include "iPlotChannel.h"
#include "iSevenSegmentAnalog.h"
#include "icolors.h"
#include "measurement_model.h"
#include "row_queue.h"
#include "station_db.h"
#include "string_grid.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>

#include <array>
#include <cmath>
#include <vector>

namespace {

class ReportView : public FormFixture {
protected:
    void SetUp() override
    {
        FormFixture::SetUp();
        f = &make_form();
    }
    // A reply as the engine reports it.
    static ReplyShown reply(int address, int slot, RequestKind kind = RequestKind::Poll)
    {
        ReplyShown r;
        r.address = address;
        r.slot = slot;
        r.kind = kind;
        r.arrived = QDateTime(QDate(2026, 3, 1), QTime(12, 0, 1, 500));
        return r;
    }
    void show(const ReplyShown& r) { Q_EMIT engine().reply_shown(r); }
    void lay_out(const std::vector<int>& addresses, int inst_count, bool scanning = false, bool relabel = false)
    {
        RosterShown r;
        r.addresses = addresses;
        r.inst_count = inst_count;
        r.scanning = scanning;
        r.relabel = relabel;
        Q_EMIT engine().roster_changed(r);
    }
    int visible_panels() const
    {
        int n = 0;
        for (QGroupBox* box : f->panel_box)
            n += box->isVisibleTo(box->parentWidget()) ? 1 : 0;
        return n;
    }
    std::int64_t chart_points() const
    {
        std::int64_t n = 0;
        for (TiPlot* p : f->iPlot)
            for (int ch = 0; ch < p->ChannelCount(); ++ch)
                n += p->Channel(ch)->Count();
        return n;
    }
    bool any_alarm_led() const
    {
        for (size_t k = 1; k <= 72; ++k)
            if (f->alarm_led[k]->Active())
                return true;
        return false;
    }

    TForm1* f = nullptr;
};

} // namespace

// Every valid reply reaches the main panel with the precision the engine
// chose; only a poll reply reaches its slot's panel and the charts.
TEST_F(ReportView, MainPanelShowsEveryReplyAndOnlyAPollFillsItsPanel)
{
    lay_out({ 4 }, 1);
    struct Case {
        RequestKind kind;
        double sv, pv, mv;
        float val;
        int sv_precision, pv_precision;
        bool panel;
    };
    const Case cases[] = {
        { RequestKind::Poll, 12.3, 12.1, 45.5, -2, 1, 1, true },
        { RequestKind::Command, 123.4, 0, 37.5, 37.5f, 2, 1, false },
        { RequestKind::ReadRun, 1234.5, 1234.5, 0, 950, 1, 1, false },
        { RequestKind::Probe, 456.78, 456.78, 0, 9, 2, 2, false },
        { RequestKind::SetupWrite, -1500, -1500, 10, 512, 1, 1, false },
        { RequestKind::Inspect, 10.0, 110.0, 0, 3, 1, 2, false },
    };
    double panel_sv = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        ReplyShown r = reply(4, 1, c.kind);
        r.sv = c.sv;
        r.pv = c.pv;
        r.mv = c.mv;
        r.val = c.val;
        r.sv_precision = c.sv_precision;
        r.pv_precision = c.pv_precision;
        const std::int64_t points = chart_points();
        show(r);
        EXPECT_DOUBLE_EQ(f->iSevenSegmentAnalog_sv->Value(), c.sv);
        EXPECT_DOUBLE_EQ(f->iSevenSegmentAnalog_pv->Value(), c.pv);
        EXPECT_DOUBLE_EQ(f->iSevenSegmentAnalog_mv->Value(), c.mv);
        EXPECT_DOUBLE_EQ(f->iSevenSegmentAnalog_val->Value(), c.val);
        EXPECT_EQ(f->iSevenSegmentAnalog_sv->Precision(), c.sv_precision);
        EXPECT_EQ(f->iSevenSegmentAnalog_pv->Precision(), c.pv_precision);
        if (c.panel)
            panel_sv = c.sv;
        EXPECT_DOUBLE_EQ(f->sv_disp[1]->Value(), panel_sv);
        EXPECT_EQ(chart_points(), points + (c.panel ? 3 : 0));
        EXPECT_EQ(f->panel_label[1]->text(), QStringLiteral("4")); // the first case is a poll
    }
}

TEST_F(ReportView, StatusBitsTwoToSevenLightTheAlarmLeds)
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
    std::vector<int> addresses { 1, 2, 3, 4, 5, 6, 7, 8, 9 };
    lay_out(addresses, 9);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        ReplyShown r = reply(9, 9); // slot 9: the first panel of 数据显示3
        r.alarm = static_cast<std::uint8_t>(c.status);
        show(r);
        for (size_t k = 0; k < 6; ++k) {
            EXPECT_EQ(f->main_alarm_led[k]->Active(), c.lit[k]) << k;
            TiLedRectangle* led = f->alarm_led[8 * 6 + k + 1];
            EXPECT_EQ(led->Active(), c.lit[k]) << k;
            EXPECT_TRUE(f->panel_box[8]->isAncestorOf(led));
        }
        for (size_t k = 1; k <= 48; ++k)
            EXPECT_FALSE(f->alarm_led[k]->Active()) << "slot " << (k - 1) / 6 + 1;
    }
    EXPECT_EQ(f->panel_box[8]->objectName(), QStringLiteral("GroupBox23"));
    // A command reply lights the main panel's LEDs only.
    ReplyShown command = reply(9, 9, RequestKind::Command);
    command.alarm = 0x04;
    show(command);
    EXPECT_TRUE(f->main_alarm_led[0]->Active());
    EXPECT_FALSE(f->main_alarm_led[5]->Active());
    EXPECT_TRUE(f->alarm_led[8 * 6 + 6]->Active()) << "the panel keeps what its last poll showed";
}

// The program segment the engine sends goes to the main panel and the
// slot's panel; a reply without one leaves both.
TEST_F(ReportView, SegmentTextGoesToTheMainPanelAndItsSlot)
{
    lay_out({ 1, 2, 4 }, 3);
    ReplyShown r = reply(4, 3);
    r.segment = QStringLiteral("4");
    r.has_segment = true;
    show(r);
    EXPECT_EQ(f->Label16->text(), QStringLiteral("4"));
    EXPECT_EQ(f->segment_label[3]->text(), QStringLiteral("4"));
    EXPECT_EQ(f->segment_label[1]->text(), QStringLiteral("1"));

    r.has_segment = false;
    r.segment.clear();
    show(r);
    EXPECT_EQ(f->Label16->text(), QStringLiteral("4"));
    EXPECT_EQ(f->segment_label[3]->text(), QStringLiteral("4"));

    // An address without a slot: the main panel only.
    ReplyShown other = reply(30, 0, RequestKind::Command);
    other.segment = QStringLiteral("7");
    other.has_segment = true;
    show(other);
    EXPECT_EQ(f->Label16->text(), QStringLiteral("7"));
    for (size_t s = 1; s <= 12; ++s)
        EXPECT_EQ(f->segment_label[s]->text(), s == 3 ? QStringLiteral("4") : QStringLiteral("1")) << s;
}

// The run lamp of the control address's slot: 0 red, 1 dark, 2 green; no
// report of a state leaves it as it is.
TEST_F(ReportView, RunLampFollowsTheReportedRunState)
{
    lay_out({ 3, 7 }, 2);
    TiLedRound* led = f->run_led[2];
    struct Step {
        int state;
        bool active;
        TColor colour;
    };
    const Step steps[] = { { 0, true, clRed }, { 1, false, clRed }, { 2, true, clGreen }, { -1, true, clGreen },
        { 0, true, clRed } };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.state);
        ReplyShown r = reply(7, 2, RequestKind::Command);
        r.code = 10;
        r.run_state = s.state;
        show(r);
        EXPECT_EQ(led->Active(), s.active);
        EXPECT_EQ(led->ActiveColor(), tcolor(s.colour));
    }
    // A state for an address without a panel lights nothing.
    for (int slot : { 0, 13 }) {
        ReplyShown r = reply(20, slot, RequestKind::Command);
        r.run_state = 2;
        show(r);
    }
    for (size_t s = 1; s <= 12; ++s) {
        if (s != 2) {
            EXPECT_FALSE(f->run_led[s]->Active()) << s;
        }
    }
}

// A poll reply fills its slot's panel and is plotted on the slot's channels
// at the time it arrived: trend chart (slot - 1) / 4, channels 2k and 2k + 1,
// An address that missed more than three polls (here polled every 2 s x 2
// addresses) starts a new piece of line: a break (NaN) goes before its next
// point on each of its channels; answers at the usual pace join up.
TEST_F(ReportView, AGapInTheAnswersBreaksTheLines)
{
    lay_out({ 1, 2 }, 2);
    const QDateTime t0 = reply(1, 1).arrived;
    for (int s : { 0, 4, 8, 60, 64 }) {
        ReplyShown r = reply(1, 1);
        r.pv = 20 + s;
        r.sv = 25;
        r.arrived = t0.addSecs(s);
        show(r);
    }
    for (TiPlotChannel* ch : { f->iPlot[0]->Channel(0), f->iPlot[0]->Channel(1), f->iPlot[3]->Channel(0) }) {
        ASSERT_EQ(ch->Count(), 6);
        for (int i : { 0, 1, 2, 4, 5 })
            EXPECT_FALSE(std::isnan(ch->DataY(i))) << i;
        EXPECT_TRUE(std::isnan(ch->DataY(3)));
        EXPECT_DOUBLE_EQ(ch->DataX(3), chart_x(t0.addSecs(60)));
    }
}

// and the deviation, clamped to +-0.5, on the deviation chart.
TEST_F(ReportView, PollReplyFillsItsPanelAndPlotsOnItsChannels)
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
    std::vector<int> addresses;
    for (int a = 1; a <= 12; ++a)
        addresses.push_back(a);
    lay_out(addresses, 12);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.slot);
        ReplyShown r = reply(40, c.slot);
        r.pv = c.pv;
        r.sv = c.sv;
        r.mv = 45.5;
        r.sv_precision = 1;
        r.pv_precision = 2;
        r.alarm = 0x84;
        r.arrived = r.arrived.addSecs(c.slot);
        show(r);
        TiPlotChannel* pv = f->iPlot[static_cast<size_t>(c.trend)]->Channel(c.pv_channel);
        TiPlotChannel* sv = f->iPlot[static_cast<size_t>(c.trend)]->Channel(c.pv_channel + 1);
        TiPlotChannel* dev = f->iPlot[static_cast<size_t>(c.deviation_chart)]->Channel(c.dev_channel);
        for (TiPlotChannel* ch : { pv, sv, dev })
            EXPECT_DOUBLE_EQ(ch->DataX(ch->Count() - 1), chart_x(r.arrived));
        // The charts hold their points as floats.
        EXPECT_FLOAT_EQ(pv->DataY(pv->Count() - 1), c.pv);
        EXPECT_FLOAT_EQ(sv->DataY(sv->Count() - 1), c.sv);
        EXPECT_FLOAT_EQ(dev->DataY(dev->Count() - 1), c.dev);
        EXPECT_EQ(pv->TitleText(), QStringLiteral("40#"));
        EXPECT_EQ(sv->TitleText(), QStringLiteral("40#set"));
        EXPECT_EQ(dev->TitleText(), QStringLiteral("40#"));

        const auto s = static_cast<size_t>(c.slot);
        EXPECT_DOUBLE_EQ(f->sv_disp[s]->Value(), c.sv);
        EXPECT_DOUBLE_EQ(f->pv_disp[s]->Value(), c.pv);
        EXPECT_DOUBLE_EQ(f->mv_disp[s]->Value(), 45.5);
        EXPECT_EQ(f->sv_disp[s]->Precision(), 1);
        EXPECT_EQ(f->pv_disp[s]->Precision(), 2);
        EXPECT_EQ(f->panel_label[s]->text(), QStringLiteral("40"));
        for (size_t k = 1; k <= 6; ++k)
            EXPECT_EQ(f->alarm_led[(s - 1) * 6 + k]->Active(), k == 1 || k == 6) << k;
    }
    // Only the channels of the slots shown hold points.
    EXPECT_EQ(chart_points(), 3 * 4);
}

// A reply of an address without a panel (not polled, or the thirteenth
// instrument and beyond) reaches the main panel and nothing else.
TEST_F(ReportView, ReplyWithoutAPanelTouchesNoPanelLedOrChart)
{
    std::vector<int> addresses;
    for (int a = 0; a <= 12; ++a)
        addresses.push_back(a);
    lay_out(addresses, 13);
    EXPECT_EQ(visible_panels(), 12);
    const struct {
        int address, slot;
        RequestKind kind;
    } cases[] = { { 12, 13, RequestKind::Poll }, { 12, 13, RequestKind::Command }, { 9, 0, RequestKind::Command },
        { 30, 0, RequestKind::Poll } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address * 100 + c.slot);
        ReplyShown r = reply(c.address, c.slot, c.kind);
        r.sv = 100;
        r.pv = 120;
        r.mv = 5;
        r.alarm = 0xFC;
        r.run_state = 2;
        r.segment = QStringLiteral("2");
        r.has_segment = true;
        show(r);
        EXPECT_DOUBLE_EQ(f->iSevenSegmentAnalog_sv->Value(), 100);
        EXPECT_EQ(f->Label16->text(), QStringLiteral("2"));
    }
    for (size_t s = 1; s <= 12; ++s) {
        EXPECT_EQ(f->panel_label[s]->text(), QStringLiteral("0"));
        EXPECT_EQ(f->segment_label[s]->text(), QStringLiteral("1"));
        EXPECT_FALSE(f->run_led[s]->Active());
        EXPECT_EQ(f->sv_disp[s]->Value(), 0);
    }
    EXPECT_FALSE(any_alarm_led());
    EXPECT_EQ(chart_points(), 0);
}

// The roster: the boxes tick what is polled and are locked during a scan,
// one panel per instrument up to twelve, panels relabelled by index after a
// box change, and the slot of an address is its rank.
TEST_F(ReportView, RosterTicksTheBoxesAndLaysOutThePanels)
{
    lay_out({}, 0, true);
    for (QGroupBox* g : f->address_groups)
        EXPECT_FALSE(g->isEnabled());
    lay_out({ 1, 4 }, 2);
    for (QGroupBox* g : f->address_groups)
        EXPECT_TRUE(g->isEnabled());
    for (int a = 0; a < 90; ++a)
        EXPECT_EQ(f->addr_check[static_cast<size_t>(a)]->isChecked(), a == 1 || a == 4) << a;
    EXPECT_EQ(visible_panels(), 2);
    EXPECT_EQ(f->panel_box[1]->parentWidget(), f->TabSheet4);

    // A box ticked before any scan: polled, but no panel.
    lay_out({ 1, 4, 6 }, 0);
    EXPECT_EQ(visible_panels(), 0);
    EXPECT_TRUE(f->addr_check[6]->isChecked());

    lay_out({ 1, 4, 6 }, 3, false, true);
    EXPECT_EQ(visible_panels(), 3);
    for (size_t k = 0; k < 3; ++k)
        EXPECT_EQ(f->panel_label[k + 1]->text(), QString::number(k) + QStringLiteral("#仪表"));

    std::vector<int> fifteen;
    for (int a = 0; a < 15; ++a)
        fifteen.push_back(a);
    lay_out(fifteen, 15);
    EXPECT_EQ(visible_panels(), 12);
    EXPECT_EQ(f->panel_box[11]->objectName(), QStringLiteral("GroupBox1"));
    EXPECT_EQ(f->panel_box[11]->parentWidget(), f->TabSheet5);

    lay_out({ 3, 7, 20 }, 3);
    const std::pair<int, int> ranks[] = { { 3, 1 }, { 7, 2 }, { 20, 3 }, { 5, 1 }, { 0, 0 }, { 100, 3 }, { 255, 3 } };
    for (auto [address, rank] : ranks)
        EXPECT_EQ(f->get_dis_pos(address), rank) << address;
    EXPECT_TRUE(gethexbit(0x81, 0));
    EXPECT_TRUE(gethexbit(0x81, 7));
    EXPECT_FALSE(gethexbit(0x81, 3));
    EXPECT_FALSE(gethexbit(0xFF, 8));
    EXPECT_FALSE(gethexbit(0xFF, -1));
}

// Found addresses join both control-address lists without replacing what
// the operator typed; silent instruments are marked on their panels.
TEST_F(ReportView, FoundAddressesJoinTheListsAndSilentOnesAreMarked)
{
    f->ComboBox7->setEditText(QStringLiteral("5"));
    for (int a : { 1, 4 })
        Q_EMIT engine().address_found(a);
    for (QComboBox* box : { f->ComboBox6, f->ComboBox7 }) {
        ASSERT_EQ(box->count(), 2);
        EXPECT_EQ(box->itemText(0), QStringLiteral("1"));
        EXPECT_EQ(box->itemText(1), QStringLiteral("4"));
    }
    EXPECT_EQ(f->ComboBox7->currentText(), QStringLiteral("5"));

    lay_out({ 1, 4, 9 }, 3);
    LinkShown link;
    link.open = true;
    Q_EMIT engine().link_changed(link);
    StatusShown status;
    status.silent = { 4 };
    Q_EMIT engine().status(status);
    for (size_t s = 1; s <= 12; ++s)
        EXPECT_EQ(f->silent_label[s]->isVisibleTo(f->panel_box[s - 1]), s == 2) << s;
    EXPECT_TRUE(f->silent_label[2]->text().startsWith(QStringLiteral("无应答"))) << f->silent_label[2]->text().toStdString();
    status.silent.clear();
    Q_EMIT engine().status(status);
    EXPECT_FALSE(f->silent_label[2]->isVisibleTo(f->panel_box[1]));
    // The port closes: every polled panel is marked, none is live.
    link.open = false;
    Q_EMIT engine().link_changed(link);
    for (size_t s = 1; s <= 12; ++s)
        EXPECT_EQ(f->silent_label[s]->isVisibleTo(f->panel_box[s - 1]), s <= 3) << s;
    EXPECT_TRUE(f->silent_label[3]->text().startsWith(QStringLiteral("已断开"))) << f->silent_label[3]->text().toStdString();
}

// The communication lamp and the command monitor: the frames sent up to
// their first zero byte, the blocks received in hex, the newest lines kept.
TEST_F(ReportView, CommLampAndCommandMonitor)
{
    Q_EMIT engine().comm_led(true);
    EXPECT_TRUE(f->iLedRound1->Active());
    Q_EMIT engine().comm_led(false);
    EXPECT_FALSE(f->iLedRound1->Active());

    const QByteArray frame("\x8C\x8C\xA4\x00\x00\x00\xB0\x00", 8);
    Q_EMIT engine().frame_sent(frame, 12);
    EXPECT_EQ(f->Memo1->toPlainText(), QString::fromLatin1("\x8C\x8C\xA4"));
    EXPECT_EQ(f->Label28->text(), QStringLiteral("12"));
    Q_EMIT engine().frame_received(QByteArray("\x22\x00\xD2\x04\x7C\x15\x08\x07\x00\x90", 10));
    EXPECT_EQ(f->Memo2->toPlainText(), QStringLiteral("2200D2047C1508070090"));

    const int n = TForm1::kMemoLines + 50;
    for (int i = 0; i < n; ++i) {
        Q_EMIT engine().frame_sent(frame, i % 90);
        Q_EMIT engine().frame_received(QByteArray(10, static_cast<char>(i)));
    }
    EXPECT_EQ(f->Memo1->blockCount(), TForm1::kMemoLines);
    EXPECT_EQ(f->Memo2->blockCount(), TForm1::kMemoLines);
    const QString newest = QString::fromLatin1(QByteArray(10, static_cast<char>(n - 1)).toHex().toUpper());
    EXPECT_TRUE(f->Memo2->toPlainText().endsWith(newest)) << "the newest block is the last line";
}

// The parameter grid shows the engine's table: columns laid out by address
// (each address keeping its texts when the layout changes), cells, marks
// and the row the read-all run has reached.
TEST_F(ReportView, GridShowsTheEnginesTable)
{
    TStringGrid* grid = f->StringGrid1;
    const QString name14 = grid->Cells(1, 14);
    Q_EMIT engine().param_columns({ 2, 5 });
    ASSERT_EQ(grid->ColCount(), 4);
    EXPECT_EQ(grid->Cells(2, 0), QStringLiteral("2#仪表"));
    EXPECT_EQ(grid->Cells(3, 0), QStringLiteral("5#仪表"));
    Q_EMIT engine().param_cells({ { 2, 14, QStringLiteral("345") }, { 5, 14, QStringLiteral("456") },
        { 5, 30, QStringLiteral("rELy") }, { 9, 14, QStringLiteral("999") } });
    EXPECT_EQ(grid->Cells(2, 14), QStringLiteral("345"));
    EXPECT_EQ(grid->Cells(3, 14), QStringLiteral("456"));
    EXPECT_EQ(grid->Cells(3, 30), QStringLiteral("rELy"));
    EXPECT_EQ(grid->Cells(1, 14), name14) << "a cell of an address without a column lands nowhere";

    // A new address before them: each keeps its own texts in its new column,
    // the new one starts empty.
    Q_EMIT engine().param_columns({ 1, 2, 5 });
    ASSERT_EQ(grid->ColCount(), 5);
    EXPECT_EQ(grid->Cells(2, 14), QString());
    EXPECT_EQ(grid->Cells(3, 14), QStringLiteral("345"));
    EXPECT_EQ(grid->Cells(4, 14), QStringLiteral("456"));
    EXPECT_EQ(grid->Cells(4, 30), QStringLiteral("rELy"));
    Q_EMIT engine().param_columns({ 5 });
    ASSERT_EQ(grid->ColCount(), 3);
    EXPECT_EQ(grid->Cells(2, 0), QStringLiteral("5#仪表"));
    EXPECT_EQ(grid->Cells(2, 14), QStringLiteral("456"));

    const struct {
        CellMark::Kind kind;
        bool marked;
    } marks[] = { { CellMark::Kind::Mismatch, true }, { CellMark::Kind::Unverified, true }, { CellMark::Kind::None, false } };
    QColor colours[2];
    for (size_t i = 0; i < 3; ++i) {
        CellMark m;
        m.address = 5;
        m.row = 5;
        m.kind = marks[i].kind;
        m.hint = QStringLiteral("写入 -125.00，读回 -100.00：核对不符");
        Q_EMIT engine().param_mark(m);
        EXPECT_EQ(grid->CellMarkColor(2, 5).isValid(), marks[i].marked) << i;
        if (marks[i].marked) {
            EXPECT_EQ(grid->CellHint(2, 5), m.hint);
            colours[i] = grid->CellMarkColor(2, 5);
        }
    }
    EXPECT_NE(colours[0], colours[1]) << "a mismatch and an unverified write look different";
    CellMark elsewhere;
    elsewhere.address = 7;
    elsewhere.row = 5;
    elsewhere.kind = CellMark::Kind::Mismatch;
    Q_EMIT engine().param_mark(elsewhere);
    EXPECT_FALSE(grid->CellMarkColor(2, 5).isValid());

    Q_EMIT engine().param_top_row(40);
    EXPECT_EQ(grid->TopRow(), 40);
}

// What a run shows, and which buttons it leaves usable: the runs after a
// first scan, nothing that takes the line while one is busy, manual output
// and set value as the last HAND and RUN/HOLD allowed.
TEST_F(ReportView, RunReportSetsTheTextsAndTheButtons)
{
    struct Case {
        const char* name;
        bool busy, first_scan_done, button8, button9;
    };
    const Case cases[] = {
        { "before the first scan", false, false, true, true },
        { "after a scan", false, true, true, true },
        { "busy", true, true, true, true },
        { "HAND refused, program running", false, true, false, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunShown run;
        run.busy = c.busy;
        run.first_scan_done = c.first_scan_done;
        run.button8_allowed = c.button8;
        run.button9_allowed = c.button9;
        run.status = c.busy ? QStringLiteral("正在下载数据") : QString();
        run.command = QStringLiteral("7");
        run.done = 13;
        run.total = 52;
        run.verify_text = QStringLiteral("核对不符 1 项");
        run.verify_detail = QStringLiteral("写入 52 项，核对不符 1 项");
        run.verify_clean = false;
        Q_EMIT engine().run_changed(run);
        EXPECT_EQ(f->Label15->text(), c.busy ? QStringLiteral("正在下载数据") : QStringLiteral("等待"));
        EXPECT_EQ(f->Label67->text(), QStringLiteral("7"));
        EXPECT_EQ(f->run_progress->value(), 13);
        EXPECT_EQ(f->run_progress->maximum(), 52);
        EXPECT_EQ(f->verify_label->text(), run.verify_text);
        EXPECT_EQ(f->verify_label->toolTip(), run.verify_detail);
        for (QPushButton* b : { f->Button3, f->Button12, f->Button14 })
            EXPECT_EQ(b->isEnabled(), c.first_scan_done && !c.busy) << b->objectName().toStdString();
        for (QPushButton* b : { f->Button1, f->Button_scan, f->Button5, f->Button6, f->Button7, f->Button15, f->Button16,
                 f->import_button, f->compare_button, f->copy_button })
            EXPECT_EQ(b->isEnabled(), !c.busy) << b->objectName().toStdString();
        EXPECT_TRUE(f->Button4->isEnabled()) << "停止 is always usable";
        EXPECT_EQ(f->Button8->isEnabled(), c.button8 && !c.busy);
        EXPECT_EQ(f->Button9->isEnabled(), c.button9 && !c.busy);
    }
}

// The browser pages read the log on the window's own connection and follow
// what the engine writes on its own: a row and an alarm transition written
// by the engine show on the pages that are open.
TEST_F(ReportView, BrowserPagesFollowWhatTheEngineWrites)
{
    f->show();
    f->PageControl1->setCurrentWidget(f->TabSheet_alarm);
    f->PageControl2->setCurrentWidget(f->TabSheet13);
    QCoreApplication::processEvents();
    const int rows = f->measurement_page->model()->rowCount();
    const int alarms = f->alarm_page->model()->rowCount();

    MeasurementRow row;
    row.when = QDateTime::currentDateTime();
    row.address = 7;
    row.sv = 55.5;
    engine().rows()->append_measurement(row);
    engine().rows()->append_alarms({ { QDateTime::currentDateTime(), 7, QStringLiteral("HIAL"), true } });
    QCoreApplication::processEvents();
    ASSERT_EQ(f->measurement_page->model()->rowCount(), rows + 1);
    EXPECT_EQ(f->measurement_page->model()
                  ->data(f->measurement_page->model()->index(rows, MeasurementModel::ColAddress))
                  .toString(),
        QStringLiteral("7#仪表"));
    ASSERT_EQ(f->alarm_page->model()->rowCount(), alarms + 1);
    EXPECT_EQ(f->alarm_page->model()->index(0, AlarmTableModel::ColAddress).data().toString(), QStringLiteral("7#"));
}

// The status bar and the settings page show the line and the database as the
// engine reports them; publishing shows only while it is set up.
TEST_F(ReportView, StatusBarShowsTheLineTheDatabaseAndPublishing)
{
    LinkShown link;
    link.comm_name = QStringLiteral("com1");
    link.device = QStringLiteral("/dev/pts/3");
    link.open = false;
    link.state = QStringLiteral("已断开，等待设备");
    link.baud = 9600;
    link.port_label = QStringLiteral("com1 → /dev/pts/3（未打开）");
    Q_EMIT engine().link_changed(link);
    EXPECT_EQ(f->status_device->text(), QStringLiteral("com1 → /dev/pts/3"));
    EXPECT_EQ(f->status_link->text(), QStringLiteral("已断开，等待设备  9600 bps"));
    EXPECT_EQ(f->port_device_label->text(), link.port_label);
    EXPECT_FALSE(f->PageControl2->isTabVisible(f->PageControl2->indexOf(f->TabSheet1)));
    link.open = true;
    link.state = QStringLiteral("已重新打开");
    Q_EMIT engine().link_changed(link);
    EXPECT_EQ(f->status_link->text(), QStringLiteral("已重新打开  9600 bps"));
    EXPECT_TRUE(f->PageControl2->isTabVisible(f->PageControl2->indexOf(f->TabSheet1)));
    EXPECT_TRUE(f->PageControl2->isTabVisible(f->PageControl2->indexOf(f->TabSheet11)));

    const struct {
        bool outage;
        qint64 waiting;
        quint64 dropped;
        const char* shown;
    } storage[] = {
        { true, 12, 0, "数据库暂不可用：12 行等待写入" },
        { true, 12, 3, "数据库暂不可用：12 行等待写入；已丢弃 3 行" },
        { false, 0, 3, "已丢弃 3 行" },
        { false, 0, 0, "" },
    };
    for (const auto& c : storage) {
        SCOPED_TRACE(c.shown);
        StatusShown s;
        s.storage_outage = c.outage;
        s.rows_waiting = c.waiting;
        s.rows_dropped = c.dropped;
        Q_EMIT engine().status(s);
        EXPECT_EQ(f->status_storage->text(), QString::fromUtf8(c.shown));
        EXPECT_TRUE(f->status_mqtt->isHidden());
    }
    StatusShown publishing;
    publishing.mqtt = QStringLiteral("MQTT 已连接");
    publishing.mqtt_ok = true;
    Q_EMIT engine().status(publishing);
    EXPECT_FALSE(f->status_mqtt->isHidden());
    EXPECT_EQ(f->status_mqtt->text(), QStringLiteral("MQTT 已连接"));
}
