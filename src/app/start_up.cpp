#include "start_up.h"

#include "data_folder.h"
#include "errors.h"
#include "event_log.h"
#include "station_db.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

void report_start_failure(const std::string& text)
{
    // The event log echoes to standard error; before it is open, say it there.
    if (event_log::path().empty())
        std::fprintf(stderr, "ai_station: %s\n", text.c_str());
    event_log::write("站点", "启动失败：" + text);
}

QString prepare_start(const StartRequest& request)
{
    try {
        const DataFolder folder = prepare_data_folder(
            { request.workdir, QDir::currentPath(), user_data_folder(), installed_template_paths() });
        // The station works in its data folder: the database, save.txt,
        // station.ini and comN links are all found there by their names.
        if (!QDir::setCurrent(folder.path))
            throw EDatabaseError("无法进入数据文件夹 " + QDir::toNativeSeparators(folder.path).toStdString());
        event_log::open(QDir(folder.path).filePath(QStringLiteral("station.log")).toStdString());
        event_log::write("站点", "数据文件夹 " + QDir::toNativeSeparators(folder.path).toStdString());
        if (!folder.created_from.isEmpty())
            event_log::write("站点", "由模板 " + folder.created_from.toStdString() + " 建立数据库");
        // Checked and brought up to date here, on this thread, so that a long
        // upgrade can be shown; the engine then opens it ready.
        { StationDb check(folder.path, nullptr, request.upgrading); }
        event_log::write("站点", "启动，数据库 " + QDir(folder.path).filePath(kDbFileName).toStdString());
        return folder.path;
    } catch (const std::exception& e) {
        report_start_failure(e.what());
        throw;
    }
}
