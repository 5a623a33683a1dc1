#pragma once
// The help window: a modeless window with the operator's guide.
#include <QWidget>

class QFrame;

class Thelp : public QWidget {
    Q_OBJECT
public:
    explicit Thelp(QWidget* parent = nullptr);
    QFrame* Panel1 = nullptr;
};

// The guide's text (HTML), shown in the help window's panel.
QString operator_guide_html();
