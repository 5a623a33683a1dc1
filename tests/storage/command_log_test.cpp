// The record of commands: rows added as sent, their result replaced as the
// reply and the read-back are decided, listed newest first; a value is kept
// only when the command carries one.
#include "command_log.h"
#include "station_db.h"
#include "storage_fixture.h"

#include <QSignalSpy>

namespace {

class CommandLogTest : public StorageDir { };

TEST_F(CommandLogTest, RowsKeepTheirFieldsAndTheLatestResult)
{
    StationDb db(dir()); // the delivered file, brought up to the newest layout
    CommandLog log(db);
    QSignalSpy changed(&log, &CommandLog::changed);
    const QDateTime t0({ 2026, 12, 10 }, { 9, 15, 2, 250 });
    const qint64 sv = log.add({ 0, t0, 3, QStringLiteral("给定值"), 123.45, QStringLiteral("已发送") });
    const qint64 stop
        = log.add({ 0, t0.addSecs(5), 1, QStringLiteral("STOP"), std::nullopt, QStringLiteral("已发送") });
    EXPECT_NE(sv, stop);
    log.set_result(sv, QStringLiteral("已应答，读回核对一致"));
    log.set_result(stop, QStringLiteral("无应答"));
    EXPECT_EQ(changed.count(), 4);

    const std::vector<CommandRecord> rows = log.newest(10);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (CommandRecord { stop, t0.addSecs(5), 1, QStringLiteral("STOP"), std::nullopt,
                           QStringLiteral("无应答") }));
    EXPECT_EQ(rows[1], (CommandRecord { sv, t0, 3, QStringLiteral("给定值"), 123.45,
                           QStringLiteral("已应答，读回核对一致") }));
    EXPECT_EQ(log.newest(1).size(), 1u);
}

} // namespace
