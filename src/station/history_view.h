#pragma once
// The history view ("历史曲线"): the SV and PV of chosen addresses over a
// chosen span of the log, on a chart with the cross-hair read-out, with the
// span's rows exported as CSV and the chart saved as a PNG. It reads the log
// only, through its own read-only connection, so it works with the port
// closed and on a database file copied from another station, which it never
// changes.
#include "browser_pages.h"
#include "measurement_history.h"

#include <QDialog>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QDateTimeEdit;
class QLabel;
class QListWidget;
class QPushButton;
class LogHistory;
class TiPlot;

class HistoryView : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxAddresses = 4; // two curves each on the chart's eight channels

    // Shows the log of the database file `db_path`. Throws EDatabaseError
    // when it cannot be read.
    explicit HistoryView(const QString& db_path, QWidget* parent = nullptr);
    ~HistoryView() override;

    // Reads another database file instead (read-only). Throws EDatabaseError;
    // the view keeps the file it had then.
    void open_file(const QString& path);
    QString file_path() const { return path_; }

    // The addresses in the log, and those drawn (at most kMaxAddresses, the
    // first of the log's when none were chosen).
    const std::vector<int>& log_addresses() const { return addresses_; }
    std::vector<int> chosen_addresses() const;
    void choose_addresses(const std::vector<int>& addresses);
    // The span chosen, in clock milliseconds (db_clock_ms), from <= t < to:
    // the rows an export writes.
    std::pair<qint64, qint64> span() const { return span_; }
    void set_span(qint64 from_ms, qint64 to_ms);
    // The last `hours` of the log, ending at its last row (or now, for an
    // empty log).
    void show_last(int hours);

    TiPlot* chart() const { return chart_; }
    QListWidget* address_list() const { return address_list_; }
    CsvExportBar* export_bar() const { return export_bar_; }
    QLabel* status() const { return status_; }
    // Exports the span's rows of the chosen addresses in the background (as
    // "导出CSV…" does after its file dialog); false while an export runs.
    bool start_export(const QString& path);
    // Writes the chart as shown; false with the reason in `why`.
    bool save_png(const QString& path, QString* why = nullptr);

Q_SIGNALS:
    void database_error(const QString& message);

private:
    void open_connection(const QString& path);
    void fill_addresses();
    void redraw();
    void fit_y_axis();
    void guarded(const std::function<void()>& work);
    CsvExportBar::Work export_work() const;

    QString path_;
    QString connection_;
    std::unique_ptr<MeasurementHistory> log_;
    std::array<std::shared_ptr<LogHistory>, 2 * kMaxAddresses> sources_ {};
    std::vector<int> addresses_;
    std::optional<std::pair<qint64, qint64>> bounds_;
    std::pair<qint64, qint64> span_ { 0, 0 };

    QLabel* file_label_;
    QListWidget* address_list_;
    QDateTimeEdit* from_edit_;
    QDateTimeEdit* to_edit_;
    TiPlot* chart_;
    CsvExportBar* export_bar_;
    QLabel* status_;
};
