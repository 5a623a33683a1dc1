#include "browser_pages.h"

#include "csv_export.h"
#include "errors.h"
#include "measurement_model.h"
#include "param_table_model.h"
#include "station_db.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

enum class Glyph { First, Prior, Next, Last };

// The navigator's arrow glyphs: a triangle, with a bar for first and last.
QIcon glyph_icon(Glyph g)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    const bool left = g == Glyph::First || g == Glyph::Prior;
    QPainterPath tri;
    if (left) {
        tri.moveTo(5, 8);
        tri.lineTo(11, 3);
        tri.lineTo(11, 13);
    } else {
        tri.moveTo(11, 8);
        tri.lineTo(5, 3);
        tri.lineTo(5, 13);
    }
    tri.closeSubpath();
    p.drawPath(tri);
    if (g == Glyph::First)
        p.drawRect(3, 3, 2, 10);
    if (g == Glyph::Last)
        p.drawRect(11, 3, 2, 10);
    return QIcon(pm);
}

// Grid look shared by the browser grids: compact rows of fixed height (the
// row positions of a long table then need no per-row state), cell editing on
// a click of the current cell or a key.
void setup_grid(QTableView* grid)
{
    const int row_h = grid->fontMetrics().height() + 4;
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->verticalHeader()->setDefaultSectionSize(row_h);
    grid->verticalHeader()->setMinimumSectionSize(row_h);
    grid->verticalHeader()->hide();
    grid->horizontalHeader()->setHighlightSections(false);
    grid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setSelectionBehavior(QAbstractItemView::SelectItems);
    grid->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed
        | QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked);
    grid->setWordWrap(false);
}

// Width of a column shown with `chars` characters: that many digit widths or
// the title, whichever is wider, plus the cell margins.
int char_width(const QTableView* grid, int chars, const QString& title)
{
    const QFontMetrics fm = grid->fontMetrics();
    const int text = fm.horizontalAdvance(QLatin1Char('0')) * chars;
    const int head = fm.horizontalAdvance(title);
    return std::max(text, head) + 8;
}

QToolButton* nav_button(QWidget* parent, Glyph g, const QString& tip, const QString& name)
{
    auto* b = new QToolButton(parent);
    b->setIcon(glyph_icon(g));
    b->setToolTip(tip);
    b->setObjectName(name);
    b->setAutoRaise(false);
    b->setFixedSize(24, 22);
    return b;
}

} // namespace

// ---------------------------------------------------------------------------

int TableCursor::record_count() const
{
    return grid_->model() ? grid_->model()->rowCount() : 0;
}

int TableCursor::current_record() const
{
    return grid_->currentIndex().isValid() ? grid_->currentIndex().row() : -1;
}

void TableCursor::go_to_record(int record)
{
    QAbstractItemModel* m = grid_->model();
    if (!m || m->rowCount() == 0)
        return;
    record = std::clamp(record, 0, m->rowCount() - 1);
    const int col = std::max(grid_->currentIndex().column(), 0);
    const QModelIndex target = m->index(record, col);
    grid_->setCurrentIndex(target);
    grid_->scrollTo(target);
}

DbNavigator::DbNavigator(RecordCursor* cursor, QWidget* parent)
    : QWidget(parent)
    , cursor_(cursor)
{
    auto* lay = new QHBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);
    auto* b_first = nav_button(this, Glyph::First, QStringLiteral("第一条"), QStringLiteral("nbFirst"));
    auto* b_prior = nav_button(this, Glyph::Prior, QStringLiteral("上一条"), QStringLiteral("nbPrior"));
    auto* b_next = nav_button(this, Glyph::Next, QStringLiteral("下一条"), QStringLiteral("nbNext"));
    auto* b_last = nav_button(this, Glyph::Last, QStringLiteral("最后一条"), QStringLiteral("nbLast"));
    for (auto* b : { b_first, b_prior, b_next, b_last })
        lay->addWidget(b);
    connect(b_first, &QToolButton::clicked, this, &DbNavigator::first);
    connect(b_prior, &QToolButton::clicked, this, &DbNavigator::prior);
    connect(b_next, &QToolButton::clicked, this, &DbNavigator::next);
    connect(b_last, &QToolButton::clicked, this, &DbNavigator::last);
    setFixedSize(sizeHint());
}

void DbNavigator::first()
{
    cursor_->go_to_record(0);
}

void DbNavigator::prior()
{
    cursor_->go_to_record(std::max(cursor_->current_record(), 0) - 1);
}

void DbNavigator::next()
{
    const int cur = cursor_->current_record();
    cursor_->go_to_record(cur < 0 ? 0 : cur + 1);
}

void DbNavigator::last()
{
    cursor_->go_to_record(cursor_->record_count() - 1);
}

// ---------------------------------------------------------------------------

MeasurementPage::MeasurementPage(StationDb& db, QWidget* parent)
    : QWidget(parent)
    , model_(new MeasurementModel(db, this))
    , records_(new RecordGrid(model_, this))
    , navigator_(nullptr)
    , export_job_(new CsvExportJob(this))
    , db_(db)
{
    setObjectName(QStringLiteral("TabSheet13"));
    setWindowTitle(QStringLiteral("数据浏览"));
    QTableView* grid = records_->view();
    grid->setObjectName(QStringLiteral("DBGrid5"));
    setup_grid(grid);
    for (int c = 0; c < MeasurementModel::ColumnCount; ++c)
        grid->setColumnWidth(
            c, char_width(grid, MeasurementModel::display_width(c), MeasurementModel::field_name(c)));
    navigator_ = new DbNavigator(records_, this);
    navigator_->setObjectName(QStringLiteral("DBNavigator2"));

    export_button_ = new QPushButton(QStringLiteral("导出CSV…"), this);
    export_button_->setObjectName(QStringLiteral("export_button"));
    range_box_ = new QCheckBox(QStringLiteral("按日期"), this);
    range_box_->setObjectName(QStringLiteral("export_range_box"));
    from_edit_ = new QDateEdit(QDate::currentDate(), this);
    from_edit_->setObjectName(QStringLiteral("export_from"));
    to_edit_ = new QDateEdit(QDate::currentDate(), this);
    to_edit_->setObjectName(QStringLiteral("export_to"));
    for (auto* e : { from_edit_, to_edit_ }) {
        e->setCalendarPopup(true);
        e->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        e->setEnabled(false);
    }
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("export_progress"));
    progress_->setRange(0, 1000);
    progress_->setTextVisible(true);
    progress_->setFormat(QStringLiteral("%p%"));
    progress_->hide();
    cancel_button_ = new QPushButton(QStringLiteral("取消"), this);
    cancel_button_->setObjectName(QStringLiteral("export_cancel"));
    cancel_button_->hide();

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(navigator_);
    bottom->addSpacing(16);
    bottom->addWidget(export_button_);
    bottom->addWidget(range_box_);
    bottom->addWidget(from_edit_);
    bottom->addWidget(new QLabel(QStringLiteral("至"), this));
    bottom->addWidget(to_edit_);
    bottom->addWidget(progress_, 1);
    bottom->addWidget(cancel_button_);
    bottom->addStretch();
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(2, 2, 2, 2);
    lay->setSpacing(2);
    lay->addWidget(records_, 1);
    lay->addLayout(bottom);

    connect(range_box_, &QCheckBox::toggled, from_edit_, &QWidget::setEnabled);
    connect(range_box_, &QCheckBox::toggled, to_edit_, &QWidget::setEnabled);
    connect(export_button_, &QPushButton::clicked, this, &MeasurementPage::choose_export_file);
    connect(cancel_button_, &QPushButton::clicked, export_job_, &CsvExportJob::cancel);
    connect(export_job_, &CsvExportJob::progress, progress_, &QProgressBar::setValue);
    connect(export_job_, &CsvExportJob::finished, this, [this](bool ok, qint64, const QString& message) {
        progress_->hide();
        cancel_button_->hide();
        export_button_->setEnabled(true);
        if (!ok && !message.isEmpty())
            Q_EMIT database_error(message);
    });
    connect(model_, &MeasurementModel::database_error, this, &MeasurementPage::database_error);
    connect(records_, &RecordGrid::current_record_changed, this, &MeasurementPage::post_row);
}

MeasurementPage::~MeasurementPage()
{
    if (model_->has_pending()) {
        try {
            model_->post_pending();
        } catch (const EStationError&) {
            // The window is going away; nothing is left to report to.
        }
    }
}

void MeasurementPage::post_row()
{
    try {
        model_->post_pending();
    } catch (const EStationError& e) {
        Q_EMIT database_error(QString::fromUtf8(e.what()));
    }
}

void MeasurementPage::hideEvent(QHideEvent* event)
{
    post_row();
    QWidget::hideEvent(event);
}

bool MeasurementPage::start_export(const QString& path)
{
    std::optional<DateRange> range;
    if (range_box_->isChecked())
        range = DateRange { from_edit_->date(), to_edit_->date() };
    if (!export_job_->start(db_.file_path(), path, range))
        return false;
    progress_->setValue(0);
    progress_->show();
    cancel_button_->show();
    export_button_->setEnabled(false);
    return true;
}

void MeasurementPage::choose_export_file()
{
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("导出CSV"), QStringLiteral("mea_tbl.csv"), QStringLiteral("CSV (*.csv)"));
    if (!path.isEmpty())
        start_export(path);
}

// ---------------------------------------------------------------------------

ParamPage::ParamPage(StationDb& db, QWidget* parent)
    : QWidget(parent)
    , model_(new ParamTableModel(db, this))
    , grid_(new QTableView(this))
    , cursor_(std::make_unique<TableCursor>(grid_))
    , navigator_(nullptr)
{
    setObjectName(QStringLiteral("TabSheet14"));
    setWindowTitle(QStringLiteral("仪表参数"));
    grid_->setObjectName(QStringLiteral("DBGrid6"));
    setup_grid(grid_);
    grid_->setModel(model_);
    navigator_ = new DbNavigator(cursor_.get(), this);
    navigator_->setObjectName(QStringLiteral("DBNavigator1"));
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(2, 2, 2, 2);
    lay->setSpacing(2);
    lay->addWidget(grid_, 1);
    lay->addWidget(navigator_);
    connect(model_, &ParamTableModel::database_error, this, &ParamPage::database_error);
    connect(model_, &QAbstractItemModel::modelReset, this, [this] {
        grid_->setColumnWidth(0, 30);
        grid_->setColumnWidth(1, 120);
        for (int c = ParamTableModel::kFirstValueColumn; c < model_->columnCount(); ++c)
            grid_->setColumnWidth(c, char_width(grid_, 10, model_->headerData(c, Qt::Horizontal).toString()));
    });
    connect(grid_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &ParamPage::post_row);
}

ParamPage::~ParamPage()
{
    if (model_->has_pending()) {
        try {
            model_->post_pending();
        } catch (const EStationError&) {
        }
    }
}

void ParamPage::post_row()
{
    try {
        model_->post_pending();
    } catch (const EStationError& e) {
        Q_EMIT database_error(QString::fromUtf8(e.what()));
    }
}

void ParamPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (model_->loaded())
        return;
    try {
        model_->reload();
        grid_->setCurrentIndex(model_->index(0, 0));
    } catch (const EStationError& e) {
        Q_EMIT database_error(QString::fromUtf8(e.what()));
    }
}

void ParamPage::hideEvent(QHideEvent* event)
{
    post_row();
    QWidget::hideEvent(event);
}

// ---------------------------------------------------------------------------

QTableView* make_dbgrid1(QWidget* parent)
{
    auto* grid = new QTableView(parent);
    grid->setObjectName(QStringLiteral("DBGrid1"));
    auto* model = new QStandardItemModel(0, 3, grid);
    model->setHorizontalHeaderLabels(
        { QStringLiteral("段数"), QStringLiteral("设置值(C)"), QStringLiteral("时间(s)") });
    setup_grid(grid);
    grid->setModel(model);
    grid->setColumnWidth(0, 102);
    grid->setColumnWidth(1, 147);
    grid->setColumnWidth(2, 160);
    return grid;
}
