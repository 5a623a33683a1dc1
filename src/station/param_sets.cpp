// Parameter sets on the window: taken from a grid column, from ai_para or
// from a file; exported to and imported from files; compared side by side;
// copied to several instruments. The actions sit beside the runs on the
// parameter page and in the menu "读写参数".
#include "convert.h"
#include "errors.h"
#include "error_box.h"
#include "form1.h"
#include "param_catalogue.h"
#include "param_compare.h"
#include "param_grid.h"
#include "param_set_dialogs.h"
#include "param_set_file.h"
#include "param_source_box.h"
#include "engine.h"
#include "engine_host.h"
#include "station_db.h"
#include "string_grid.h"

#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const std::vector<SetSourceKind> kExportSources = { SetSourceKind::GridColumn, SetSourceKind::Database };

ParamSetFile read_set_file(const QString& path)
{
    try {
        return read_param_set_file(read_param_set_file_bytes(QFile::encodeName(path).toStdString()));
    } catch (const EStationError& e) {
        throw EStationError("文件 " + QFileInfo(path).fileName().toStdString() + " 未采用。" + e.what());
    }
}

// Local time with its offset from UTC: "2025-06-01T14:03:22+08:00".
std::string now_text()
{
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate).toStdString();
}

void inform(QWidget* parent, const std::string& text)
{
    QMessageBox::information(parent, QStringLiteral("参数集"), QString::fromStdString(text));
}

} // namespace

// --- Sets ----------------------------------------------------------------------

// The set a column write of the column would send, as the engine holds it.
ParamSet TForm1::grid_column_set(int address) const
{
    ParamSet set;
    host_.call([&](Engine& e) { set = e.grid_column_set(address); });
    return set;
}

// The set stored in ai_para: the codes up to the last program segment pair
// its "程序段数Pno" asks for, those that hold a value.
ParamSet TForm1::stored_set(int address) const
{
    if (!db_address_valid(address))
        throw EStationError("数据库参数表 没有地址 " + std::to_string(address) + " 的字段（地址 0..89）");
    const std::vector<std::optional<float>> values = db->load_param_values(address);
    const std::optional<float> pno = values[40];
    const int segments = pno && *pno >= 0 && *pno <= 179 ? static_cast<int>(*pno + 0.5f) : 0;
    ParamSet set;
    set.address = address;
    host_.call([&](Engine& e) { set.decimal_places = e.decimal_places(address); });
    for (int code = kFirstSetCode; code <= Engine::last_code_for(segments); ++code)
        if (const auto& value = values[static_cast<size_t>(code)])
            set.values[code] = *value;
    if (set.values.empty())
        throw EStationError("数据库参数表 中没有仪表 " + std::to_string(address) + " 的参数：请先遍读或读一列");
    return set;
}

// A set that needs no line: a grid column, ai_para or a file.
ParamSet TForm1::set_of(const SetSource& source) const
{
    switch (source.kind) {
    case SetSourceKind::GridColumn:
        return grid_column_set(source.address);
    case SetSourceKind::Database:
        return stored_set(source.address);
    case SetSourceKind::File:
        return read_set_file(source.path).set;
    case SetSourceKind::Instrument:
        break;
    }
    throw EStationError("仪表的参数集须先读取");
}

std::string TForm1::export_param_set(bool from_grid, int address, const QString& path) const
{
    const ParamSet set = from_grid ? grid_column_set(address) : stored_set(address);
    ParamSetFileInfo info;
    info.exported_at = now_text();
    info.station_version = STATION_VERSION;
    info.source = source_title({ from_grid ? SetSourceKind::GridColumn : SetSourceKind::Database, address, {} })
                      .toStdString();
    const std::string text = param_set_file_text(set, info);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size())
        || !file.commit())
        throw EInOutError("无法写入文件 " + path.toStdString() + "：" + file.errorString().toStdString());
    return "已导出仪表 " + std::to_string(address) + " 的 " + std::to_string(set.values.size()) + " 项参数（"
        + info.source + "）到 " + path.toStdString();
}

std::string TForm1::import_param_set(const QString& path, int address)
{
    if (run.busy)
        throw EStationError("另一项操作正在进行，请等它结束后再导入");
    if (column_of(address) == 0)
        throw EStationError("地址 " + std::to_string(address) + " 在参数表中没有数据列，请先巡扫或遍读；未导入");
    const ParamSetFile file = read_set_file(path);
    int dec = 0;
    host_.call([&](Engine& e) { dec = e.decimal_places(address); });
    ParamSet set;
    try {
        set = param_set_for(file, dec);
    } catch (const EStationError& e) {
        throw EStationError("文件 " + QFileInfo(path).fileName().toStdString() + " 不能导入仪表 "
                            + std::to_string(address) + "（" + std::to_string(dec) + " 位小数）。" + e.what());
    }
    std::string note;
    // Another instrument's address would move this one onto it when the
    // column is written: the column keeps its own.
    if (file.set.address != address && set.values.erase(34))
        note = "\n文件属于仪表 " + std::to_string(file.set.address) + "：通讯地址（代码 34）未导入，该列保留地址 "
            + std::to_string(address) + "。";
    host_.call([&](Engine& e) { e.put_set(address, set); });
    return "已从 " + QFileInfo(path).fileName().toStdString() + " 导入 " + std::to_string(set.values.size())
        + " 项参数到 " + value_column_title(address).toStdString() + " 列。请按“写一列”写入仪表（每项写后读回核对）。"
        + note;
}

// --- The page's buttons and the menu --------------------------------------------

void TForm1::build_param_set_buttons(int x, int y)
{
    const struct {
        QPushButton** button;
        const char* name;
        QString caption;
        void (TForm1::*handler)(QObject*);
    } buttons[] = {
        { &export_button, "export_button", QStringLiteral("导出"), &TForm1::ExportSetClick },
        { &import_button, "import_button", QStringLiteral("导入"), &TForm1::ImportSetClick },
        { &compare_button, "compare_button", QStringLiteral("比较"), &TForm1::CompareSetsClick },
        { &copy_button, "copy_button", QStringLiteral("复制"), &TForm1::CopySetClick },
    };
    int k = 0;
    for (const auto& b : buttons) {
        auto* button = new QPushButton(b.caption, TabSheet2);
        button->setObjectName(QString::fromLatin1(b.name));
        button->setGeometry(x + (k % 2) * 56, y + (k / 2) * 26, 54, 24);
        connect_click(button, b.handler);
        *b.button = button;
        ++k;
    }
    export_button->setToolTip(QStringLiteral("把参数表中一列或数据库中一台仪表的参数集导出为文件"));
    import_button->setToolTip(QStringLiteral("把参数集文件导入参数表中一列（逐项核对后才导入）"));
    compare_button->setToolTip(QStringLiteral("比较两个参数集：仪表现读、数据库、文件或参数表列"));
    copy_button->setToolTip(QStringLiteral("把一个参数集写入多台仪表，每项写后读回核对"));
}

void TForm1::add_param_set_actions(QMenu* menu)
{
    menu->addSeparator();
    const std::pair<QString, void (TForm1::*)(QObject*)> items[] = {
        { QStringLiteral("导出参数集…"), &TForm1::ExportSetClick },
        { QStringLiteral("导入参数集…"), &TForm1::ImportSetClick },
        { QStringLiteral("比较参数集…"), &TForm1::CompareSetsClick },
        { QStringLiteral("复制参数集到多台仪表…"), &TForm1::CopySetClick },
    };
    for (const auto& [text, handler] : items) {
        QAction* action = menu->addAction(text);
        connect(action, &QAction::triggered, this, [this, handler = handler, action] {
            run_guarded([&] { (this->*handler)(action); });
        });
    }
}

// The address in the control-address box, or the first instrument's, as the
// dialogs' first choice.
static int preferred_address(const QComboBox* control, const std::vector<int>& all)
{
    bool ok = false;
    const int address = control->currentText().trimmed().toInt(&ok);
    if (ok && std::find(all.begin(), all.end(), address) != all.end())
        return address;
    return all.empty() ? 1 : all.front();
}

void TForm1::ExportSetClick(QObject*)
{
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("导出参数集"));
    auto* box = new ParamSourceBox(QStringLiteral("导出哪一个参数集"), kExportSources, roster.addresses,
                                   preferred_address(ComboBox7, roster.addresses), &dialog);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(box);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const SetSource source = box->source();
    const QString path
        = choose_set_file_to_write(this, QStringLiteral("仪表%1_参数集.csv").arg(source.address));
    if (path.isEmpty())
        return;
    inform(this, export_param_set(source.kind == SetSourceKind::GridColumn, source.address, path));
}

void TForm1::ImportSetClick(QObject*)
{
    const QString path = choose_set_file_to_read(this);
    if (path.isEmpty())
        return;
    const ParamSetFile file = read_set_file(path);
    QStringList columns;
    int preferred = 0;
    for (int address : roster.addresses) {
        if (column_of(address) == 0)
            continue;
        if (address == file.set.address)
            preferred = static_cast<int>(columns.size());
        columns << value_column_title(address);
    }
    if (columns.isEmpty())
        throw EStationError("参数表中还没有仪表列，请先巡扫或遍读；未导入");
    bool ok = false;
    const QString chosen = QInputDialog::getItem(
        this, QStringLiteral("导入参数集"),
        QStringLiteral("文件中是仪表 %1 的 %2 项参数。导入到参数表的哪一列？")
            .arg(file.set.address)
            .arg(file.texts.size()),
        columns, preferred, false, &ok);
    if (!ok)
        return;
    inform(this, import_param_set(path, str_to_int(chosen.left(chosen.indexOf(QLatin1Char('#'))).toStdString())));
}

void TForm1::CompareSetsClick(QObject*)
{
    auto* dialog = new ParamCompareDialog(roster.addresses, preferred_address(ComboBox7, roster.addresses), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<ParamCompareDialog> view(dialog);
    dialog->on_compare = [this, view] {
        const SetSource a = view->side_a->source();
        const SetSource b = view->side_b->source();
        // The sets that need no line are taken now (a faulty file is refused
        // before any instrument is read); instruments are read by a run.
        std::map<int, ParamSet> ready;
        std::vector<int> to_read;
        const auto take = [&](const SetSource& s, int side) {
            if (s.kind == SetSourceKind::Instrument) {
                if (std::find(to_read.begin(), to_read.end(), s.address) == to_read.end())
                    to_read.push_back(s.address);
                return;
            }
            ready[side] = set_of(s);
        };
        take(a, 0);
        take(b, 1);
        const auto show = [view, a, b](std::map<int, ParamSet> sets) {
            if (!view)
                return;
            view->show_comparison(source_title(a), source_title(b), compare_param_sets(sets[0], sets[1]));
        };
        if (to_read.empty()) {
            show(ready);
            return;
        }
        view->set_comparing(true);
        QString reading;
        for (int address : to_read)
            reading += (reading.isEmpty() ? "" : "、") + QString::number(address);
        view->show_status(QStringLiteral("正在读取仪表 %1 的参数……").arg(reading));
        const int id = next_inspection++;
        ask([to_read, id](Engine& e) { e.start_inspection(to_read, id); }, "参数");
        inspections[id] = [view, a, b, ready, show](bool complete, const std::map<int, ParamSet>& read) {
            if (!view)
                return;
            view->set_comparing(false);
            if (!complete) {
                view->show_status(QStringLiteral("读取已停止，未比较"));
                return;
            }
            std::map<int, ParamSet> sets = ready;
            for (const auto& [side, source] : { std::pair { 0, a }, std::pair { 1, b } }) {
                if (source.kind != SetSourceKind::Instrument)
                    continue;
                const auto it = read.find(source.address);
                if (it == read.end()) {
                    view->show_status(QStringLiteral("仪表 %1 没有应答，未比较").arg(source.address));
                    return;
                }
                sets[side] = it->second;
            }
            show(sets);
        };
    };
    dialog->show();
}

void TForm1::CopySetClick(QObject*)
{
    ParamCopyDialog dialog(roster.addresses, preferred_address(ComboBox7, roster.addresses), this);
    dialog.check = [this, &dialog] {
        const ParamSet set = set_of(dialog.source_box->source());
        const std::vector<int> targets = dialog.targets();
        const bool with_address = dialog.with_address_and_baud();
        host_.call([&](Engine& e) { e.check_copy(set, targets, with_address); });
    };
    if (dialog.exec() != QDialog::Accepted)
        return;
    const ParamSet set = set_of(dialog.source_box->source());
    const std::vector<int> targets = dialog.targets();
    const bool with_address = dialog.with_address_and_baud();
    ask([set, targets, with_address](Engine& e) { e.start_copy(set, targets, with_address); }, "参数");
}
