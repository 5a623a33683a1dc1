#include "help_window.h"

#include <QFrame>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QTextBrowser>
#include <QVBoxLayout>

Thelp::Thelp(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("help"));
    setWindowTitle(QStringLiteral("帮助"));
    resize(696, 480);
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(8, 8, 649, 345);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto* layout = new QVBoxLayout(Panel1);
    layout->setContentsMargins(2, 2, 2, 2);
    auto* text = new QTextBrowser(Panel1);
    text->setObjectName(QStringLiteral("guide"));
    text->setHtml(operator_guide_html());
    layout->addWidget(text);
    close_button = new QPushButton(QStringLiteral("关闭"), this);
    close_button->setObjectName(QStringLiteral("close_button"));
    close_button->setGeometry(696 - 8 - 90, 480 - 8 - 30, 90, 30);
    connect(close_button, &QPushButton::clicked, this, &QWidget::close);
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

void Thelp::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

QString operator_guide_html()
{
    return QStringLiteral(R"(
<h3>操作指南</h3>
<p><b>1. 连接仪表</b><br>
在“系统设置”页选择串口和波特率（4800、9600 或 19200，须与仪表一致）。更改串口或波特率时，
串口先关闭，设置保存到 save.txt，然后重新打开。串口打不开或中途断开（例如拔下 USB 转换器）时，
消息列表和状态栏说明原因，站点每隔几秒自动重试，设备回来后自动恢复巡检，无需操作。</p>
<p><b>2. 串口名称与 Linux 设备</b><br>
“COM1”…“COM16”对应名称 com1…com16。数据目录中若有名为 comN 的文件或符号链接，就打开它
（例如 <code>ln -s /dev/ttyUSB0 com1</code>）；否则打开 /dev/ttyUSB&lt;N-1&gt;（存在时），
再否则打开 /dev/ttyS&lt;N-1&gt;。列表中也列出本机现有的串口设备。页面上显示实际打开的设备。
打开设备需要用户属于 dialout 组。</p>
<p><b>3. 寻找仪表</b><br>
在“在线AI”页设定地址上限（1…90），按“巡扫”：站点依次询问 0 至上限减一的每个地址，应答的地址被勾选，
并分配显示面板（最多十二台）。也可以直接勾选地址 0…89 的复选框。勾选“重新启动后恢复巡检”时，
下次启动直接巡检上次找到的仪表。</p>
<p><b>4. 巡检与记录</b><br>
巡检按“采样周期”（1 秒或更长）逐台读取已启用的仪表：主面板显示最后一次应答的 SV、PV、MV 和报警灯，
“数据显示1…3”页显示各台仪表，“波形”和“偏差”页画出曲线，每次应答写入数据库的测量表，
可在“数据浏览”页查看、修改（先询问）和导出。连续三次没有应答的仪表，面板数值变灰，
并注明“无应答”和数值的时间；串口未打开时所有面板变灰并注明“已断开”。曲线在没有数据的时段断开。</p>
<p><b>5. 历史曲线</b><br>
“显示”菜单的“历史曲线”按时间段画出数据库中任一台仪表的 SV 和 PV，也可以打开另一个数据库文件，
并可把曲线保存为 PNG 图片、把数据导出为 CSV。</p>
<p><b>6. 读写参数</b><br>
“读写参数”页：“遍读”读取所有启用仪表的全部参数；“读一列”和“写一列”针对“控制地址”中的仪表；
在表格中修改的单元格排队，按“选择写”逐个写入；“停止”结束正在进行的读写。每次写入后读回核对，
不符的单元格标红。“导出”把一台仪表的参数集保存为文件，“导入”把文件放入表格的一列，
“比较”并排比较两台仪表（或文件、数据库）的参数集，“复制”把参数集写入多台仪表。
复制同时写通讯地址时，新地址若已有仪表应答则拒绝，什么也不发送。</p>
<p><b>7. 控制命令</b><br>
左下角的控制区对“控制地址”中的仪表发送 RUN/HOLD、HAND、STOP、手动调功和给定值命令。
选定控制地址后，“给定值”和“手动调功”框显示该仪表当前的数值；框内只能输入数字。
手动调功需要“高级功能AF”大于 9999；给定值需要“程序段数Pno”为 0（先读入参数）。
每条命令发送前先请您确认（可在“系统设置”页取消“发送命令前确认”），发送的命令和结果记入
“显示”菜单的“控制命令记录”和运行日志 station.log。</p>
<p><b>8. 仪表设置</b><br>
“写地址”把“原地址”的仪表改为“新地址”（新地址已有仪表应答时拒绝）；“写波特率”改变该仪表的通讯速率，
之后请在“串口”中选择相同的波特率。</p>
<p><b>9. MQTT 发布</b><br>
“系统设置”菜单的“MQTT 发布”把每次测量、报警变化和总线状态发布到 MQTT 服务器（默认关闭）。
服务器暂时不可达时消息在本地排队，恢复后补发；状态栏显示发布状态和排队的条数。</p>
<p><b>10. 消息与总线状态</b><br>
站点的所有提示（串口、数据库、参数核对、命令结果等）列在“显示”菜单的“消息”中，状态栏显示未读条数。
“系统设置”菜单的“总线状态”列出每个地址的请求、应答、超时、校验错和作废次数。</p>
<p><b>11. 无人值守运行</b><br>
<code>ai_station --headless</code> 不开窗口，只巡检、记录和发布，适合作为系统服务运行；
<code>--workdir</code> 指定数据目录，<code>--port</code> 指定本次使用的串口，
<code>--mqtt</code> 指定本次的 MQTT 服务器。用 <code>--help</code> 查看全部选项。</p>
)");
}
