// The charts' history: a channel holds its recent points and draws the older
// ones from the log, so that a view across the edge of what it holds draws
// exactly as the log alone draws it; a restart begins with the log's last
// hours.
#include "chart_history.h"
#include "form_fixture.h"
#include "iPlot.h"
#include "measurement_history.h"
#include "roster.h"
#include "station_db.h"
#include "station_settings.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

namespace {

// A copy of the delivered database with a log written through the station's
// own append: address 3 once a second (a sawtooth PV, a stepping SV) with
// address 4 between, and a silent hour in the middle, across which no line
// is drawn.
class ChartHistory : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        ASSERT_TRUE(QFile::copy(QString::fromUtf8(STATION_DB_TEMPLATE), tmp.filePath(QStringLiteral("control_db.sqlite"))));
        QFile::setPermissions(tmp.filePath(QStringLiteral("control_db.sqlite")), QFile::ReadOwner | QFile::WriteOwner);
        db = std::make_unique<StationDb>(tmp.path());
        std::vector<MeasurementRow> rows;
        for (int i = 0; i < kRows; ++i) {
            QDateTime t = start.addMSecs(qint64(i) * 1000 + (i * 7919) % 400);
            if (i >= kRows / 2)
                t = t.addSecs(3600);
            const double pv = 100 + (i % 900) * 0.5 + ((i * 31) % 17) * 0.1;
            const double sv = 300 + (i / 2000) * 10;
            rows.push_back({ t, 3, sv, pv, 0, 0, 0 });
            rows.push_back({ t.addMSecs(500), 4, 50, 60.0 + i % 13, 0, 0, 0 });
            times.push_back(db_clock_ms(t));
            pvs.push_back(pv);
            svs.push_back(sv);
        }
        db->append_measurements(rows);
        log = std::make_unique<MeasurementHistory>(db->connection(), db_file_label(db->file_path()));
    }

    // The pixels a channel covers in `view`: its log part and its held part.
    static std::set<std::pair<int, int>> pixels(const TiPlotChannel& c, const TiPlotTraceView& view)
    {
        std::vector<TiPlotSpan> spans;
        if (const TiPlotPoints* older = c.history_points(view))
            render_points(*older, view, spans);
        render_trace(c.Points(), view, spans);
        std::set<std::pair<int, int>> out;
        for (const TiPlotSpan& s : spans)
            for (int r = s.row_top; r <= s.row_bottom; ++r)
                out.insert({ s.column, r });
        return out;
    }

    static constexpr int kRows = 20000;
    QTemporaryDir tmp;
    const QDateTime start { QDate(2026, 2, 27), QTime(21, 30, 0) };
    std::unique_ptr<StationDb> db;
    std::unique_ptr<MeasurementHistory> log;
    std::vector<qint64> times;
    std::vector<double> pvs, svs;
};

TEST_F(ChartHistory, ASpanAcrossTheMemoryEdgeDrawsAsTheLogAlone)
{
    struct Case {
        const char* name;
        LogField field;
        double from_min, span_min; // from the first row
        int width;
    };
    const double first = chart_x(times.front());
    const double total = chart_x(times.back()) - first;
    const Case cases[] = {
        { "all, minutes wide", LogField::Pv, -5, total + 10, 725 },
        { "all, sv", LogField::Sv, -5, total + 10, 725 },
        { "all, clamped deviation", LogField::Deviation, -5, total + 10, 725 },
        { "30 days ending now", LogField::Pv, total - 30 * 1440, 30 * 1440 + 1, 725 },
        { "the silent hour and after", LogField::Pv, total / 2 - 30, 200, 725 },
        { "ten minutes at the edge", LogField::Pv, total - 160, 10, 725 },
        { "narrow chart", LogField::Pv, 100, total / 2, 37 },
        { "before the edge only", LogField::Pv, 10, 60, 300 },
    };
    std::function<double(double)> shape = clamp_deviation;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        auto source = [&] {
            auto s = std::make_shared<LogHistory>(*log, k.field, k.field == LogField::Deviation ? shape : nullptr);
            s->set_address(3);
            return s;
        };
        auto value = [&](std::size_t i) {
            return k.field == LogField::Pv ? pvs[i] : k.field == LogField::Sv ? svs[i] : clamp_deviation(pvs[i] - svs[i]);
        };
        TiPlot plot;
        // The last ~2.5 hours held (the limit keeps whole chunks), the rest in the log only.
        TiPlotChannel* held = plot.AddChannel(QStringLiteral("held"));
        held->set_memory_limit({ 8000, 0 });
        for (std::size_t i = 0; i < times.size(); ++i) {
            if (i == std::size_t(kRows / 2))
                held->AddXY(chart_x(times[i]), std::nan(""));
            held->AddXY(chart_x(times[i]), value(i));
        }
        held->set_history(source());
        ASSERT_LT(held->Count(), kRows);
        ASSERT_GE(held->Count(), 8000);
        TiPlotChannel* logged = plot.AddChannel(QStringLiteral("logged"));
        logged->set_history(source());
        // And every row drawn from memory, for the drawing of the log alone to
        // meet; the silent hour breaks the line there as in the log.
        TiPlotChannel* all = plot.AddChannel(QStringLiteral("all"));
        for (std::size_t i = 0; i < times.size(); ++i) {
            if (i == std::size_t(kRows / 2))
                all->AddXY(chart_x(times[i]), std::nan(""));
            all->AddXY(chart_x(times[i]), value(i));
        }

        TiPlotTraceView view;
        view.x_min = first + k.from_min;
        view.x_span = k.span_min;
        view.width = k.width;
        view.height = 300;
        view.y_min = k.field == LogField::Deviation ? -0.6 : 40;
        view.y_span = k.field == LogField::Deviation ? 1.2 : 600;
        const auto from_log = pixels(*logged, view);
        EXPECT_GT(from_log.size(), std::size_t(k.width / 4));
        EXPECT_EQ(pixels(*held, view), from_log);
        EXPECT_EQ(pixels(*all, view), from_log);
    }
}

TEST_F(ChartHistory, TheMemoryLimitDropsTheOldestPointsAndTheirStatistics)
{
    TiPlot plot;
    TiPlotChannel* c = plot.AddChannel(QStringLiteral("c"));
    c->set_memory_limit({ 10000, 0 });
    for (std::size_t i = 0; i < times.size(); ++i)
        c->AddXY(chart_x(times[i]), pvs[i]);
    // Whole chunks of 4096 go, as long as 10000 points stay: of 20000 the
    // newest 20000 - 2 * 4096.
    const std::size_t dropped = 2 * 4096;
    ASSERT_EQ(c->Count(), std::int64_t(times.size() - dropped));
    EXPECT_EQ(c->DataX(0), chart_x(times[dropped]));
    EXPECT_EQ(c->DataX(c->Count() - 1), chart_x(times.back()));
    double sum = 0, lo = HUGE_VAL, hi = -HUGE_VAL;
    for (std::size_t i = dropped; i < times.size(); ++i) {
        sum += double(float(pvs[i]));
        lo = std::min(lo, double(float(pvs[i])));
        hi = std::max(hi, double(float(pvs[i])));
    }
    EXPECT_NEAR(c->YSum(), sum, 1e-6 * sum);
    EXPECT_EQ(c->YMin(), lo);
    EXPECT_EQ(c->YMax(), hi);
    EXPECT_EQ(c->XMin(), chart_x(times[dropped]));

    // An age limit: no chunk whose newest point is more than 60 minutes older
    // than the newest point stays.
    c->set_memory_limit({ 0, 60 });
    ASSERT_GT(c->Count(), 3600);
    EXPECT_LE(c->Count(), 3600 + 4096);
    EXPECT_GE(c->DataX(0), chart_x(times.back()) - 60 - 4096.0 / 60);
}

// The log read back: runs of whole minutes and single rows add up to the
// rows, in order; the rows next to a span are found across the silent hour;
// the addresses and the time bounds.
TEST_F(ChartHistory, TheLogReadsBackEveryRowInOrder)
{
    EXPECT_TRUE(log->has_minute_table());
    EXPECT_EQ(log->addresses(), (std::vector<int> { 3, 4 }));
    const auto bounds = log->time_bounds();
    ASSERT_TRUE(bounds);
    EXPECT_EQ(bounds->first, times.front());
    EXPECT_EQ(bounds->second, times.back() + 500);

    const qint64 from = times[100] + 1, to = times[kRows - 100];
    for (bool minutes : { false, true }) {
        SCOPED_TRACE(minutes);
        std::vector<LogRun> runs;
        std::function<bool(qint64, qint64)> whole;
        if (minutes)
            whole = [](qint64 first, qint64 last) { return (first / 1000) % 7 != 0 || first == last; };
        log->read(3, LogField::Pv, from, to, whole, [&](const LogRun& r) { runs.push_back(r); });
        std::size_t i = 101, whole_runs = 0;
        for (const LogRun& r : runs) {
            ASSERT_LT(i, std::size_t(kRows - 100));
            EXPECT_EQ(r.first_ms, times[i]);
            EXPECT_EQ(r.first, pvs[i]);
            double lo = pvs[i], hi = pvs[i];
            while (i < std::size_t(kRows - 100) && times[i] <= r.last_ms) {
                lo = std::min(lo, pvs[i]);
                hi = std::max(hi, pvs[i]);
                ++i;
            }
            EXPECT_EQ(r.last_ms, times[i - 1]);
            EXPECT_EQ(r.last, pvs[i - 1]);
            EXPECT_EQ(r.min, lo);
            EXPECT_EQ(r.max, hi);
            whole_runs += r.first_ms != r.last_ms ? 1 : 0;
        }
        EXPECT_EQ(i, std::size_t(kRows - 100));
        EXPECT_EQ(whole_runs > 100, minutes);
    }

    const std::size_t after_gap = kRows / 2;
    const auto before = log->row_before(3, LogField::Sv, times[after_gap]);
    ASSERT_TRUE(before);
    EXPECT_EQ(before->first_ms, times[after_gap - 1]);
    EXPECT_EQ(before->first, svs[after_gap - 1]);
    const auto next = log->row_from(3, LogField::Pv, times[after_gap - 1] + 1, times.back());
    ASSERT_TRUE(next);
    EXPECT_EQ(next->first_ms, times[after_gap]);
    EXPECT_FALSE(log->row_from(3, LogField::Pv, times[after_gap - 1] + 1, times[after_gap]));
    EXPECT_FALSE(log->row_before(3, LogField::Pv, times.front()));
}

class ChartRestart : public FormFixture { };

// A restarted station polls the remembered addresses at once, and their
// charts begin with the log's last hours instead of empty.
TEST_F(ChartRestart, ChartsStartWithTheLogsLastHours)
{
    const QDateTime now = QDateTime::currentDateTime();
    {
        StationDb db(dir.path());
        std::vector<MeasurementRow> rows;
        for (int i = 0; i < 600; ++i) {
            rows.push_back({ now.addSecs(-10 * 3600 + 30 + i * 60), 7, 200, 150.0 + i, 0, 0, 0 });
            rows.push_back({ now.addSecs(-10 * 3600 + 31 + i * 60), 9, 100, 90, 0, 0, 0 });
        }
        db.append_measurements(rows);
        StationSettings settings(dir.path());
        settings.set_addresses({ 7 });
    }
    TForm1& f = make_form();
    ASSERT_TRUE(roster::enabled(7));
    ASSERT_EQ(f.roster.addresses, std::vector<int> { 7 });
    ASSERT_EQ(f.get_dis_pos(7), 1);
    TiPlotChannel* pv = f.iPlot[0]->Channel(0);
    TiPlotChannel* sv = f.iPlot[0]->Channel(1);
    TiPlotChannel* dev = f.iPlot[3]->Channel(0);
    // Rows of the last 8 hours: minutes 120 .. 599 of the 10 hours written.
    const qint64 from = db_clock_ms(now) - 8 * 3'600'000; // the window preloads 8 hours
    int expected = 0;
    for (int i = 0; i < 600; ++i)
        expected += db_clock_ms(now.addSecs(-10 * 3600 + 30 + i * 60)) >= from ? 1 : 0;
    EXPECT_EQ(expected, 480);
    ASSERT_EQ(pv->Count(), expected);
    EXPECT_EQ(sv->Count(), expected);
    EXPECT_EQ(dev->Count(), expected);
    EXPECT_FLOAT_EQ(pv->DataY(pv->Count() - 1), 749);
    EXPECT_FLOAT_EQ(sv->DataY(0), 200);
    EXPECT_FLOAT_EQ(dev->DataY(dev->Count() - 1), 0.5);
    EXPECT_EQ(pv->DataX(pv->Count() - 1), chart_x(now.addSecs(-10 * 3600 + 30 + 599 * 60)));
    EXPECT_EQ(pv->TitleText(), QStringLiteral("7#"));
    // The toolbar's spans reach back into the log: "全部" from its first row
    // of the address, drawn from the log left of the held points.
    const auto& choices = f.iPlot[0]->span_choices();
    const auto all = std::find_if(choices.begin(), choices.end(), [](const auto& c) { return c.span <= 0; });
    ASSERT_NE(all, choices.end());
    f.iPlot[0]->choose_span(int(all - choices.begin()));
    const double first = chart_x(now.addSecs(-10 * 3600 + 30));
    EXPECT_EQ(f.iPlot[0]->XAxis(0)->Min(), first);
    EXPECT_EQ(pv->first_x(), first);
    TiPlotTraceView view;
    view.x_min = f.iPlot[0]->XAxis(0)->view_min();
    view.x_span = f.iPlot[0]->XAxis(0)->view_span();
    view.width = 725;
    view.height = 300;
    const TiPlotPoints* older = pv->history_points(view);
    ASSERT_NE(older, nullptr);
    EXPECT_EQ(older->x(0), first);
    EXPECT_FLOAT_EQ(older->y(0), 150);
    // Address 9 is not polled now: no channel of it.
    for (TiPlot* p : f.iPlot)
        for (int ch = 0; ch < p->ChannelCount(); ++ch)
            if (!(p == f.iPlot[0] && ch < 2) && !(p == f.iPlot[3] && ch == 0)) {
                EXPECT_EQ(p->Channel(ch)->Count(), 0);
            }
}

} // namespace
