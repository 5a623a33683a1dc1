#include "form1.h"

#include <QWidget>

void TForm1::build_layout()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("AI仪表集中监控站"));
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    setCentralWidget(panel);
}
