// Draws the about page's pictures: a 497 x 257 JPEG (a furnace panel with a
// temperature curve) and a 161 x 161 PNG badge with a transparent background.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>

static QImage draw_banner()
{
    QImage img(497, 257, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, 0, 257);
    bg.setColorAt(0, QColor(18, 40, 74));
    bg.setColorAt(1, QColor(6, 14, 30));
    p.fillRect(img.rect(), bg);
    // grid of the chart
    p.setPen(QPen(QColor(60, 90, 130), 1, Qt::DotLine));
    for (int x = 30; x < 497; x += 40)
        p.drawLine(x, 52, x, 212);
    for (int y = 52; y <= 212; y += 32)
        p.drawLine(30, y, 480, y);
    // set value (step profile) and process value (first-order response)
    QPainterPath sv, pv;
    double value = 200;
    sv.moveTo(30, 200);
    pv.moveTo(30, 200);
    for (int x = 30; x <= 480; ++x) {
        const double target = x < 150 ? 200 : x < 320 ? 90 : 130;
        sv.lineTo(x, target);
        value += (target - value) * 0.035;
        pv.lineTo(x, value + 3 * std::sin(x / 9.0) * std::exp(-(x % 170) / 60.0));
    }
    p.setPen(QPen(QColor(255, 230, 0), 2));
    p.drawPath(sv);
    p.setPen(QPen(QColor(255, 60, 40), 3));
    p.drawPath(pv);
    // seven-segment style read-out at the top (the about page lays a caption
    // strip over the picture's bottom edge)
    p.fillRect(QRect(30, 8, 437, 34), QColor(0, 0, 0));
    p.setPen(QColor(128, 255, 0));
    QFont f(QStringLiteral("DejaVu Sans Mono"), 14, QFont::Bold);
    p.setFont(f);
    p.drawText(QRect(30, 8, 437, 34), Qt::AlignCenter, QStringLiteral("SV 120.0   PV 119.8   MV 42.5"));
    return img;
}

static QImage draw_badge()
{
    QImage img(161, 161, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient g(QPointF(60, 55), 95);
    g.setColorAt(0, QColor(120, 200, 255));
    g.setColorAt(1, QColor(10, 70, 150));
    p.setBrush(g);
    p.setPen(QPen(QColor(230, 240, 255), 4));
    p.drawEllipse(QRectF(6, 6, 149, 149));
    // a thermometer
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255));
    p.drawRoundedRect(QRectF(70, 28, 21, 80), 10, 10);
    p.drawEllipse(QRectF(60, 96, 41, 41));
    p.setBrush(QColor(230, 30, 30));
    p.drawRect(QRectF(76, 60, 9, 45));
    p.drawEllipse(QRectF(66, 102, 29, 29));
    return img;
}

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    const bool ok = draw_banner().save(dir + QStringLiteral("/about.jpg"), "JPEG", 90)
                    && draw_badge().save(dir + QStringLiteral("/about_badge.png"), "PNG");
    std::printf("%s\n", ok ? "written" : "failed");
    return ok ? 0 : 1;
}
