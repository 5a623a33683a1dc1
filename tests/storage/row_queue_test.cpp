// Rows and alarm transitions wait in memory while the database is
// unavailable and are written in order when it is back: held by another
// writer, or full.
#include "row_queue.h"
#include "storage_fixture.h"

#include <QSignalSpy>
#include <QSqlError>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

class RowQueueTest : public StorageDir {
protected:
    static MeasurementRow row(int i)
    {
        MeasurementRow r;
        r.when = QDateTime(QDate(2026, 12, 10), QTime(8, 0)).addSecs(i);
        r.address = 1 + i % 3;
        r.sv = i;
        r.pv = i + 0.5;
        return r;
    }
    // The sv of every logged row, in log order.
    QVariantList logged() const { return query(QStringLiteral("SELECT sv FROM mea_tbl ORDER BY rowid")); }
    static QVariantList numbers(int from, int to)
    {
        QVariantList out;
        for (int i = from; i <= to; ++i)
            out << static_cast<double>(i);
        return out;
    }
};

// Another program holding the file for writing: a second connection with an
// exclusive transaction open.
struct Holder {
    explicit Holder(const QString& path)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        db.setDatabaseName(path);
        ok = db.open() && QSqlQuery(db).exec(QStringLiteral("BEGIN EXCLUSIVE"));
    }
    void release()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(QStringLiteral("holder"));
            QSqlQuery(db).exec(QStringLiteral("COMMIT"));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    }
    ~Holder()
    {
        if (QSqlDatabase::contains(QStringLiteral("holder")))
            release();
    }
    bool ok = false;
};

} // namespace

TEST_F(RowQueueTest, RowsWaitWhileAnotherWriterHoldsTheFileAndFollowInOrder)
{
    StationDb db(dir());
    RowQueue queue(db);
    QSignalSpy began(&queue, &RowQueue::outage_began);
    QSignalSpy ended(&queue, &RowQueue::outage_ended);
    queue.append_measurement(row(0));
    {
        Holder holder(db_path());
        ASSERT_TRUE(holder.ok);
        for (int i = 1; i <= 5; ++i)
            queue.append_measurement(row(i));
        queue.store_parameter(1, 4, 10.0f);
        queue.store_parameter(1, 4, 12.5f); // only the latest value matters
        EXPECT_TRUE(queue.outage());
        EXPECT_EQ(queue.waiting(), 5u);
        EXPECT_EQ(began.count(), 1);
        queue.retry(); // still held
        EXPECT_EQ(queue.waiting(), 5u);
        holder.release();
    }
    queue.append_measurement(row(6)); // behind the waiting ones, not before them
    queue.retry();
    EXPECT_FALSE(queue.outage());
    ASSERT_EQ(ended.count(), 1);
    EXPECT_EQ(ended[0][0].toLongLong(), 6);
    EXPECT_EQ(logged(), numbers(0, 6));
    EXPECT_EQ(query(QStringLiteral("SELECT no1 FROM ai_para WHERE id = 5")), QVariantList { 12.5 });
    EXPECT_EQ(queue.dropped(), 0u);
}

TEST_F(RowQueueTest, RowsWaitWhileTheDatabaseIsFullUntilItHasRoom)
{
    StationDb db(dir());
    RowQueue queue(db);
    QSqlQuery pragma(db.connection());
    ASSERT_TRUE(pragma.exec(QStringLiteral("PRAGMA page_count")) && pragma.next());
    const int pages = pragma.value(0).toInt();
    // No room beyond what the file holds: the rows pile up in the WAL until it
    // needs a page more than allowed.
    ASSERT_TRUE(pragma.exec(QStringLiteral("PRAGMA max_page_count = %1").arg(pages)));
    int i = 0;
    while (!queue.outage() && i < 100000)
        queue.append_measurement(row(i++));
    ASSERT_TRUE(queue.outage()) << "the database never filled up";
    const int first_waiting = i - 1;
    for (int k = 0; k < 20; ++k)
        queue.append_measurement(row(i++));
    queue.retry();
    EXPECT_TRUE(queue.outage());
    ASSERT_TRUE(pragma.exec(QStringLiteral("PRAGMA max_page_count = 1000000")));
    queue.retry();
    EXPECT_FALSE(queue.outage());
    const QVariantList all = logged();
    ASSERT_EQ(all.size(), i);
    EXPECT_EQ(all, numbers(0, i - 1));
    EXPECT_GE(i - first_waiting, 21);
}

TEST_F(RowQueueTest, AFullQueueDropsTheOldestRowsAndSaysHowMany)
{
    StationDb db(dir());
    RowQueue queue(db, nullptr, 3);
    QSignalSpy dropped(&queue, &RowQueue::rows_dropped);
    Holder holder(db_path());
    ASSERT_TRUE(holder.ok);
    for (int i = 0; i < 5; ++i)
        queue.append_measurement(row(i));
    EXPECT_EQ(queue.waiting(), 3u);
    EXPECT_EQ(queue.dropped(), 2u);
    ASSERT_EQ(dropped.count(), 2);
    EXPECT_EQ(dropped.last()[0].toULongLong(), 2u);
    holder.release();
    queue.retry();
    EXPECT_EQ(logged(), numbers(2, 4));
}

namespace {

// Rows and alarm transitions appended in turn, each stamped with its place
// in the sequence (seconds after a base time), so that what reaches the
// database and what `written` reports can be told apart and put in order.
class MixedQueue : public RowQueueTest {
protected:
    static QDateTime stamp(int k) { return QDateTime(QDate(2026, 12, 10), QTime(8, 0)).addSecs(k); }
    void append_next(RowQueue& queue)
    {
        const int k = appended++;
        if (k % 3 == 1) {
            queue.append_alarms({ { stamp(k), 1 + k % 4, QStringLiteral("HIAL"), k % 2 == 0 } });
            return;
        }
        MeasurementRow r = row(k);
        r.when = stamp(k);
        queue.append_measurement(r);
    }
    // The sequence numbers of what the table holds, in the order it was written.
    std::vector<int> stored(const char* table) const
    {
        std::vector<int> out;
        const QString order = QString::fromLatin1(table) == QStringLiteral("mea_tbl")
            ? QStringLiteral("rowid")
            : QStringLiteral("id");
        for (const QVariant& v :
            query(
                QStringLiteral("SELECT \"time\" FROM %1 ORDER BY %2").arg(QString::fromLatin1(table), order)))
            out.push_back(static_cast<int>(stamp(0).secsTo(db_timestamp_from_text(v.toString()))));
        return out;
    }
    // What `written` reported, report after report, each report's entries in
    // time order.
    void follow(RowQueue& queue)
    {
        QObject::connect(&queue, &RowQueue::written,
            [this](const std::vector<MeasurementRow>& rows, const std::vector<AlarmEvent>& alarms) {
                std::vector<int> batch;
                for (const MeasurementRow& r : rows)
                    batch.push_back(static_cast<int>(stamp(0).secsTo(r.when)));
                for (const AlarmEvent& e : alarms)
                    batch.push_back(static_cast<int>(stamp(0).secsTo(e.when)));
                std::sort(batch.begin(), batch.end());
                reported.insert(reported.end(), batch.begin(), batch.end());
            });
    }

    using Outage = std::function<std::function<void()>(StationDb&, RowQueue&)>;
    void check_outage(const Outage& outage);

    int appended = 0;
    std::vector<int> reported;
};

} // namespace

// Whatever keeps the database away, the rows and the transitions logged
// meanwhile wait in one queue and are all written afterwards, each table in
// the order they came, and `written` reports each of them once, in order.
// `outage` makes the database unavailable (appending until the queue holds
// something) and returns what makes it available again.
void MixedQueue::check_outage(const Outage& outage)
{
    {
        StationDb db(dir());
        AlarmLog log(db);
        RowQueue queue(db, &log);
        follow(queue);
        for (int i = 0; i < 4; ++i)
            append_next(queue);
        ASSERT_FALSE(queue.outage());
        const std::function<void()> back = outage(db, queue);
        ASSERT_TRUE(queue.outage()) << "the database never became unavailable";
        const int first_waiting = appended - static_cast<int>(queue.waiting());
        for (int i = 0; i < 20; ++i)
            append_next(queue);
        queue.retry(); // still away
        ASSERT_TRUE(queue.outage());
        EXPECT_EQ(static_cast<int>(queue.waiting()), appended - first_waiting);
        ASSERT_EQ(static_cast<int>(reported.size()), first_waiting) << "reported before it was written";
        back();
        EXPECT_TRUE(queue.drain(std::chrono::seconds(5)));
        EXPECT_EQ(queue.waiting(), 0u);
        EXPECT_EQ(queue.dropped(), 0u);
    }
    std::vector<int> rows, alarms, all;
    for (int k = 0; k < appended; ++k) {
        (k % 3 == 1 ? alarms : rows).push_back(k);
        all.push_back(k);
    }
    EXPECT_EQ(stored("mea_tbl"), rows);
    EXPECT_EQ(stored("alarm_log"), alarms);
    EXPECT_EQ(reported, all);
}

TEST_F(MixedQueue, AnOutageOfAnotherWritersLockLosesAndRepeatsNothing)
{
    check_outage([this](StationDb&, RowQueue& queue) -> std::function<void()> {
        auto holder = std::make_shared<Holder>(db_path());
        EXPECT_TRUE(holder->ok);
        append_next(queue);
        return [holder] { holder->release(); };
    });
}

TEST_F(MixedQueue, AnOutageOfAFullDiskLosesAndRepeatsNothing)
{
    check_outage([this](StationDb& db, RowQueue& queue) -> std::function<void()> {
        QSqlQuery pragma(db.connection());
        EXPECT_TRUE(pragma.exec(QStringLiteral("PRAGMA page_count")) && pragma.next());
        // No room beyond what the file holds: the log piles up in the WAL
        // until it needs a page more than allowed.
        EXPECT_TRUE(pragma.exec(QStringLiteral("PRAGMA max_page_count = %1").arg(pragma.value(0).toInt())));
        while (!queue.outage() && appended < 100000)
            append_next(queue);
        return [&db] { QSqlQuery(db.connection()).exec(QStringLiteral("PRAGMA max_page_count = 1000000")); };
    });
}
