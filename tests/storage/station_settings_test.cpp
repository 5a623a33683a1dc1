#include "errors.h"
#include "station_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

TEST(StationSettings, DefaultsThenEveryChangeIsOnDiskAtOnce)
{
    QTemporaryDir dir;
    {
        StationSettings s(dir.path());
        EXPECT_TRUE(s.resume());
        EXPECT_TRUE(s.addresses().empty());
        EXPECT_EQ(s.decimal_places(3), -1);
        s.set_addresses({ 1, 2, 5 });
        s.set_decimal_places(3, 3);
        s.set_resume(false);
        // Written now, not when the object goes: a power cut keeps them.
        StationSettings other(dir.path());
        EXPECT_EQ(other.addresses(), (std::vector<int> { 1, 2, 5 }));
        EXPECT_EQ(other.decimal_places(3), 3);
        EXPECT_FALSE(other.resume());
    }
    for (const std::vector<int>& list : { std::vector<int> { 7 }, std::vector<int> {} }) {
        StationSettings s(dir.path());
        s.set_addresses(list);
        EXPECT_EQ(StationSettings(dir.path()).addresses(), list);
    }
}

// A file edited by hand: what is no address is left out, the rest sorted.
TEST(StationSettings, AddressesThatAreNoAddressesAreLeftOut)
{
    QTemporaryDir dir;
    QFile file(dir.filePath(kStationSettingsFileName));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[resume]\nenabled=false\naddresses=12, x, 3, 91, -1, 3, 0\n[decimals]\n3=9\n4=2\n");
    file.close();
    StationSettings s(dir.path());
    EXPECT_FALSE(s.resume());
    EXPECT_EQ(s.addresses(), (std::vector<int> { 0, 3, 12 }));
    EXPECT_EQ(s.decimal_places(3), -1);
    EXPECT_EQ(s.decimal_places(4), 2);
}

namespace {

mode_t current_umask()
{
    const mode_t m = ::umask(022);
    ::umask(m);
    return m;
}

mode_t mode_of(const QString& path)
{
    struct stat st { };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

} // namespace

// A station.ini the station did not write as it should be: start-up goes on
// with what can be read (or the defaults) and one message per problem, later
// saves work (a directory in its place is the one thing a save cannot
// replace, and says so), and a file that holds a password is owner-only
// after every save.
TEST(StationSettings, DamagedFilesGiveDefaultsAndAMessageAndLaterSavesWork)
{
    struct Case {
        const char* name;
        std::function<void(const QString&)> make;
        QStringList says; // in the messages
        bool resume; // as read
        std::vector<int> addresses; // as read
        bool saves = true;
    };
    const auto write = [](const QString& path, const QByteArray& text, QFile::Permissions perms = {}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        f.close();
        if (perms)
            f.setPermissions(perms);
    };
    const Case cases[] = {
        { "unparsable lines",
            [&](const QString& p) {
                write(p, "# written by hand\n[resume]\nenabled=false\naddresses=1, 2\njust words\n[decimals\n3=2\n");
            },
            { "第 1 行“# written by hand”无法解析", "第 5 行“just words”无法解析", "第 6 行“[decimals”无法解析" }, false,
            { 1, 2 } },
        { "FIFO", [](const QString& p) { ASSERT_EQ(::mkfifo(QFile::encodeName(p).constData(), 0644), 0); },
            { "管道（FIFO）", "使用默认设置" }, true, {} },
        { "directory", [](const QString& p) { ASSERT_TRUE(QDir().mkdir(p)); }, { "目录", "使用默认设置" }, true, {},
            false },
        { "50 MB",
            [&](const QString& p) { write(p, "[resume]\nenabled=false\n" + QByteArray(50 * 1024 * 1024, 'x')); },
            { "超过上限", "未读取" }, true, {} },
        { "a password readable by others",
            [&](const QString& p) {
                write(p, "[resume]\nenabled=false\n[mqtt]\nuser=u\npassword=old\n",
                    QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
            },
            {}, false, {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(kStationSettingsFileName);
        c.make(path);
        StationSettings s(dir.path()); // never waits on a FIFO
        const QString said = s.problems().join(QLatin1Char('\n'));
        if (c.says.isEmpty())
            EXPECT_TRUE(said.isEmpty()) << said.toStdString();
        else
            EXPECT_TRUE(said.contains(QDir::toNativeSeparators(path))) << said.toStdString();
        for (const QString& text : c.says)
            EXPECT_TRUE(said.contains(text)) << said.toStdString() << " lacks " << text.toStdString();
        EXPECT_EQ(s.resume(), c.resume);
        EXPECT_EQ(s.addresses(), c.addresses);
        // A password already in the file is hidden as soon as it is read.
        if (!s.mqtt().password.isEmpty()) {
            EXPECT_EQ(mode_of(path), 0600u);
        }

        MqttConfig mqtt;
        mqtt.enabled = true;
        mqtt.host = QStringLiteral("broker");
        mqtt.user = QStringLiteral("station");
        mqtt.password = QStringLiteral("secret");
        mqtt.allow_plain_password = true;
        const std::vector<std::function<void()>> saves = {
            [&] { s.set_mqtt(mqtt); },
            [&] { s.set_addresses({ 3, 4 }); },
            [&] { s.set_resume(false); },
            [&] {
                mqtt.host = QStringLiteral("broker2");
                s.set_mqtt(mqtt);
            },
            [&] { s.set_decimal_places(3, 1); },
        };
        for (std::size_t i = 0; i < saves.size(); ++i) {
            SCOPED_TRACE("save " + std::to_string(i + 1));
            if (c.saves) {
                ASSERT_NO_THROW(saves[i]());
                EXPECT_TRUE(QFileInfo(path).isFile());
                EXPECT_EQ(mode_of(path), 0600u);
            } else {
                try {
                    saves[i]();
                    ADD_FAILURE() << "saved over a directory";
                } catch (const EInOutError& e) {
                    EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QStringLiteral("目录"))) << e.what();
                }
            }
        }
        if (!c.saves)
            continue;
        // What was saved reads back whole, and the file is clean now.
        const StationSettings again(dir.path());
        EXPECT_TRUE(again.problems().isEmpty()) << again.problems().join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(again.mqtt(), mqtt);
        EXPECT_EQ(again.addresses(), (std::vector<int> { 3, 4 }));
        EXPECT_FALSE(again.resume());
        EXPECT_EQ(again.decimal_places(3), 1);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot),
            QStringList { kStationSettingsFileName });
    }
}

// Without a password the file keeps the permissions it had; the password
// gone, so is the need to hide it, but a file made owner-only stays so.
TEST(StationSettings, WithoutAPasswordTheFileKeepsItsPermissions)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(kStationSettingsFileName);
    StationSettings s(dir.path());
    s.set_resume(false);
    EXPECT_EQ(mode_of(path), 0666u & ~current_umask());
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    s.set_addresses({ 5 });
    EXPECT_EQ(mode_of(path), 0640u);
}

// The last value forgotten, the file is written empty, not left as it was.
TEST(StationSettings, ForgettingTheLastValueEmptiesTheFile)
{
    QTemporaryDir dir;
    StationSettings s(dir.path());
    s.set_port_device(QStringLiteral("/dev/ttyUSB3"));
    EXPECT_EQ(StationSettings(dir.path()).port_device(), QStringLiteral("/dev/ttyUSB3"));
    ASSERT_NO_THROW(s.set_port_device(QString()));
    EXPECT_EQ(StationSettings(dir.path()).port_device(), QString());
    EXPECT_EQ(QFileInfo(dir.filePath(kStationSettingsFileName)).size(), 0);
}
