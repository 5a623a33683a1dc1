#pragma once
// A main window created in a temporary working directory, with the error box
// collecting messages instead of showing them.
#include "error_box.h"
#include "form1.h"
#include "public_set.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
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
    }
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

    QTemporaryDir dir;
    QString old_cwd;
    ErrorBox::Presenter old_presenter;
    QStringList errors;
    std::unique_ptr<TForm1> owned_form;
};
