#pragma once
// A main window created in a temporary working directory, with the error box
// collecting messages instead of showing them.
#include "error_box.h"
#include "form1.h"
#include "iTimers.h"
#include "public_set.h"
#include "ttimer.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class FormFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
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
    }
    // Removes the "com1" link, for a test that makes its own.
    void unlink_com1() { QFile::remove(dir.filePath(QStringLiteral("com1"))); }
    void TearDown() override
    {
        owned_form.reset();
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
    TForm1& make_form()
    {
        owned_form = std::make_unique<TForm1>();
        return *owned_form;
    }

    // The kind of request the shared state describes, as its flags tell it:
    // for tests that set cur_addr, cur_code and the flags by hand instead of
    // sending a request.
    static RequestKind kind_of_state(TForm1& f)
    {
        if (scan_active)
            return RequestKind::Probe;
        if (ctrl_cmd_pending)
            return RequestKind::Command;
        if (f.iTimers1->Enabled(2) || f.iTimers1->Enabled(5))
            return RequestKind::WriteRun;
        if (para_run_active || f.iTimers1->Enabled(1) || f.iTimers1->Enabled(4))
            return RequestKind::ReadRun;
        // Anything else that is not a poll: handled up to the stored value.
        if (write_pending || !f.Timer1->Enabled())
            return RequestKind::SetupWrite;
        return RequestKind::Poll;
    }

    // A 10-byte reply arriving now, then every reply window decided at once.
    // When no request is waiting for a reply, one for cur_addr and cur_code
    // (of the kind the flags describe, carrying para_value) is opened first.
    static void answer(TForm1& f, const std::uint8_t* reply)
    {
        if (!f.replies.pending()) {
            LineRequest r;
            r.address = cur_addr;
            r.code = cur_code;
            r.kind = kind_of_state(f);
            r.value = para_value;
            f.replies.request_sent(r, std::chrono::steady_clock::now());
        }
        f.SComm1_485ReceiveData(nullptr, reinterpret_cast<const char*>(reply), 10);
        f.settle_replies();
    }

    QTemporaryDir dir;
    QString old_cwd;
    ErrorBox::Presenter old_presenter;
    QStringList errors;
    std::unique_ptr<TForm1> owned_form;
};
