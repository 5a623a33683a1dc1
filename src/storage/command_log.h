#pragma once
// The record of commands sent to instruments: one row of command_log per
// command (when, address, which command, the value written, what came of
// it). A row is added when the frame goes out, with the result "已发送", and
// its result is replaced as the reply and the read-back are decided.
#include <QDateTime>
#include <QObject>
#include <QString>

#include <optional>
#include <vector>

class StationDb;

struct CommandRecord {
    qint64 id = 0;
    QDateTime when;
    int address = 0;
    QString command; // "给定值", "STOP", ...
    std::optional<double> value;
    QString result;
    bool operator==(const CommandRecord&) const = default;
};

class CommandLog : public QObject {
    Q_OBJECT
public:
    explicit CommandLog(StationDb& db, QObject* parent = nullptr);

    // Adds a row and returns its id. Throws EDatabaseError naming the file.
    qint64 add(const CommandRecord& record);
    // Replaces the result of row `id`. Throws EDatabaseError.
    void set_result(qint64 id, const QString& result);
    // The newest `limit` rows, newest first. Throws EDatabaseError.
    std::vector<CommandRecord> newest(int limit) const;

Q_SIGNALS:
    // A row was added or its result changed.
    void changed();

private:
    StationDb& db_;
};
