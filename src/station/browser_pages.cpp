#include "browser_pages.h"

#include "csv_export.h"
#include "errors.h"
#include "measurement_model.h"
#include "param_table_model.h"
#include "station_db.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

enum class Glyph { First, Prior, Next, Last, Edit };

// The navigator's arrow glyphs: a triangle, with a bar for first and last.
QIcon glyph_icon(Glyph g)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    if (g == Glyph::Edit) { // a pencil
        p.setPen(QPen(Qt::black, 1.2));
        p.setBrush(QColor(250, 210, 80));
        p.drawPolygon(
            QPolygonF { QPointF(3, 13), QPointF(4, 10), QPointF(11, 3), QPointF(13, 5), QPointF(6, 12) });
        p.drawLine(QPointF(3, 13), QPointF(6, 12));
        return QIcon(pm);
    }
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

DbNavigator::DbNavigator(RecordCursor* cursor, QWidget* parent, bool edit_button)
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
    if (edit_button) {
        auto* b_edit = nav_button(this, Glyph::Edit, QStringLiteral("修改当前记录（需确认，并记入审计表）"),
            QStringLiteral("nbEdit"));
        lay->addWidget(b_edit);
        connect(b_edit, &QToolButton::clicked, this, &DbNavigator::edit_clicked);
    }
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

OperatorPrompts& OperatorPrompts::instance()
{
    static OperatorPrompts prompts {
        [](QWidget* parent, const QString& title, const QString& text) {
            // No is the default: Enter alone changes nothing.
            return QMessageBox::question(
                       parent, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                == QMessageBox::Yes;
        },
        [](QWidget* parent, const QString& title, const QString& text) {
            QMessageBox::information(parent, title, text);
        },
    };
    return prompts;
}

CsvExportBar::CsvExportBar(const QString& default_file, const QString& what, QWidget* parent)
    : QWidget(parent)
    , default_file_(default_file)
    , what_(what)
    , job_(new CsvExportJob(this))
    , button_(new QPushButton(QStringLiteral("导出CSV…"), this))
    , bom_box_(new QCheckBox(QStringLiteral("带BOM"), this))
    , progress_(new QProgressBar(this))
    , cancel_(new QPushButton(QStringLiteral("取消"), this))
{
    button_->setObjectName(QStringLiteral("export_button"));
    bom_box_->setObjectName(QStringLiteral("export_bom_box"));
    bom_box_->setToolTip(QStringLiteral("在文件开头写入 UTF-8 字节顺序标记，电子表格软件才能正确显示中文"));
    progress_->setObjectName(QStringLiteral("export_progress"));
    progress_->setRange(0, 1000);
    progress_->setTextVisible(true);
    progress_->setFormat(QStringLiteral("%p%"));
    progress_->hide();
    cancel_->setObjectName(QStringLiteral("export_cancel"));
    cancel_->hide();
    auto* lay = new QHBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->addWidget(button_);
    lay->addWidget(bom_box_);
    lay->addWidget(progress_, 1);
    lay->addWidget(cancel_);
    lay->addStretch();
    connect(button_, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(
            this, QStringLiteral("导出CSV"), default_file_, QStringLiteral("CSV (*.csv)"));
        if (!path.isEmpty() && work_maker_)
            start(path, work_maker_());
    });
    connect(cancel_, &QPushButton::clicked, job_, &CsvExportJob::cancel);
    connect(job_, &CsvExportJob::progress, progress_, &QProgressBar::setValue);
    connect(job_, &CsvExportJob::finished, this, [this](bool ok, qint64 rows, const QString& message) {
        progress_->hide();
        cancel_->hide();
        button_->setEnabled(true);
        if (ok)
            OperatorPrompts::instance().tell(this, QStringLiteral("导出CSV"),
                QStringLiteral("已导出 %1 条%2到\n%3").arg(rows).arg(what_, QDir::toNativeSeparators(path_)));
        else if (!message.isEmpty())
            Q_EMIT failed(message);
    });
}

bool CsvExportBar::start(const QString& path, const Work& work)
{
    const bool bom = bom_box_->isChecked();
    if (!job_->start([work, path, bom](const std::function<void(int)>& progress,
                         const std::atomic<bool>* cancel) { return work(path, bom, progress, cancel); }))
        return false;
    path_ = path;
    progress_->setValue(0);
    progress_->show();
    cancel_->show();
    button_->setEnabled(false);
    return true;
}

// ---------------------------------------------------------------------------

MeasurementPage::MeasurementPage(StationDb& db, QWidget* parent)
    : QWidget(parent)
    , model_(new MeasurementModel(db, this))
    , records_(new RecordGrid(model_, this))
    , navigator_(nullptr)
    , export_bar_(new CsvExportBar(QStringLiteral("mea_tbl.csv"), QStringLiteral("测量记录"), this))
    , db_path_(db.file_path())
{
    setObjectName(QStringLiteral("TabSheet13"));
    setWindowTitle(QStringLiteral("数据浏览"));
    QTableView* grid = records_->view();
    grid->setObjectName(QStringLiteral("DBGrid5"));
    setup_grid(grid);
    // No key or click opens an editor on the log; only the edit button does.
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int c = 0; c < MeasurementModel::ColumnCount; ++c)
        grid->setColumnWidth(
            c, char_width(grid, MeasurementModel::display_width(c), MeasurementModel::field_name(c)));
    navigator_ = new DbNavigator(records_, this, true);
    navigator_->setObjectName(QStringLiteral("DBNavigator2"));

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
    follow_box_ = new QCheckBox(QStringLiteral("跟随最新"), this);
    follow_box_->setObjectName(QStringLiteral("follow_box"));
    follow_box_->setToolTip(QStringLiteral("新记录写入时移到最后一条"));

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(navigator_);
    bottom->addWidget(follow_box_);
    bottom->addSpacing(12);
    bottom->addWidget(range_box_);
    bottom->addWidget(from_edit_);
    bottom->addWidget(new QLabel(QStringLiteral("至"), this));
    bottom->addWidget(to_edit_);
    bottom->addWidget(export_bar_, 1);
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(2, 2, 2, 2);
    lay->setSpacing(2);
    lay->addWidget(records_, 1);
    lay->addLayout(bottom);

    export_bar_->set_work_maker([this] { return export_work(); });
    connect(range_box_, &QCheckBox::toggled, from_edit_, &QWidget::setEnabled);
    connect(range_box_, &QCheckBox::toggled, to_edit_, &QWidget::setEnabled);
    connect(export_bar_, &CsvExportBar::failed, this, &MeasurementPage::database_error);
    connect(model_, &MeasurementModel::database_error, this, &MeasurementPage::database_error);
    connect(navigator_, &DbNavigator::edit_clicked, this, &MeasurementPage::begin_edit);
    // Asked once the editor has closed, not inside its commit.
    connect(
        model_, &MeasurementModel::edit_ready, this, &MeasurementPage::confirm_edit, Qt::QueuedConnection);
    connect(records_, &RecordGrid::current_record_changed, this, [this] { model_->arm_edit(-1); });
    connect(model_, &QAbstractItemModel::rowsInserted, this, [this] {
        if (follow_box_->isChecked() && model_->armed_row() < 0)
            records_->go_to_record(records_->record_count() - 1);
    });
}

MeasurementPage::~MeasurementPage() = default;

void MeasurementPage::hideEvent(QHideEvent* event)
{
    model_->arm_edit(-1);
    QWidget::hideEvent(event);
}

void MeasurementPage::begin_edit()
{
    const int record = records_->current_record();
    if (record < 0)
        return;
    model_->arm_edit(record);
    records_->edit_current();
}

void MeasurementPage::confirm_edit()
{
    if (!model_->has_pending())
        return;
    const int row = model_->pending_row();
    const int col = model_->pending_column();
    const QString text
        = QStringLiteral("修改测量记录 %1 的字段 %2：\n%3 → %4\n\n修改将记入测量记录的修改审计表。确定修改吗？")
              .arg(model_->rowid_of(row))
              .arg(MeasurementModel::field_name(col),
                  MeasurementModel::display_text(col, model_->stored(row, col)),
                  MeasurementModel::display_text(col, model_->pending_value()));
    if (!OperatorPrompts::instance().ask(this, QStringLiteral("修改测量记录"), text)) {
        model_->discard_pending();
        return;
    }
    try {
        model_->post_pending();
    } catch (const EStationError& e) {
        Q_EMIT database_error(QString::fromUtf8(e.what()));
    }
}

CsvExportBar::Work MeasurementPage::export_work() const
{
    std::optional<DateRange> range;
    if (range_box_->isChecked())
        range = DateRange { from_edit_->date(), to_edit_->date() };
    return [db_path = db_path_, range](const QString& path, bool bom,
               const std::function<void(int)>& progress, const std::atomic<bool>* cancel) {
        return export_measurements_csv(db_path, path, range, progress, cancel, bom);
    };
}

bool MeasurementPage::start_export(const QString& path)
{
    return export_bar_->start(path, export_work());
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
