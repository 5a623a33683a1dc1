// The alarm page: the stored transitions listed newest first, filtered by
// address and days, and new transitions shown as they are logged.
#include "alarm_log.h"
#include "alarm_page.h"
#include "station_db.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTableView>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace {

// A fresh copy of the delivered database with its alarm history.
class AlarmLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        const QString file = QDir(tmp.path()).filePath(QStringLiteral("control_db.sqlite"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(STATION_DB_TEMPLATE), file));
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        db = std::make_unique<StationDb>(tmp.path());
        log = std::make_unique<AlarmLog>(*db);
    }
    void TearDown() override
    {
        log.reset();
        db.reset();
    }

    QTemporaryDir tmp;
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

TEST_F(AlarmLogTest, PageListsFiltersAndFollowsNewTransitions)
{
    log->append(kEvents);
    AlarmPage page(*log);
    page.resize(700, 260);
    page.show();
    ASSERT_EQ(page.model()->rowCount(), 4);
    EXPECT_EQ(page.model()->index(0, AlarmTableModel::ColAlarm).data().toString(), "LoAL");
    EXPECT_EQ(page.model()->index(1, AlarmTableModel::ColState).data().toString(), "消失");
    EXPECT_EQ(page.count_label()->text(), "共 4 条");

    page.address_box()->setCurrentIndex(page.address_box()->findText(QStringLiteral("3#")));
    ASSERT_EQ(page.model()->rowCount(), 1);
    EXPECT_EQ(page.model()->index(0, AlarmTableModel::ColAddress).data().toString(), "3#");

    page.address_box()->setCurrentIndex(0);
    page.from_edit()->setDate(QDate(2026, 5, 2));
    page.to_edit()->setDate(QDate(2026, 5, 2));
    page.range_box()->setChecked(true);
    EXPECT_EQ(page.model()->rowCount(), 2);

    // A transition logged while the page is shown appears at once.
    page.range_box()->setChecked(false);
    log->append({ { QDateTime::currentDateTime(), 5, QStringLiteral("HdAL"), true } });
    ASSERT_EQ(page.model()->rowCount(), 5);
    EXPECT_EQ(page.model()->index(0, AlarmTableModel::ColAddress).data().toString(), "5#");
}

} // namespace
