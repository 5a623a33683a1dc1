// Chinese throughout: a walk through every page of the window and every
// dialog it opens (MQTT, compare, copy, history, command record, message
// list, bus health, help), collecting each text a user can see, fails on any
// Latin word that is not one of the instrument's own mnemonics, units or
// names the operator types or sees on the instrument.
#include "command_list.h"
#include "form_fixture.h"
#include "iAnalogOutput.h"
#include "health_view.h"
#include "help_window.h"
#include "history_view.h"
#include "iPlot.h"
#include "iPlotChannel.h"
#include "message_list.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTest>
#include <QTableView>
#include <QTableWidget>
#include <QTextBrowser>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QTreeWidget>

namespace {

// Words a user may see in Latin letters: the instrument's mnemonics (the
// parameter and alarm names, the display rows, the command buttons), units,
// protocol and file names, the log's field names the browser grids are
// titled with, and the page the form itself names "about". Paths, topics and
// addresses (any word with a "/" in it) are data, not words.
const QSet<QString> kAllowed = [] {
    QSet<QString> s;
    for (const char* w : { "SV", "PV", "MV", "VAL", "ALM", "Time", "RUN", "HOLD", "HAND", "STOP", "MP", "AF",
             "Pno", "Srun", "SP", "Rdy", "LdAL", "HdAL", "LoAL", "HIAL", "oraL", "about", "MQTT", "CSV", "PNG",
             "TLS", "UTF", "com", "COM", "bps", "AI", "ai", "station", "dev", "pts", "tty", "ttyS", "ttyUSB",
             "txt", "save", "ini", "log", "sqlite", "db", "control", "mea", "tbl", "csv", "png", "mqtt", "mqtts",
             "jpg", "set", "Addr", "bAud", "headless", "workdir", "port", "help", "ln", "dialout", "ID", "USB",
             "pv", "sv", "mv", "alm", "ms", "by", "id", "serial", "usb", "UART", "XDG", "home", "local", "share",
             "DIR", "URL", "NAME", "tmp", "SSr", "rELy", "mA", "PHA", "PHAd", "StoP", "HoLd", "run", "VAD",
             "N", "s", "comN", "Linux", "BOM", "QoS", "CA", "C", "date", "time", "address", "val", "no" })
        s.insert(QString::fromLatin1(w));
    return s;
}();

class LatinWalk : public FormFixture {
protected:
    // Every text of `root` and its children that a user can see or reach.
    void collect(QWidget* root, const QString& where)
    {
        QList<QWidget*> all = root->findChildren<QWidget*>();
        all.prepend(root);
        for (QWidget* w : all) {
            if (!reachable(w, root))
                continue;
            const QString at = where + QLatin1Char('/') + w->objectName();
            add(w->windowTitle(), at + QStringLiteral("[title]"));
            add(w->toolTip(), at + QStringLiteral("[tip]"));
            if (auto* l = qobject_cast<QLabel*>(w))
                add(Qt::mightBeRichText(l->text()) ? QTextDocumentFragment::fromHtml(l->text()).toPlainText() : l->text(),
                    at);
            if (auto* b = qobject_cast<QAbstractButton*>(w))
                add(b->text(), at);
            if (auto* g = qobject_cast<QGroupBox*>(w))
                add(g->title(), at);
            if (auto* t = qobject_cast<QTabWidget*>(w))
                for (int i = 0; i < t->count(); ++i)
                    add(t->tabText(i), at);
            if (auto* c = qobject_cast<QComboBox*>(w))
                for (int i = 0; i < c->count(); ++i)
                    add(c->itemText(i), at);
            if (auto* m = qobject_cast<QMenu*>(w))
                for (QAction* a : m->actions())
                    add(a->text(), at);
            if (auto* v = qobject_cast<QTableView*>(w); v && v->model())
                for (int c = 0; c < v->model()->columnCount(); ++c)
                    add(v->model()->headerData(c, Qt::Horizontal).toString(), at + QStringLiteral("[header]"));
            if (auto* tree = qobject_cast<QTreeWidget*>(w); tree && tree->headerItem()) {
                for (int c = 0; c < tree->columnCount(); ++c)
                    add(tree->headerItem()->text(c), at + QStringLiteral("[header]"));
                for (int i = 0; i < tree->topLevelItemCount(); ++i)
                    for (int c = 0; c < tree->columnCount(); ++c)
                        add(tree->topLevelItem(i)->text(c), at + QStringLiteral("[item]"));
            }
            if (auto* b = qobject_cast<QTextBrowser*>(w))
                add(b->toPlainText(), at);
            if (auto* p = qobject_cast<TiPlot*>(w)) {
                add(p->TitleText(), at);
                for (int c = 0; c < p->ChannelCount(); ++c)
                    add(p->Channel(c)->TitleText(), at + QStringLiteral("[legend]"));
            }
        }
    }
    // Shown unless it or a parent up to `root` is hidden; the pages of a tab
    // control count as shown (the walk visits each).
    static bool reachable(const QWidget* w, const QWidget* root)
    {
        for (const QWidget* a = w; a && a != root; a = a->parentWidget())
            if (a->isHidden() && !qobject_cast<const QStackedWidget*>(a->parentWidget()))
                return false;
        return true;
    }
    void add(QString text, const QString& where)
    {
        static const QRegularExpression word(QStringLiteral("[A-Za-z]+"));
        static const QRegularExpression path(QStringLiteral("[^\\s，。：；（）、“”]*/[^\\s，。：；（）、“”]*"));
        text.remove(path);
        // A library's own words stand only as the detail, in full-width
        // parentheses after our sentence.
        static const QRegularExpression detail(QStringLiteral("（[^（）]*）"));
        text.remove(detail);
        // Quoted text is what the operator typed or a name, not our words.
        static const QRegularExpression quoted(QStringLiteral("“[^”]*”"));
        text.remove(quoted);
        for (auto it = word.globalMatch(text); it.hasNext();) {
            const QString w = it.next().captured();
            if (!kAllowed.contains(w))
                found << where + QStringLiteral(": \"") + w + QStringLiteral("\" in \"") + text.left(80)
                        + QLatin1Char('"');
        }
    }
    // Opens a modal dialog with `open`, collects it and closes it.
    void modal(const std::function<void()>& open, const QString& where)
    {
        bool seen = false;
        QTimer::singleShot(100, [&] {
            if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                collect(d, where);
                seen = true;
                d->reject();
            }
        });
        open();
        EXPECT_TRUE(seen) << where.toStdString();
    }
    QStringList found;
};

TEST_F(LatinWalk, EveryPageAndDialogSpeaksChinese)
{
    TForm1& form = make_form();
    form.show();
    // The error paths of the window: the missing port (the fixture's com1
    // names no device), a bad entry in the set-value box.
    QTest::keyClick(form.iAnalogOutput2, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(form.iAnalogOutput2, QStringLiteral("x"));
    ASSERT_FALSE(listed_with(QStringLiteral("未能打开")).isEmpty()) << listed().join(QLatin1Char('\n')).toStdString();
    ASSERT_FALSE(listed_with(QStringLiteral("“给定值”框只收数字")).isEmpty());
    for (QTabWidget* tabs : { form.PageControl1, form.PageControl2 })
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            QCoreApplication::processEvents();
        }
    collect(&form, QStringLiteral("window"));
    for (QMenu* menu : form.menuBar()->findChildren<QMenu*>())
        collect(menu, QStringLiteral("menu"));

    modal([&] { form.findChild<QAction*>(QStringLiteral("mqtt_item"))->trigger(); }, QStringLiteral("mqtt"));
    modal([&] { form.copy_button->click(); }, QStringLiteral("copy"));
    for (QDialog* d : form.findChildren<QDialog*>())
        d->close();
    form.compare_button->click();
    form.findChild<QAction*>(QStringLiteral("history_item"))->trigger();
    form.findChild<QAction*>(QStringLiteral("commands_item"))->trigger();
    form.findChild<QAction*>(QStringLiteral("messages_item"))->trigger();
    form.findChild<QAction*>(QStringLiteral("health_item"))->trigger();
    form.findChild<QAction*>(QStringLiteral("N11"))->trigger();
    QCoreApplication::processEvents();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != &form && w->isVisible())
            collect(w, QStringLiteral("window:") + w->objectName());
    EXPECT_TRUE(found.isEmpty()) << found.join(QLatin1Char('\n')).toStdString();
}

} // namespace
