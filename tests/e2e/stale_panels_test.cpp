// No stale value shown as live: when the instruments stop answering, their
// panels and the main panel grey within three polls and say how old the
// values are; they come back when the answers do; when the line goes away
// every panel greys with "已断开".
#include "e2e_fixture.h"

#include "iSevenSegmentAnalog.h"

#include <QLabel>
#include <QTabWidget>

namespace {

class StalePanelsE2E : public StationE2E {
protected:
    bool grey(int slot) const { return form->sv_disp[static_cast<size_t>(slot)]->SegmentColor() == kGrey; }
    // Saves the window for a look when STATION_SHOT_DIR names a folder.
    void shot(const QString& name) const
    {
        const QString folder = qEnvironmentVariable("STATION_SHOT_DIR");
        if (!folder.isEmpty())
            form->grab().save(QDir(folder).filePath(name));
    }
    static inline const QColor kGrey { 110, 110, 110 };
};

TEST_F(StalePanelsE2E, SilentInstrumentsGreyWithinThreePollsAndRecover)
{
    start({ 1, 3 }, 1, 1.0);
    scan(QStringLiteral("4"), 15000);
    int polls_of_1 = 0;
    QObject receiver;
    QObject::connect(&engine(), &Engine::frame_sent, &receiver, [&](const QByteArray&, int address) {
        polls_of_1 += address == 1 ? 1 : 0;
    });
    ASSERT_TRUE(until([&] { return form->sv_disp[1]->Value() != 0 && form->sv_disp[2]->Value() != 0; }, 8000));
    EXPECT_FALSE(grey(1));
    EXPECT_FALSE(form->silent_label[1]->isVisible());

    // The instruments stop answering; the line stays.
    aisim::Faults silent;
    silent.drop = 1.0;
    bus->set_faults(silent);
    polls_of_1 = 0;
    ASSERT_TRUE(until([&] { return grey(1) && grey(2); }, 20000));
    EXPECT_LE(polls_of_1, 4) << "greyed only after more than three unanswered polls (one may be on its way)";
    const QString said = form->silent_label[1]->text();
    EXPECT_TRUE(said.startsWith(QStringLiteral("无应答，")) && said.endsWith(QStringLiteral(" 秒前"))) << said.toStdString();
    EXPECT_TRUE(form->main_stale_label->text().startsWith(QStringLiteral("仪表 ")))
        << form->main_stale_label->text().toStdString();
    EXPECT_TRUE(form->main_stale_label->isVisibleTo(form));
    EXPECT_EQ(form->iSevenSegmentAnalog_pv->SegmentColor(), kGrey);
    form->PageControl1->setCurrentWidget(form->TabSheet4);
    shot(QStringLiteral("stale_no_answer.png"));

    // Answers again: live again.
    bus->set_faults({});
    ASSERT_TRUE(until([&] { return !grey(1) && !grey(2); }, 20000));
    EXPECT_FALSE(form->silent_label[1]->isVisibleTo(form));
    EXPECT_FALSE(form->main_stale_label->isVisibleTo(form));

    // The simulator stops: the line is gone, every panel greys.
    bus->stop();
    ASSERT_TRUE(until([&] { return grey(1) && grey(2); }, 20000));
    EXPECT_TRUE(form->silent_label[2]->text().startsWith(QStringLiteral("已断开"))) << form->silent_label[2]->text().toStdString();
    shot(QStringLiteral("stale_disconnected.png"));
}

} // namespace
