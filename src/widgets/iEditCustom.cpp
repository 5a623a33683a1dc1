#include "iEditCustom.h"

#include "errors.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>

#include <algorithm>

// Marks the time an operator action is handled, so that the value setters
// know to raise the user events.
struct TiEditCustom::UserAction {
    explicit UserAction(TiEditCustom* box)
        : box_(box)
    {
        ++box_->user_depth_;
    }
    ~UserAction() { --box_->user_depth_; }
    UserAction(const UserAction&) = delete;
    UserAction& operator=(const UserAction&) = delete;
    TiEditCustom* box_;
};

// The inner line editor: caret, selection, clipboard and mouse placement come
// from QLineEdit; every key, focus change and the context menu go to the box.
class TiEditInner : public QLineEdit {
public:
    // Cuts the link to the box while it is being destroyed: the editor's own
    // teardown may still see focus changes.
    void detach() { box_ = nullptr; }

    explicit TiEditInner(TiEditCustom* box)
        : QLineEdit(box)
        , box_(box)
    {
        setFrame(false);
        setDragEnabled(false);
        setAcceptDrops(false);
        // Typed text goes through the box's key filter only.
        setAttribute(Qt::WA_InputMethodEnabled, false);
        setContextMenuPolicy(Qt::DefaultContextMenu);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        bool handled = false;
        if (box_)
            run_widget_guarded([&] { handled = box_->handle_key(event); });
        if (!handled)
            event->ignore();
    }
    void focusInEvent(QFocusEvent* event) override
    {
        QLineEdit::focusInEvent(event);
        if (box_)
            box_->focus_in(event->reason());
    }
    void focusOutEvent(QFocusEvent* event) override
    {
        QLineEdit::focusOutEvent(event);
        if (box_)
            box_->focus_out(event->reason());
    }
    void mousePressEvent(QMouseEvent* event) override
    {
        // No middle-button paste of the X11 selection: it would bypass the
        // length limit.
        if (event->button() == Qt::MiddleButton || !box_)
            return;
        TiEditCustom::UserAction action(box_);
        QLineEdit::mousePressEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::MiddleButton)
            return;
        QLineEdit::mouseReleaseEvent(event);
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && box_)
            box_->SelectAll();
    }
    void contextMenuEvent(QContextMenuEvent* event) override
    {
        if (box_)
            box_->show_context_menu(event->globalPos());
    }

private:
    TiEditCustom* box_;
};

TiEditCustom::TiEditCustom(QWidget* parent)
    : TiCustomComponent(parent)
    , editor_(new TiEditInner(this))
    , color_(palette().color(QPalette::Base))
{
    SetBorderStyle(ibsLowered);
    setFocusProxy(editor_);
    setFocusPolicy(Qt::StrongFocus);
    error_font_.setBold(true);
    QPalette pal = editor_->palette();
    pal.setColor(QPalette::HighlightedText, Qt::white);
    editor_->setPalette(pal);
    resize(121, 21);
    update_editor();
    apply_auto_size();
}

TiEditCustom::~TiEditCustom()
{
    static_cast<TiEditInner*>(editor_)->detach();
}

QString TiEditCustom::Text() const
{
    return editor_->text();
}

void TiEditCustom::SetMaxLength(int length)
{
    length = std::max(length, 0);
    if (length == max_length_)
        return;
    max_length_ = length;
    // The text of the value may depend on it (leading zeros); typing in
    // progress stays as it is.
    if (editor_->text() == committed_)
        show_value();
}

void TiEditCustom::SetAlignment(TAlignment alignment)
{
    if (alignment == alignment_)
        return;
    alignment_ = alignment;
    update_editor();
}

void TiEditCustom::SetAlignmentMargin(int margin)
{
    if (margin == alignment_margin_)
        return;
    alignment_margin_ = margin;
    update_editor();
}

void TiEditCustom::SetAutoSelect(bool on)
{
    auto_select_ = on;
}

void TiEditCustom::SetAutoSize(bool on)
{
    if (on == auto_size_)
        return;
    auto_size_ = on;
    apply_auto_size();
}

void TiEditCustom::SetColor(const QColor& colour)
{
    if (colour == color_)
        return;
    color_ = colour;
    update_editor();
    invalidate();
}

void TiEditCustom::SetErrorActive(bool on)
{
    if (on == error_active_)
        return;
    error_active_ = on;
    editor_->setVisible(!on);
    invalidate();
}

void TiEditCustom::SetErrorText(const QString& text)
{
    if (text == error_text_)
        return;
    error_text_ = text;
    invalidate();
}

void TiEditCustom::SetErrorFont(const QFont& font)
{
    if (font == error_font_)
        return;
    error_font_ = font;
    invalidate();
}

void TiEditCustom::SetErrorBackGroundColor(const QColor& colour)
{
    if (colour == error_background_)
        return;
    error_background_ = colour;
    invalidate();
}

void TiEditCustom::update_editor()
{
    Qt::Alignment align = Qt::AlignVCenter;
    QMargins margins;
    switch (alignment_) {
    case taLeftJustify:
        align |= Qt::AlignLeft;
        margins.setLeft(alignment_margin_);
        break;
    case taRightJustify:
        align |= Qt::AlignRight;
        margins.setRight(alignment_margin_);
        break;
    case taCenter:
        align |= Qt::AlignHCenter;
        break;
    }
    editor_->setAlignment(align);
    editor_->setTextMargins(margins);
    QPalette pal = editor_->palette();
    pal.setColor(QPalette::Base, color_);
    editor_->setPalette(pal);
    const int b = bevel_width(BorderStyle());
    editor_->setGeometry(rect().adjusted(b, b, -b, -b));
}

void TiEditCustom::apply_auto_size()
{
    // The height follows the font; the width stays free for layouts.
    setSizePolicy(QSizePolicy::Preferred, auto_size_ ? QSizePolicy::Fixed : QSizePolicy::Preferred);
    if (auto_size_)
        resize(width(), QFontMetrics(font()).height() + 2 * bevel_width(BorderStyle()) + 4);
    updateGeometry();
}

QSize TiEditCustom::sizeHint() const
{
    return QSize(121, QFontMetrics(font()).height() + 2 * bevel_width(BorderStyle()) + 4);
}

void TiEditCustom::resizeEvent(QResizeEvent* event)
{
    update_editor();
    TiCustomComponent::resizeEvent(event);
}

void TiEditCustom::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        apply_auto_size();
    TiCustomComponent::changeEvent(event);
}

void TiEditCustom::keyPressEvent(QKeyEvent* event)
{
    bool handled = false;
    run_widget_guarded([&] { handled = handle_key(event); });
    if (!handled)
        event->ignore();
}

void TiEditCustom::paint_to(QPainter& painter, QSize size) const
{
    const QRect all(QPoint(0, 0), size);
    if (error_active_) {
        painter.fillRect(all, error_background_);
        painter.setFont(error_font_);
        painter.setPen(Qt::red);
        painter.drawText(all, Qt::AlignCenter | Qt::TextSingleLine, error_text_);
    } else {
        painter.fillRect(all, color_);
    }
    draw_bevel(painter, all, BorderStyle(), palette());
}

void TiEditCustom::beep()
{
    ++beeps_;
    QApplication::beep();
}

void TiEditCustom::show_value()
{
    committed_ = ValueText();
    editor_->setText(committed_);
}

void TiEditCustom::SelectAll()
{
    editor_->selectAll();
}

void TiEditCustom::Undo()
{
    editor_->setText(committed_);
    editor_->setCursorPosition(0);
    if (auto_select_)
        SelectAll();
}

void TiEditCustom::Commit()
{
    const QString shown = editor_->text();
    if (shown != committed_) {
        try {
            ParseAndSet(shown);
        } catch (const EConvertError&) {
            if (!undo_on_error_)
                throw;
            Undo();
            if (beep_on_error_)
                beep();
            if (OnRefuse)
                OnRefuse(shown);
            return;
        }
    }
    show_value();
    if (auto_select_)
        SelectAll();
}

void TiEditCustom::type_char(QChar ch)
{
    if (!AcceptChar(ch)) {
        if (beep_on_error_)
            beep();
        if (OnRefuse)
            OnRefuse(QString(ch));
        return;
    }
    if (max_length_ == 0 || editor_->text().size() < max_length_ || editor_->hasSelectedText())
        editor_->insert(QString(ch));
    else
        beep();
}

void TiEditCustom::paste()
{
    QString text = QApplication::clipboard()->text();
    const int line_break = text.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
    if (line_break >= 0)
        text.truncate(line_break);
    if (max_length_ > 0) {
        // The selected characters are replaced, so they count as free room.
        const int used = int(editor_->text().size() - editor_->selectedText().size());
        text.truncate(std::max(0, max_length_ - used));
    }
    if (text.isEmpty() && !editor_->hasSelectedText())
        return;
    editor_->insert(text);
}

bool TiEditCustom::handle_key(QKeyEvent* event)
{
    UserAction action(this);
    const Qt::KeyboardModifiers mods = event->modifiers();
    const bool ctrl = mods & Qt::ControlModifier;
    const bool shift = mods & Qt::ShiftModifier;
    const int key = event->key();
    if (ctrl) {
        switch (key) {
        case Qt::Key_A:
            SelectAll();
            return true;
        case Qt::Key_C:
            editor_->copy();
            return true;
        case Qt::Key_X:
            editor_->cut();
            return true;
        case Qt::Key_V:
            paste();
            return true;
        case Qt::Key_Z:
            Undo();
            return true;
        default:
            break;
        }
    }
    switch (key) {
    case Qt::Key_Escape:
        Undo();
        return true;
    case Qt::Key_Backspace:
        editor_->backspace();
        return true;
    case Qt::Key_Delete:
        editor_->del();
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        Commit();
        SelectAll();
        return true;
    case Qt::Key_Left:
        if (ctrl)
            editor_->home(shift);
        else
            editor_->cursorBackward(shift, 1);
        return true;
    case Qt::Key_Right:
        if (ctrl)
            editor_->end(shift);
        else
            editor_->cursorForward(shift, 1);
        return true;
    case Qt::Key_Home:
        editor_->home(shift);
        return true;
    case Qt::Key_End:
        editor_->end(shift);
        return true;
    default:
        break;
    }
    if (ctrl || (mods & Qt::AltModifier))
        return false;
    const QString text = event->text();
    bool any = false;
    for (QChar ch : text) {
        if (ch.isPrint()) {
            type_char(ch);
            any = true;
        }
    }
    return any;
}

void TiEditCustom::focus_in(Qt::FocusReason reason)
{
    UserAction action(this);
    if (auto_select_ && reason != Qt::MouseFocusReason && reason != Qt::PopupFocusReason)
        SelectAll();
}

void TiEditCustom::focus_out(Qt::FocusReason reason)
{
    // Opening a menu (ours included) is not leaving the box.
    if (reason == Qt::PopupFocusReason)
        return;
    UserAction action(this);
    run_widget_guarded([&] { Commit(); });
}

QMenu* TiEditCustom::create_context_menu()
{
    auto* menu = new QMenu(this);
    const bool dirty = editor_->text() != committed_;
    const bool selection = editor_->hasSelectedText();
    const bool all_selected = editor_->selectedText().size() == editor_->text().size();
    auto add = [&](const QString& caption, bool enabled, std::function<void()> action) {
        QAction* item = menu->addAction(caption);
        item->setEnabled(enabled);
        connect(item, &QAction::triggered, this, [this, action] {
            UserAction user(this);
            run_widget_guarded(action);
        });
    };
    add(QStringLiteral("Apply"), dirty, [this] { Commit(); });
    add(QStringLiteral("Undo"), dirty, [this] { Undo(); });
    menu->addSeparator();
    add(QStringLiteral("Cut"), selection, [this] { editor_->cut(); });
    add(QStringLiteral("Copy"), selection, [this] { editor_->copy(); });
    add(QStringLiteral("Paste"), !QApplication::clipboard()->text().isEmpty(), [this] { paste(); });
    add(QStringLiteral("Delete"), selection, [this] { editor_->del(); });
    menu->addSeparator();
    add(QStringLiteral("Select All"), !all_selected, [this] { SelectAll(); });
    return menu;
}

void TiEditCustom::show_context_menu(const QPoint& global_pos)
{
    if (popup_menu_) {
        popup_menu_->popup(global_pos);
        return;
    }
    QMenu* menu = create_context_menu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(global_pos);
}
