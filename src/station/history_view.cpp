#include "history_view.h"

#include "browser_pages.h"
#include "chart_history.h"
#include "csv_export.h"
#include "errors.h"
#include "icolors.h"
#include "iPlot.h"
#include "station_db.h"

#include <QDateTimeEdit>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QFileInfo>
#include <QToolTip>
#include <QSqlDatabase>
#include <QTimeZone>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace {

std::atomic<int> view_counter { 0 };
constexpr qint64 kHourMs = 3'600'000;
const TColor kCurveColors[8] = { clRed, clYellow, clBlue, clFuchsia, clAqua, clLime, clWhite, clMaroon };

// The clock number shown by a date-time box: its date and time as read.
qint64 edit_ms(const QDateTimeEdit* edit)
{
    return db_clock_ms(edit->dateTime());
}

void set_edit_ms(QDateTimeEdit* edit, qint64 ms)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc());
    edit->setDateTime(QDateTime(t.date(), t.time()));
}

} // namespace

HistoryView::HistoryView(const QString& db_path, QWidget* parent)
    : QDialog(parent)
    , file_label_(new QLabel(this))
    , address_list_(new QListWidget(this))
    , from_edit_(new QDateTimeEdit(this))
    , to_edit_(new QDateTimeEdit(this))
    , chart_(new TiPlot(this))
    , export_bar_(new CsvExportBar(QStringLiteral("history.csv"), QStringLiteral("测量记录"), this))
    , status_(new QLabel(this))
{
    setObjectName(QStringLiteral("history_view"));
    setWindowTitle(QStringLiteral("历史曲线"));
    resize(1000, 640);

    auto* open_button = new QPushButton(QStringLiteral("打开其他数据库…"), this);
    open_button->setObjectName(QStringLiteral("history_open"));
    auto* own_button = new QPushButton(QStringLiteral("本站数据库"), this);
    own_button->setObjectName(QStringLiteral("history_own"));
    file_label_->setObjectName(QStringLiteral("history_file"));
    auto* file_row = new QHBoxLayout;
    file_row->addWidget(new QLabel(QStringLiteral("数据库："), this));
    file_row->addWidget(file_label_, 1);
    file_row->addWidget(open_button);
    file_row->addWidget(own_button);

    for (QDateTimeEdit* edit : { from_edit_, to_edit_ }) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
        edit->setTimeSpec(Qt::LocalTime);
    }
    from_edit_->setObjectName(QStringLiteral("history_from"));
    to_edit_->setObjectName(QStringLiteral("history_to"));
    auto* show_button = new QPushButton(QStringLiteral("显示"), this);
    show_button->setObjectName(QStringLiteral("history_show"));
    auto* range_row = new QHBoxLayout;
    range_row->addWidget(new QLabel(QStringLiteral("从"), this));
    range_row->addWidget(from_edit_);
    range_row->addWidget(new QLabel(QStringLiteral("到"), this));
    range_row->addWidget(to_edit_);
    range_row->addWidget(show_button);
    range_row->addSpacing(12);
    const struct {
        const char* name;
        const char* caption;
        int hours;
    } quick[] = { { "history_24h", "最近24小时", 24 }, { "history_7d", "最近7天", 7 * 24 },
        { "history_30d", "最近30天", 30 * 24 } };
    for (const auto& q : quick) {
        auto* b = new QPushButton(QString::fromUtf8(q.caption), this);
        b->setObjectName(QString::fromLatin1(q.name));
        range_row->addWidget(b);
        const int hours = q.hours;
        connect(b, &QPushButton::clicked, this, [this, hours] { guarded([&] { show_last(hours); }); });
    }
    range_row->addStretch();

    address_list_->setObjectName(QStringLiteral("history_addresses"));
    address_list_->setFixedWidth(110);
    address_list_->setToolTip(QStringLiteral("最多选 %1 台仪表").arg(kMaxAddresses));

    chart_->setObjectName(QStringLiteral("history_chart"));
    chart_->setMinimumSize(725, 320);
    chart_->setTitleText(QStringLiteral("历史温度曲线"));
    chart_->YAxis(0)->setTitle(QStringLiteral("温度值(℃)"));
    chart_->YAxis(0)->setTitleShow(true);
    chart_->YAxis(0)->setTrackingEnabled(false);
    TiPlotXAxis* x = chart_->XAxis(0);
    x->setTitle(QStringLiteral("时间"));
    x->setTitleShow(true);
    x->setTimeScale(true);
    x->setTrackingEnabled(false);
    chart_->DataCursorManager().Items(0)->setVisible(true);
    chart_->readout_x_text
        = [](double minutes) { return plot_clock_text(minutes, QStringLiteral("yyyy-MM-dd HH:mm:ss")); };
    for (int i = 0; i < 2 * kMaxAddresses; ++i)
        chart_->AddChannel(QStringLiteral("Channel %1").arg(i + 1), tcolor(kCurveColors[i]));

    auto* middle = new QHBoxLayout;
    middle->addWidget(address_list_);
    middle->addWidget(chart_, 1);

    auto* save_button = new QPushButton(QStringLiteral("保存图片…"), this);
    save_button->setObjectName(QStringLiteral("history_save_png"));
    status_->setObjectName(QStringLiteral("history_status"));
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(export_bar_);
    bottom->addWidget(save_button);
    bottom->addWidget(status_, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(file_row);
    layout->addLayout(range_row);
    layout->addLayout(middle, 1);
    layout->addLayout(bottom);

    connect(show_button, &QPushButton::clicked, this,
        [this] { guarded([&] { set_span(edit_ms(from_edit_), edit_ms(to_edit_)); }); });
    connect(address_list_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        // No more than the chart has curves for.
        if (item->checkState() == Qt::Checked && chosen_addresses().size() > std::size_t(kMaxAddresses)) {
            const QSignalBlocker block(address_list_);
            item->setCheckState(Qt::Unchecked);
            status_->setText(QStringLiteral("最多同时显示 %1 台仪表").arg(kMaxAddresses));
            return;
        }
        guarded([&] { redraw(); });
    });
    connect(open_button, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("打开数据库"),
            QFileInfo(path_).absolutePath(), QStringLiteral("数据库 (*.sqlite *.db);;所有文件 (*)"));
        if (!path.isEmpty())
            guarded([&] { open_file(path); });
    });
    const QString own = db_path;
    connect(own_button, &QPushButton::clicked, this, [this, own] { guarded([&] { open_file(own); }); });
    connect(save_button, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(
            this, QStringLiteral("保存图表"), QStringLiteral("history.png"), QStringLiteral("PNG (*.png)"));
        QString why;
        if (path.isEmpty())
            return;
        if (!save_png(path, &why))
            Q_EMIT database_error(
                QStringLiteral("无法保存图片 %1：%2").arg(QDir::toNativeSeparators(path), why));
        else
            QToolTip::showText(mapToGlobal(QPoint(8, 8)),
                QStringLiteral("图表已保存到 %1").arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())),
                this);
    });
    export_bar_->set_work_maker([this] { return export_work(); });
    connect(export_bar_, &CsvExportBar::failed, this, &HistoryView::database_error);

    open_file(db_path);
}

HistoryView::~HistoryView()
{
    // The channels' sources read through the connection: they go first.
    for (int i = 0; i < chart_->ChannelCount(); ++i)
        chart_->Channel(i)->set_history(nullptr);
    sources_ = {};
    log_.reset();
    if (!connection_.isEmpty()) {
        QSqlDatabase::database(connection_, false).close();
        QSqlDatabase::removeDatabase(connection_);
    }
}

void HistoryView::guarded(const std::function<void()>& work)
{
    try {
        work();
    } catch (const EStationError& e) {
        Q_EMIT database_error(QString::fromUtf8(e.what()));
    }
}

void HistoryView::open_connection(const QString& path)
{
    const QString name = QStringLiteral("history_view_%1").arg(view_counter.fetch_add(1));
    QSqlDatabase db = open_station_connection(path, name, true);
    std::unique_ptr<MeasurementHistory> log;
    std::vector<int> addresses;
    std::optional<std::pair<qint64, qint64>> bounds;
    try {
        log = std::make_unique<MeasurementHistory>(db, db_file_label(path));
        addresses = log->addresses();
        bounds = log->time_bounds();
    } catch (const EStationError&) {
        log.reset();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        throw;
    }
    // The new file replaces the old one only once it has been read.
    for (int i = 0; i < chart_->ChannelCount(); ++i)
        chart_->Channel(i)->set_history(nullptr);
    sources_ = {};
    log_ = std::move(log);
    if (!connection_.isEmpty()) {
        QSqlDatabase::database(connection_, false).close();
        QSqlDatabase::removeDatabase(connection_);
    }
    connection_ = name;
    path_ = path;
    addresses_ = std::move(addresses);
    bounds_ = bounds;
    for (int i = 0; i < 2 * kMaxAddresses; ++i) {
        sources_[std::size_t(i)] = std::make_shared<LogHistory>(*log_, i % 2 == 0 ? LogField::Pv : LogField::Sv);
        chart_->Channel(i)->set_history(sources_[std::size_t(i)]);
    }
}

void HistoryView::open_file(const QString& path)
{
    open_connection(path);
    file_label_->setText(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
    fill_addresses();
    show_last(24);
}

void HistoryView::fill_addresses()
{
    const QSignalBlocker block(address_list_);
    address_list_->clear();
    for (std::size_t i = 0; i < addresses_.size(); ++i) {
        auto* item = new QListWidgetItem(log_address_text(addresses_[i]), address_list_);
        item->setData(Qt::UserRole, addresses_[i]);
        item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        item->setCheckState(i < std::size_t(kMaxAddresses) ? Qt::Checked : Qt::Unchecked);
    }
}

std::vector<int> HistoryView::chosen_addresses() const
{
    std::vector<int> out;
    for (int i = 0; i < address_list_->count(); ++i)
        if (address_list_->item(i)->checkState() == Qt::Checked)
            out.push_back(address_list_->item(i)->data(Qt::UserRole).toInt());
    return out;
}

void HistoryView::choose_addresses(const std::vector<int>& addresses)
{
    {
        const QSignalBlocker block(address_list_);
        int taken = 0;
        for (int i = 0; i < address_list_->count(); ++i) {
            QListWidgetItem* item = address_list_->item(i);
            const bool wanted = taken < kMaxAddresses
                && std::find(addresses.begin(), addresses.end(), item->data(Qt::UserRole).toInt()) != addresses.end();
            taken += wanted ? 1 : 0;
            item->setCheckState(wanted ? Qt::Checked : Qt::Unchecked);
        }
    }
    redraw();
}

void HistoryView::set_span(qint64 from_ms, qint64 to_ms)
{
    if (to_ms <= from_ms) {
        status_->setText(QStringLiteral("结束时间须晚于开始时间"));
        return;
    }
    span_ = { from_ms, to_ms };
    set_edit_ms(from_edit_, from_ms);
    set_edit_ms(to_edit_, to_ms);
    chart_->resume_tracking(); // drops zoom and pause
    chart_->XAxis(0)->setMin(chart_x(from_ms));
    chart_->XAxis(0)->setSpan(chart_x(to_ms) - chart_x(from_ms));
    redraw();
}

void HistoryView::show_last(int hours)
{
    const qint64 end = bounds_ ? bounds_->second + 1 : db_clock_ms(QDateTime::currentDateTime());
    set_span(end - hours * kHourMs, end);
}

void HistoryView::redraw()
{
    const std::vector<int> chosen = chosen_addresses();
    for (int i = 0; i < 2 * kMaxAddresses; ++i) {
        const std::size_t k = std::size_t(i / 2);
        const int address = k < chosen.size() ? chosen[k] : -1;
        TiPlotChannel* c = chart_->Channel(i);
        sources_[std::size_t(i)]->set_address(address);
        c->setVisible(address >= 0);
        c->setTitleText(address < 0 ? QString() : QString::number(address) + (i % 2 ? QStringLiteral("#set") : QStringLiteral("#")));
        c->history_changed();
    }
    fit_y_axis();
    if (addresses_.empty())
        status_->setText(QStringLiteral("此数据库中没有测量记录"));
    else if (!log_->has_minute_table())
        status_->setText(QStringLiteral("此数据库为旧版结构（无分钟汇总表），长时间范围绘制较慢"));
    else
        status_->clear();
}

void HistoryView::fit_y_axis()
{
    // Draw once off screen: the channels fetch their points for the plot
    // area as it is laid out (laid out now, so that a view not shown yet
    // fetches for the size it will be shown at), and the Y axis then spans
    // them.
    layout()->activate();
    QImage image(chart_->size(), QImage::Format_RGB32);
    {
        QPainter p(&image);
        chart_->paint_plot(p, chart_->size());
    }
    const QRect area = chart_->plot_area();
    TiPlotTraceView view;
    view.x_min = chart_->XAxis(0)->view_min();
    view.x_span = chart_->XAxis(0)->view_span();
    view.width = area.width();
    view.height = area.height();
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    for (int i = 0; i < chart_->ChannelCount(); ++i) {
        const TiPlotChannel* c = chart_->Channel(i);
        const TiPlotPoints* points = c->Visible() ? c->history_points(view) : nullptr;
        if (!points)
            continue;
        // The points inside the span (the ones beyond it only lead the trace in).
        for (std::size_t k = 0; k < points->size(); ++k) {
            const double px = points->x(k);
            if (px >= view.x_min && px <= view.x_min + view.x_span) {
                lo = std::min(lo, points->y(k));
                hi = std::max(hi, points->y(k));
            }
        }
    }
    TiPlotYAxis* y = chart_->YAxis(0);
    if (lo > hi) {
        y->setMin(0);
        y->setSpan(100);
    } else {
        const double margin = std::max((hi - lo) * 0.05, 1.0);
        y->setMin(std::floor(lo - margin));
        y->setSpan(std::ceil(hi + margin) - std::floor(lo - margin));
    }
    chart_->request_repaint();
}

CsvExportBar::Work HistoryView::export_work() const
{
    MeasurementFilter filter;
    filter.clock = span();
    filter.addresses = chosen_addresses();
    return [db_path = path_, filter](const QString& out, bool bom, const std::function<void(int)>& progress,
               const std::atomic<bool>* cancel) {
        return export_measurements_csv(db_path, out, filter, progress, cancel, bom);
    };
}

bool HistoryView::start_export(const QString& path)
{
    return export_bar_->start(path, export_work());
}

bool HistoryView::save_png(const QString& path, QString* why)
{
    return chart_->save_png(path, why);
}
