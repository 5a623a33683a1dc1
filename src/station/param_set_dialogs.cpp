#include "param_set_dialogs.h"

#include "error_box.h"
#include "param_catalogue.h"
#include "param_source_box.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const QColor kDifferColour(255, 190, 190);
const std::vector<SetSourceKind> kAllSources
    = { SetSourceKind::Instrument, SetSourceKind::Database, SetSourceKind::File, SetSourceKind::GridColumn };

QTableWidgetItem* cell(const QString& text, bool differs)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    if (differs) {
        item->setBackground(kDifferColour);
        QFont bold = item->font();
        bold.setBold(true);
        item->setFont(bold);
    }
    return item;
}

} // namespace

ParamCompareDialog::ParamCompareDialog(const std::vector<int>& addresses, int address, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("param_compare_dialog"));
    setWindowTitle(QStringLiteral("比较参数集"));
    side_a = new ParamSourceBox(QStringLiteral("甲"), kAllSources, addresses, address, this);
    side_b = new ParamSourceBox(QStringLiteral("乙"), kAllSources, addresses, address, this);
    side_b->set_kind(SetSourceKind::Database);
    compare_button_ = new QPushButton(QStringLiteral("比较"), this);
    compare_button_->setObjectName(QStringLiteral("compare_button"));
    differences_only_ = new QCheckBox(QStringLiteral("只显示不同项"), this);
    count_label_ = new QLabel(this);
    count_label_->setObjectName(QStringLiteral("compare_count"));
    status_label_ = new QLabel(this);
    table_ = new QTableWidget(0, 4, this);
    table_->setObjectName(QStringLiteral("compare_table"));
    table_->setHorizontalHeaderLabels({ QStringLiteral("代码"), QStringLiteral("名称"), QStringLiteral("甲"),
                                        QStringLiteral("乙") });
    table_->verticalHeader()->setVisible(false);
    table_->verticalHeader()->setDefaultSectionSize(22);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setColumnWidth(0, 50);
    table_->setColumnWidth(1, 170);
    table_->setColumnWidth(2, 150);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);

    auto* sides = new QHBoxLayout;
    sides->addWidget(side_a);
    sides->addWidget(side_b);
    auto* bar = new QHBoxLayout;
    bar->addWidget(compare_button_);
    bar->addWidget(differences_only_);
    bar->addWidget(count_label_);
    bar->addWidget(status_label_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(sides);
    layout->addLayout(bar);
    layout->addWidget(table_, 1);
    resize(620, 560);

    connect(compare_button_, &QPushButton::clicked, this, [this] {
        if (on_compare)
            run_guarded(on_compare);
    });
    connect(differences_only_, &QCheckBox::toggled, this, [this] { apply_filter(); });
}

void ParamCompareDialog::show_comparison(const QString& a_title, const QString& b_title, const Comparison& comparison)
{
    table_->setHorizontalHeaderLabels({ QStringLiteral("代码"), QStringLiteral("名称"), a_title, b_title });
    table_->setRowCount(static_cast<int>(comparison.rows.size()));
    row_differs_.clear();
    const QString missing = QStringLiteral("—");
    for (const CompareRow& r : comparison.rows) {
        const int row = static_cast<int>(row_differs_.size());
        row_differs_.push_back(r.differs);
        table_->setItem(row, 0, cell(QString::number(r.code), false));
        table_->setItem(row, 1, cell(QString::fromStdString(param_name(r.code)), false));
        table_->setItem(row, 2, cell(r.a ? QString::fromStdString(*r.a) : missing, r.differs));
        table_->setItem(row, 3, cell(r.b ? QString::fromStdString(*r.b) : missing, r.differs));
    }
    count_label_->setText(QStringLiteral("共 %1 项，不同 %2 项").arg(comparison.rows.size()).arg(comparison.differing));
    count_label_->setStyleSheet(comparison.differing ? QStringLiteral("color: rgb(255, 0, 0);")
                                                     : QStringLiteral("color: rgb(0, 128, 0);"));
    status_label_->clear();
    apply_filter();
}

void ParamCompareDialog::show_status(const QString& text) { status_label_->setText(text); }

void ParamCompareDialog::set_comparing(bool busy) { compare_button_->setEnabled(!busy); }

void ParamCompareDialog::apply_filter()
{
    const bool only = differences_only_->isChecked();
    for (size_t row = 0; row < row_differs_.size(); ++row)
        table_->setRowHidden(static_cast<int>(row), only && !row_differs_[row]);
}

ParamCopyDialog::ParamCopyDialog(const std::vector<int>& addresses, int address, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("param_copy_dialog"));
    setWindowTitle(QStringLiteral("复制参数集到多台仪表"));
    source_box = new ParamSourceBox(QStringLiteral("参数集"),
                                    { SetSourceKind::GridColumn, SetSourceKind::Database, SetSourceKind::File },
                                    addresses, address, this);
    auto* targets = new QGroupBox(QStringLiteral("写入这些仪表（每项写后读回核对）"), this);
    auto* grid = new QGridLayout(targets);
    for (int a : addresses) {
        auto* box = new QCheckBox(QStringLiteral("%1#仪表").arg(a), targets);
        grid->addWidget(box, static_cast<int>(target_boxes_.size()) / 6, static_cast<int>(target_boxes_.size()) % 6);
        target_boxes_.emplace_back(a, box);
    }
    if (addresses.empty())
        grid->addWidget(new QLabel(QStringLiteral("没有已启用的仪表：请先巡扫"), targets), 0, 0);
    address_and_baud_ = new QCheckBox(QStringLiteral("同时写通讯地址与波特率（最后写入，不读回）"), this);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("开始复制"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(source_box);
    layout->addWidget(targets);
    layout->addWidget(address_and_baud_);
    layout->addWidget(buttons);
}

std::vector<int> ParamCopyDialog::targets() const
{
    std::vector<int> list;
    for (const auto& [address, box] : target_boxes_)
        if (box->isChecked())
            list.push_back(address);
    return list;
}

bool ParamCopyDialog::with_address_and_baud() const { return address_and_baud_->isChecked(); }

void ParamCopyDialog::accept()
{
    if (check) {
        bool passed = false;
        run_guarded([&] {
            check();
            passed = true;
        });
        if (!passed)
            return;
    }
    QDialog::accept();
}
