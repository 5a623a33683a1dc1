// The message list: what the engine says goes to a list that never blocks,
// newest first, a repeat once with its count, the unread count in the status
// bar; only a refusal of the operator's own request also opens the error box.
#include "form_fixture.h"
#include "message_list.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include <string>
#include <vector>

namespace {

class Messages : public FormFixture {
protected:
    void SetUp() override
    {
        FormFixture::SetUp();
        f = &make_form();
        frames_sent = 0;
        engine().on_frame_sent = [this](const std::string&) { ++frames_sent; };
        errors.clear();
    }
    EngineMessage said(const char* source, const char* text, bool refusal = false,
        EngineMessage::Level level = EngineMessage::Level::Warning)
    {
        EngineMessage m;
        m.time = QDateTime(QDate(2026, 4, 1), QTime(8, 0, seconds++));
        m.source = QString::fromUtf8(source);
        m.text = QString::fromUtf8(text);
        m.refusal = refusal;
        m.level = level;
        m.id = next_id++;
        Q_EMIT engine().message(m);
        return m;
    }
    QTreeWidget* tree() const { return f->message_list->tree(); }
    // Line `i` of the list as "source|text|count".
    QString line(int i) const
    {
        const QTreeWidgetItem* item = tree()->topLevelItem(i);
        return item ? item->text(MessageList::ColSource) + QLatin1Char('|') + item->text(MessageList::ColText)
                + QLatin1Char('|') + item->text(MessageList::ColCount)
                    : QStringLiteral("(none)");
    }
    // Whether a line of the list holds `part` in its text.
    int lines_with(const QString& part) const
    {
        int n = 0;
        for (int i = 0; i < tree()->topLevelItemCount(); ++i)
            n += tree()->topLevelItem(i)->text(MessageList::ColText).contains(part) ? 1 : 0;
        return n;
    }

    TForm1* f = nullptr;
    int seconds = 0;
    quint64 next_id = 1000; // above the engine's own numbers
    int frames_sent = 0;
};

} // namespace

TEST_F(Messages, NewestFirstARepeatOnceWithItsCountAndTheUnreadCount)
{
    f->message_list->findChild<QPushButton*>(QStringLiteral("message_clear"))->click();
    f->message_list->mark_read();
    EXPECT_EQ(f->status_messages->text(), QStringLiteral("<a href=\"messages\">消息</a>"));

    said("串口", "串口 com1 未能打开");
    said("数据库", "数据库暂不可用", false, EngineMessage::Level::Error);
    said("参数", "写入 52 项，核对不符 1 项");
    EXPECT_TRUE(f->status_messages->text().contains(QStringLiteral("消息 3 条未读"))) << f->status_messages->text().toStdString();
    const EngineMessage again = said("串口", "串口 com1 未能打开");
    ASSERT_EQ(tree()->topLevelItemCount(), 3);
    EXPECT_EQ(line(0), QStringLiteral("串口|串口 com1 未能打开|2"));
    EXPECT_EQ(line(1), QStringLiteral("参数|写入 52 项，核对不符 1 项|1"));
    EXPECT_EQ(line(2), QStringLiteral("数据库|数据库暂不可用|1"));
    // The repeat shows the time it was said last.
    EXPECT_EQ(tree()->topLevelItem(0)->text(MessageList::ColTime), again.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    // The same text from another source is another line.
    said("设置", "串口 com1 未能打开");
    EXPECT_EQ(tree()->topLevelItemCount(), 4);
    EXPECT_TRUE(f->status_messages->text().contains(QStringLiteral("消息 5 条未读"))) << f->status_messages->text().toStdString();
    EXPECT_TRUE(errors.isEmpty()) << "no message of the engine's own opens a box: " << errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(f->message_list->isModal());

    // The status bar's link opens the list; the count goes back to 0.
    f->show();
    Q_EMIT f->status_messages->linkActivated(QStringLiteral("messages"));
    EXPECT_TRUE(f->message_list->isVisible());
    EXPECT_EQ(f->message_list->unread(), 0);
    EXPECT_EQ(f->status_messages->text(), QStringLiteral("<a href=\"messages\">消息</a>"));
    f->message_list->hide();
    said("巡扫", "巡扫结束，找到仪表 1, 4");
    EXPECT_TRUE(f->status_messages->text().contains(QStringLiteral("消息 1 条未读")));
}

// A refusal of the operator's own request is in the list and in the error
// box; replayed to a window that asks again for everything, it is neither
// counted twice nor shown in a box again.
TEST_F(Messages, ARefusalIsInTheListAndInTheBoxOnce)
{
    // Address 5 has no column of the parameter table: the engine refuses
    // every command that reads one, and sends nothing.
    f->ComboBox7->setEditText(QStringLiteral("5"));
    const QString no_column = QStringLiteral("地址 5 在参数表中没有数据列，请先巡扫或遍读；命令未发送");
    for (QPushButton* button : { f->Button5, f->Button6, f->Button8, f->Button9 }) {
        SCOPED_TRACE(button->objectName().toStdString());
        errors.clear();
        button->click();
        EXPECT_EQ(errors, QStringList { no_column });
        EXPECT_EQ(f->message_list->tree()->topLevelItem(0)->text(MessageList::ColText), no_column);
        EXPECT_EQ(f->message_list->tree()->topLevelItem(0)->text(MessageList::ColSource), QStringLiteral("控制"));
    }
    EXPECT_EQ(frames_sent, 0);
    EXPECT_EQ(lines_with(no_column), 1);
    EXPECT_EQ(tree()->topLevelItem(0)->text(MessageList::ColCount), QStringLiteral("4"));
    const int lines = tree()->topLevelItemCount();
    const int unread = f->message_list->unread();

    errors.clear();
    engine().report_all();
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(tree()->topLevelItemCount(), lines);
    EXPECT_EQ(f->message_list->unread(), unread);
    EXPECT_EQ(tree()->topLevelItem(0)->text(MessageList::ColCount), QStringLiteral("4"));
}

// The messages the engine said before the window came (here: the port that
// did not open at start) are in the list, once.
TEST_F(Messages, StartUpMessagesAreListedOnce)
{
    EXPECT_EQ(lines_with(QStringLiteral("未能打开")), 1);
    const QTreeWidgetItem* port = nullptr;
    for (int i = 0; i < tree()->topLevelItemCount(); ++i)
        if (tree()->topLevelItem(i)->text(MessageList::ColText).contains(QStringLiteral("未能打开")))
            port = tree()->topLevelItem(i);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->text(MessageList::ColSource), QStringLiteral("串口"));
    EXPECT_EQ(port->text(MessageList::ColCount), QStringLiteral("1"));
    EXPECT_GE(f->message_list->unread(), 1);
}
