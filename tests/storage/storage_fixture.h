#pragma once
// A temporary working directory holding a fresh copy of the delivered
// database, and small helpers to look into the file with a plain connection.
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <gtest/gtest.h>

class StorageDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp_.isValid());
        ASSERT_TRUE(QFile::copy(QStringLiteral(STATION_DB_TEMPLATE), db_path()));
        QFile::setPermissions(db_path(), QFile::ReadOwner | QFile::WriteOwner);
    }

    QString dir() const { return tmp_.path(); }
    QString db_path() const { return QDir(tmp_.path()).filePath(QStringLiteral("control_db.sqlite")); }
    QString file(const char* name) const { return QDir(tmp_.path()).filePath(QString::fromLatin1(name)); }

    // Runs `sql` on a separate connection (to the database, or to the file
    // `path`) and returns the first column of every row.
    QVariantList query(const QString& sql, const QString& path = QString()) const
    {
        QVariantList out;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
            db.setDatabaseName(path.isEmpty() ? db_path() : path);
            EXPECT_TRUE(db.open());
            QSqlQuery q(db);
            EXPECT_TRUE(q.exec(sql)) << sql.toStdString();
            while (q.next())
                out << q.value(0);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("peek"));
        return out;
    }
    void exec(const QString& sql) const { query(sql); }
    // The whole content of a file ("" when it cannot be read).
    static QByteArray bytes(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir tmp_;
};
