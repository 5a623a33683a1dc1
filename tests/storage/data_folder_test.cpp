// Which folder the station works in, and its database created there from the
// template on first start.
#include "data_folder.h"
#include "errors.h"
#include "station_db.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class DataFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        for (const char* d : { "work", "system" })
            ASSERT_TRUE(QDir(tmp.path()).mkpath(QString::fromLatin1(d)));
        // An installed template is read-only for the user.
        ASSERT_TRUE(QFile::copy(QStringLiteral(STATION_DB_TEMPLATE), path("system/control_db.sqlite")));
        ASSERT_TRUE(QFile::setPermissions(path("system/control_db.sqlite"),
                                          QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    }
    QString path(const char* relative) const { return QDir(tmp.path()).filePath(QString::fromLatin1(relative)); }
    DataFolderRequest request() const
    {
        return { QString(), path("work"), path("home/.local/share/ai_station"),
                 { path("missing/control_db.sqlite"), path("system/control_db.sqlite") } };
    }
    QStringList files(const char* dir) const { return QDir(path(dir)).entryList(QDir::Files | QDir::Hidden); }

    QTemporaryDir tmp;
};

TEST_F(DataFolderTest, FirstStartCreatesAWritableDatabaseInTheUsersDataFolder)
{
    const DataFolder folder = prepare_data_folder(request());
    EXPECT_EQ(folder.path, path("home/.local/share/ai_station"));
    EXPECT_EQ(folder.created_from, path("system/control_db.sqlite"));
    EXPECT_EQ(files("home/.local/share/ai_station"), QStringList{ QStringLiteral("control_db.sqlite") })
        << "only the database, no half-copied file";
    EXPECT_TRUE(QFileInfo(path("home/.local/share/ai_station/control_db.sqlite")).permissions() & QFile::WriteOwner);
    EXPECT_TRUE(files("work").isEmpty());
    // The station opens it read-write (a read-only file is refused).
    StationDb db(folder.path);
    EXPECT_NO_THROW(db.open_parameter_table());
    EXPECT_NO_THROW(db.store_parameter(3, 40, 7));
}

TEST_F(DataFolderTest, AnExistingDatabaseIsUsedAndNeverReplaced)
{
    struct Case {
        const char* name;
        const char* existing; // folder holding a database before the start
        QString chosen;
        const char* expected;
    };
    const Case cases[] = {
        { "the working directory holding one", "work", QString(), "work" },
        { "the user's data folder holding one", "home/.local/share/ai_station", QString(), "home/.local/share/ai_station" },
        { "a chosen folder holding one", "plant", path("plant"), "plant" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(QDir().mkpath(path(c.existing)));
        const QString db = QDir(path(c.existing)).filePath(QStringLiteral("control_db.sqlite"));
        QFile::remove(db);
        {
            QFile marker(db);
            ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
            marker.write("the operator's data");
        }
        DataFolderRequest r = request();
        r.chosen_dir = c.chosen;
        const DataFolder folder = prepare_data_folder(r);
        EXPECT_EQ(folder.path, path(c.expected));
        EXPECT_TRUE(folder.created_from.isEmpty());
        QFile kept(db);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), QByteArray("the operator's data"));
        QFile::remove(db);
    }
}

TEST_F(DataFolderTest, AChosenFolderWinsAndIsCreatedWithItsDatabase)
{
    ASSERT_TRUE(QFile::copy(path("system/control_db.sqlite"), path("work/control_db.sqlite")));
    DataFolderRequest r = request();
    r.chosen_dir = path("plant/line 2");
    const DataFolder folder = prepare_data_folder(r);
    EXPECT_EQ(folder.path, path("plant/line 2"));
    EXPECT_TRUE(QFileInfo::exists(path("plant/line 2/control_db.sqlite")));
    EXPECT_FALSE(QFileInfo::exists(path("home")));
}

TEST_F(DataFolderTest, FailuresNameTheFileTheFoldersAndTheTemplates)
{
    QFile blocker(path("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    struct Case {
        const char* name;
        DataFolderRequest request;
        QStringList mentions;
    };
    DataFolderRequest no_template = request();
    no_template.templates = { path("missing/control_db.sqlite") };
    DataFolderRequest no_folder = request();
    no_folder.chosen_dir = path("blocker/data"); // under a file: cannot be made
    const Case cases[] = {
        { "no template", no_template,
          { QStringLiteral("control_db.sqlite"), path("work"), path("home/.local/share/ai_station"),
            path("missing/control_db.sqlite") } },
        { "no folder", no_folder, { path("blocker/data") } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            prepare_data_folder(c.request);
            ADD_FAILURE() << "no error";
        } catch (const EDatabaseError& e) {
            const QString text = QString::fromUtf8(e.what());
            for (const QString& m : c.mentions)
                EXPECT_TRUE(text.contains(m)) << text.toStdString() << " lacks " << m.toStdString();
        }
    }
    EXPECT_FALSE(QFileInfo::exists(path("home/.local/share/ai_station/control_db.sqlite")));
}

TEST_F(DataFolderTest, TemplatesComeFromBesideTheProgramAndTheSystemNotTheUsersData)
{
    const QByteArray old_home = qgetenv("XDG_DATA_HOME"), old_dirs = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_HOME", path("home/data").toUtf8());
    qputenv("XDG_DATA_DIRS", (path("usr/local/share") + QLatin1Char(':') + path("usr/share")).toUtf8());
    const QStringList templates = installed_template_paths();
    const QString user = user_data_folder();
    qputenv("XDG_DATA_HOME", old_home);
    qputenv("XDG_DATA_DIRS", old_dirs);

    const QString beside
        = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/ai_station/control_db.sqlite"));
    // This test runs from the build tree: the database the build wrote at
    // its top comes second.
    const QString built = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../../control_db.sqlite"));
    ASSERT_TRUE(QFileInfo::exists(built));
    EXPECT_EQ(templates, (QStringList{ beside, built, path("usr/local/share/ai_station/control_db.sqlite"),
                                       path("usr/share/ai_station/control_db.sqlite") }));
    EXPECT_EQ(user, path("home/data/ai_station"));
}

} // namespace
