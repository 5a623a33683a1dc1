#pragma once
// Whole-station runs: the simulated bus on a pseudo-terminal linked as com1 in
// a temporary working directory, the delivered database copied there, a
// settings file choosing COM1, and the real main window (offscreen) with its
// real serial component. Replies travel the real way: bus -> pty -> reader
// thread -> posted event -> SComm1_485ReceiveData.
#include "aisim.h"
#include "error_box.h"
#include "form1.h"
#include "public_set.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <memory>

class StationE2E : public ::testing::Test {
protected:
    // Starts the bus with `addresses` (process frozen unless speed > 0), then
    // the station at 9600 baud with the given sampling period.
    void start(std::vector<int> addresses, int period_s = 1, double speed = 0)
    {
        ASSERT_TRUE(dir.isValid());
        old_cwd = QDir::currentPath();
        QDir::setCurrent(dir.path());
        old_presenter = ErrorBox::instance().set_presenter([this](const QString& m) { errors << m; });
        public_set_reset();
        ASSERT_TRUE(QFile::copy(QString::fromUtf8(STATION_DB_TEMPLATE), dir.filePath(QStringLiteral("control_db.sqlite"))));
        QFile settings(dir.filePath(QStringLiteral("save.txt")));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write(QStringLiteral("0\r\n1\r\n%1\r\n").arg(period_s).toUtf8());
        settings.close();

        aisim::BusOptions options;
        options.addresses = std::move(addresses);
        options.speed = speed;
        options.reply_delay_ms = 20;
        bus = std::make_unique<aisim::Bus>(options);
        bus->start_pty(dir.filePath(QStringLiteral("com1")).toStdString());

        form = std::make_unique<TForm1>();
        ASSERT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    }

    void TearDown() override
    {
        form.reset();
        if (bus)
            bus->stop();
        if (old_presenter)
            ErrorBox::instance().set_presenter(old_presenter);
        if (!old_cwd.isEmpty())
            QDir::setCurrent(old_cwd);
    }

    // Runs the event loop until `done` holds or `ms` pass; returns `done()`.
    static bool wait_for(const std::function<bool()>& done, int ms)
    {
        QDeadlineTimer deadline(ms);
        while (!done()) {
            if (deadline.hasExpired())
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(5);
        }
        return true;
    }

    // Runs the event loop for `ms` milliseconds.
    static void pump(int ms)
    {
        wait_for([] { return false; }, ms);
    }

    QTemporaryDir dir;
    QString old_cwd;
    ErrorBox::Presenter old_presenter;
    QStringList errors;
    std::unique_ptr<aisim::Bus> bus;
    std::unique_ptr<TForm1> form;
};
