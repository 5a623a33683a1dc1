#pragma once
// The help window: a modeless window with the operator's guide, closed by
// its button or Escape.
#include <QWidget>

class QFrame;
class QKeyEvent;
class QPushButton;

class Thelp : public QWidget {
    Q_OBJECT
public:
    explicit Thelp(QWidget* parent = nullptr);
    QFrame* Panel1 = nullptr;
    QPushButton* close_button = nullptr; // Escape closes it too

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// The guide's text (HTML), shown in the help window's panel.
QString operator_guide_html();
