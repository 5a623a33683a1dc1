#include "help_window.h"

#include <QFrame>
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
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

QString operator_guide_html()
{
    return QStringLiteral(R"(
<h3>操作指南</h3>
<p><b>1. 连接仪表</b><br>
在“系统设置”页选择串口和波特率（4800、9600 或 19200，须与仪表一致）。更改串口或波特率时，
串口先关闭，设置保存到 save.txt，然后重新打开。串口打不开时会弹出错误提示，串口保持关闭，直到下一次更改。</p>
<p><b>2. 串口名称与 Linux 设备</b><br>
“COM1”…“COM16”对应名称 com1…com16。工作目录中若有名为 comN 的文件或符号链接，就打开它
（例如 <code>ln -s /dev/ttyUSB0 com1</code>）；否则打开 /dev/ttyUSB&lt;N-1&gt;（存在时），
再否则打开 /dev/ttyS&lt;N-1&gt;。页面上显示实际打开的设备。打开设备需要用户属于 dialout 组。</p>
<p><b>3. 寻找仪表</b><br>
在“在线AI”页设定地址上限，按“巡扫”：站点依次询问 0 至上限减一的每个地址，应答的地址被勾选，
并分配显示面板（最多十二台）。也可以直接勾选地址 0…11 的复选框。</p>
<p><b>4. 巡检与记录</b><br>
巡检按“采样周期”（秒）逐台读取已启用的仪表：主面板显示最后一次应答的 SV、PV、MV 和报警灯，
“数据显示1…3”页显示各台仪表，“波形”和“偏差”页画出曲线，每次应答写入数据库的测量表，
可在“数据浏览”页查看和导出。周期为 0 时停止巡检。</p>
<p><b>5. 读写参数</b><br>
“读写参数”页：“遍读”读取所有启用仪表的全部参数；“读一列”和“写一列”针对“控制地址”中的仪表；
在表格中修改的单元格排队，按“选择写”逐个写入；“停止”结束正在进行的读写。</p>
<p><b>6. 控制命令</b><br>
左下角的控制区对“控制地址”中的仪表发送 RUN/HOLD、HAND、STOP、手动调功和给定值命令。
手动调功需要“高级功能AF”大于 9999；给定值需要“程序段数Pno”为 0（先读入参数）。</p>
<p><b>7. 仪表设置</b><br>
“写地址”把“原地址”的仪表改为“新地址”；“写波特率”改变该仪表的通讯速率，之后请在“串口”中选择相同的波特率。</p>
)");
}
