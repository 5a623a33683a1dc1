#include "settings_file.h"

#include "convert.h"
#include "errors.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A line of the file as a message shows it: control characters (a file of
// zeros, binary garbage) as '?'.
QString shown(const QByteArray& line)
{
    QString text = QString::fromLatin1(line);
    for (QChar& c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('?');
    return text;
}

constexpr int kTakenChars = 8;
constexpr qsizetype kMaxSettingsBytes = 4096;
constexpr int kNotRegular = -1;

// The runtime's message, then the file and the reason in words.
[[noreturn]] void raise_in_out(const QString& path, int err, bool writing)
{
    throw EInOutError((in_out_message(err)
        + QStringLiteral("\n设置文件 %1 %2失败：%3")
              .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()),
                  writing ? QStringLiteral("写入") : QStringLiteral("读取"), in_out_reason(err)))
                          .toStdString());
}

// Reads at most kMaxSettingsBytes: the file is three short lines, and a
// file grown by accident must not cost memory. Returns errno on failure;
// kNotRegular (with the kind in `kind`) for a name that is no regular file.
int read_head(const QString& path, QByteArray* data, mode_t* kind)
{
    const QByteArray name = QFile::encodeName(path);
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer,
    // and start-up with it.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat st { };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *kind = st.st_mode;
        ::close(fd);
        return kNotRegular;
    }
    data->resize(kMaxSettingsBytes);
    qsizetype got = 0;
    while (got < data->size()) {
        const ssize_t n = ::read(fd, data->data() + got, static_cast<size_t>(data->size() - got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            data->clear();
            return err;
        }
        if (n == 0)
            break;
        got += n;
    }
    ::close(fd);
    data->resize(got);
    return 0;
}

bool write_all(int fd, const QByteArray& data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, static_cast<size_t>(data.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += n;
    }
    return true;
}

} // namespace

QString in_out_message(int errno_value)
{
    switch (errno_value) {
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("File not found");
    case EACCES:
    case EPERM:
    case EROFS:
        return QStringLiteral("File access denied");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("Disk full");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("Too many open files");
    case ENAMETOOLONG:
        return QStringLiteral("Invalid filename");
    default:
        return QStringLiteral("I/O error %1").arg(errno_value);
    }
}

QString in_out_reason(int errno_value)
{
    switch (errno_value) {
    case ENOENT:
        return QStringLiteral("文件不存在");
    case ENOTDIR:
        return QStringLiteral("所在目录不存在");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有访问权限");
    case EROFS:
        return QStringLiteral("文件系统只读");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("磁盘已满");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("打开的文件过多");
    case ENAMETOOLONG:
        return QStringLiteral("文件名过长");
    case EISDIR:
        return QStringLiteral("该名称是一个目录，不是文件");
    default:
        return QStringLiteral("系统错误 %1（%2）")
            .arg(errno_value)
            .arg(QString::fromLocal8Bit(std::strerror(errno_value)));
    }
}

SettingsReadResult read_settings(const QString& path, const SettingsTargets& targets)
{
    SettingsReadResult result;
    QByteArray data;
    mode_t kind = 0;
    const int err = read_head(path, &data, &kind);
    if (err == ENOENT)
        return result; // a first start: the form's values stand
    if (err == kNotRegular) {
        result.problems << QStringLiteral("设置文件 %1 %2，未读取，使用默认设置").arg(path, file_kind_text(kind));
        return result;
    }
    if (err != 0) {
        result.problems << QStringLiteral("无法读取设置文件 %1：%2，使用默认设置").arg(path, in_out_reason(err));
        return result;
    }
    result.found = true;
    qsizetype start = 0;
    int line_no = 0;
    while (start < data.size() && line_no < 3) {
        qsizetype end = data.indexOf('\n', start);
        const qsizetype next = end < 0 ? data.size() : end + 1;
        if (end < 0)
            end = data.size();
        QByteArray line = data.mid(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        start = next;
        ++line_no;
        // Each character of the file is one 8-bit character; only the first
        // 8 count.
        const QByteArray taken = line.left(kTakenChars);
        const QString text = QString::fromLatin1(taken);
        if (line_no == 1 && targets.show_port_text)
            targets.show_port_text(text);
        if (line_no == 2 && targets.show_baud_text)
            targets.show_baud_text(text);
        int value = 0;
        try {
            value = str_to_int(taken.toStdString());
        } catch (const EConvertError&) {
            // That line keeps its default; the others still apply.
            result.problems << QStringLiteral("设置文件 %1 第 %2 行 '%3' 不是整数，该项使用默认值")
                                   .arg(path)
                                   .arg(line_no)
                                   .arg(shown(line.left(40)));
            continue;
        }
        const auto& apply = line_no == 1 ? targets.set_port_index
            : line_no == 2              ? targets.set_baud_index
                                        : targets.set_period;
        if (apply && !apply(value))
            result.problems << QStringLiteral("设置文件 %1 第 %2 行 '%3' 超出范围，该项使用默认值")
                                   .arg(path)
                                   .arg(line_no)
                                   .arg(shown(taken));
    }
    return result;
}

QString file_kind_text(unsigned mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("不是普通文件，而是一个目录");
    if (S_ISFIFO(mode))
        return QStringLiteral("不是普通文件，而是一个管道（FIFO）");
    if (S_ISSOCK(mode))
        return QStringLiteral("不是普通文件，而是一个套接字");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("不是普通文件，而是一个设备");
    return QStringLiteral("不是普通文件");
}

void file_save(const QString& path, int port_index, int baud_index, int period)
{
    replace_file(path,
        QByteArray::number(port_index) + "\r\n" + QByteArray::number(baud_index) + "\r\n"
            + QByteArray::number(period) + "\r\n");
}

void replace_file(const QString& path, const QByteArray& content, int mode)
{
    const QFileInfo info(path);
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    const QByteArray dir = QFile::encodeName(info.absolutePath());
    const QByteArray tmp = target + ".tmp" + QByteArray::number(static_cast<qint64>(::getpid()));

    // Keep the permissions of the regular file being replaced, unless told.
    mode_t new_mode = 0666;
    struct stat st { };
    if (mode >= 0)
        new_mode = static_cast<mode_t>(mode);
    else if (::stat(target.constData(), &st) == 0 && S_ISREG(st.st_mode))
        new_mode = st.st_mode & 07777;

    ::unlink(tmp.constData()); // a leftover of an interrupted save
    // Created with its final permissions: a file that is to be owner-only is
    // never readable by others, not even for a moment.
    const int fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, new_mode);
    if (fd < 0)
        raise_in_out(path, errno, true);
    if (!write_all(fd, content) || ::fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        ::unlink(tmp.constData());
        raise_in_out(path, err, true);
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmp.constData());
        raise_in_out(path, err, true);
    }
    if (::rename(tmp.constData(), target.constData()) != 0) {
        const int err = errno;
        ::unlink(tmp.constData());
        raise_in_out(path, err, true);
    }
    // Make the rename itself durable.
    const int dfd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}
