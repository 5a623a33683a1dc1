// Lamps and labels: lamp colours lit and unlit, repaint on change only, the
// square rule of round lamps, the rectangle's gleam and label, label sizing
// and the Kai font substitution.
#include "iLabel.h"
#include "iLedRectangle.h"
#include "iLedRound.h"
#include "icolors.h"
#include "ifonts.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>
#include <gtest/gtest.h>

#include <memory>

namespace {

QColor centre_pixel(const TiComponent& w)
{
    return w.render_image().pixelColor(w.width() / 2, w.height() / 2);
}

template <class Lamp> std::unique_ptr<Lamp> red_lamp()
{
    auto lamp = std::make_unique<Lamp>();
    lamp->SetActiveColor(tcolor(clRed));
    return lamp;
}

} // namespace

TEST(Colours, FormValuesHoldRedInTheLowByte)
{
    EXPECT_EQ(tcolor(65408), QColor(128, 255, 0));
    EXPECT_EQ(tcolor(clRed), QColor(255, 0, 0));
    EXPECT_EQ(tcolor(clGreen), QColor(0, 128, 0));
    EXPECT_EQ(tcolor(clYellow), QColor(255, 255, 0));
    EXPECT_EQ(tcolor(clSkyBlue), QColor(166, 202, 240));
    EXPECT_EQ(to_tcolor(QColor(166, 202, 240)), clSkyBlue);
    EXPECT_EQ(third_color(QColor(0, 128, 0)), QColor(0, 42, 0));
}

template <class Lamp> class LampTest : public ::testing::Test {
};
using LampTypes = ::testing::Types<TiLedRound, TiLedRectangle>;
TYPED_TEST_SUITE(LampTest, LampTypes);

TYPED_TEST(LampTest, LitUnlitAndColourChanges)
{
    auto lamp = red_lamp<TypeParam>();
    lamp->resize(25, 25);
    EXPECT_EQ(centre_pixel(*lamp), QColor(85, 0, 0));
    lamp->SetActive(true);
    EXPECT_EQ(centre_pixel(*lamp), QColor(255, 0, 0));

    int changes = 0;
    lamp->OnChange = [&](QObject*) { ++changes; };
    lamp->SetActive(false);
    EXPECT_EQ(changes, 1);
    lamp->SetActiveColor(tcolor(clYellow));
    EXPECT_FALSE(lamp->Active());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(centre_pixel(*lamp), QColor(85, 85, 0));
    lamp->SetActiveColor(tcolor(clGreen));
    EXPECT_EQ(centre_pixel(*lamp), QColor(0, 42, 0));

    // A fixed unlit colour counts only without the automatic one.
    lamp->SetInactiveColor(QColor(64, 0, 0));
    EXPECT_EQ(centre_pixel(*lamp), QColor(0, 42, 0));
    lamp->SetAutoInactiveColor(false);
    EXPECT_EQ(centre_pixel(*lamp), QColor(64, 0, 0));
}

TYPED_TEST(LampTest, SameStateTwiceNeitherRepaintsNorNotifies)
{
    auto lamp = red_lamp<TypeParam>();
    int changes = 0;
    lamp->OnChange = [&](QObject* sender) {
        EXPECT_EQ(sender, lamp.get());
        ++changes;
    };
    const int before = lamp->repaint_requests();
    lamp->SetActive(false);
    lamp->SetActiveColor(tcolor(clRed));
    EXPECT_EQ(lamp->repaint_requests(), before);
    EXPECT_EQ(changes, 0);
    lamp->SetActive(true);
    lamp->SetActive(true);
    EXPECT_EQ(lamp->repaint_requests(), before + 1);
    EXPECT_EQ(changes, 1);
}

TEST(LedRound, StaysSquare)
{
    struct Case {
        QSize from, asked, result;
    };
    const Case cases[] = {
        { { 25, 25 }, { 30, 25 }, { 30, 30 } },
        { { 25, 25 }, { 25, 40 }, { 40, 40 } },
        { { 25, 25 }, { 25, 25 }, { 25, 25 } },
        { { 20, 20 }, { 12, 50 }, { 12, 12 } },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(led_round_bounds(c.from, c.asked), c.result);
        TiLedRound lamp;
        lamp.SetBounds(0, 0, c.from.width(), c.from.height());
        lamp.SetBounds(3, 4, c.asked.width(), c.asked.height());
        EXPECT_EQ(lamp.geometry(), QRect(QPoint(3, 4), c.result));
    }
    // A visible lamp resized by plain resize() squares itself too.
    TiLedRound shown;
    shown.resize(25, 25);
    shown.show();
    shown.resize(30, 25);
    EXPECT_EQ(shown.size(), QSize(30, 30));
}

TEST(LedRound, RoundBodyOnBackgroundCorners)
{
    auto lamp = red_lamp<TiLedRound>();
    lamp->resize(25, 25);
    lamp->SetActive(true);
    lamp->SetBackGroundColor(QColor(10, 20, 30));
    const QImage img = lamp->render_image();
    for (QPoint corner : { QPoint(0, 0), QPoint(24, 0), QPoint(1, 23), QPoint(23, 23), QPoint(2, 2) })
        EXPECT_EQ(img.pixelColor(corner), QColor(10, 20, 30)) << corner.x() << "," << corner.y();
    // Left and right edges of the circle at mid-height show the body colour
    // just inside the rim, so the body is round, not a square.
    EXPECT_EQ(img.pixelColor(4, 12), QColor(255, 0, 0));
    EXPECT_EQ(img.pixelColor(20, 12), QColor(255, 0, 0));
    // The gleam: some white on the upper left, none on the lower right.
    auto whites = [&](QRect r) {
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                n += img.pixelColor(x, y).lightness() > 220;
        return n;
    };
    EXPECT_GT(whites(QRect(5, 5, 8, 8)), 0);
    EXPECT_EQ(whites(QRect(13, 13, 8, 8)), 0);
}

TEST(LedRectangle, GleamBorderAndCentreLabel)
{
    auto lamp = red_lamp<TiLedRectangle>();
    lamp->SetActive(true);
    const QImage img = lamp->render_image();
    EXPECT_EQ(img.pixelColor(3, 3), QColor(Qt::white));
    EXPECT_EQ(img.pixelColor(4, 3), QColor(Qt::white));
    EXPECT_EQ(img.pixelColor(5, 3), QColor(255, 0, 0));
    EXPECT_EQ(img.pixel(0, 0), lamp->palette().color(QPalette::Dark).rgb());
    EXPECT_EQ(img.pixel(19, 19), lamp->palette().color(QPalette::Light).rgb());

    lamp->SetCenterLabelText(QStringLiteral("   "));
    EXPECT_EQ(lamp->render_image(), img);
    lamp->SetCenterLabelText(QStringLiteral("W"));
    EXPECT_NE(lamp->render_image(), img);
}

TEST(Label, KaiFontAndAutoSize)
{
    install_font_substitutions();
    TiLabel label;
    QFont kai(QString::fromUtf8(kai_font_family));
    kai.setPixelSize(20);
    kai.setBold(true);
    label.setFont(kai);
    EXPECT_TRUE(QFontInfo(label.font()).family().startsWith(QStringLiteral("AR PL UKai")))
        << QFontInfo(label.font()).family().toStdString();

    label.SetCaption(QStringLiteral("程序段"));
    const QFontMetrics fm(label.font());
    EXPECT_EQ(label.size(), QSize(fm.horizontalAdvance(QStringLiteral("程序段")), fm.height()));
    const int repaints = label.repaint_requests();
    label.SetCaption(QStringLiteral("程序段"));
    EXPECT_EQ(label.repaint_requests(), repaints);

    label.SetBorderStyle(ilbsLowered);
    label.SetOuterMargins(3, 1, 4, 2);
    EXPECT_EQ(
        label.size(), QSize(4 + 7 + fm.horizontalAdvance(QStringLiteral("程序段")), 4 + 3 + fm.height()));

    label.SetAutoSize(false);
    label.SetCaption(QStringLiteral("地址"));
    EXPECT_EQ(
        label.size(), QSize(4 + 7 + fm.horizontalAdvance(QStringLiteral("程序段")), 4 + 3 + fm.height()));
}

TEST(Label, AlignmentPlacesTheCaption)
{
    TiLabel label;
    label.SetCaption(QStringLiteral("地址"));
    label.SetAutoSize(false);
    label.resize(200, 30);
    auto ink_extent = [&] {
        const QImage img = label.render_image();
        const QColor bg = label.BackGroundColor();
        int first = -1, last = -1;
        for (int x = 0; x < img.width(); ++x)
            for (int y = 0; y < img.height(); ++y)
                if (img.pixelColor(x, y) != bg) {
                    if (first < 0)
                        first = x;
                    last = x;
                    break;
                }
        return std::pair(first, last);
    };
    label.SetAlignment(iahLeft);
    const auto left = ink_extent();
    label.SetAlignment(iahRight);
    const auto right = ink_extent();
    label.SetAlignment(iahCenter);
    const auto centre = ink_extent();
    ASSERT_GE(left.first, 0);
    EXPECT_LT(left.first, 5);
    EXPECT_GT(right.second, 194);
    EXPECT_NEAR((centre.first + centre.second) / 2.0, 100, 4);
}
