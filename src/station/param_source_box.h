#pragma once
// Where a parameter set comes from, and the box in which the operator
// chooses it: a grid column, the stored set in ai_para, a set file, or the
// instrument itself, read now.
#include <QGroupBox>
#include <QString>
#include <vector>

class QComboBox;
class QLineEdit;
class QPushButton;

enum class SetSourceKind { GridColumn, Database, File, Instrument };

struct SetSource {
    SetSourceKind kind = SetSourceKind::GridColumn;
    int address = -1; // the instrument (every kind but File)
    QString path; // File
};

// "参数表 3#仪表", "数据库参数表 仪表 3", "文件 a.csv", "仪表 3（现读）".
QString source_title(const SetSource& source);

class ParamSourceBox : public QGroupBox {
    Q_OBJECT
public:
    // `kinds` in the order offered; `addresses` the instruments offered
    // (the address box also takes any typed address).
    ParamSourceBox(const QString& title, const std::vector<SetSourceKind>& kinds, const std::vector<int>& addresses,
                   int address, QWidget* parent = nullptr);

    // The chosen source. Throws EStationError when the address is no
    // instrument address or no file is chosen.
    SetSource source() const;
    SetSourceKind kind() const;
    void set_kind(SetSourceKind kind);
    void set_path(const QString& path);

private:
    void update_fields();

    std::vector<SetSourceKind> kinds_;
    QComboBox* kind_box_ = nullptr;
    QComboBox* address_box_ = nullptr;
    QLineEdit* path_edit_ = nullptr;
    QPushButton* browse_ = nullptr;
};

// File dialogs for set files, starting in the working directory.
QString choose_set_file_to_read(QWidget* parent);
QString choose_set_file_to_write(QWidget* parent, const QString& suggested_name);
