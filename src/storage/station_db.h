#pragma once
// The instrument database: one SQLite file (control_db.sqlite) in the working
// directory with the tables ai_para (one parameter set per address) and
// mea_tbl (the measurement log).
//
// The file is delivered with the program and is never created here: it is
// opened read-write through a "file:...?mode=rw" URI, so a missing file is an
// error instead of a new empty database. Before anything is written to it,
// the file is judged read-only (db_check.h); a refused file is left as it
// was. The journal is WAL with full sync (switched on only for a file the
// station accepted), so every store and append is committed and on disk when
// its call returns.
// Field names are built only from addresses checked to lie in 0..89; every
// value goes through a bound parameter.
//
// Thread contract: a StationDb and the models built on it belong to the
// thread that created them (the main thread). The CSV export opens its own
// connection on its own thread. The browser pages hold a reference to the
// StationDb: destroy them first.
#include "schema.h"

#include <QDateTime>
#include <QObject>
#include <QSqlDatabase>
#include <QString>

#include <array>
#include <memory>
#include <optional>
#include <vector>

class QSqlQuery;

inline constexpr int kDbAddressCount = 90; // fields no0 .. no89
inline constexpr int kWriteBusyTimeoutMs = 200; // the station's own writes
inline const QString kDbFileName = QStringLiteral("control_db.sqlite");

// True for the addresses that have a field in ai_para (0..89).
bool db_address_valid(int address);

// One measurement row as it is logged. `mv` is the output in percent
// (mv_raw / 100); `when` fills both the date and the time field.
struct MeasurementRow {
    QDateTime when;
    int address = 0;
    double sv = 0;
    double pv = 0;
    double mv = 0;
    double val = 0;
    int alm = 0; // status byte 0..255
};

// The stored parameter set of one address, ready for the parameter grid.
struct ParamColumn {
    // Index = parameter code (0..410). Code 0 is never loaded: texts[0] stays
    // empty and `loaded[0]` false, and the caller leaves that grid row alone.
    // Every other code is loaded; a missing row or a NULL field gives "".
    std::vector<QString> texts;
    std::vector<bool> loaded;
    // The last value read (code 410), as a 32-bit float; 0 when it had none.
    float last_value = 0;
};

class StationDb : public QObject {
    Q_OBJECT
public:
    // Opens `dir`/control_db.sqlite (dir = the working directory by default):
    // checks it read-only (check_station_db: tables, columns, version, state),
    // takes the write lock once to prove that nobody else is writing it, and
    // brings the layout to the newest version (schema.h) after copying the
    // file aside (db_upgrade_copy_path), in one transaction; then switches it
    // to WAL. Throws EDatabaseError naming the file, the directory and the
    // reason when the file is refused or cannot be upgraded; nothing has been
    // written to it then (a failed upgrade is rolled back whole). Never
    // creates the file. `upgrading` is told of each layout step before it runs.
    explicit StationDb(
        const QString& dir = QString(), QObject* parent = nullptr, const SchemaStepNotice& upgrading = {});
    ~StationDb() override;

    StationDb(const StationDb&) = delete;
    StationDb& operator=(const StationDb&) = delete;

    // Start-up step: reads the first ai_para row (id, MyDTL, no0..no89; the
    // file was checked to have them when it was opened). Throws EDatabaseError
    // when that fails.
    void open_parameter_table();

    // Sets field no<address> of the ai_para row id = code + 1 to `value`
    // (stored as a double), committed on return. An address outside 0..89 or
    // a code without a row stores nothing and reports nothing. A database
    // failure throws EDatabaseError with the driver's message.
    void store_parameter(int address, int code, float value);

    // Appends one mea_tbl row (address text "<address>#仪表", date and time
    // both `row.when`), committed on return. Throws EDatabaseError on failure.
    // Returns the new row's rowid.
    qint64 append_measurement(const MeasurementRow& row);
    // Appends the rows in order in one transaction: all of them or none.
    // Throws EDatabaseError on failure (nothing is appended then).
    void append_measurements(const std::vector<MeasurementRow>& rows);
    // Inserts one row inside a transaction the caller holds, without the
    // signal (the caller raises it after its commit). Returns the rowid.
    // Throws EDatabaseError.
    qint64 insert_measurement(const MeasurementRow& row) { return insert_row(row); }

    // Reads field no<address> of ai_para rows 2..411 as 32-bit floats, index
    // = code; code 0, codes without a row and NULL fields have none. An
    // address outside 0..89 has no field: nothing then. Throws EDatabaseError
    // on a database failure.
    std::vector<std::optional<float>> load_param_values(int address);

    // Reads field no<address> of ai_para rows 2..411 as 32-bit floats and
    // turns each into the value text of its code with `dec_places` decimal
    // places (the address's). An address outside 0..89 has no field: every
    // loaded text is then "". Throws EDatabaseError on a database failure.
    ParamColumn load_param_column(int address, int dec_places);

    // Full path of the file and the connection (for the browser models, which
    // share it on the main thread).
    QString file_path() const { return path_; }
    QSqlDatabase connection() const;

Q_SIGNALS:
    // After each append, with the new rowid (the measurement browser shows it).
    void measurement_appended(qint64 rowid);
    // After each store that changed a row.
    void parameter_stored(int address, int code, double value);

private:
    [[noreturn]] void raise(const QString& what, const QString& driver_text) const;
    void copy_aside(int from_version);
    qint64 insert_row(const MeasurementRow& row);

    QString path_;
    QString conn_name_;
    std::unique_ptr<QSqlQuery> insert_;
    std::array<std::unique_ptr<QSqlQuery>, kDbAddressCount> update_;
};

// Opens a second connection to `path` for use on the calling thread (the CSV
// export): read-write URI open, never creating the file, with a busy timeout;
// with `read_only` a read-only open that proves the file is a database and
// changes nothing (a file of another station, a file that may not be
// written). Throws EDatabaseError. The caller removes it with
// QSqlDatabase::removeDatabase.
QSqlDatabase open_station_connection(const QString& path, const QString& connection_name, bool read_only = false);

// Closes and removes a named connection when it goes out of scope. Declare
// it before the QSqlDatabase handle it guards, so that the handle goes first.
class ConnectionRemover {
public:
    explicit ConnectionRemover(QString name)
        : name_(std::move(name))
    {
    }
    ~ConnectionRemover()
    {
        QSqlDatabase::database(name_, false).close();
        QSqlDatabase::removeDatabase(name_);
    }
    ConnectionRemover(const ConnectionRemover&) = delete;
    ConnectionRemover& operator=(const ConnectionRemover&) = delete;

private:
    QString name_;
};

// "control_db.sqlite（目录 /the/folder）": how messages name the database file.
QString db_file_label(const QString& path);

// Timestamp text stored in the date and time fields: "yyyy-MM-dd HH:mm:ss.zzz".
QString db_timestamp_text(const QDateTime& when);
QDateTime db_timestamp_from_text(const QString& text);

// The logged time as a number: milliseconds from 1970-01-01 00:00 of the
// local date and time as written (read as if it were UTC, as the minute
// table does), so a time and its text give the same number.
qint64 db_clock_ms(const QDateTime& when);
// The same from a stored text "yyyy-MM-dd HH:mm:ss" with an optional
// ".zzz"; nullopt for any other text.
std::optional<qint64> db_clock_ms(QStringView text);
// The stored text of a clock number ("yyyy-MM-dd HH:mm:ss.zzz"), clamped
// to the years 0001 .. 9999.
QString db_clock_text(qint64 ms);
