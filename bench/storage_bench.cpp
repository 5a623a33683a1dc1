// Storage speed: one poll reply costs one store_parameter and one
// append_measurement, each committed with a full sync; the measurement browser
// must open and jump to the last row quickly on a log of 10 million rows.
#include "browser_pages.h"
#include "measurement_model.h"
#include "station_db.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

constexpr qint64 kBigRows = 10'000'000;

QString fresh_copy(const QTemporaryDir& dir)
{
    const QString path = QDir(dir.path()).filePath(QStringLiteral("control_db.sqlite"));
    QFile::copy(QStringLiteral(STATION_DB_TEMPLATE), path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    return path;
}

// Argument 1: as the station runs (each commit synced to disk, so the rate is
// bounded by the disk's sync latency). Argument 0: with syncing switched off,
// to show the cost of the work itself.
void without_sync_if(StationDb& db, benchmark::State& state)
{
    if (state.range(0) == 0)
        QSqlQuery(db.connection()).exec(QStringLiteral("PRAGMA synchronous=OFF"));
}

void BM_AppendMeasurement(benchmark::State& state)
{
    QTemporaryDir dir(QStringLiteral(BENCH_BIG_DIR "/tmp-XXXXXX"));
    fresh_copy(dir);
    StationDb db(dir.path());
    without_sync_if(db, state);
    int i = 0;
    for (auto _ : state) {
        db.append_measurement({ QDateTime::currentDateTime(), i % 12, 100.5, 99.75, 45.5, 3, i & 0xFF });
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AppendMeasurement)->ArgName("synced")->Arg(1)->Arg(0)->MinTime(3.0)->UseRealTime();

void BM_StoreParameter(benchmark::State& state)
{
    QTemporaryDir dir(QStringLiteral(BENCH_BIG_DIR "/tmp-XXXXXX"));
    fresh_copy(dir);
    StationDb db(dir.path());
    without_sync_if(db, state);
    int i = 0;
    for (auto _ : state) {
        db.store_parameter(i % 12, i % 411, static_cast<float>(i));
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StoreParameter)->ArgName("synced")->Arg(1)->Arg(0)->MinTime(3.0)->UseRealTime();

// The 10-million-row file, written once and kept in the build directory.
QString big_dir()
{
    const QString d = QStringLiteral(BENCH_BIG_DIR "/big");
    const QString path = QDir(d).filePath(QStringLiteral("control_db.sqlite"));
    if (QFileInfo::exists(path))
        return d;
    QDir().mkpath(d);
    QFile::copy(QStringLiteral(STATION_DB_TEMPLATE), path + QStringLiteral(".tmp"));
    QFile::setPermissions(path + QStringLiteral(".tmp"), QFile::ReadOwner | QFile::WriteOwner);
    std::fprintf(stderr, "writing a log of %lld rows (once)...\n", static_cast<long long>(kBigRows));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("big"));
        db.setDatabaseName(path + QStringLiteral(".tmp"));
        db.open();
        QSqlQuery q(db);
        q.exec(QStringLiteral("PRAGMA journal_mode=OFF"));
        q.exec(QStringLiteral("PRAGMA synchronous=OFF"));
        q.exec(QStringLiteral(
            "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < %1) "
            "INSERT INTO mea_tbl (\"date\", \"time\", address, sv, pv, mv, val, alm) "
            "SELECT strftime('%Y-%m-%d %H:%M:%f', '2016-01-01', '+' || (i * 2) || ' seconds'), "
            "strftime('%Y-%m-%d %H:%M:%f', '2016-01-01', '+' || (i * 2) || ' seconds'), "
            "(i % 12) || '#仪表', 100.0, 100.0 + (i % 100) / 100.0, 45.5, 3, i % 256 FROM s")
                   .arg(kBigRows));
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("big"));
    QFile::rename(path + QStringLiteral(".tmp"), path);
    return d;
}

// Open the database, build and show the page, jump to the last row and paint.
void BM_OpenBrowserJumpLast(benchmark::State& state)
{
    const QString d = big_dir();
    for (auto _ : state) {
        StationDb db(d);
        MeasurementPage page(db);
        page.resize(700, 400);
        page.show();
        page.navigator()->last();
        page.grid()->viewport()->repaint();
        QApplication::processEvents();
        if (page.records()->current_record() != page.model()->rowCount() - 1)
            state.SkipWithError("not on the last row");
        benchmark::DoNotOptimize(page.model()->block_fetches());
    }
    state.counters["rows"] = static_cast<double>(kBigRows);
}
BENCHMARK(BM_OpenBrowserJumpLast)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// A new measurement while the page shows the end of the 10-million-row log:
// the append, the row insertion into the view and the repaint.
void BM_AppendWithBigBrowserOpen(benchmark::State& state)
{
    const QString d = big_dir();
    StationDb db(d);
    MeasurementPage page(db);
    page.resize(700, 400);
    page.show();
    page.navigator()->last();
    QApplication::processEvents();
    // Append inside a transaction that is rolled back, so the file keeps its size.
    QSqlQuery(db.connection()).exec(QStringLiteral("BEGIN"));
    for (auto _ : state) {
        db.append_measurement({ QDateTime::currentDateTime(), 1, 100.5, 99.75, 45.5, 3, 0 });
        page.grid()->viewport()->repaint();
    }
    QSqlQuery(db.connection()).exec(QStringLiteral("ROLLBACK"));
}
BENCHMARK(BM_AppendWithBigBrowserOpen)->Unit(benchmark::kMicrosecond)->Iterations(200)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QDir().mkpath(QStringLiteral(BENCH_BIG_DIR));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
