// What the engine keeps when something holds it up: a row's time is when
// its reply arrived, alarm transitions wait in the row queue with the rows,
// and closing decides the open reply windows and writes what waits, or says
// how much could not be written.
#include "engine_fixture.h"

#include "comm_threads.h"

#include <QElapsedTimer>

#include <chrono>
#include <future>
#include <optional>
#include <thread>

using namespace std::chrono_literals;

namespace {

class Hardening : public EngineFixture {
protected:
    // A poll of address `address` answered with `reply`, decided at once.
    void poll_reply(int address, const ReplyBytes& reply) { answer(RequestKind::Poll, address, 0, reply); }
    // The stored time of each mea_tbl row, in log order, as clock numbers.
    std::vector<qint64> row_times() const
    {
        std::vector<qint64> out;
        for (const QVariant& v : db_values(QStringLiteral("SELECT \"time\" FROM mea_tbl ORDER BY rowid")))
            out.push_back(db_clock_ms(v.toString()).value_or(-1));
        return out;
    }
    QString db_file() const { return path("control_db.sqlite"); }
};

} // namespace

// A reply whose window is decided long after it arrived (the engine was held
// up, the line is slow to settle) is logged at the time its first byte
// arrived, as the reader thread stamped it, not at the time of the decision.
TEST_F(Hardening, ARowCarriesTheTimeItsRepliesFirstByteArrived)
{
    Engine& e = start_engine();
    enable({ 1 });
    // The poll went out three seconds ago and its reply began 40 ms after it.
    const auto sent = std::chrono::steady_clock::now() - 3s;
    const QDateTime wall_sent = QDateTime::currentDateTime().addSecs(-3);
    LineRequest request;
    request.address = 1;
    request.kind = RequestKind::Poll;
    e.replies.request_sent(request, sent);
    const ReplyBytes reply = reply_counts(250, 240, 0, 0, 0);
    e.serial()->HandleCommMessage(COMM_MSG_DATA, 10, 0, as_block(reply), sent + 40ms);
    e.settle_replies();

    ASSERT_EQ(shown.size(), 1u);
    const std::vector<qint64> times = row_times();
    ASSERT_EQ(times.size(), 1u);
    const qint64 expected = db_clock_ms(wall_sent.addMSecs(40));
    EXPECT_NEAR(static_cast<double>(times[0]), static_cast<double>(expected), 100.0)
        << "logged " << times[0] - expected << " ms after the reply arrived";
    EXPECT_EQ(times[0], db_clock_ms(shown[0].arrived));
}

// During a database lock, the alarm transitions of a poll reply wait in the
// row queue behind the rows before them; once the lock is gone, rows and
// transitions are written in their order, each reported written once.
TEST_F(Hardening, AlarmTransitionsWaitInTheRowQueueThroughALock)
{
    Engine& e = start_engine();
    enable({ 1 });
    int rows_written = 0, alarms_written = 0;
    QObject::connect(e.rows(), &RowQueue::written,
        [&](const std::vector<MeasurementRow>& rows, const std::vector<AlarmEvent>& alarms) {
            rows_written += static_cast<int>(rows.size());
            alarms_written += static_cast<int>(alarms.size());
        });
    poll_reply(1, reply_counts(100, 100, 0, 0x00, 0)); // written at once
    ASSERT_EQ(rows_written, 1);
    {
        DbHolder holder(db_file());
        ASSERT_TRUE(holder.ok);
        poll_reply(1, reply_counts(101, 100, 0, 0x40, 0)); // HIAL raised
        poll_reply(1, reply_counts(102, 100, 0, 0x40, 0));
        poll_reply(1, reply_counts(103, 100, 0, 0x00, 0)); // HIAL cleared
        EXPECT_TRUE(e.rows()->outage());
        EXPECT_EQ(e.rows()->waiting(), 5u); // three rows, two transitions
        EXPECT_EQ(rows_written, 1);
        EXPECT_EQ(alarms_written, 0);
        EXPECT_EQ(db_value(QStringLiteral("SELECT COUNT(*) FROM alarm_log")).toInt(), 0);
        EXPECT_TRUE(message_has(QStringLiteral("数据库暂不可用"))) << said();
    }
    EXPECT_TRUE(e.rows()->drain(5s));
    EXPECT_EQ(rows_written, 4);
    EXPECT_EQ(alarms_written, 2);
    EXPECT_EQ(db_values(QStringLiteral("SELECT sv FROM mea_tbl ORDER BY rowid")),
        (QVariantList { 100.0, 101.0, 102.0, 103.0 }));
    EXPECT_EQ(db_value(QStringLiteral("SELECT group_concat(address || ' ' || alarm || ' ' || raised, ';') "
                                      "FROM (SELECT * FROM alarm_log ORDER BY id)"))
                  .toString(),
        QStringLiteral("1 HIAL 1;1 HIAL 0"));
    // Each transition carries the time of the reply that brought it.
    const std::vector<qint64> rows = row_times();
    std::vector<qint64> alarm_times;
    for (const QVariant& v : db_values(QStringLiteral("SELECT \"time\" FROM alarm_log ORDER BY id")))
        alarm_times.push_back(db_clock_ms(v.toString()).value_or(-1));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(alarm_times, (std::vector<qint64> { rows[1], rows[3] }));
    EXPECT_TRUE(message_has(QStringLiteral("数据库已恢复，补写 5 行"))) << said();
}

// Closing decides the reply windows still open (a reply received but not yet
// decided is logged) and writes every queued row, more than one batch of
// them, waiting for a database that another program holds a while longer.
TEST_F(Hardening, ClosingDecidesOpenWindowsAndWritesEveryQueuedRow)
{
    Engine& e = start_engine();
    enable({ 1 });
    // Another program holds the database until it is told to let go, and
    // then a little longer.
    std::promise<void> held, let_go;
    std::thread holder([&] {
        {
            DbHolder hold(db_file(), QStringLiteral("closing_holder"));
            held.set_value();
            if (!hold.ok)
                return;
            let_go.get_future().wait();
            std::this_thread::sleep_for(400ms);
        }
    });
    held.get_future().wait();
    const int queued = 2 * static_cast<int>(RowQueue::kBatchRows) + 20;
    for (int i = 0; i < queued; ++i)
        poll_reply(1, reply_counts(i, 0, 0, 0, 0));
    ASSERT_EQ(static_cast<int>(e.rows()->waiting()), queued);
    // The last poll's reply has come in; its window is still open.
    e.Timer1Timer();
    ASSERT_EQ(cur_addr, 1);
    const ReplyBytes last = reply_counts(9000, 0, 0, 0, 0);
    e.SComm1_485ReceiveData(nullptr, as_block(last), 10);
    ASSERT_TRUE(e.replies.pending());

    let_go.set_value();
    QElapsedTimer clock;
    clock.start();
    e.shutdown(10s);
    holder.join();
    EXPECT_GE(clock.elapsed(), 300) << "closing did not wait for the database";
    EXPECT_FALSE(e.replies.pending());
    EXPECT_EQ(e.rows()->waiting(), 0u);
    const QVariantList logged = db_values(QStringLiteral("SELECT sv FROM mea_tbl ORDER BY rowid"));
    ASSERT_EQ(logged.size(), queued + 1);
    for (int i = 0; i < queued; ++i)
        ASSERT_EQ(logged[i].toInt(), i) << i;
    EXPECT_EQ(logged.back().toInt(), 9000);
    EXPECT_FALSE(message_has(QStringLiteral("已丢失"))) << said();
    EXPECT_FALSE(e.serial()->is_open());
}

// When the database stays away for longer than closing waits, what could not
// be written is counted, in the event log and on standard error, and closing
// ends after the wait.
TEST_F(Hardening, ClosingWhileTheDatabaseStaysAwayCountsWhatIsLost)
{
    Engine& e = start_engine();
    enable({ 1 });
    DbHolder holder(db_file());
    ASSERT_TRUE(holder.ok);
    for (int i = 0; i < 30; ++i)
        poll_reply(1, reply_counts(i, 0, 0, i % 2 ? 0x00 : 0x40, 0)); // 30 rows, 30 transitions
    ASSERT_EQ(e.rows()->waiting(), 60u);

    testing::internal::CaptureStderr();
    QElapsedTimer clock;
    clock.start();
    e.shutdown(300ms);
    const qint64 took = clock.elapsed();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_GE(took, 300);
    EXPECT_LT(took, 5000);
    const std::string lost = "关闭时数据库仍不可用：60 行测量值与报警记录未能写入，已丢失";
    EXPECT_NE(err.find(lost), std::string::npos) << err;
    EXPECT_TRUE(event_log_text().contains(QString::fromStdString(lost))) << event_log_text().toStdString();
    EXPECT_TRUE(message_has(QString::fromStdString(lost))) << said();
}
