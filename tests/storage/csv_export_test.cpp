#include "csv_export.h"
#include "errors.h"
#include "station_db.h"
#include "storage_fixture.h"

#include <QFileInfo>
#include <QSignalSpy>

namespace {

class CsvExportTest : public StorageDir {
protected:
    void SetUp() override
    {
        StorageDir::SetUp();
        StationDb db(dir());
        // Three days, rows at 23:59:59 and 00:00:00 to test the day edges.
        const QDateTime times[] = {
            { QDate(2026, 5, 1), QTime(8, 0, 0) },
            { QDate(2026, 5, 1), QTime(23, 59, 59, 999) },
            { QDate(2026, 5, 2), QTime(0, 0, 0) },
            { QDate(2026, 5, 2), QTime(12, 30, 5) },
            { QDate(2026, 5, 3), QTime(0, 0, 0) },
        };
        int i = 0;
        for (const auto& t : times) {
            db.append_measurement({ t, i, 100.0 + i, 99.5 + i, 45.678, 1.005 * i, 4 * i });
            ++i;
        }
    }
    QByteArray read(const QString& p) const
    {
        QFile f(p);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << p.toStdString();
        return f.readAll();
    }
};

TEST_F(CsvExportTest, ExportsAllRowsOrADateRange)
{
    std::vector<int> seen;
    const auto rows = export_measurements_csv(
        db_path(), file("all.csv"), std::nullopt, [&](int p) { seen.push_back(p); }, nullptr);
    ASSERT_EQ(rows, 5);
    const QList<QByteArray> lines = read(file("all.csv")).split('\n');
    ASSERT_EQ(lines.size(), 7); // header, 5 rows, empty after the last LF
    EXPECT_EQ(lines[0], "date,time,address,address_no,sv,pv,mv,val,alm,alarms");
    EXPECT_EQ(
        lines[2], QStringLiteral("2026-05-01,23:59:59,1#仪表,1,101.00,100.500,45.68,1.00,4,Rdy").toUtf8());
    // The status byte 12 carries two alarm bits; the address number stands
    // beside its text.
    const QList<QByteArray> fields = lines[4].split(',');
    ASSERT_EQ(fields.size(), 10);
    EXPECT_EQ(fields[2], QStringLiteral("3#仪表").toUtf8());
    EXPECT_EQ(fields[3], "3");
    EXPECT_EQ(fields[8], "12");
    EXPECT_EQ(fields[9], "Rdy LdAL");
    EXPECT_FALSE(read(file("all.csv")).startsWith("\xEF\xBB\xBF"));
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 1000);

    const struct {
        QDate from, to;
        int rows;
        const char* first_time;
    } ranges[] = { { QDate(2026, 5, 2), QDate(2026, 5, 2), 2, "00:00:00" },
        { QDate(2026, 5, 1), QDate(2026, 5, 2), 4, "08:00:00" },
        { QDate(2026, 5, 3), QDate(2026, 6, 1), 1, "00:00:00" },
        { QDate(2025, 1, 1), QDate(2025, 12, 31), 0, nullptr } };
    for (const auto& r : ranges) {
        const auto n
            = export_measurements_csv(db_path(), file("range.csv"), DateRange { r.from, r.to }, {}, nullptr);
        EXPECT_EQ(n, r.rows) << r.from.toString().toStdString();
        const QList<QByteArray> l = read(file("range.csv")).split('\n');
        EXPECT_EQ(l.size(), r.rows + 2);
        if (r.first_time) {
            EXPECT_EQ(l[1].split(',')[1], QByteArray(r.first_time));
        }
    }
}

TEST_F(CsvExportTest, ByteOrderMarkOnRequest)
{
    ASSERT_EQ(export_measurements_csv(db_path(), file("bom.csv"), std::nullopt, {}, nullptr, true), 5);
    const QByteArray data = read(file("bom.csv"));
    EXPECT_TRUE(data.startsWith("\xEF\xBB\xBF"
                                "date,time,"))
        << data.left(16).toHex().toStdString();
    EXPECT_EQ(data.count('\n'), 6);
}

TEST_F(CsvExportTest, CancelledOrFailedExportLeavesNoFile)
{
    std::atomic<bool> cancel { true };
    EXPECT_FALSE(export_measurements_csv(db_path(), file("c.csv"), std::nullopt, {}, &cancel).has_value());
    EXPECT_FALSE(QFileInfo::exists(file("c.csv")));
    EXPECT_FALSE(QFileInfo::exists(file("c.csv.part")));
    EXPECT_THROW(
        export_measurements_csv(db_path(), file("no/such/dir.csv"), std::nullopt, {}, nullptr), EInOutError);
    EXPECT_THROW(export_measurements_csv(file("missing.sqlite"), file("m.csv"), std::nullopt, {}, nullptr),
        EDatabaseError);
    EXPECT_FALSE(QFileInfo::exists(file("missing.sqlite")));
    EXPECT_FALSE(QFileInfo::exists(file("m.csv")));
}

TEST_F(CsvExportTest, BackgroundJobReportsProgressAndTheResult)
{
    CsvExportJob job;
    QSignalSpy progress(&job, &CsvExportJob::progress);
    QSignalSpy done(&job, &CsvExportJob::finished);
    auto work = [this](const QString& out) {
        return [this, out](const std::function<void(int)>& report, const std::atomic<bool>* cancel) {
            return export_measurements_csv(db_path(), out, std::nullopt, report, cancel);
        };
    };
    ASSERT_TRUE(job.start(work(file("bg.csv"))));
    EXPECT_FALSE(job.start(work(file("bg2.csv")))); // one at a time
    ASSERT_TRUE(done.wait(10000));
    EXPECT_TRUE(done.front()[0].toBool());
    EXPECT_EQ(done.front()[1].toLongLong(), 5);
    EXPECT_FALSE(job.running());
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_EQ(progress.back()[0].toInt(), 1000);
    EXPECT_EQ(read(file("bg.csv")).count('\n'), 6);
    // A failure comes back as a message.
    ASSERT_TRUE(job.start(work(file("no/such/dir.csv"))));
    ASSERT_TRUE(done.wait(10000));
    EXPECT_FALSE(done.back()[0].toBool());
    EXPECT_TRUE(done.back()[2].toString().contains(QStringLiteral("dir.csv"))) << done.back()[2].toString().toStdString();
}

} // namespace
