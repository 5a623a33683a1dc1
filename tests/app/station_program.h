#pragma once
// The station program run as an operator runs it: a process of its own on
// the offscreen platform, with its data folder given by --workdir, standard
// error kept in a file for the test to read. Started by fork and exec (not
// QProcess, whose child shares the parent's memory until exec). As root, a
// run may drop to the user nobody, for whom file permissions hold.
//
// STATION_PROGRAM in the environment names another build of the program to
// run instead (to see how an older build behaves under the same test).
#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

extern char** environ;

inline QByteArray file_bytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void write_file(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

class StationProgram {
public:
    static constexpr uid_t kNobody = 65534;

    StationProgram(const QString& workdir, const QStringList& extra, bool as_nobody = false)
    {
        const QByteArray override_path = qgetenv("STATION_PROGRAM");
        std::vector<std::string> words { override_path.isEmpty() ? std::string(AI_STATION_BIN)
                                                                  : override_path.toStdString() };
        words.push_back("--workdir");
        words.push_back(workdir.toStdString());
        for (const QString& a : extra)
            words.push_back(a.toStdString());
        std::vector<char*> argv;
        for (std::string& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        // The environment of the test, on the offscreen platform; a sanitizer
        // build does not report the program's leaks here (not what these
        // tests look at, and they would change its exit code).
        std::vector<std::string> env_words;
        for (char** e = environ; *e; ++e) {
            const std::string_view v(*e);
            if (v.rfind("QT_QPA_PLATFORM=", 0) != 0 && v.rfind("ASAN_OPTIONS=", 0) != 0)
                env_words.emplace_back(v);
        }
        env_words.emplace_back("QT_QPA_PLATFORM=offscreen");
        env_words.emplace_back("ASAN_OPTIONS=detect_leaks=0");
        if (as_nobody)
            env_words.emplace_back("HOME=" + logs_.path().toStdString());
        std::vector<char*> envp;
        for (std::string& w : env_words)
            envp.push_back(w.data());
        envp.push_back(nullptr);
        const QByteArray err_path = QFile::encodeName(stderr_path());
        if (as_nobody)
            ::chmod(QFile::encodeName(logs_.path()).constData(), 0777);

        pid_ = ::fork();
        if (pid_ == 0) {
            const int fd = ::open(err_path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            if (fd >= 0)
                ::dup2(fd, STDERR_FILENO);
            if (as_nobody && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
                ::_exit(126);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
    }
    ~StationProgram()
    {
        if (running()) {
            ::kill(pid_, SIGKILL);
            wait_exit(5000);
        }
    }
    StationProgram(const StationProgram&) = delete;
    StationProgram& operator=(const StationProgram&) = delete;

    bool started() const { return pid_ > 0; }
    QString stderr_path() const { return logs_.filePath(QStringLiteral("stderr.txt")); }
    QString stderr_text() const { return QString::fromUtf8(file_bytes(stderr_path())); }

    // Whether the process is still there (reaps it when it has ended).
    bool running()
    {
        if (ended_)
            return false;
        int status = 0;
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || (r < 0 && errno == ECHILD)) {
            ended_ = true;
            status_ = status;
            return false;
        }
        return true;
    }
    // Waits up to `ms` for standard error to hold every one of `texts`.
    bool wait_for_stderr(const QStringList& texts, int ms) const
    {
        QDeadlineTimer deadline(ms);
        do {
            const QString text = stderr_text();
            bool all = true;
            for (const QString& t : texts)
                all = all && text.contains(t);
            if (all)
                return true;
            QThread::msleep(20);
        } while (!deadline.hasExpired());
        return false;
    }
    // Waits up to `ms` for the process to end.
    bool wait_exit(int ms)
    {
        QDeadlineTimer deadline(ms);
        while (running()) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(10);
        }
        return true;
    }
    // Asks it to stop as a service manager would (SIGTERM: an open box is
    // answered, the window closes as usual) and waits up to `ms`. The exit
    // code, or -1 when it did not end by itself.
    int stop(int ms)
    {
        if (running())
            ::kill(pid_, SIGTERM);
        if (!wait_exit(ms))
            return -1;
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    }
    void kill_now()
    {
        if (running())
            ::kill(pid_, SIGKILL);
        wait_exit(5000);
    }

private:
    QTemporaryDir logs_;
    pid_t pid_ = -1;
    bool ended_ = false;
    int status_ = 0;
};

// A data folder for the program: a copy of the delivered database, open to
// the user nobody as well (for the runs that drop to it).
inline bool prepare_workdir(const QTemporaryDir& dir)
{
    ::chmod(QFile::encodeName(dir.path()).constData(), 0777);
    const QString db = QDir(dir.path()).filePath(QStringLiteral("control_db.sqlite"));
    return QFile::copy(QStringLiteral(STATION_DB_TEMPLATE), db)
        && QFile::setPermissions(db, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
}
