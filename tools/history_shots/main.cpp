// Writes 30 days of simulated firing of three instruments into a copy of the
// delivered database and saves pictures of the history view on it: the last
// 30 days with the cross-hair read-out, and the last 24 hours.
//   history_shots OUT_DIR
#include "history_view.h"
#include "ifonts.h"
#include "iPlot.h"
#include "station_db.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

// One firing a day per instrument, shifted by a few hours between them: SV
// holds the day's target for 14 hours and then drops to 30; PV climbs toward
// SV at a limited rate, holds it with a little noise and cools slowly.
std::vector<MeasurementRow> firing_rows(const QDateTime& start, int days, int step_s)
{
    std::vector<MeasurementRow> rows;
    for (int address : { 1, 2, 3 }) {
        double pv = 25;
        for (qint64 s = 0; s < qint64(days) * 86400; s += step_s) {
            const qint64 shifted = s + qint64(address - 1) * 3 * 3600;
            const int day = int(shifted / 86400);
            const double hour = double(shifted % 86400) / 3600;
            const double target = 600 + 100 * ((day + address) % 4);
            const double sv = hour < 14 ? target : 30;
            const double rate = 120.0 * step_s / 3600; // at most 120 degrees an hour
            if (pv < sv)
                pv = std::min(sv, pv + rate);
            else
                pv = sv + (pv - sv) * std::exp(-double(step_s) / (3 * 3600.0));
            const double noise = 1.5 * std::sin(double(s) / 97.0 + address) * std::cos(double(s) / 531.0);
            rows.push_back({ start.addSecs(s), address, sv, pv + noise, 45.5, 0, 0 });
        }
    }
    return rows;
}

void save(QWidget* w, const QString& path)
{
    QCoreApplication::processEvents();
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("AI仪表集中监控站"));
    install_font_substitutions();
    if (argc < 2) {
        std::fprintf(stderr, "usage: history_shots OUT_DIR\n");
        return 2;
    }
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(out);

    QTemporaryDir work;
    const QString path = work.filePath(QStringLiteral("control_db.sqlite"));
    QFile::copy(QString::fromUtf8(STATION_DB_TEMPLATE), path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    const QDateTime end = QDateTime(QDate::currentDate(), QTime(8, 0));
    {
        StationDb db(work.path());
        db.append_measurements(firing_rows(end.addDays(-30), 30, 20));
    }

    HistoryView view(path);
    view.resize(1100, 660);
    view.show();
    view.show_last(30 * 24);
    // The read-out a little right of the middle, as the mouse shows it.
    TiPlot* chart = view.chart();
    QCoreApplication::processEvents();
    const QRect area = chart->plot_area();
    const QPointF at(area.left() + area.width() * 0.62, area.top() + area.height() * 0.3);
    QMouseEvent move(QEvent::MouseMove, at, chart->mapToGlobal(at), Qt::NoButton, Qt::NoButton, {});
    QCoreApplication::sendEvent(chart, &move);
    save(&view, out + QStringLiteral("/history_30days.png"));

    QMouseEvent leave(QEvent::Leave, QPointF(-1, -1), QPointF(-1, -1), Qt::NoButton, Qt::NoButton, {});
    QCoreApplication::sendEvent(chart, &leave);
    view.choose_addresses({ 2 });
    view.show_last(24);
    save(&view, out + QStringLiteral("/history_24h.png"));
    return 0;
}
