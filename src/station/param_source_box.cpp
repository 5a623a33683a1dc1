#include "param_source_box.h"

#include "convert.h"
#include "errors.h"
#include "param_grid.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

QString kind_text(SetSourceKind kind)
{
    switch (kind) {
    case SetSourceKind::GridColumn:
        return QStringLiteral("参数表列");
    case SetSourceKind::Database:
        return QStringLiteral("数据库参数表");
    case SetSourceKind::File:
        return QStringLiteral("参数集文件");
    case SetSourceKind::Instrument:
        return QStringLiteral("仪表（现读）");
    }
    return {};
}

const QString kFileFilter = QStringLiteral("参数集文件 (*.csv);;所有文件 (*)");

} // namespace

QString source_title(const SetSource& source)
{
    switch (source.kind) {
    case SetSourceKind::GridColumn:
        return QStringLiteral("参数表 ") + value_column_title(source.address);
    case SetSourceKind::Database:
        return QStringLiteral("数据库参数表 仪表 %1").arg(source.address);
    case SetSourceKind::File:
        return QStringLiteral("文件 ") + QFileInfo(source.path).fileName();
    case SetSourceKind::Instrument:
        return QStringLiteral("仪表 %1（现读）").arg(source.address);
    }
    return {};
}

ParamSourceBox::ParamSourceBox(const QString& title, const std::vector<SetSourceKind>& kinds,
                               const std::vector<int>& addresses, int address, QWidget* parent)
    : QGroupBox(title, parent)
    , kinds_(kinds)
{
    auto* grid = new QGridLayout(this);
    kind_box_ = new QComboBox(this);
    kind_box_->setObjectName(QStringLiteral("source_kind"));
    for (SetSourceKind kind : kinds_)
        kind_box_->addItem(kind_text(kind));
    address_box_ = new QComboBox(this);
    address_box_->setObjectName(QStringLiteral("source_address"));
    address_box_->setEditable(true);
    address_box_->setInsertPolicy(QComboBox::NoInsert);
    for (int a : addresses)
        address_box_->addItem(QString::number(a));
    address_box_->setEditText(QString::number(address));
    path_edit_ = new QLineEdit(this);
    path_edit_->setObjectName(QStringLiteral("source_path"));
    browse_ = new QPushButton(QStringLiteral("浏览…"), this);
    grid->addWidget(new QLabel(QStringLiteral("来源"), this), 0, 0);
    grid->addWidget(kind_box_, 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("仪表地址"), this), 1, 0);
    grid->addWidget(address_box_, 1, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("文件"), this), 2, 0);
    grid->addWidget(path_edit_, 2, 1);
    grid->addWidget(browse_, 2, 2);
    connect(kind_box_, &QComboBox::currentIndexChanged, this, [this] { update_fields(); });
    connect(browse_, &QPushButton::clicked, this, [this] {
        const QString path = choose_set_file_to_read(this);
        if (!path.isEmpty())
            path_edit_->setText(path);
    });
    update_fields();
}

void ParamSourceBox::update_fields()
{
    const bool file = kind() == SetSourceKind::File;
    address_box_->setEnabled(!file);
    path_edit_->setEnabled(file);
    browse_->setEnabled(file);
}

void ParamSourceBox::set_kind(SetSourceKind kind)
{
    for (size_t i = 0; i < kinds_.size(); ++i)
        if (kinds_[i] == kind)
            kind_box_->setCurrentIndex(static_cast<int>(i));
}

void ParamSourceBox::set_path(const QString& path) { path_edit_->setText(path); }

SetSourceKind ParamSourceBox::kind() const
{
    const int index = kind_box_->currentIndex();
    return index >= 0 ? kinds_[static_cast<size_t>(index)] : kinds_.front();
}

SetSource ParamSourceBox::source() const
{
    SetSource s;
    s.kind = kind();
    if (s.kind == SetSourceKind::File) {
        s.path = path_edit_->text().trimmed();
        if (s.path.isEmpty())
            throw EStationError(title().toStdString() + "：请选择参数集文件");
        return s;
    }
    s.address = str_to_int(address_box_->currentText().toStdString());
    if (s.address < 0 || s.address > 90)
        throw EStationError(title().toStdString() + "：仪表地址 " + std::to_string(s.address) + " 超出范围 0..90");
    return s;
}

QString choose_set_file_to_read(QWidget* parent)
{
    return QFileDialog::getOpenFileName(parent, QStringLiteral("选择参数集文件"), QDir::currentPath(), kFileFilter);
}

QString choose_set_file_to_write(QWidget* parent, const QString& suggested_name)
{
    return QFileDialog::getSaveFileName(parent, QStringLiteral("导出参数集"), QDir::current().filePath(suggested_name),
                                        kFileFilter);
}
