#include "browser_pages.h"
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

void TForm1::N3Click(QObject*)
{
    if (confirm_quit())
        close();
}

bool TForm1::confirm_quit()
{
    std::size_t waiting = 0;
    host_.call([&waiting](Engine& e) { waiting = e.mqtt_waiting(); });
    QStringList lost;
    if (run.busy) {
        const QString what = run.scanning ? QStringLiteral("巡扫") : run.status;
        lost << QStringLiteral("正在进行的操作（%1，已完成 %2/%3）将中止。")
                    .arg(what.isEmpty() ? QStringLiteral("参数读写") : what)
                    .arg(run.done)
                    .arg(run.total);
    }
    if (waiting > 0)
        lost << QStringLiteral("尚有 %1 条 MQTT 消息未发出，退出后将丢失。").arg(waiting);
    if (lost.isEmpty())
        return true;
    return OperatorPrompts::instance().ask(
        this, QStringLiteral("退出"), lost.join(QLatin1Char('\n')) + QStringLiteral("\n\n仍要退出吗？"));
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // The window's own close button asks as 退出 does; a close by the
    // program (退出 after its question, a signal to stop) does not.
    if (event->spontaneous() && !confirm_quit()) {
        event->ignore();
        return;
    }
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

    auto* name = new QLabel(QStringLiteral("AI仪表集中监控站　版本 %1").arg(QStringLiteral(STATION_VERSION)), TabSheet12);
    name->setObjectName(QStringLiteral("about_name"));
    name->setGeometry(505, 224, 231, 26);
    name->setAlignment(Qt::AlignCenter);
    QFont name_font = name->font();
    name_font.setPixelSize(14);
    name_font.setBold(true);
    name->setFont(name_font);
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
    if (current.enabled && !config.enabled) {
        std::size_t waiting = 0;
        host_.call([&waiting](Engine& e) { waiting = e.mqtt_waiting(); });
        if (waiting > 0
            && !OperatorPrompts::instance().ask(this, QStringLiteral("关闭 MQTT 发布"),
                QStringLiteral("尚有 %1 条 MQTT 消息未发出，关闭发布将丢弃它们。\n\n仍要关闭吗？").arg(waiting)))
            return;
    }
    ask([config](Engine& e) { e.set_mqtt(config); }, "MQTT");
}
