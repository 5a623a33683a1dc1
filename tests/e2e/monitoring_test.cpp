#include "e2e_fixture.h"

#include "frame_codec.h"
#include "iLedRectangle.h"
#include "iPlot.h"
#include "iPlotChannel.h"
#include "iSevenSegmentAnalog.h"
#include "iTimers.h"
#include "string_grid.h"
#include "ttimer.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>

namespace {

const std::vector<int> kAddresses { 1, 2, 3, 5 };

class Monitoring : public StationE2E {
protected:
    // Four instruments with distinct set values; address 3 has a Pt100 input
    // (three decimal places). The process is frozen, so every reply of an
    // address carries the same values.
    void start_bus()
    {
        start(kAddresses);
        bus->set_param(1, 51, 80);
        bus->set_param(2, 51, 150);
        bus->set_param(3, 22, 9);
        bus->set_param(3, 51, 220.5);
        bus->set_param(5, 51, 60);
        bus->set_pv(2, 140.5);
        bus->set_pv(5, 61.25);
    }

    // Scans with the design limit 8 and checks what the scan found and laid out.
    void scan()
    {
        StationE2E::scan(QStringLiteral("8"), 15000);
        ASSERT_FALSE(HasFatalFailure());
        std::vector<int> found;
        for (int a = 0; a < 90; ++a)
            if (form->addr_check[static_cast<size_t>(a)]->isChecked())
                found.push_back(a);
        ASSERT_EQ(found, kAddresses);
        EXPECT_EQ(form->roster.addresses, kAddresses);
        EXPECT_EQ(form->roster.inst_count, 4);
        int panels = 0;
        for (QGroupBox* box : form->panel_box)
            panels += box->isVisibleTo(box->parentWidget()) ? 1 : 0;
        EXPECT_EQ(panels, 4);
        ASSERT_EQ(form->StringGrid1->ColCount(), 6);
        for (size_t k = 0; k < kAddresses.size(); ++k)
            EXPECT_EQ(form->StringGrid1->Cells(static_cast<int>(k) + 2, 0),
                QString::number(kAddresses[k]) + QStringLiteral("#仪表"));
        EXPECT_TRUE(on_engine([](Engine& e) { return e.Timer1->Enabled(); }));
        scan_lines = form->Memo2->blockCount();
    }

    // Polls until every slot has `sweeps` points on its trend curve, then stops
    // the poll and lets the last reply land. The poll runs faster than the
    // designed one-second period to keep the test short; a reply still arrives
    // well inside one tick.
    void poll(int sweeps, int deadline_ms)
    {
        on_engine([](Engine& e) { e.Timer1->setInterval(450); });
        const bool done = wait_for(
            [&] {
                for (int ch = 0; ch < 8; ch += 2)
                    if (form->iPlot[0]->Channel(ch)->Count() < sweeps)
                        return false;
                return true;
            },
            deadline_ms);
        on_engine([](Engine& e) { e.Timer1->setEnabled(false); });
        pump(800);
        sync();
        ASSERT_TRUE(done) << "points: " << form->iPlot[0]->Channel(0)->Count() << " "
                          << form->iPlot[0]->Channel(2)->Count() << " " << form->iPlot[0]->Channel(4)->Count()
                          << " " << form->iPlot[0]->Channel(6)->Count();
    }

    // Rows of mea_tbl, read on a connection of our own: address -> (sv, pv, mv, alm) per row.
    std::multimap<QString, std::array<double, 4>> measurements()
    {
        std::multimap<QString, std::array<double, 4>> rows;
        const QString name = QStringLiteral("monitoring_test_reader");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(dir.filePath(QStringLiteral("control_db.sqlite")));
            EXPECT_TRUE(db.open());
            QSqlQuery q(db);
            EXPECT_TRUE(q.exec(QStringLiteral("SELECT address, sv, pv, mv, alm FROM mea_tbl")));
            while (q.next())
                rows.emplace(q.value(0).toString(),
                    std::array<double, 4> { q.value(1).toDouble(), q.value(2).toDouble(),
                        q.value(3).toDouble(), q.value(4).toDouble() });
        }
        QSqlDatabase::removeDatabase(name);
        return rows;
    }

    // Memo2 lines after the scan: (valid replies, replies failing their check).
    std::pair<int, int> poll_lines() const
    {
        int valid = 0, bad = 0;
        const QStringList lines = form->Memo2->toPlainText().split(QLatin1Char('\n'));
        for (qsizetype i = scan_lines; i < lines.size(); ++i) {
            const QByteArray bytes = QByteArray::fromHex(lines[i].toLatin1());
            EXPECT_EQ(lines[i].size(), 20);
            EXPECT_EQ(bytes.size(), 10);
            if (reply_check_ok(reinterpret_cast<const std::uint8_t*>(bytes.constData())))
                ++valid;
            else
                ++bad;
        }
        return { valid, bad };
    }

    static double tolerance(int dec) { return 0.51 * std::pow(10.0, -dec); }

    qsizetype scan_lines = 0;
};

} // namespace

TEST_F(Monitoring, ScanThenPollingFillsPanelsChartsAndTheMeasurementLog)
{
    start_bus();
    scan();
    ASSERT_FALSE(HasFatalFailure());
    poll(3, 30000);
    ASSERT_FALSE(HasFatalFailure());

    const auto [valid, bad] = poll_lines();
    EXPECT_EQ(bad, 0);
    const auto rows = measurements();
    EXPECT_EQ(static_cast<int>(rows.size()), valid); // one row per poll reply

    std::int64_t points = 0;
    for (size_t k = 0; k < kAddresses.size(); ++k) {
        const int a = kAddresses[k];
        const size_t slot = k + 1;
        SCOPED_TRACE(a);
        const aisim::InstrumentState st = bus->state(a);
        const double tol = tolerance(st.decimal_places);
        EXPECT_NEAR(form->sv_disp[slot]->Value(), st.sv, tol);
        EXPECT_NEAR(form->pv_disp[slot]->Value(), st.pv, tol);
        EXPECT_NEAR(form->mv_disp[slot]->Value(), st.mv, 0.006);
        EXPECT_EQ(form->panel_label[slot]->text(), QString::number(a));
        for (int led = 1; led <= 6; ++led)
            EXPECT_EQ(form->alarm_led[(slot - 1) * 6 + static_cast<size_t>(led)]->Active(),
                ((st.status >> (led + 1)) & 1) != 0);

        TiPlotChannel* pv = form->iPlot[0]->Channel(2 * static_cast<int>(k));
        TiPlotChannel* sv = form->iPlot[0]->Channel(2 * static_cast<int>(k) + 1);
        TiPlotChannel* dev = form->iPlot[3]->Channel(static_cast<int>(k));
        EXPECT_EQ(pv->TitleText(), QString::number(a) + QStringLiteral("#"));
        EXPECT_EQ(sv->TitleText(), QString::number(a) + QStringLiteral("#set"));
        EXPECT_EQ(sv->Count(), pv->Count());
        EXPECT_EQ(dev->Count(), pv->Count());
        EXPECT_NEAR(pv->DataY(pv->Count() - 1), st.pv, tol);
        EXPECT_NEAR(sv->DataY(sv->Count() - 1), st.sv, tol);
        EXPECT_NEAR(dev->DataY(dev->Count() - 1), std::clamp(st.pv - st.sv, -0.5, 0.5), 2 * tol);
        points += pv->Count();

        const QString name = QString::number(a) + QStringLiteral("#仪表");
        const auto [first, last] = rows.equal_range(name);
        EXPECT_EQ(std::distance(first, last), pv->Count());
        for (auto it = first; it != last; ++it) {
            EXPECT_NEAR(it->second[0], st.sv, tol);
            EXPECT_NEAR(it->second[1], st.pv, tol);
            EXPECT_NEAR(it->second[2], st.mv, 0.006);
            EXPECT_EQ(it->second[3], st.status);
        }
    }
    EXPECT_EQ(points, valid);
    EXPECT_EQ(rows.size(), static_cast<size_t>(points));
    // The three-decimal instrument shows its set value with three decimals.
    EXPECT_EQ(form->sv_disp[3]->Precision(), 2); // 220.500: magnitude above 99.9999
    EXPECT_NEAR(form->sv_disp[3]->Value(), 220.5, 1e-9);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

TEST_F(Monitoring, FaultsOnTheLineAreLoggedOrDroppedAndPollingGoesOn)
{
    start_bus();
    scan();
    ASSERT_FALSE(HasFatalFailure());
    const aisim::Stats before = bus->stats();
    aisim::Faults faults;
    faults.corrupt = 0.2;
    faults.split = 0.2;
    faults.drop = 0.2;
    bus->set_faults(faults);
    poll(3, 60000);
    ASSERT_FALSE(HasFatalFailure());
    const aisim::Stats after = bus->stats();
    const std::uint64_t corrupt = after.faults.corrupt - before.faults.corrupt;
    const std::uint64_t split = after.faults.split - before.faults.split;
    const std::uint64_t drop = after.faults.drop - before.faults.drop;
    ASSERT_GT(corrupt, 0u);
    ASSERT_GT(split, 0u);
    ASSERT_GT(drop, 0u);

    // Every reply that came whole is logged; corrupted ones are logged and then
    // ignored; split ones leave no line.
    const auto [valid, bad] = poll_lines();
    EXPECT_EQ(static_cast<std::uint64_t>(bad), corrupt);
    EXPECT_EQ(static_cast<std::uint64_t>(valid + bad), after.replies - before.replies - split);

    // Only valid replies reached the charts and the log, and what they carried
    // is the instruments' state. A lone reply after a lost one is voided (it
    // might be the lost one come late), so each voided window may cost one.
    const auto rows = measurements();
    const auto voided = static_cast<int>(on_engine([](Engine& e) { return e.replies.counts().voided; }));
    EXPECT_LE(static_cast<int>(rows.size()), valid);
    EXPECT_GE(static_cast<int>(rows.size()), valid - voided);
    std::int64_t points = 0;
    for (int ch = 0; ch < 8; ch += 2)
        points += form->iPlot[0]->Channel(ch)->Count();
    EXPECT_EQ(points, static_cast<std::int64_t>(rows.size()));
    for (const auto& [name, values] : rows) {
        const int a = name.left(name.indexOf(QLatin1Char('#'))).toInt();
        const aisim::InstrumentState st = bus->state(a);
        EXPECT_NEAR(values[0], st.sv, tolerance(st.decimal_places)) << a;
        EXPECT_NEAR(values[1], st.pv, tolerance(st.decimal_places)) << a;
    }
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}
