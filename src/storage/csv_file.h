#pragma once
// A CSV file written whole or not at all: the lines go to "<out>.part",
// which is synced and renamed over the target when complete. A failed or
// abandoned file leaves nothing under the target's name.
#include <QByteArray>
#include <QFile>
#include <QString>

// A field as CSV text: UTF-8, quoted when it holds a comma, a quote or a
// line break.
QByteArray csv_field(const QString& text);

class CsvFile {
public:
    // Opens "<out_path>.part" for writing and writes the UTF-8 byte-order
    // mark first when `bom` (spreadsheets then read the text as UTF-8).
    // Throws EInOutError naming the file and the reason.
    CsvFile(const QString& out_path, bool bom);
    ~CsvFile(); // removes the part file unless committed
    CsvFile(const CsvFile&) = delete;
    CsvFile& operator=(const CsvFile&) = delete;

    void write(const QByteArray& bytes); // throws EInOutError
    // Syncs the part file and renames it over the target. Throws EInOutError.
    void commit();

private:
    [[noreturn]] void fail(const QString& reason);

    QString out_path_;
    QFile part_;
    bool committed_ = false;
};
