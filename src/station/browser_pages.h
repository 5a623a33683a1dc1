#pragma once
// The database browser pages of the lower page control, as widgets the main
// window places on its tabs:
//   MeasurementPage  content of TabSheet13 "数据浏览": DBGrid5 over mea_tbl,
//                    DBNavigator2 and the CSV export;
//   ParamPage        content of TabSheet14 "仪表参数": DBGrid6 over ai_para
//                    and DBNavigator1;
//   make_dbgrid1()   DBGrid1 of TabSheet11: three titled columns, no rows.
// The measurement log is a record: no keystroke changes it. A cell is edited
// only after the navigator's edit button, and the change is written (with
// its trace in mea_audit) only once the operator confirms it. The parameter
// grid edits in place; its edited row is written when the current row changes
// or the page is hidden. Database errors are reported through the pages'
// database_error signal (the main window shows them in its error box).
#include "record_grid.h"

#include <QTableView>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QDateEdit;
class QProgressBar;
class QPushButton;
class QToolButton;
class CsvExportJob;
class MeasurementModel;
class ParamTableModel;
class StationDb;

// A plain grid as a record cursor: its rows are the records.
class TableCursor : public RecordCursor {
public:
    explicit TableCursor(QTableView* grid)
        : grid_(grid)
    {
    }
    int record_count() const override;
    int current_record() const override;
    void go_to_record(int record) override;

private:
    QTableView* grid_;
};

// First, prior, next and last over a grid's records; moves its current
// record (keeping the column). With `edit_button`, a fifth button "nbEdit"
// raises edit_clicked.
class DbNavigator : public QWidget {
    Q_OBJECT
public:
    explicit DbNavigator(RecordCursor* cursor, QWidget* parent = nullptr, bool edit_button = false);

    void first();
    void prior();
    void next();
    void last();

Q_SIGNALS:
    void edit_clicked();

private:
    RecordCursor* cursor_;
};

// How a page asks the operator (a modal question box by default; tests
// answer instead). `ask` returns true for yes; `tell` only informs.
struct OperatorPrompts {
    std::function<bool(QWidget* parent, const QString& title, const QString& text)> ask;
    std::function<void(QWidget* parent, const QString& title, const QString& text)> tell;
    static OperatorPrompts& instance();
};

// The export controls shared by the log pages: "导出CSV…", the UTF-8 mark
// option, progress and cancel. The page says what to export.
class CsvExportBar : public QWidget {
    Q_OBJECT
public:
    // `what` names the rows in the message when done ("测量记录").
    CsvExportBar(const QString& default_file, const QString& what, QWidget* parent = nullptr);

    CsvExportJob* job() const { return job_; }
    QCheckBox* bom_box() const { return bom_box_; }
    // Starts `work` writing to `path`; false when an export is running.
    using Work = std::function<std::optional<qint64>(const QString& path, bool bom,
        const std::function<void(int)>& progress, const std::atomic<bool>* cancel)>;
    bool start(const QString& path, const Work& work);
    // What the button exports: asked on the main thread when it is clicked,
    // so the work can carry the page's filter as it stands then.
    void set_work_maker(std::function<Work()> maker) { work_maker_ = std::move(maker); }

Q_SIGNALS:
    void failed(const QString& message);

private:
    std::function<Work()> work_maker_;
    QString default_file_;
    QString what_;
    QString path_;
    CsvExportJob* job_;
    QPushButton* button_;
    QCheckBox* bom_box_;
    QProgressBar* progress_;
    QPushButton* cancel_;
};

class MeasurementPage : public QWidget {
    Q_OBJECT
public:
    explicit MeasurementPage(StationDb& db, QWidget* parent = nullptr);
    ~MeasurementPage() override;

    // DBGrid5: the view of the rows on screen (see RecordGrid).
    QTableView* grid() const { return records_->view(); }
    RecordGrid* records() const { return records_; }
    DbNavigator* navigator() const { return navigator_; }
    MeasurementModel* model() const { return model_; }
    CsvExportJob* export_job() const { return export_bar_->job(); }
    CsvExportBar* export_bar() const { return export_bar_; }
    QCheckBox* follow_box() const { return follow_box_; }

    // Starts the export to `path` with the range chosen on the page (all rows
    // when the range box is not ticked). The button asks for the path first.
    bool start_export(const QString& path);

    // The navigator's edit button: opens the editor on the current cell.
    void begin_edit();

Q_SIGNALS:
    void database_error(const QString& message);

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void confirm_edit();
    CsvExportBar::Work export_work() const;

    MeasurementModel* model_;
    RecordGrid* records_;
    DbNavigator* navigator_;
    CsvExportBar* export_bar_;
    QCheckBox* range_box_;
    QDateEdit* from_edit_;
    QDateEdit* to_edit_;
    QCheckBox* follow_box_;
    QString db_path_;
};

class ParamPage : public QWidget {
    Q_OBJECT
public:
    explicit ParamPage(StationDb& db, QWidget* parent = nullptr);
    ~ParamPage() override;

    QTableView* grid() const { return grid_; }
    DbNavigator* navigator() const { return navigator_; }
    ParamTableModel* model() const { return model_; }

Q_SIGNALS:
    void database_error(const QString& message);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void post_row();

    ParamTableModel* model_;
    QTableView* grid_;
    std::unique_ptr<TableCursor> cursor_;
    DbNavigator* navigator_;
};

// DBGrid1: columns "段数" (read-only, 102 px), "设置值(C)" (147 px) and
// "时间(s)" (160 px), bound to no table.
QTableView* make_dbgrid1(QWidget* parent = nullptr);
