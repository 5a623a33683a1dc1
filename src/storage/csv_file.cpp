#include "csv_file.h"

#include "errors.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

QByteArray csv_field(const QString& text)
{
    QByteArray b = text.toUtf8();
    if (b.contains(',') || b.contains('"') || b.contains('\n') || b.contains('\r')) {
        b.replace("\"", "\"\"");
        b = '"' + b + '"';
    }
    return b;
}

CsvFile::CsvFile(const QString& out_path, bool bom)
    : out_path_(out_path)
    , part_(out_path + QStringLiteral(".part"))
{
    if (!part_.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fail(part_.errorString());
    if (bom)
        write(QByteArrayLiteral("\xEF\xBB\xBF"));
}

CsvFile::~CsvFile()
{
    if (!committed_) {
        part_.close();
        QFile::remove(part_.fileName());
    }
}

void CsvFile::fail(const QString& reason)
{
    throw EInOutError(QStringLiteral("无法写入文件 %1：%2")
                          .arg(QDir::toNativeSeparators(QFileInfo(out_path_).absoluteFilePath()), reason)
                          .toStdString());
}

void CsvFile::write(const QByteArray& bytes)
{
    if (part_.write(bytes) != bytes.size())
        fail(part_.errorString());
}

void CsvFile::commit()
{
    if (!part_.flush() || ::fsync(part_.handle()) != 0)
        fail(part_.errorString().isEmpty() ? QString::fromLocal8Bit(std::strerror(errno))
                                           : part_.errorString());
    part_.close();
    if (std::rename(QFile::encodeName(part_.fileName()).constData(), QFile::encodeName(out_path_).constData())
        != 0)
        fail(QString::fromLocal8Bit(std::strerror(errno)));
    committed_ = true;
}
