#include "errors.h"
#include "settings_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// What the read applied, in order.
struct Applied {
    QStringList log;
    SettingsTargets targets()
    {
        SettingsTargets t;
        t.show_port_text = [this](const QString& s) { log << QStringLiteral("Edit1=") + s; };
        t.set_port_index = [this](int v) { log << QStringLiteral("ComboBox1=%1").arg(v); };
        t.show_baud_text = [this](const QString& s) { log << QStringLiteral("Edit2=") + s; };
        t.set_baud_index = [this](int v) { log << QStringLiteral("ComboBox2=%1").arg(v); };
        t.set_period = [this](int v) { log << QStringLiteral("period=%1").arg(v); };
        return t;
    }
};

class SettingsFile : public ::testing::Test {
protected:
    QString path() const { return QDir(tmp_.path()).filePath(QStringLiteral("save.txt")); }
    void write(const QByteArray& content) const
    {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }
    QByteArray content() const
    {
        QFile f(path());
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return f.readAll();
    }
    QTemporaryDir tmp_;
};

TEST_F(SettingsFile, ReadAppliesTheFirstThreeLinesByTheirFirstEightCharacters)
{
    const struct {
        QByteArray file;
        QStringList applied;
    } cases[] = {
        { "3\r\n1\r\n5\r\n", { "Edit1=3", "ComboBox1=3", "Edit2=1", "ComboBox2=1", "period=5" } },
        { "123456789\r\n0\r\n2\r\n",
            { "Edit1=12345678", "ComboBox1=12345678", "Edit2=0", "ComboBox2=0", "period=2" } },
        { "0\r\n2\r\n2\r\n7\r\n", { "Edit1=0", "ComboBox1=0", "Edit2=2", "ComboBox2=2", "period=2" } },
        { "0\r\n2\r\n2\r\nnot a number\r\n",
            { "Edit1=0", "ComboBox1=0", "Edit2=2", "ComboBox2=2", "period=2" } },
        { "-1\n-1\n10", { "Edit1=-1", "ComboBox1=-1", "Edit2=-1", "ComboBox2=-1", "period=10" } },
        { "4\r\n", { "Edit1=4", "ComboBox1=4" } },
        { "", {} },
        { "12345678xyz\r\n1\r\n1\r\n",
            { "Edit1=12345678", "ComboBox1=12345678", "Edit2=1", "ComboBox2=1", "period=1" } },
    };
    for (const auto& c : cases) {
        write(c.file);
        Applied a;
        read_settings(path(), a.targets());
        EXPECT_EQ(a.log, c.applied) << c.file.toStdString();
    }
}

TEST_F(SettingsFile, ABadLineRaisesTheConversionErrorAfterTheLinesBeforeIt)
{
    const struct {
        QByteArray file;
        std::string message;
        int line;
        QStringList applied;
    } cases[] = {
        { "com4\r\n1\r\n5\r\n", "'com4' is not a valid integer value", 1, { "Edit1=com4" } },
        { "3\r\n\r\n5\r\n", "'' is not a valid integer value", 2, { "Edit1=3", "ComboBox1=3", "Edit2=" } },
        { "3\r\n1\r\n5 s\r\n", "'5 s' is not a valid integer value", 3,
            { "Edit1=3", "ComboBox1=3", "Edit2=1", "ComboBox2=1" } },
        // The cut happens before the conversion: 8 digits then a letter is fine,
        // a letter within the first 8 is not.
        { "1234567x9\r\n1\r\n1\r\n", "'1234567x' is not a valid integer value", 1, { "Edit1=1234567x" } },
    };
    for (const auto& c : cases) {
        write(c.file);
        Applied a;
        try {
            read_settings(path(), a.targets());
            ADD_FAILURE() << "no error for " << c.file.toStdString();
        } catch (const EConvertError& e) {
            // The runtime's message, then the file and the line.
            const QStringList lines = QString::fromUtf8(e.what()).split(QLatin1Char('\n'));
            EXPECT_EQ(lines[0].toStdString(), c.message);
            ASSERT_EQ(lines.size(), 2) << e.what();
            EXPECT_TRUE(lines[1].contains(path())) << e.what();
            EXPECT_TRUE(lines[1].contains(QStringLiteral("第 %1 行").arg(c.line))) << e.what();
        }
        EXPECT_EQ(a.log, c.applied) << c.file.toStdString();
    }
}

TEST_F(SettingsFile, MissingFileRaisesTheInOutError)
{
    Applied a;
    try {
        read_settings(path(), a.targets());
        FAIL() << "read a missing file";
    } catch (const EInOutError& e) {
        EXPECT_EQ(QString::fromUtf8(e.what()),
            QStringLiteral("File not found\n设置文件 %1 读取失败：文件不存在").arg(path()));
    }
    EXPECT_TRUE(a.log.isEmpty());
}

TEST_F(SettingsFile, SaveWritesThreeCrLfLinesInPlainDecimal)
{
    const struct {
        int port, baud, period;
        QByteArray file;
    } cases[] = { { 0, 2, 2, "0\r\n2\r\n2\r\n" }, { -1, -1, 10, "-1\r\n-1\r\n10\r\n" },
        { 15, 0, 3600, "15\r\n0\r\n3600\r\n" } };
    for (const auto& c : cases) {
        file_save(path(), c.port, c.baud, c.period);
        EXPECT_EQ(content(), c.file);
        Applied a;
        read_settings(path(), a.targets()); // what is written reads back
        EXPECT_EQ(a.log.last(), QStringLiteral("period=%1").arg(c.period));
    }
    // No temporary file is left beside it.
    EXPECT_EQ(QDir(tmp_.path()).entryList(QDir::Files), QStringList { QStringLiteral("save.txt") });
}

// Runs file_save and returns the message it raised ("" when it did not
// raise). As root, permissions do not stop writes, so the save then runs in a
// child process that has dropped to the user nobody.
std::string save_message(const QString& path)
{
    auto attempt = [&]() -> std::string {
        try {
            file_save(path, 0, 2, 2);
            return {};
        } catch (const EInOutError& e) {
            return e.what();
        }
    };
    if (::geteuid() != 0)
        return attempt();
    int fds[2];
    if (::pipe(fds) != 0)
        return "pipe failed";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::string msg = (::setgid(65534) == 0 && ::setuid(65534) == 0) ? attempt() : "setuid failed";
        if (msg.empty())
            msg = "-";
        [[maybe_unused]] const auto n = ::write(fds[1], msg.data(), msg.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string msg;
    char buf[256];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        msg.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return msg == "-" ? std::string() : msg;
}

TEST_F(SettingsFile, FailedSaveRaisesAndLeavesTheOldFileIntact)
{
    write("3\r\n1\r\n5\r\n");
    const QByteArray dir = QFile::encodeName(tmp_.path());
    ASSERT_EQ(::chmod(dir.constData(), 0555), 0); // read-only directory
    const std::string msg = save_message(path());
    ::chmod(dir.constData(), 0700);
    EXPECT_EQ(QString::fromStdString(msg),
        QStringLiteral("File access denied\n设置文件 %1 写入失败：没有访问权限").arg(path()));
    EXPECT_EQ(content(), QByteArray("3\r\n1\r\n5\r\n"));
    EXPECT_EQ(QDir(tmp_.path()).entryList(QDir::Files), QStringList { QStringLiteral("save.txt") });
}

TEST_F(SettingsFile, FailedSaveIntoAMissingDirectoryRaises)
{
    const QString p = QDir(tmp_.path()).filePath(QStringLiteral("gone/save.txt"));
    try {
        file_save(p, 0, 2, 2);
        FAIL() << "saved into a missing directory";
    } catch (const EInOutError& e) {
        EXPECT_EQ(QString::fromUtf8(e.what()),
            QStringLiteral("File not found\n设置文件 %1 写入失败：文件不存在").arg(p));
    }
}

} // namespace
