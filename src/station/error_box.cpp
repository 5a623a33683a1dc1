#include "error_box.h"

#include "event_log.h"

#include <QApplication>
#include <QMessageBox>
#include <exception>

ErrorBox& ErrorBox::instance()
{
    static ErrorBox box;
    return box;
}

ErrorBox::ErrorBox()
    : presenter_([](const QString& message) {
          QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationDisplayName(),
                                message);
      })
{
}

void ErrorBox::show(const QString& message)
{
    // Every message goes to the event log, also one that is already open.
    event_log::write("错误", message.toStdString());
    if (open_.count(message))
        return;
    open_.insert(message);
    // The presenter may run a nested event loop (a modal box); the message
    // stays marked as open until it returns.
    try {
        presenter_(message);
    } catch (...) {
        open_.erase(message);
        throw;
    }
    open_.erase(message);
}

ErrorBox::Presenter ErrorBox::set_presenter(Presenter presenter)
{
    return std::exchange(presenter_, std::move(presenter));
}

void run_guarded(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const std::exception& e) {
        ErrorBox::instance().show(QString::fromUtf8(e.what()));
    } catch (...) {
        ErrorBox::instance().show(QStringLiteral("未知错误"));
    }
}
