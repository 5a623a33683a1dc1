// Build-time tool: writes the delivered database from the schema file and the
// parameter catalogue, so that the 411 parameter names exist in one place only.
//
//   make_db <schema.sql> <out.sqlite>
//
// The file is written under a temporary name and renamed at the end, so a
// failed run never leaves a half-built database behind.
#include "param_catalogue.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <cstdio>

namespace {

bool fail(const QString& what)
{
    std::fprintf(stderr, "make_db: %s\n", qPrintable(what));
    return false;
}

// Statements of the schema: "--" comment lines dropped, split at ';'.
QStringList schema_statements(const QByteArray& text)
{
    QString body;
    for (const QString& line : QString::fromUtf8(text).split(QLatin1Char('\n'))) {
        if (!line.trimmed().startsWith(QLatin1String("--")))
            body += line + QLatin1Char('\n');
    }
    QStringList out;
    for (const QString& s : body.split(QLatin1Char(';'))) {
        if (!s.trimmed().isEmpty())
            out << s.trimmed();
    }
    return out;
}

bool build(const QString& schema_path, const QString& tmp_path)
{
    QFile schema(schema_path);
    if (!schema.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1: %2").arg(schema_path, schema.errorString()));
    const QStringList statements = schema_statements(schema.readAll());

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make_db"));
    db.setDatabaseName(tmp_path);
    if (!db.open())
        return fail(db.lastError().text());
    QSqlQuery q(db);
    for (const QString& s : statements) {
        if (!q.exec(s))
            return fail(QStringLiteral("%1\n%2").arg(s, q.lastError().text()));
    }
    db.transaction();
    if (!q.prepare(QStringLiteral("INSERT INTO ai_para (id, MyDTL) VALUES (?, ?)")))
        return fail(q.lastError().text());
    for (int code = 0; code < kParamCount; ++code) {
        q.bindValue(0, code + 1);
        q.bindValue(1, QString::fromStdString(param_name(code)));
        if (!q.exec())
            return fail(q.lastError().text());
    }
    if (!db.commit())
        return fail(db.lastError().text());
    q.finish();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: make_db <schema.sql> <out.sqlite>\n");
        return 2;
    }
    const QString out = args[2];
    const QString tmp = out + QStringLiteral(".tmp");
    QFile::remove(tmp);
    const bool ok = build(args[1], tmp);
    QSqlDatabase::removeDatabase(QStringLiteral("make_db"));
    if (!ok) {
        QFile::remove(tmp);
        return 1;
    }
    QFile::remove(out);
    if (!QFile::rename(tmp, out)) {
        fail(QStringLiteral("cannot rename %1 to %2").arg(tmp, out));
        return 1;
    }
    return 0;
}
