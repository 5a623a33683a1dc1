#include "error_box.h"
#include "errors.h"

#include <gtest/gtest.h>

#include <QStringList>

TEST(ErrorBox, GuardShowsTheExceptionMessage)
{
    QStringList shown;
    auto old = ErrorBox::instance().set_presenter([&](const QString& m) { shown << m; });
    run_guarded([] { throw EConvertError("'x' 不是整数"); });
    auto handler = guarded([](int v) {
        if (v < 0)
            throw EInvalidOperation("Value must be Positive");
    });
    handler(1);
    handler(-1);
    ErrorBox::instance().set_presenter(old);
    EXPECT_EQ(shown, (QStringList{"'x' 不是整数", "Value must be Positive"}));
}

TEST(ErrorBox, SameMessageWhileOpenShowsOnlyOneBox)
{
    QStringList shown;
    auto old = ErrorBox::instance().set_presenter([&](const QString& m) {
        shown << m;
        // While this box is "open", the same failure repeats (a tick firing in the
        // box's event loop) and a different one arrives.
        if (m == QStringLiteral("tick failed")) {
            ErrorBox::instance().show(QStringLiteral("tick failed"));
            ErrorBox::instance().show(QStringLiteral("other"));
        }
    });
    ErrorBox::instance().show(QStringLiteral("tick failed"));
    ErrorBox::instance().show(QStringLiteral("tick failed"));  // closed again: shows
    ErrorBox::instance().set_presenter(old);
    EXPECT_EQ(shown, (QStringList{"tick failed", "other", "tick failed", "other"}));
}
