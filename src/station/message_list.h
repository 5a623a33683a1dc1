#pragma once
// The message list: what the engine said (the line, storage, runs, read-back
// mismatches, refusals), newest first, each with its time, its source and
// its text. A message that repeats is one line whose count goes up and whose
// time is the latest. A window of its own that never blocks anything: it is
// shown and hidden, never run modally.
#include "engine_reports.h"

#include <QDialog>
#include <QHash>

class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

class MessageList : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 2000; // oldest lines go beyond this
    enum Column { ColTime, ColSource, ColText, ColCount };

    explicit MessageList(QWidget* parent = nullptr);

    // Adds a message (or counts a repeat); returns true when it made a new line.
    bool add(const EngineMessage& message);
    // Messages added since the list was last looked at.
    int unread() const { return unread_; }
    void mark_read();
    QTreeWidget* tree() const { return tree_; }

Q_SIGNALS:
    void unread_changed(int unread);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QTreeWidget* tree_;
    QLabel* summary_;
    QHash<QString, QTreeWidgetItem*> lines_; // source + text -> its line
    int unread_ = 0;
};
