#include "db_check.h"

#include "errors.h"
#include "settings_file.h"
#include "station_db.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<int> check_counter { 0 };

constexpr int kHeaderBytes = 100;
constexpr char kMagic[] = "SQLite format 3"; // and a NUL: 16 bytes

[[noreturn]] void refuse(const QString& path, const QString& reason, const QString& detail = {})
{
    throw EDatabaseError(db_refusal_text(path, reason, detail).toStdString());
}

// The reason in words for a failed query on the file; SQLite's own text goes
// with it as the detail.
QString reason_of(const QSqlError& error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xFF;
    if (!ok)
        return QStringLiteral("无法读取该文件");
    switch (code) {
    case 5: // SQLITE_BUSY
    case 6: // SQLITE_LOCKED
        return QStringLiteral("文件被其他程序锁定（正在写入它），请关闭该程序后再启动");
    case 8: // SQLITE_READONLY
        return QStringLiteral("文件只读，本站需要写入它");
    case 10: // SQLITE_IOERR
        return QStringLiteral("读取文件时发生输入输出错误");
    case 11: // SQLITE_CORRUPT
        return QStringLiteral("文件已损坏");
    case 14: // SQLITE_CANTOPEN
        return QStringLiteral("无法打开该文件");
    case 26: // SQLITE_NOTADB
        return QStringLiteral("不是 SQLite 数据库文件");
    default:
        return QStringLiteral("无法读取该文件");
    }
}

QString sqlite_text(const QSqlError& error)
{
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

// The first bytes of the file: whether it is an SQLite file at all, and
// whether it is in WAL mode (file format bytes 18 and 19 are 2 then).
struct Header {
    bool sqlite = false;
    bool wal = false;
};

Header read_header(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    // O_NONBLOCK: a FIFO put in the file's place between the check of its
    // kind and this open must not block start-up.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        refuse(path, in_out_reason(err));
    }
    unsigned char bytes[kHeaderBytes] {};
    ssize_t got = 0;
    while (got < kHeaderBytes) {
        const ssize_t n = ::pread(fd, bytes + got, static_cast<size_t>(kHeaderBytes - got), got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    ::close(fd);
    Header h;
    h.sqlite = got == kHeaderBytes && std::memcmp(bytes, kMagic, sizeof kMagic) == 0;
    h.wal = h.sqlite && (bytes[18] == 2 || bytes[19] == 2);
    return h;
}

// An SQLite connection of its own for the check, removed when it goes.
class Connection {
public:
    Connection(const QString& path, const QString& mode)
        : name_(QStringLiteral("station_db_check_%1").arg(check_counter.fetch_add(1)))
    {
        db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
        url.setQuery(mode);
        db_.setDatabaseName(url.toString(QUrl::FullyEncoded));
        db_.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=2000"));
        opened_ = db_.open();
    }
    ~Connection()
    {
        db_.close();
        db_ = QSqlDatabase();
        QSqlDatabase::removeDatabase(name_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool opened() const { return opened_; }
    const QSqlDatabase& db() const { return db_; }

private:
    QString name_;
    QSqlDatabase db_;
    bool opened_ = false;
};

// A write cut short leaves a "hot" journal beside a file in rollback mode.
// Only a connection that may write can roll it back (a read-only one gets
// "attempt to write a readonly database"), and any writer that opens the file
// does so at its first read: that restores the file's last committed state.
void roll_back_interrupted_write(const QString& path)
{
    const QFileInfo journal(path + QStringLiteral("-journal"));
    if (!journal.isFile() || journal.size() == 0 || !QFileInfo(path).isWritable())
        return;
    Connection c(path, QStringLiteral("mode=rw"));
    if (c.opened())
        QSqlQuery(c.db()).exec(QStringLiteral("PRAGMA schema_version"));
    // When that failed (another program is writing now), the read-only look
    // below says why.
}

// The columns of `table` in lower case (SQLite's names are not case
// sensitive), by PRAGMA table_info.
QStringList columns_of(const QString& path, const QSqlDatabase& db, const QString& table)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table)))
        refuse(path, QStringLiteral("无法读取表 %1 的结构：%2").arg(table, reason_of(q.lastError())),
            sqlite_text(q.lastError()));
    QStringList names;
    while (q.next())
        names << q.value(1).toString().toLower();
    return names;
}

void require_columns(const QString& path, const QSqlDatabase& db, const QString& table, const QStringList& wanted)
{
    const QStringList present = columns_of(path, db, table);
    QStringList missing;
    for (const QString& column : wanted)
        if (!present.contains(column.toLower()))
            missing << column;
    if (!missing.isEmpty())
        refuse(path, QStringLiteral("表 %1 缺少字段 %2，不是本站的数据库").arg(table, missing.join(QStringLiteral("、"))));
}

} // namespace

QString db_refusal_text(const QString& path, const QString& reason, const QString& detail)
{
    QString text = QStringLiteral("无法打开数据库 %1：%2").arg(db_file_label(path), reason);
    if (!detail.isEmpty())
        text += QStringLiteral("\n详细信息：%1").arg(detail);
    return text;
}

QString db_upgrade_copy_path(const QString& path, int from_version)
{
    return QStringLiteral("%1.bak-v%2").arg(path).arg(from_version);
}

int check_station_db(const QString& path, const std::vector<SchemaStep>& steps)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st { };
    if (::stat(name.constData(), &st) != 0) {
        const int err = errno;
        refuse(path, in_out_reason(err));
    }
    if (!S_ISREG(st.st_mode))
        refuse(path, file_kind_text(st.st_mode));
    if (st.st_size == 0)
        refuse(path, QStringLiteral("文件是空的（0 字节），不是本站的数据库"));
    Header header = read_header(path);
    if (!header.sqlite)
        refuse(path, QStringLiteral("不是 SQLite 数据库文件"));
    if (!header.wal) {
        roll_back_interrupted_write(path);
        header = read_header(path);
    }

    int version = 0;
    {
        // A WAL file whose -wal is gone holds everything in itself: read it as
        // it is, so that no -wal and -shm are created for the look. With a
        // -wal beside it (another program has it open, or was killed), its
        // content counts, and the files were there before.
        const bool immutable = header.wal && !QFileInfo::exists(path + QStringLiteral("-wal"));
        Connection c(path, immutable ? QStringLiteral("mode=ro&immutable=1") : QStringLiteral("mode=ro"));
        if (!c.opened())
            refuse(path, reason_of(c.db().lastError()), sqlite_text(c.db().lastError()));
        QSqlQuery q(c.db());
        if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
            refuse(path, reason_of(q.lastError()), sqlite_text(q.lastError()));
        version = q.value(0).toInt();
        q.finish();
        const int latest = latest_schema_version(steps);
        if (version > latest)
            refuse(path,
                QStringLiteral("文件的结构版本为 %1，本程序只认识到版本 %2，请使用较新版本的程序打开它")
                    .arg(version)
                    .arg(latest));

        // Tables and views by name (not case sensitive, as SQLite's names).
        std::map<QString, QString> kinds;
        if (!q.exec(QStringLiteral("SELECT type, name FROM sqlite_master WHERE type IN ('table', 'view')")))
            refuse(path, reason_of(q.lastError()), sqlite_text(q.lastError()));
        while (q.next())
            kinds[q.value(1).toString().toLower()] = q.value(0).toString();
        q.finish();
        QStringList tables { QStringLiteral("ai_para"), QStringLiteral("mea_tbl") };
        for (const SchemaStep& step : steps)
            if (step.version <= version)
                for (const char* table : step.tables)
                    tables << QString::fromUtf8(table);
        for (const QString& table : tables) {
            const auto found = kinds.find(table.toLower());
            if (found == kinds.end())
                refuse(path, QStringLiteral("缺少表 %1，不是本站的数据库（或已损坏）").arg(table));
            if (found->second != QLatin1String("table"))
                refuse(path, QStringLiteral("%1 是视图而不是表，本站无法写入它").arg(table));
        }
        require_columns(path, c.db(), QStringLiteral("mea_tbl"),
            { QStringLiteral("date"), QStringLiteral("time"), QStringLiteral("address"), QStringLiteral("sv"),
                QStringLiteral("pv"), QStringLiteral("mv"), QStringLiteral("val"), QStringLiteral("alm") });
        QStringList params { QStringLiteral("id"), QStringLiteral("MyDTL") };
        for (int a = 0; a < kDbAddressCount; ++a)
            params << QStringLiteral("no%1").arg(a);
        require_columns(path, c.db(), QStringLiteral("ai_para"), params);
        // The parameter sets are read whole (a few hundred rows): a damaged
        // page among them shows now, not at the first load.
        if (!q.exec(QStringLiteral("SELECT count(*) FROM ai_para")) || !q.next())
            refuse(path, QStringLiteral("参数表 ai_para 无法读取：%1").arg(reason_of(q.lastError())),
                sqlite_text(q.lastError()));
        q.finish();
        // An upgrade reads the whole log; a damaged page would fail it half
        // way. Every page is looked at before anything is copied or written.
        if (version < latest) {
            if (!q.exec(QStringLiteral("PRAGMA quick_check(1)")) || !q.next())
                refuse(path, reason_of(q.lastError()), sqlite_text(q.lastError()));
            const QString verdict = q.value(0).toString();
            if (verdict != QLatin1String("ok"))
                refuse(path, QStringLiteral("文件已损坏（完整性检查未通过）"), verdict);
        }
    }

    // Only now: may this process write it and the journal files beside it.
    if (::access(name.constData(), R_OK | W_OK) != 0)
        refuse(path, QStringLiteral("文件只读（没有写入权限），本站需要写入它"));
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    if (::access(dir.constData(), W_OK | X_OK) != 0)
        refuse(path, QStringLiteral("所在目录不可写，SQLite 需要在文件旁建立日志文件"));
    return version;
}
