#pragma once
// A single-line numeric entry box. What the operator types is only shown text
// until it is committed (Enter, leaving the box, or "Apply"); the committed
// text is the text of the box's current value. An entry that does not parse is
// undone (UndoOnError) or raised. Caret, selection and clipboard come from an
// inner QLineEdit; keys, filter, limits, undo and events are handled here.
#include "iComponent.h"

#include <QFont>

#include <functional>

class QLineEdit;
class QMenu;

enum TAlignment { taLeftJustify, taRightJustify, taCenter };

class TiEditCustom : public TiCustomComponent {
    Q_OBJECT
public:
    explicit TiEditCustom(QWidget* parent = nullptr);
    ~TiEditCustom() override;

    // Most characters the operator may type or paste; 0 = no limit. Text set
    // by code is shown in full.
    int MaxLength() const { return max_length_; }
    void SetMaxLength(int length);
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment alignment);
    int AlignmentMargin() const { return alignment_margin_; }
    void SetAlignmentMargin(int margin);
    bool AutoSelect() const { return auto_select_; }
    void SetAutoSelect(bool on);
    // Height = text height of "ABC" + 2 x border + 4.
    bool AutoSize() const { return auto_size_; }
    void SetAutoSize(bool on);
    QColor Color() const { return color_; }
    void SetColor(const QColor& colour);
    bool UndoOnError() const { return undo_on_error_; }
    void SetUndoOnError(bool on) { undo_on_error_ = on; }
    bool BeepOnError() const { return beep_on_error_; }
    void SetBeepOnError(bool on) { beep_on_error_ = on; }

    bool ErrorActive() const { return error_active_; }
    void SetErrorActive(bool on);
    QString ErrorText() const { return error_text_; }
    void SetErrorText(const QString& text);
    QFont ErrorFont() const { return error_font_; }
    void SetErrorFont(const QFont& font);
    QColor ErrorBackGroundColor() const { return error_background_; }
    void SetErrorBackGroundColor(const QColor& colour);

    // A menu shown on right click instead of the box's own one (not owned).
    void SetPopupMenu(QMenu* menu) { popup_menu_ = menu; }

    // Shown and committed texts.
    QString Text() const;
    QString committed_text() const { return committed_; }

    // Commits the shown text: parses it when it differs from the committed
    // text and sets the value; then shows the value's text (selected with
    // AutoSelect).
    void Commit();
    // Shown text back to the committed text, caret to the start, all selected
    // with AutoSelect.
    void Undo();
    virtual void SelectAll();

    // The box's own context menu with its items enabled for the current state;
    // the caller owns it.
    QMenu* create_context_menu();

    // Handles one key as the box does; false when the key is not the box's.
    bool handle_key(QKeyEvent* event);

    // Raised after the value changed (by code or by the operator).
    TNotifyEvent OnChange;
    // Raised in addition when the change came from an operator action.
    TNotifyEvent OnChangeUser;
    // Raised when the operator's text is refused: a key the filter does not
    // take (the character) or an entry that does not parse and is undone
    // (the whole text). The box itself only undoes or beeps; the owner says
    // why.
    std::function<void(const QString& refused)> OnRefuse;

    // Number of beeps sounded (refused keys, full box, undone entries).
    int beeps() const { return beeps_; }
    // The inner editor (caret, selection, clipboard).
    QLineEdit* editor() const { return editor_; }

    void paint_to(QPainter& painter, QSize size) const override;
    QSize sizeHint() const override;

protected:
    // Whether the filter lets the operator type ch.
    virtual bool AcceptChar(QChar ch) const = 0;
    // Parses text and sets the value; throws EConvertError when it cannot.
    virtual void ParseAndSet(const QString& text) = 0;
    // The text of the current value.
    virtual QString ValueText() const = 0;

    // Makes the value's text the committed and the shown text.
    void show_value();
    // True while an operator key, mouse, focus or menu action is handled.
    bool user_action() const { return user_depth_ > 0; }
    void beep();

    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    friend class TiEditInner;
    struct UserAction;
    void focus_in(Qt::FocusReason reason);
    void focus_out(Qt::FocusReason reason);
    void show_context_menu(const QPoint& global_pos);
    void type_char(QChar ch);
    void paste();
    void update_editor();
    void apply_auto_size();

    QLineEdit* editor_;
    QString committed_;
    int max_length_ = 0;
    TAlignment alignment_ = taLeftJustify;
    int alignment_margin_ = 0;
    bool auto_select_ = true;
    bool auto_size_ = true;
    QColor color_;
    bool undo_on_error_ = true;
    bool beep_on_error_ = false;
    bool error_active_ = false;
    QString error_text_ = QStringLiteral("Error");
    QFont error_font_;
    QColor error_background_ = Qt::black;
    QMenu* popup_menu_ = nullptr;
    int user_depth_ = 0;
    int beeps_ = 0;
};
