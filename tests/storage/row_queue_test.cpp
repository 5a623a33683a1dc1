// Rows wait in memory while the database is unavailable and are written in
// order when it is back: held by another writer, or full.
#include "row_queue.h"
#include "storage_fixture.h"

#include <QSignalSpy>
#include <QSqlError>

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
    RowQueue queue(db, 3);
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
