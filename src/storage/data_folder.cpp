#include "data_folder.h"

#include "errors.h"
#include "station_db.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

const QString kFolderName = QStringLiteral("ai_station");

QString native(const QString& path) { return QDir::toNativeSeparators(path); }

[[noreturn]] void fail(const QString& text) { throw EDatabaseError(text.toStdString()); }

// Copies the template next to its final name first and renames it into
// place, so that a copy cut short never passes for the database; a database
// that another start put there meanwhile is kept.
void copy_template(const QString& from, const QString& to)
{
    const QString part = QStringLiteral("%1.part-%2").arg(to).arg(QCoreApplication::applicationPid());
    QFile::remove(part);
    QFile source(from);
    if (!source.copy(part))
        fail(QStringLiteral("无法把数据库模板 %1 复制为 %2：%3")
                 .arg(native(from), native(to), source.errorString()));
    // The template may be installed read-only; the station writes its copy.
    QFile::setPermissions(part, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    if (!QFile::rename(part, to)) {
        QFile::remove(part);
        if (!QFileInfo::exists(to))
            fail(QStringLiteral("无法建立数据库文件 %1").arg(native(to)));
    }
}

} // namespace

DataFolder prepare_data_folder(const DataFolderRequest& request)
{
    QStringList looked_in;
    QString dir;
    if (!request.chosen_dir.isEmpty()) {
        dir = request.chosen_dir;
    } else if (QFileInfo::exists(QDir(request.working_dir).filePath(kDbFileName))) {
        dir = request.working_dir;
    } else {
        looked_in << native(QDir(request.working_dir).absolutePath());
        dir = request.user_data_dir;
    }
    DataFolder folder;
    folder.path = QDir(dir).absolutePath();
    looked_in << native(folder.path);
    if (!QDir().mkpath(folder.path))
        fail(QStringLiteral("无法建立数据目录 %1").arg(native(folder.path)));

    const QString db = QDir(folder.path).filePath(kDbFileName);
    if (QFileInfo::exists(db))
        return folder;
    for (const QString& candidate : request.templates) {
        if (QFileInfo(candidate).isFile()) {
            copy_template(candidate, db);
            folder.created_from = candidate;
            return folder;
        }
    }
    QStringList templates;
    for (const QString& candidate : request.templates)
        templates << native(candidate);
    fail(QStringLiteral("数据库文件 %1 不在以下任何目录中：%2；也没有找到可用来建立它的安装模板（查找过：%3）")
             .arg(kDbFileName, looked_in.join(QStringLiteral("、")),
                  templates.isEmpty() ? QStringLiteral("无") : templates.join(QStringLiteral("、"))));
}

QStringList installed_template_paths()
{
    const QString relative = kFolderName + QLatin1Char('/') + kDbFileName;
    QStringList paths;
    const QString program_dir = QCoreApplication::applicationDirPath();
    paths << QDir::cleanPath(program_dir + QStringLiteral("/../share/") + relative);
    // A program run from its build tree (build/src/app/ai_station): the
    // database the build writes at the top of that tree.
    const QString build_top = QDir::cleanPath(program_dir + QStringLiteral("/../.."));
    if (QFileInfo::exists(build_top + QStringLiteral("/CMakeCache.txt")))
        paths << build_top + QLatin1Char('/') + kDbFileName;
    // The system data folders; the user's own data home is where the live
    // database lives, never a template.
    const QString home = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    for (const QString& base : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        const QString path = QDir::cleanPath(base + QLatin1Char('/') + relative);
        if (base != home && !paths.contains(path))
            paths << path;
    }
    return paths;
}

QString user_data_folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QLatin1Char('/') + kFolderName;
}
