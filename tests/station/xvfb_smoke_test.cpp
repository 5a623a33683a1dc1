#include "form_fixture.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

// Takes a real screenshot of the X display with the window on it. Runs only
// on a real display (CTest runs it under xvfb-run); on the offscreen platform
// it is skipped.
using XvfbSmoke = FormFixture;

TEST_F(XvfbSmoke, WindowAppearsOnTheScreen)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X display";
    TForm1& f = make_form();
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    QTest::qWait(300);
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    ASSERT_FALSE(shot.isNull());
    const QPoint origin = f.mapToGlobal(QPoint(0, 0));
    // The main panel's sky blue (166, 202, 240) shows where the window put it.
    const QPoint panel = f.GroupBox3->mapToGlobal(QPoint(4, 200));
    // (the style may shade a group box's face by a few levels).
    const QColor seen = shot.pixelColor(panel);
    EXPECT_NEAR(seen.red(), 166, 8);
    EXPECT_NEAR(seen.green(), 202, 8);
    EXPECT_NEAR(seen.blue(), 240, 8);
    EXPECT_GE(f.frameGeometry().width(), 1030);
    EXPECT_GT(origin.x(), 0);
    if (!qEnvironmentVariableIsEmpty("STATION_SHOT"))
        shot.save(qEnvironmentVariable("STATION_SHOT"));
}
