#include "station_db.h"
#include "storage_fixture.h"

#include <QDeadlineTimer>
#include <QProcess>

namespace {

using CrashTest = StorageDir;

// A process appending rows is killed with SIGKILL at several points of its
// run; each time the file must be sound and hold every row whose append had
// returned (the child reports each one after the call returns).
TEST_F(CrashTest, KilledWriterLosesNoReturnedAppend)
{
    long reported_total = 0;
    for (int round = 0; round < 3; ++round) {
        QProcess child;
        child.setProgram(QStringLiteral(CRASH_CHILD));
        child.setArguments({ dir() });
        child.start();
        ASSERT_TRUE(child.waitForStarted(5000));
        QByteArray out;
        long last = 0;
        const long wanted = 50 + round * 150;
        QDeadlineTimer deadline(60000);
        while (last < wanted && !deadline.hasExpired()) {
            child.waitForReadyRead(1000);
            out += child.readAllStandardOutput();
            const qsizetype end = out.lastIndexOf('\n');
            if (end > 0) {
                const QByteArray tail = out.left(end);
                last = tail.mid(tail.lastIndexOf('\n') + 1).toLong();
            }
            ASSERT_NE(child.state(), QProcess::NotRunning) << child.readAllStandardError().toStdString();
        }
        ASSERT_GE(last, wanted) << "child too slow";
        child.kill(); // SIGKILL
        ASSERT_TRUE(child.waitForFinished(5000));
        // Rows reported after the last read still count.
        out += child.readAllStandardOutput();
        const qsizetype end = out.lastIndexOf('\n');
        const QByteArray tail = out.left(end);
        last = tail.mid(tail.lastIndexOf('\n') + 1).toLong();

        EXPECT_EQ(query(QStringLiteral("PRAGMA integrity_check")).front().toString(), QStringLiteral("ok"));
        // This round's rows carry sv = 1..n; every reported one is there, at
        // most one more (written, killed before reporting).
        const QVariantList svs = query(
            QStringLiteral("SELECT sv FROM mea_tbl WHERE rowid > %1 ORDER BY rowid").arg(reported_total));
        ASSERT_GE(svs.size(), last);
        EXPECT_LE(svs.size(), last + 1);
        for (long i = 0; i < last; ++i)
            ASSERT_EQ(svs[i].toLongLong(), i + 1) << "round " << round;
        reported_total += svs.size();
    }
}

} // namespace
