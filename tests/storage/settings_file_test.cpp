#include "errors.h"
#include "settings_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <functional>
#include <string>
#include <string_view>

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
        t.set_port_index = [this](int v) {
            log << QStringLiteral("ComboBox1=%1").arg(v);
            return true;
        };
        t.show_baud_text = [this](const QString& s) { log << QStringLiteral("Edit2=") + s; };
        t.set_baud_index = [this](int v) {
            log << QStringLiteral("ComboBox2=%1").arg(v);
            return true;
        };
        t.set_period = [this](int v) {
            log << QStringLiteral("period=%1").arg(v);
            return true;
        };
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

// A line that is no integer keeps its default and is named with the file,
// its number and its text; the other lines still apply.
TEST_F(SettingsFile, ABadLineIsNamedAndOnlyThatLineKeepsItsDefault)
{
    const struct {
        QByteArray file;
        QStringList problems; // line number and text of each bad line
        QStringList applied;
    } cases[] = {
        { "com4\r\n1\r\n5\r\n", { "1:com4" }, { "Edit1=com4", "Edit2=1", "ComboBox2=1", "period=5" } },
        { "3\r\n\r\n5\r\n", { "2:" }, { "Edit1=3", "ComboBox1=3", "Edit2=", "period=5" } },
        { "3\r\n1\r\n5 s\r\n", { "3:5 s" }, { "Edit1=3", "ComboBox1=3", "Edit2=1", "ComboBox2=1" } },
        // The cut happens before the conversion: 8 digits then a letter is fine,
        // a letter within the first 8 is not (the message shows the line).
        { "1234567x9\r\n1\r\nx\r\n", { "1:1234567x9", "3:x" }, { "Edit1=1234567x", "Edit2=1", "ComboBox2=1" } },
    };
    for (const auto& c : cases) {
        write(c.file);
        Applied a;
        const SettingsReadResult r = read_settings(path(), a.targets());
        EXPECT_TRUE(r.found);
        EXPECT_EQ(a.log, c.applied) << c.file.toStdString();
        ASSERT_EQ(r.problems.size(), c.problems.size()) << r.problems.join(QLatin1Char('\n')).toStdString();
        for (qsizetype i = 0; i < c.problems.size(); ++i) {
            const QStringList parts = c.problems[i].split(QLatin1Char(':'));
            EXPECT_EQ(r.problems[i],
                QStringLiteral("设置文件 %1 第 %2 行 '%3' 不是整数，该项使用默认值").arg(path(), parts[0], parts[1]));
        }
    }
}

// A value its target refuses (a baud-rate index past the list) keeps the
// target's default and is named with the file and the line, as a line that
// is no number is; the text is still shown.
TEST_F(SettingsFile, AnIndexItsListDoesNotHaveKeepsTheDefaultAndIsNamed)
{
    write("0\r\n7\r\n5\r\n");
    Applied a;
    SettingsTargets t = a.targets();
    t.set_baud_index = [](int v) { return v >= 0 && v <= 2; };
    const SettingsReadResult r = read_settings(path(), t);
    EXPECT_EQ(a.log, (QStringList { "Edit1=0", "ComboBox1=0", "Edit2=7", "period=5" }));
    EXPECT_EQ(r.problems, QStringList { QStringLiteral("设置文件 %1 第 2 行 '7' 超出范围，该项使用默认值").arg(path()) });
}

// A name that is no regular file is not read (a FIFO would wait for a
// writer): one message, the defaults. A save replaces a FIFO with the file;
// a directory cannot be replaced, and saying so is the save's message.
TEST_F(SettingsFile, AFifoOrADirectoryIsNamedNotWaitedOnAndSavesSayWhatHappens)
{
    const QByteArray name = QFile::encodeName(path());
    const struct {
        const char* kind;
        std::function<void()> make;
        const char* says;
        bool saves;
    } cases[] = {
        { "FIFO", [&] { ASSERT_EQ(::mkfifo(name.constData(), 0644), 0); }, "管道（FIFO）", true },
        { "directory", [&] { ASSERT_EQ(::mkdir(name.constData(), 0755), 0); }, "目录", false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        c.make();
        Applied a;
        const SettingsReadResult r = read_settings(path(), a.targets()); // returns at once
        EXPECT_TRUE(a.log.isEmpty());
        ASSERT_EQ(r.problems.size(), 1);
        EXPECT_TRUE(r.problems[0].contains(path()) && r.problems[0].contains(QString::fromUtf8(c.says)))
            << r.problems[0].toStdString();
        if (c.saves) {
            file_save(path(), 1, 2, 3);
            EXPECT_EQ(content(), QByteArray("1\r\n2\r\n3\r\n"));
            EXPECT_TRUE(QFileInfo(path()).isFile());
            QFile::remove(path());
        } else {
            try {
                file_save(path(), 1, 2, 3);
                ADD_FAILURE() << "saved over a directory";
            } catch (const EInOutError& e) {
                EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QStringLiteral("目录"))) << e.what();
            }
            EXPECT_TRUE(QFileInfo(path()).isDir());
            ::rmdir(name.constData());
        }
        EXPECT_EQ(QDir(tmp_.path()).entryList(QDir::Files | QDir::System | QDir::Dirs | QDir::NoDotAndDotDot),
            QStringList {}) << "a temporary file was left";
    }
}

// A first start has no settings file: nothing applies, nothing is wrong.
TEST_F(SettingsFile, AMissingFileIsAFirstStart)
{
    Applied a;
    const SettingsReadResult r = read_settings(path(), a.targets());
    EXPECT_FALSE(r.found);
    EXPECT_TRUE(r.problems.isEmpty());
    EXPECT_TRUE(a.log.isEmpty());
}

// Only the head of the file is read: a file grown by accident to many
// megabytes costs no memory and still gives its three lines.
TEST_F(SettingsFile, OnlyTheHeadOfAHugeFileIsRead)
{
    write("3\r\n1\r\n5\r\n" + QByteArray(8 * 1024 * 1024, 'x'));
    Applied a;
    const SettingsReadResult r = read_settings(path(), a.targets());
    EXPECT_TRUE(r.problems.isEmpty());
    EXPECT_EQ(a.log, (QStringList { "Edit1=3", "ComboBox1=3", "Edit2=1", "ComboBox2=1", "period=5" }));
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
        // "-" stands for "no error", so that a child that wrote nothing is not
        // mistaken for a save that succeeded.
        const std::string_view reply = msg.empty() ? std::string_view("-") : std::string_view(msg);
        [[maybe_unused]] const auto n = ::write(fds[1], reply.data(), reply.size());
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
