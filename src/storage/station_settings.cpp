#include "station_settings.h"

#include "errors.h"
#include "settings_file.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxAddress = 90;
constexpr int kProblemLinesNamed = 10;
const QString kPasswordKey = QStringLiteral("mqtt/password");

bool is_address(int a) { return a >= 0 && a <= kMaxAddress; }

// Qt's INI reader splits the file into logical lines: blanks before a line
// are skipped; a line ends at CR or LF outside double quotes; a backslash
// takes the next character with it (so a line may go on after an escaped
// line end); a ';' at the start of a line makes it a comment, and elsewhere
// outside quotes ends the line (the rest is then a comment). This walks the
// text the same way, so that the lines it calls unparsable are exactly those
// the reader would stumble over.
struct IniLine {
    qsizetype start = 0; // first character
    qsizetype end = 0; // one past the last
    bool has_equals = false; // an '=' outside quotes
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::vector<IniLine> ini_lines(const QByteArray& text, qsizetype from)
{
    std::vector<IniLine> lines;
    const qsizetype n = text.size();
    qsizetype pos = from;
    while (pos < n) {
        while (pos < n && is_blank(text[pos]))
            ++pos;
        if (pos >= n)
            break;
        if (text[pos] == ';') { // a comment, to the end of its line
            while (pos < n && text[pos] != '\n' && text[pos] != '\r')
                ++pos;
            continue;
        }
        IniLine line;
        line.start = pos;
        bool quoted = false;
        while (pos < n) {
            const char c = text[pos];
            if (c == '"') {
                quoted = !quoted;
            } else if (c == '\\') {
                ++pos; // the escaped character, whatever it is
                if (pos < n && pos + 1 < n
                    && ((text[pos] == '\n' && text[pos + 1] == '\r') || (text[pos] == '\r' && text[pos + 1] == '\n')))
                    ++pos;
            } else if (!quoted && (c == '\n' || c == '\r' || c == ';')) {
                break;
            } else if (!quoted && c == '=') {
                line.has_equals = true;
            }
            ++pos;
        }
        line.end = std::min(pos, n);
        lines.push_back(line);
        // A ';' that ended the line starts a comment: skipped above.
    }
    return lines;
}

// The 1-based number of the physical line that holds offset `at`.
int line_number(const QByteArray& text, qsizetype at)
{
    int line = 1;
    for (qsizetype i = 0; i < at && i < text.size(); ++i) {
        if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')))
            ++line;
    }
    return line;
}

} // namespace

StationSettings::StationSettings(const QString& dir)
    : path_(QDir(dir).filePath(kStationSettingsFileName))
{
    load();
}

QString StationSettings::file_path() const { return path_; }

void StationSettings::load()
{
    const QByteArray name = QFile::encodeName(path_);
    // O_NONBLOCK: a FIFO in the file's place must not make start-up wait for
    // a writer.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err != ENOENT) // no file: a first start, the defaults
            problems_ << QStringLiteral("无法读取设置文件 %1：%2，使用默认设置")
                             .arg(QDir::toNativeSeparators(path_), in_out_reason(err));
        return;
    }
    struct stat st { };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        problems_ << QStringLiteral("设置文件 %1 %2，未读取，使用默认设置")
                         .arg(QDir::toNativeSeparators(path_), file_kind_text(st.st_mode));
        ::close(fd);
        return;
    }
    if (st.st_size > kMaxStationSettingsBytes) {
        problems_ << QStringLiteral("设置文件 %1 有 %2 字节，超过上限 %3 字节，未读取，使用默认设置")
                         .arg(QDir::toNativeSeparators(path_))
                         .arg(static_cast<qint64>(st.st_size))
                         .arg(kMaxStationSettingsBytes);
        ::close(fd);
        return;
    }
    QByteArray text(kMaxStationSettingsBytes + 1, Qt::Uninitialized);
    qsizetype got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, static_cast<size_t>(text.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            problems_ << QStringLiteral("无法读取设置文件 %1：%2，使用默认设置")
                             .arg(QDir::toNativeSeparators(path_), in_out_reason(err));
            ::close(fd);
            return;
        }
        if (n == 0)
            break;
        got += n;
    }
    text.truncate(got);
    if (got > kMaxStationSettingsBytes) { // it grew while being read
        problems_ << QStringLiteral("设置文件 %1 超过上限 %2 字节，未读取，使用默认设置")
                         .arg(QDir::toNativeSeparators(path_))
                         .arg(kMaxStationSettingsBytes);
        ::close(fd);
        return;
    }

    // Lines Qt's reader cannot parse (a "# comment", a line without '=', a
    // "[section" never closed) are named once here and left out: the reader
    // would otherwise flag the whole file, and keep flagging it.
    const qsizetype body = text.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    QByteArray clean = text.left(body);
    qsizetype copied = body;
    int dropped = 0;
    for (const IniLine& line : ini_lines(text, body)) {
        const bool section = text[line.start] == '[';
        const bool ok = section ? text.indexOf(']', line.start) >= 0 && text.indexOf(']', line.start) < line.end
                                : line.has_equals;
        if (ok)
            continue;
        clean += text.mid(copied, line.start - copied);
        copied = line.end;
        if (++dropped <= kProblemLinesNamed)
            problems_ << QStringLiteral("设置文件 %1 第 %2 行“%3”无法解析，已忽略")
                             .arg(QDir::toNativeSeparators(path_))
                             .arg(line_number(text, line.start))
                             .arg(QString::fromUtf8(text.mid(line.start, std::min<qsizetype>(line.end - line.start, 60))));
    }
    clean += text.mid(copied);
    if (dropped > kProblemLinesNamed)
        problems_ << QStringLiteral("设置文件 %1 另有 %2 行无法解析，已忽略")
                         .arg(QDir::toNativeSeparators(path_))
                         .arg(dropped - kProblemLinesNamed);

    // Qt's reader reads the clean text from a private copy; the values are
    // kept here and the file is written whole at each change.
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        problems_ << QStringLiteral("无法读取设置文件 %1：无法建立临时目录，使用默认设置").arg(QDir::toNativeSeparators(path_));
        ::close(fd);
        return;
    }
    const QString copy = scratch.filePath(kStationSettingsFileName);
    {
        QFile f(copy);
        if (!f.open(QIODevice::WriteOnly) || f.write(clean) != clean.size()) {
            problems_ << QStringLiteral("无法读取设置文件 %1：无法写临时副本，使用默认设置").arg(QDir::toNativeSeparators(path_));
            ::close(fd);
            return;
        }
    }
    {
        QSettings reader(copy, QSettings::IniFormat);
        for (const QString& key : reader.allKeys())
            values_.insert(key, reader.value(key));
    }

    // A password is for the owner alone, however the file came to be
    // readable by others (an older station, a copy): the file is made so now.
    if (!values_.value(kPasswordKey).toString().isEmpty() && (st.st_mode & 077) != 0 && st.st_uid == ::geteuid())
        ::fchmod(fd, st.st_mode & 0700);
    ::close(fd);
}

QStringList StationSettings::problems() const { return problems_; }

QVariant StationSettings::value(const QString& key, const QVariant& fallback) const
{
    return values_.value(key, fallback);
}

void StationSettings::save()
{
    // Qt's writer writes the text (its escaping and lists) into a private
    // copy; the file itself is then replaced whole, owner-only from the moment
    // it exists when it holds a password.
    QTemporaryDir scratch;
    if (!scratch.isValid())
        throw EInOutError(QStringLiteral("无法保存设置文件 %1：无法建立临时目录")
                              .arg(QDir::toNativeSeparators(path_))
                              .toStdString());
    const QString copy = scratch.filePath(kStationSettingsFileName);
    {
        QSettings writer(copy, QSettings::IniFormat);
        for (auto it = values_.cbegin(); it != values_.cend(); ++it)
            writer.setValue(it.key(), it.value());
        writer.sync();
        if (writer.status() != QSettings::NoError)
            throw EInOutError(QStringLiteral("无法保存设置文件 %1：无法生成其内容")
                                  .arg(QDir::toNativeSeparators(path_))
                                  .toStdString());
    }
    // With no values left Qt's writer writes no file: the file is then empty.
    QByteArray content;
    QFile f(copy);
    if (f.exists()) {
        if (!f.open(QIODevice::ReadOnly))
            throw EInOutError(QStringLiteral("无法保存设置文件 %1：%2")
                                  .arg(QDir::toNativeSeparators(path_), f.errorString())
                                  .toStdString());
        content = f.readAll();
        f.close();
    }
    const bool secret = !values_.value(kPasswordKey).toString().isEmpty();
    replace_file(path_, content, secret ? 0600 : -1);
}

void StationSettings::set(const QString& key, const QVariant& v)
{
    values_.insert(key, v);
    save();
}

bool StationSettings::resume() const { return value(QStringLiteral("resume/enabled"), true).toBool(); }

void StationSettings::set_resume(bool on) { set(QStringLiteral("resume/enabled"), on); }

bool StationSettings::confirm_commands() const
{
    return value(QStringLiteral("control/confirm"), true).toBool();
}

void StationSettings::set_confirm_commands(bool on) { set(QStringLiteral("control/confirm"), on); }

std::vector<int> StationSettings::addresses() const
{
    std::vector<int> out;
    // A list in the file ("1, 2, 5"); a single address reads as one text.
    const QStringList items = value(QStringLiteral("resume/addresses")).toStringList();
    for (const QString& item : items) {
        bool ok = false;
        const int a = item.trimmed().toInt(&ok); // C locale: digits only
        if (ok && is_address(a) && std::find(out.begin(), out.end(), a) == out.end())
            out.push_back(a);
    }
    std::sort(out.begin(), out.end());
    return out;
}

void StationSettings::set_addresses(const std::vector<int>& addresses)
{
    std::vector<int> kept;
    for (int a : addresses)
        if (is_address(a))
            kept.push_back(a);
    if (values_.contains(QStringLiteral("resume/addresses")) && this->addresses() == kept)
        return;
    QStringList items;
    for (int a : kept)
        items << QString::number(a);
    set(QStringLiteral("resume/addresses"), items);
}

std::set<int> StationSettings::quiet_alarm_addresses() const
{
    std::set<int> out;
    const QStringList items = value(QStringLiteral("alarms/quiet")).toStringList();
    for (const QString& item : items) {
        bool ok = false;
        const int a = item.trimmed().toInt(&ok); // C locale: digits only
        if (ok && is_address(a))
            out.insert(a);
    }
    return out;
}

void StationSettings::set_quiet_alarm_addresses(const std::set<int>& addresses)
{
    std::set<int> kept;
    for (int a : addresses)
        if (is_address(a))
            kept.insert(a);
    if (quiet_alarm_addresses() == kept)
        return;
    QStringList items;
    for (int a : kept)
        items << QString::number(a);
    set(QStringLiteral("alarms/quiet"), items);
}

int StationSettings::decimal_places(int address) const
{
    bool ok = false;
    const int places = value(QStringLiteral("decimals/%1").arg(address)).toInt(&ok);
    return ok && places >= 0 && places <= 4 ? places : -1;
}

void StationSettings::set_decimal_places(int address, int places)
{
    if (!is_address(address) || decimal_places(address) == places)
        return;
    set(QStringLiteral("decimals/%1").arg(address), places);
}

QString StationSettings::port_device() const { return value(QStringLiteral("port/device")).toString(); }

void StationSettings::set_port_device(const QString& path)
{
    const QString key = QStringLiteral("port/device");
    if (value(key).toString() == path && (values_.contains(key) || path.isEmpty()))
        return; // nothing changes: nothing is written (no file is created for nothing)
    if (path.isEmpty()) {
        values_.remove(key);
        save();
    } else {
        set(key, path);
    }
}

// Charts.

namespace {
constexpr double kDefaultChartMemoryDays = 7;
const QString kChartMemoryDaysKey = QStringLiteral("charts/memory_days");
} // namespace

double StationSettings::chart_memory_days() const
{
    bool ok = false;
    const double days = QLocale::c().toDouble(value(kChartMemoryDaysKey).toString(), &ok);
    return ok && days > 0 && days <= 3650 ? days : kDefaultChartMemoryDays;
}

void StationSettings::set_chart_memory_days(double days)
{
    set(kChartMemoryDaysKey, QLocale::c().toString(days, 'g', 10));
}

MqttConfig StationSettings::mqtt() const
{
    MqttConfig c;
    const auto text = [this](const char* key, const QString& fallback) {
        return value(QStringLiteral("mqtt/") + QLatin1String(key), fallback).toString();
    };
    const auto number = [this](const char* key, int fallback, int low, int high) {
        bool ok = false;
        const int n = value(QStringLiteral("mqtt/") + QLatin1String(key)).toString().trimmed().toInt(&ok);
        return ok && n >= low && n <= high ? n : fallback;
    };
    c.enabled = value(QStringLiteral("mqtt/enabled"), false).toBool();
    c.host = text("host", c.host).trimmed();
    c.port = number("port", c.port, 1, 65535);
    c.tls = value(QStringLiteral("mqtt/tls"), false).toBool();
    c.ca_file = text("ca_file", c.ca_file);
    c.user = text("user", c.user);
    c.password = text("password", c.password);
    c.allow_plain_password = value(QStringLiteral("mqtt/allow_plain_password"), false).toBool();
    c.prefix = text("prefix", c.prefix).trimmed();
    c.station = text("station", c.station).trimmed();
    c.qos = number("qos", c.qos, 0, 1);
    return c;
}

void StationSettings::set_mqtt(const MqttConfig& c)
{
    const auto put = [this](const char* key, const QVariant& v) {
        values_.insert(QStringLiteral("mqtt/") + QLatin1String(key), v);
    };
    put("enabled", c.enabled);
    put("host", c.host);
    put("port", c.port);
    put("tls", c.tls);
    put("ca_file", c.ca_file);
    put("user", c.user);
    put("password", c.password);
    put("allow_plain_password", c.allow_plain_password);
    put("prefix", c.prefix);
    put("station", c.station);
    put("qos", c.qos);
    save();
}
