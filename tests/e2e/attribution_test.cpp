// Which instrument a logged row belongs to, under every fault the line can
// show: the simulator records what each instrument answered, and every row of
// mea_tbl must be one of its own instrument's answers.
#include "e2e_fixture.h"

#include "ttimer.h"

#include <QComboBox>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <map>
#include <mutex>

namespace {

struct Row {
    int address = 0;
    double sv = 0, pv = 0, mv = 0;
    int alm = 0;
};

// How long the faulty bus is polled; STATION_ATTRIBUTION_SECONDS runs it
// longer, STATION_ATTRIBUTION_SEED draws other faults.
int run_seconds()
{
    const char* s = std::getenv("STATION_ATTRIBUTION_SECONDS");
    const int n = s ? std::atoi(s) : 0;
    return n > 0 ? n : 60;
}

// The step of the five-digit code for a count: digits below it are dropped.
double code_step(long counts)
{
    const long a = std::labs(counts);
    return a < 10000 ? 1 : a < 100000 ? 10 : a < 1000000 ? 100 : 1000;
}

// A logged row matches an answer when the values agree to the instrument's
// resolution: SV to the step of its code, PV (the difference of two codes) to
// the sum of both steps.
bool matches(const Row& row, const aisim::ReplyRecord& r)
{
    const double scale = std::pow(10.0, r.decimal_places);
    const auto near = [&](double logged, long counts, double tolerance) {
        return std::fabs(logged - static_cast<double>(counts) / scale) <= tolerance / scale;
    };
    return near(row.sv, r.sv, code_step(r.sv)) && near(row.pv, r.pv, code_step(r.sv) + code_step(r.sv - r.pv))
        && std::fabs(row.mv - static_cast<double>(r.mv) / 100.0) < 0.006 && row.alm == r.status;
}

} // namespace

TEST_F(StationE2E, EveryLoggedRowHoldsAnAnswerOfItsOwnInstrument)
{
    const std::vector<int> addresses = { 1, 2, 3, 5, 7, 12 };
    std::mutex mu;
    std::map<int, std::vector<aisim::ReplyRecord>> answers; // poll answers per address
    start(addresses, 1, 10.0, [&](aisim::BusOptions& o) {
        const char* seed = std::getenv("STATION_ATTRIBUTION_SEED"); // another fault sequence
        o.seed = seed ? static_cast<std::uint64_t>(std::atoll(seed)) : 15;
        o.on_reply = [&](const aisim::ReplyRecord& r) {
            if (r.code != 0)
                return;
            std::lock_guard<std::mutex> lock(mu);
            answers[r.address].push_back(r);
        };
    });
    // Set values far apart, so that a row of one instrument can never pass
    // for another's.
    const double set_values[] = { 50, 120, 220, 300, 410, 520 };
    for (size_t k = 0; k < addresses.size(); ++k)
        bus->set_param(addresses[k], 51, set_values[k]);

    scan(QStringLiteral("13"), 20000);
    ASSERT_EQ(form->roster.addresses, addresses);

    aisim::Faults faults;
    faults.late = 0.1;
    faults.drop = faults.corrupt = faults.split = faults.noise = faults.sensor_break = 0.03;
    bus->set_faults(faults);
    // Faster than the one-second period the settings allow, for more replies
    // in the time; each still has its window before the next request.
    on_engine([](Engine& e) { e.Timer1->setInterval(450); });
    const aisim::Stats before = bus->stats();
    const int seconds = run_seconds();
    pump(seconds * 1000);
    on_engine([](Engine& e) { e.Timer1->setEnabled(false); });
    ASSERT_TRUE(until([&] { return !replies_pending(); }, 5000));
    const aisim::Stats after = bus->stats();
    ASSERT_GT(after.faults.late - before.faults.late, 0u);

    std::vector<Row> rows;
    const QString name = QStringLiteral("attribution_test_reader");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(dir.filePath(QStringLiteral("control_db.sqlite")));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral("SELECT address, sv, pv, mv, alm FROM mea_tbl ORDER BY rowid")));
        while (q.next()) {
            const QString a = q.value(0).toString();
            rows.push_back({ a.left(a.indexOf(QLatin1Char('#'))).toInt(), q.value(1).toDouble(),
                q.value(2).toDouble(), q.value(3).toDouble(), q.value(4).toInt() });
        }
    }
    QSqlDatabase::removeDatabase(name);

    int foreign = 0;
    std::lock_guard<std::mutex> lock(mu);
    for (const Row& row : rows) {
        bool own = false;
        for (const aisim::ReplyRecord& r : answers[row.address])
            own = own || matches(row, r);
        if (!own) {
            ++foreign;
            // The closest answer of its own, and whether another instrument's fits.
            double best = 1e300;
            const aisim::ReplyRecord* closest = nullptr;
            for (const aisim::ReplyRecord& r : answers[row.address]) {
                const double scale = std::pow(10.0, r.decimal_places);
                const double d = std::fabs(row.sv - r.sv / scale) + std::fabs(row.pv - r.pv / scale);
                if (d < best) {
                    best = d;
                    closest = &r;
                }
            }
            int other = -1;
            for (const auto& [a, list] : answers)
                for (const aisim::ReplyRecord& r : list)
                    if (a != row.address && matches(row, r))
                        other = a;
            ADD_FAILURE() << "row of " << row.address << " SV " << row.sv << " PV " << row.pv << " MV " << row.mv
                          << " alm " << row.alm << " is none of its answers; closest: "
                          << (closest ? "SV " + std::to_string(closest->sv) + " PV " + std::to_string(closest->pv)
                                      + " MV " + std::to_string(closest->mv) + " status "
                                      + std::to_string(closest->status)
                                      : std::string("none"))
                          << "; fits instrument " << other;
        }
    }
    const auto counts = on_engine([](Engine& e) { return e.replies.counts(); });
    const std::uint64_t requests = after.requests - before.requests;
    std::cout << "[ attribution ] " << seconds << " s, " << requests << " requests, " << rows.size()
              << " rows, " << foreign << " foreign; windows: " << counts.replies << " replies, " << counts.no_reply
              << " unanswered, " << counts.voided << " voided, " << counts.late_blocks
              << " late blocks; simulator: " << after.to_json() << '\n';
    EXPECT_EQ(foreign, 0);
    // Polling went on: the faults cost replies (a late one voids its own window
    // and the next), but a good part of the requests still gave a logged row.
    EXPECT_GT(rows.size(), requests / 3);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}
