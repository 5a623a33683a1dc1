// --workdir from the build tree: a folder that does not exist yet is made,
// with the database the build wrote copied into it, and the station starts
// there (the program here is the one in the build tree, as a developer runs
// it).
#include "station_program.h"

#include <gtest/gtest.h>

#include <QFileInfo>

TEST(Workdir, ANewFolderIsMadeWithItsDatabaseFromTheBuildTree)
{
    if (!qEnvironmentVariableIsEmpty("STATION_PROGRAM"))
        GTEST_SKIP() << "another build of the program is under test";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("new/station"));
    StationProgram station(folder, {});
    ASSERT_TRUE(station.started());
    const QString db = QDir(folder).filePath(QStringLiteral("control_db.sqlite"));
    EXPECT_TRUE(station.wait_for_stderr({ QStringLiteral("由模板"), QStringLiteral("启动，数据库 ") + db }, 30000))
        << station.stderr_text().toStdString();
    EXPECT_EQ(station.stop(20000), 0);
    EXPECT_TRUE(QFileInfo(db).isFile());
    EXPECT_FALSE(station.stderr_text().contains(QStringLiteral("启动失败"))) << station.stderr_text().toStdString();
}
