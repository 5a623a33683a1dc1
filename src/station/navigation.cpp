#include "engine.h"
#include "engine_host.h"
#include "error_box.h"
#include "form1.h"
#include "help_window.h"
#include "mqtt_dialog.h"

#include <QCloseEvent>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QTabWidget>
#include <turbojpeg.h>

void TForm1::N2Click(QObject*) { PageControl1->setCurrentWidget(TabSheet3); }
void TForm1::N5Click(QObject*) { PageControl1->setCurrentWidget(TabSheet10); }
void TForm1::N9Click(QObject*) { PageControl1->setCurrentWidget(TabSheet2); }
void TForm1::N141Click(QObject*) { PageControl1->setCurrentWidget(TabSheet4); }
void TForm1::N581Click(QObject*) { PageControl1->setCurrentWidget(TabSheet6); }
void TForm1::N9121Click(QObject*) { PageControl1->setCurrentWidget(TabSheet5); }
void TForm1::about1Click(QObject*) { PageControl1->setCurrentWidget(TabSheet12); }
void TForm1::N10Click(QObject*) { PageControl1->setCurrentWidget(TabSheet12); }

void TForm1::N11Click(QObject*)
{
    if (!help)
        help = new Thelp(this);
    help->show();
    help->raise();
    help->activateWindow();
}

void TForm1::N3Click(QObject*) { close(); }

void TForm1::closeEvent(QCloseEvent* event)
{
    run_guarded([this] { FormClose(); });
    if (help)
        help->close();
    event->accept();
}

QImage decode_jpeg(const QByteArray& data)
{
    tjhandle handle = tjInitDecompress();
    if (!handle)
        return {};
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    const auto size = static_cast<unsigned long>(data.size());
    QImage image;
    if (tjDecompressHeader3(handle, bytes, size, &width, &height, &subsampling, &colorspace) == 0 && width > 0
        && height > 0 && width <= 16384 && height <= 16384) {
        QImage out(width, height, QImage::Format_RGB888);
        if (tjDecompress2(handle, bytes, size, out.bits(), width, static_cast<int>(out.bytesPerLine()), height,
                          TJPF_RGB, 0)
            == 0)
            image = out;
    }
    tjDestroy(handle);
    return image;
}

void TForm1::build_about_page()
{
    about_picture = new QLabel(TabSheet12);
    about_picture->setObjectName(QStringLiteral("Image1"));
    about_picture->setGeometry(0, 0, 497, 257);
    QFile jpeg(QStringLiteral(":/about/about.jpg"));
    if (jpeg.open(QIODevice::ReadOnly)) {
        const QImage image = decode_jpeg(jpeg.readAll());
        if (!image.isNull())
            about_picture->setPixmap(QPixmap::fromImage(image));
    }

    about_badge = new QLabel(TabSheet12);
    about_badge->setObjectName(QStringLiteral("Image2"));
    about_badge->setGeometry(540, 20, 161, 161);
    about_badge->setPixmap(QPixmap(QStringLiteral(":/about/about_badge.png")));

    auto* model = new QLabel(QStringLiteral("VAD"), TabSheet12);
    model->setObjectName(QStringLiteral("Label_VAD"));
    model->setGeometry(540, 190, 161, 30);
    model->setAlignment(Qt::AlignCenter);
    QFont model_font = model->font();
    model_font.setPixelSize(22);
    model_font.setBold(true);
    model->setFont(model_font);

    auto* strip = new QLabel(QStringLiteral("智能温控 · 集中监控"), TabSheet12);
    strip->setObjectName(QStringLiteral("Panel4"));
    strip->setGeometry(108, 257 - 33, 281, 33);
    strip->setAlignment(Qt::AlignCenter);
    strip->setAutoFillBackground(true);
    strip->setStyleSheet(QStringLiteral("background: rgb(166, 202, 240); color: rgb(255, 255, 0);"));
    QFont strip_font(QStringLiteral("楷体_GB2312"));
    strip_font.setPixelSize(24);
    strip_font.setBold(true);
    strip->setFont(strip_font);
}

void TForm1::FormClose()
{
    // The engine closes the port, decides the replies already on their way,
    // writes every queued row and saves the settings; the window waits for
    // that, and only that.
    host_.shutdown();
}

void TForm1::show_mqtt_dialog()
{
    MqttConfig current;
    host_.call([&current](Engine& e) { current = e.mqtt_settings(); });
    MqttDialog dialog(current, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const MqttConfig config = dialog.config();
    ask([config](Engine& e) { e.set_mqtt(config); }, "MQTT");
}
