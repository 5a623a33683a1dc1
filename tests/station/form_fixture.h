#pragma once
// A main window created in a temporary working directory, with the error box
// collecting messages instead of showing them.
#include "error_box.h"
#include "form1.h"
#include "public_set.h"

#include <gtest/gtest.h>

#include <QDir>
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
    }
    void TearDown() override
    {
        form.reset();
        ErrorBox::instance().set_presenter(old_presenter);
        QDir::setCurrent(old_cwd);
    }
    TForm1& make_form()
    {
        form = std::make_unique<TForm1>();
        return *form;
    }

    QTemporaryDir dir;
    QString old_cwd;
    ErrorBox::Presenter old_presenter;
    QStringList errors;
    std::unique_ptr<TForm1> form;
};
