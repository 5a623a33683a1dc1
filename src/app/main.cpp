// The station's application object: sets up fonts, creates the main window
// (which runs its start-up) and runs the message loop until it closes.
#include "form1.h"
#include "ifonts.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("AI仪表集中监控站"));
    install_font_substitutions();
    TForm1 form;
    form.show();
    return app.exec();
}
