// The station's application object: sets up fonts, creates the main window
// (which runs its start-up) and runs the message loop until it closes.
#include "form1.h"
#include "ifonts.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>
#include <exception>
#include <memory>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("AI仪表集中监控站"));
    install_font_substitutions();
    // Qt's own dialogs and buttons (file dialog, OK/Cancel) in Chinese, as the
    // rest of the station; without the translation files they stay English.
    QTranslator qt_chinese;
    if (qt_chinese.load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qt_chinese);
    std::unique_ptr<TForm1> form;
    try {
        form = std::make_unique<TForm1>();
    } catch (const std::exception& e) {
        // The window could not be created (no database): the station does not start.
        QMessageBox::critical(nullptr, QApplication::applicationName(), QString::fromUtf8(e.what()));
        return 1;
    }
    form->show();
    return app.exec();
}
