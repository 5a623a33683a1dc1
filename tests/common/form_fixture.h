#pragma once
// A main window over a real engine, created in a temporary working directory
// that holds a copy of the delivered database, with the error box
// collecting messages instead of showing them and the event log written to
// station.log there. The engine runs on the test's thread (its reports reach
// the window at once) unless a test asks for a thread of its own.
#include "browser_pages.h"
#include "engine.h"
#include "engine_host.h"
#include "error_box.h"
#include "event_log.h"
#include "form1.h"
#include "message_list.h"
#include "public_set.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <functional>
#include <memory>

class FormFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Questions to the operator (a command's confirmation) are answered
        // yes and collected; a test that wants the real box puts back
        // real_prompts.
        real_prompts = OperatorPrompts::instance();
        OperatorPrompts::instance().ask = [this](QWidget*, const QString&, const QString& text) {
            asked << text;
            return true;
        };
        ASSERT_TRUE(dir.isValid());
        old_cwd = QDir::currentPath();
        QDir::setCurrent(dir.path());
        old_presenter = ErrorBox::instance().set_presenter([this](const QString& m) { errors << m; });
        public_set_reset();
        ASSERT_TRUE(QFile::copy(QString::fromUtf8(STATION_DB_TEMPLATE), dir.filePath(QStringLiteral("control_db.sqlite"))));
        // The station opens COM1 when no settings say otherwise: "com1" here
        // names no device, so no test touches a serial port of this machine
        // unless it links one (a pseudo-terminal) under that name itself.
        const QString com1 = dir.filePath(QStringLiteral("com1"));
        if (!QFileInfo(com1).isSymLink() && !QFileInfo::exists(com1)) { // a fixture member may have linked one
            ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("no-such-device")), com1));
        }
        event_log::set_echo(false);
        event_log::open(dir.filePath(QStringLiteral("station.log")).toStdString());
    }
    // Removes the "com1" link, for a test that makes its own.
    void unlink_com1() { QFile::remove(dir.filePath(QStringLiteral("com1"))); }
    void TearDown() override
    {
        owned_form.reset();
        owned_host.reset();
        OperatorPrompts::instance() = real_prompts;
        event_log::close();
        event_log::set_echo(true);
        ErrorBox::instance().set_presenter(old_presenter);
        QDir::setCurrent(old_cwd);
    }
    // Writes save.txt with the given lines, each ended by CR LF.
    void write_settings(const QStringList& lines)
    {
        QFile file(dir.filePath(QStringLiteral("save.txt")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        for (const QString& line : lines)
            file.write((line + QStringLiteral("\r\n")).toUtf8());
    }
    // The engine (started) and its window. `own_thread`: the engine runs on a
    // thread of its own, as in the station. `configure` may change the
    // engine's options (a port given at start). A window and engine of an
    // earlier round go first.
    TForm1& make_form(bool own_thread = false, const std::function<void(Engine::Options&)>& configure = {})
    {
        owned_form.reset();
        owned_host.reset();
        Engine::Options options;
        options.data_dir = dir.path();
        options.send_pause_ms = own_thread ? 200 : 0;
        if (configure)
            configure(options);
        owned_host = std::make_unique<EngineHost>(options, own_thread);
        owned_host->start();
        owned_form = std::make_unique<TForm1>(*owned_host);
        return *owned_form;
    }
    Engine& engine() { return *owned_host->engine(); }
    EngineHost& host() { return *owned_host; }

    // The window's message list, newest first, each line "source: text".
    QStringList listed() const
    {
        QStringList out;
        if (!owned_form)
            return out;
        const QTreeWidget* tree = owned_form->message_list->tree();
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            out << tree->topLevelItem(i)->text(MessageList::ColSource) + QStringLiteral(": ")
                    + tree->topLevelItem(i)->text(MessageList::ColText);
        return out;
    }
    // The lines of the message list whose text holds `part`.
    QStringList listed_with(const QString& part) const
    {
        QStringList out;
        for (const QString& line : listed())
            if (line.contains(part))
                out << line;
        return out;
    }
    QString event_log_text() const
    {
        QFile file(dir.filePath(QStringLiteral("station.log")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTemporaryDir dir;
    QString old_cwd;
    ErrorBox::Presenter old_presenter;
    QStringList errors;
    QStringList asked; // the questions put to the operator, answered yes
    OperatorPrompts real_prompts;
    std::unique_ptr<EngineHost> owned_host;
    std::unique_ptr<TForm1> owned_form;
};
