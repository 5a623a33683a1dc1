// The alarm history: stored transitions read back newest first through the
// filters, counted, and exported as CSV.
#include "alarm_log.h"
#include "errors.h"
#include "station_db.h"
#include "storage_fixture.h"

#include <QFileInfo>

namespace {

class AlarmLogTest : public StorageDir {
protected:
    void SetUp() override
    {
        StorageDir::SetUp();
        db = std::make_unique<StationDb>(dir());
        log = std::make_unique<AlarmLog>(*db);
    }
    void TearDown() override
    {
        log.reset();
        db.reset();
    }
    static QDateTime at(int day, int hour, int minute = 0)
    {
        return { QDate(2026, 5, day), QTime(hour, minute) };
    }
    QByteArray read(const QString& p) const
    {
        QFile f(p);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << p.toStdString();
        return f.readAll();
    }

    std::unique_ptr<StationDb> db;
    std::unique_ptr<AlarmLog> log;
};

// Four transitions over two days and two instruments.
const std::vector<AlarmEvent> kEvents = {
    { { QDate(2026, 5, 1), QTime(8, 0) }, 1, QStringLiteral("HIAL"), true },
    { { QDate(2026, 5, 1), QTime(23, 59, 59) }, 3, QStringLiteral("oraL"), true },
    { { QDate(2026, 5, 2), QTime(0, 0) }, 1, QStringLiteral("HIAL"), false },
    { { QDate(2026, 5, 2), QTime(9, 30) }, 1, QStringLiteral("LoAL"), true },
};

TEST_F(AlarmLogTest, FiltersByAddressAndDaysNewestFirst)
{
    log->append(kEvents);
    const struct {
        const char* name;
        AlarmFilter filter;
        std::vector<int> want; // indexes into kEvents, newest first
    } cases[] = {
        { "all", {}, { 3, 2, 1, 0 } },
        { "address 1", { 1, std::nullopt, std::nullopt }, { 3, 2, 0 } },
        { "address 7", { 7, std::nullopt, std::nullopt }, {} },
        { "first day", { std::nullopt, QDate(2026, 5, 1), QDate(2026, 5, 1) }, { 1, 0 } },
        { "second day, address 1", { 1, QDate(2026, 5, 2), QDate(2026, 5, 2) }, { 3, 2 } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<AlarmEvent> want;
        for (int i : c.want)
            want.push_back(kEvents[static_cast<std::size_t>(i)]);
        EXPECT_EQ(log->newest(c.filter, 100), want);
        EXPECT_EQ(log->count(c.filter), static_cast<qint64>(want.size()));
    }
    EXPECT_EQ(log->newest({}, 2).size(), 2u) << "the limit holds";
}

TEST_F(AlarmLogTest, ExportsWhatTheFilterPassesOldestFirst)
{
    log->append(kEvents);
    const auto rows = export_alarms_csv(
        db_path(), file("alarms.csv"), { 1, std::nullopt, std::nullopt }, true, {}, nullptr);
    ASSERT_EQ(rows, 3);
    EXPECT_EQ(read(file("alarms.csv")),
        QByteArray("\xEF\xBB\xBF"
                   "time,address,alarm,state\n"
                   "2026-05-01 08:00:00,1,HIAL,raised\n"
                   "2026-05-02 00:00:00,1,HIAL,cleared\n"
                   "2026-05-02 09:30:00,1,LoAL,raised\n"));
    EXPECT_THROW(export_alarms_csv(db_path(), file("no/dir/a.csv"), {}, false, {}, nullptr), EInOutError);
    EXPECT_FALSE(QFileInfo::exists(file("no/dir/a.csv.part")));
}

} // namespace
