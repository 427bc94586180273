// The host duties of the main window, driven in-process against the simulator.
#include "testtypes.h"
#include "viewerwindow.h"

#include "connection/channel.h"
#include "connection/viewmanager.h"
#include "connection/viewpage.h"
#include "simserver.h"
#include "snapshot/snapshotrequester.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Two pages on channels 0 and 1, both with the test display; groups 0 and 1.
ViewerLayout twoPages()
{
    ViewerLayout l;
    l.channelCount = 4;
    for (int g = 0; g < 2; ++g) {
        DataGroup d;
        d.groupNumber = g;
        d.name = d.tag = QStringLiteral("G%1").arg(g);
        l.groups.insert(g, d);
    }
    for (int i = 0; i < 2; ++i) {
        PageLayout p;
        p.name = QStringLiteral("WinTest%1").arg(i);
        p.channel = i;
        p.chain << ChainEntry{viewerTestType(), QStringLiteral("WinTest%1.0").arg(i), {}, {}};
        l.pages << p;
    }
    return l;
}

// Polls `done` with the event loop running until it holds or the deadline passes.
template <typename F> bool waitFor(F done, int ms = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QTest::qWait(20);
    }
    return true;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

TEST(ViewerWindow, ConnectsWhenServerAppears)
{
    const quint16 port = freePort();
    ASSERT_NE(port, 0);
    ViewerWindow w;
    QString error;
    ASSERT_TRUE(w.loadLayout(twoPages(), &error)) << qPrintable(error);
    w.connectTo(QStringLiteral("127.0.0.1"), port);
    ASSERT_TRUE(waitFor([&w] { return w.connectionText().startsWith(QStringLiteral("No server at")); }))
        << qPrintable(w.connectionText());
    EXPECT_FALSE(w.isConnected());
    EXPECT_TRUE(w.statusText().contains(QStringLiteral("127.0.0.1:%1").arg(port)));

    SimServer sim;
    ASSERT_TRUE(sim.listen(port)) << qPrintable(sim.errorString());
    ASSERT_TRUE(waitFor([&w] { return w.isConnected(); })) << qPrintable(w.connectionText());
    EXPECT_TRUE(w.connectionText().startsWith(QStringLiteral("Connected to")));
    // The connect sequence subscribed the channels: data reaches the pages' chains.
    auto* head = w.pages().first()->getReceiver();
    ASSERT_NE(head, nullptr);
    EXPECT_TRUE(waitFor([&sim] { return sim.wordsSent() > 0; }));
}

TEST(ViewerWindow, RelaysPartnerSearchesToEveryPage)
{
    ViewerWindow w;
    QString error;
    ASSERT_TRUE(w.loadLayout(twoPages(), &error)) << qPrintable(error);
    QSignalSpy out0(w.pages().at(0), &ViewPage::searchPluginOut);
    QSignalSpy out1(w.pages().at(1), &ViewPage::searchPluginOut);
    GPlugin* seeker = w.pages().at(1)->getReceiver();
    emit w.pages().at(1)->searchPluginIn(QStringLiteral("union-a"), seeker);
    ASSERT_EQ(out0.count(), 1);
    ASSERT_EQ(out1.count(), 1);
    EXPECT_EQ(out0.at(0).at(0).toString(), QStringLiteral("union-a"));
    EXPECT_EQ(out0.at(0).at(1).value<GPlugin*>(), seeker);
}

TEST(ViewerWindow, SequenceNumbersFollowStoresAndSurviveRestart)
{
    int next = 0;
    {
        ViewerWindow w;
        QString error;
        ASSERT_TRUE(w.loadLayout(twoPages(), &error)) << qPrintable(error);
        SnapshotRequester* r = w.pages().first()->getRequester();
        const int start = w.sequenceNumber(1);
        int n = -1; // a new request asks for the number to use
        emit r->reqSeqNumberUpdate(1, &n);
        EXPECT_EQ(n, start);
        n = start; // a store used it: the next one follows
        emit r->reqSeqNumberUpdate(1, &n);
        EXPECT_EQ(n, start + 1);
        n = start; // a second manager of the same request used the same number: no gap
        emit r->reqSeqNumberUpdate(1, &n);
        EXPECT_EQ(n, start + 1);
        n = -1; // other groups count on their own
        const int other = w.sequenceNumber(0);
        emit r->reqSeqNumberUpdate(0, &n);
        EXPECT_EQ(n, other);
        next = start + 1;
    }
    ViewerWindow again;
    EXPECT_EQ(again.sequenceNumber(1), next);
}

TEST(ViewerWindow, GroupDialogShowsSnapshotControlsAndHandsThemBack)
{
    ViewerWindow w;
    QString error;
    ASSERT_TRUE(w.loadLayout(twoPages(), &error)) << qPrintable(error);
    SimServer sim;
    ASSERT_TRUE(sim.listen(0));
    w.connectTo(QStringLiteral("127.0.0.1"), sim.serverPort());
    // Channel 0 joins the group the server reports for it (group 0).
    ASSERT_TRUE(waitFor([&w] {
        const Channel* c = w.pages().first()->findChannelObject(0);
        return c && w.pages().first()->findDataGroup(false);
    }));
    emit w.pages().first()->channelDialogRequestByDGroup(0);
    auto* dialog = w.findChild<QDialog*>(QStringLiteral("SnapshotSettings"));
    ASSERT_NE(dialog, nullptr);
    const QList<QCheckBox*> boxes = dialog->findChildren<QCheckBox*>();
    EXPECT_GE(boxes.size(), 5); // the five file types of the channel's manager
    QList<QPointer<QCheckBox>> kept;
    for (QCheckBox* b : boxes)
        kept << b;
    delete dialog;
    // The controls belong to their managers and outlive the dialog.
    for (const QPointer<QCheckBox>& b : kept) {
        ASSERT_FALSE(b.isNull());
        EXPECT_EQ(b->parent(), nullptr);
    }
}

TEST(ViewerWindow, FailedLoadKeepsTheRunningLayout)
{
    ViewerWindow w;
    QString error;
    ASSERT_TRUE(w.loadLayout(twoPages(), &error)) << qPrintable(error);
    const QList<ViewPage*> before = w.pages();
    ViewManager* manager = w.manager();
    ViewerLayout bad = twoPages();
    bad.pages[1].chain << ChainEntry{QStringLiteral("No Such Type"), QStringLiteral("x"), {}, {}};
    EXPECT_FALSE(w.loadLayout(bad, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("pages[1].chain[1]"))) << qPrintable(error);
    EXPECT_EQ(w.pages(), before);
    EXPECT_EQ(w.manager(), manager);
}
