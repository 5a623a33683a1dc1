#pragma once
// The status texts the runs show in Label15 and Label67.
#include <QString>

inline const QString kReading = QStringLiteral("请稍候，读入数据...");
inline const QString kWriting = QStringLiteral("请稍候，写入数据...");
inline const QString kStopped = QStringLiteral("读入数据停止");
inline const QString kUploaded = QStringLiteral("数据上载完成");
inline const QString kDownloaded = QStringLiteral("数据下载完成");
inline const QString kDownloadIncomplete = QStringLiteral("数据下载未完成");

inline QString command_text(int code)
{
    return QStringLiteral("当前命令  ") + QString::number(code);
}
