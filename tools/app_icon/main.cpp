// The station's icon: an instrument face with a green seven-segment reading
// over a red process curve settling on its yellow set value. Drawn with
// shapes only (no fonts), so it needs no display and comes out the same on
// every machine.
//   app_icon OUT_DIR SIZE...   writes OUT_DIR/<SIZE>x<SIZE>/ai_station.png
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QString>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// One segment of a seven-segment digit: a long hexagon from `a` to `b`.
QPolygonF segment(QPointF a, QPointF b, double width)
{
    const QPointF d = b - a;
    const double len = std::hypot(d.x(), d.y());
    const QPointF u = d / len;
    const QPointF n(-u.y() * width / 2, u.x() * width / 2);
    const QPointF tip = u * (width / 2);
    return QPolygonF({ a, a + tip + n, b - tip + n, b, b - tip - n, a + tip - n });
}

// A digit in a w x h box at (x, y); `on` lists the lit segments a..g as bits 0..6.
void draw_digit(QPainter& p, double x, double y, double w, double h, unsigned on)
{
    const double t = w * 0.22;
    const double gap = t * 0.35;
    const QPointF tl(x, y), tr(x + w, y), ml(x, y + h / 2), mr(x + w, y + h / 2), bl(x, y + h), br(x + w, y + h);
    const QPointF dx(gap, 0), dy(0, gap);
    const QPolygonF segments[7] = {
        segment(tl + dx, tr - dx, t), // a
        segment(tr + dy, mr - dy, t), // b
        segment(mr + dy, br - dy, t), // c
        segment(bl + dx, br - dx, t), // d
        segment(ml + dy, bl - dy, t), // e
        segment(tl + dy, ml - dy, t), // f
        segment(ml + dx, mr - dx, t), // g
    };
    for (int s = 0; s < 7; ++s) {
        p.setBrush((on >> s) & 1U ? QColor(60, 255, 60) : QColor(20, 50, 20));
        p.drawPolygon(segments[s]);
    }
}

QImage draw_icon(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);

    // The instrument's case.
    QLinearGradient face(0, 0, 0, 256);
    face.setColorAt(0, QColor(70, 98, 140));
    face.setColorAt(1, QColor(28, 44, 72));
    p.setPen(Qt::NoPen);
    p.setBrush(face);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 36, 36);

    // The reading: two digits on a black window.
    p.setBrush(Qt::black);
    p.drawRoundedRect(QRectF(30, 28, 196, 100), 10, 10);
    p.setPen(Qt::NoPen);
    draw_digit(p, 62, 42, 50, 72, 0b1100110); // 4
    draw_digit(p, 142, 42, 50, 72, 0b0111111); // 0

    // The trend: set value step and the process value settling on it.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 230, 0), 8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({ QPointF(34, 214), QPointF(88, 214), QPointF(88, 160), QPointF(222, 160) }));
    QPainterPath pv;
    pv.moveTo(34, 216);
    for (int x = 88; x <= 222; x += 2) {
        const double age = (x - 88) / 26.0;
        pv.lineTo(x, 160 + 56 * std::exp(-age) * std::cos(age * 2.2));
    }
    p.setPen(QPen(QColor(255, 70, 50), 8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(pv);
    return img;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: app_icon OUT_DIR SIZE...\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 8 || size > 1024) {
            std::fprintf(stderr, "app_icon: bad size %s\n", argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2").arg(out).arg(size);
        const QString file = dir + QStringLiteral("/ai_station.png");
        if (!QDir().mkpath(dir) || !draw_icon(size).save(file)) {
            std::fprintf(stderr, "app_icon: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
