#pragma once
// The database browser pages of the lower page control, as widgets the main
// window places on its tabs:
//   MeasurementPage  content of TabSheet13 "数据浏览": DBGrid5 over mea_tbl,
//                    DBNavigator2 and the CSV export;
//   ParamPage        content of TabSheet14 "仪表参数": DBGrid6 over ai_para
//                    and DBNavigator1;
//   make_dbgrid1()   DBGrid1 of TabSheet11: three titled columns, no rows.
// Both grids edit in place; an edited row is written when the current row
// changes or the page is hidden. Database errors are reported through the
// pages' database_error signal (the main window shows them in its error box).
#include "record_grid.h"

#include <QTableView>
#include <QWidget>

#include <memory>

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
// record (keeping the column).
class DbNavigator : public QWidget {
    Q_OBJECT
public:
    explicit DbNavigator(RecordCursor* cursor, QWidget* parent = nullptr);

    void first();
    void prior();
    void next();
    void last();

private:
    RecordCursor* cursor_;
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
    CsvExportJob* export_job() const { return export_job_; }

    // Starts the export to `path` with the range chosen on the page (all rows
    // when the range box is not ticked). The button asks for the path first.
    bool start_export(const QString& path);

Q_SIGNALS:
    void database_error(const QString& message);

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void post_row();
    void choose_export_file();

    MeasurementModel* model_;
    RecordGrid* records_;
    DbNavigator* navigator_;
    CsvExportJob* export_job_;
    QPushButton* export_button_;
    QCheckBox* range_box_;
    QDateEdit* from_edit_;
    QDateEdit* to_edit_;
    QProgressBar* progress_;
    QPushButton* cancel_button_;
    StationDb& db_;
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
