// The host duties of the main window, driven in-process against the simulator.
#include "testtypes.h"
#include "viewerwindow.h"

#include "connection/channel.h"
#include "connection/viewmanager.h"
#include "connection/viewpage.h"
#include "routing/forkplugin.h"
#include "routing/unionplugin.h"
#include "simserver.h"
#include "snapshot/snapshotrequester.h"
#include "utilif/savable.h"
#include "utilif/substitutablewidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTcpServer>
#include <QTemporaryDir>
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
        ChainEntry e;
        e.type = viewerTestType();
        e.name = QStringLiteral("WinTest%1.0").arg(i);
        p.chain << e;
        l.pages << p;
    }
    return l;
}

template <typename F> bool waitFor(F done, int ms = 10000)
{
    return pollUntil(done, ms);
}

::testing::AssertionResult loadDemo(ViewerWindow& w)
{
    ViewerLayout layout;
    QString error;
    if (!LayoutFile::parse(LayoutFile::demoLayout(), QStringLiteral("demo"), &layout, &error) ||
        !w.loadLayout(layout, &error))
        return ::testing::AssertionFailure() << qPrintable(error);
    return ::testing::AssertionSuccess();
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

TEST(ViewerWindow, DemoPairsItsForkWithTheUnionOnAnotherPage)
{
    ViewerWindow w;
    ASSERT_TRUE(loadDemo(w));
    ForkPlugin* fork = nullptr;
    UnionPlugin* target = nullptr;
    ViewPage *forkPage = nullptr, *unionPage = nullptr;
    for (ViewPage* page : w.pages()) {
        for (GPlugin* g = page->getReceiver(); g; g = g->getSuccessor()) {
            if (auto* f = qobject_cast<ForkPlugin*>(g)) {
                fork = f;
                forkPage = page;
            }
            if (auto* u = qobject_cast<UnionPlugin*>(g)) {
                target = u;
                unionPage = page;
            }
        }
    }
    ASSERT_NE(fork, nullptr);
    ASSERT_NE(target, nullptr);
    EXPECT_NE(forkPage, unionPage);
    EXPECT_TRUE(waitFor([&] { return fork->getPartner() == target; }));
    EXPECT_EQ(target->getFork(1), fork);
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
    ChainEntry unknown;
    unknown.type = QStringLiteral("No Such Type");
    unknown.name = QStringLiteral("x");
    bad.pages[1].chain << unknown;
    EXPECT_FALSE(w.loadLayout(bad, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("pages[1].chain[1]"))) << qPrintable(error);
    EXPECT_EQ(w.pages(), before);
    EXPECT_EQ(w.manager(), manager);
}

TEST(ViewerWindow, LayoutSeedsOnlySettingsNotStoredYet)
{
    ViewerLayout layout = twoPages();
    ChainEntry& e = layout.pages[0].chain[0];
    e.name = QStringLiteral("SeedTest");
    e.settingKeys = QStringList{QStringLiteral("ColorCoding"), QStringLiteral("Magnification")};
    e.settingValues = QStringList{QStringLiteral("magma"), QStringLiteral("2")};
    Savable colour(nullptr, QStringLiteral("ColorCoding"), QStringLiteral("SeedTest"), false, nullptr);
    colour.setValue(QStringLiteral("cividis")); // the user's choice from an earlier session
    ViewerWindow w;
    QString error;
    ASSERT_TRUE(w.loadLayout(layout, &error)) << qPrintable(error);
    EXPECT_EQ(colour.storedValue(), QStringLiteral("cividis"));
    const Savable zoom(nullptr, QStringLiteral("Magnification"), QStringLiteral("SeedTest"), false, nullptr);
    EXPECT_EQ(zoom.storedValue(), QStringLiteral("2"));
}

TEST(ViewerWindow, DemoStoresEveryDisplay)
{
    QTemporaryDir dir;
    ViewerWindow w;
    ASSERT_TRUE(loadDemo(w));
    w.setSnapshotDir(dir.path());
    w.show();
    SimServer sim;
    ASSERT_TRUE(sim.listen(0));
    w.connectTo(QStringLiteral("127.0.0.1"), sim.serverPort());
    // Let a scan frame (half a second at the simulator's rate) arrive.
    ASSERT_TRUE(waitFor([&w] { return w.isConnected(); }));
    QTest::qWait(1200);
    w.storeAllPagesNow();
    ASSERT_TRUE(waitFor([] { return ViewerWindow::runningStores() == 0; }, 30000));

    const QStringList files = QDir(dir.path()).entryList(QDir::Files);
    int displays = 0;
    for (ViewPage* page : w.pages()) {
        for (GPlugin* g = page->getReceiver(); g; g = g->getSuccessor()) {
            if (!g->getSnapshotManager() || !g->getWidget())
                continue;
            ++displays;
            SCOPED_TRACE(qPrintable(g->getName()));
            const QStringList mine = files.filter(QStringLiteral("-%1").arg(g->getName()));
            const QStringList images = mine.filter(QRegularExpression(QStringLiteral("\\.png$")));
            ASSERT_FALSE(images.isEmpty()) << qPrintable(files.join(QLatin1Char(' ')));
            for (const QString& f : images) {
                const QImage image(dir.filePath(f));
                ASSERT_FALSE(image.isNull()) << qPrintable(f);
                // The picture is the display's drawing area as it is on screen: inside the plug-in's widget and
                // most of it.
                const QSize shown = g->getWidget()->size();
                EXPECT_TRUE(image.width() <= shown.width() && image.height() <= shown.height()) << qPrintable(f);
                EXPECT_GE(image.width() * image.height() * 2, shown.width() * shown.height()) << qPrintable(f);
                EXPECT_NE(image.pixel(0, 0), 0u);
                bool varied = false;
                for (int y = 0; y < image.height() && !varied; ++y) {
                    for (int x = 0; x < image.width() && !varied; ++x)
                        varied = image.pixel(x, y) != image.pixel(0, 0);
                }
                EXPECT_TRUE(varied) << qPrintable(f) << " is one flat colour";
            }
            EXPECT_FALSE(mine.filter(QRegularExpression(QStringLiteral("\\.(csv|asc)$"))).isEmpty())
                << qPrintable(files.join(QLatin1Char(' ')));
        }
    }
    EXPECT_GE(displays, 2); // the frame display and the line display at least
}

TEST(ViewerWindow, GlobalStoreNowStoresAllGroupsAndCountsOn)
{
    QTemporaryDir dir;
    ViewerWindow w;
    QString error;
    ASSERT_TRUE(w.loadLayout(twoPages(), &error)) << qPrintable(error);
    w.setSnapshotDir(dir.path());
    SimServer sim;
    ASSERT_TRUE(sim.listen(0));
    w.connectTo(QStringLiteral("127.0.0.1"), sim.serverPort());
    // Both shown channels have joined their groups and hold data.
    ASSERT_TRUE(waitFor([&w] {
        return w.pages().at(0)->findDataGroup(false) && w.pages().at(1)->findDataGroup(false) &&
               w.manager()->getChannels().at(1)->getFrameBuffer();
    }));
    QTest::qWait(600);
    const int before = w.globalRequester()->getSequenceNumber();
    w.storeNow();
    ASSERT_TRUE(waitFor([] { return ViewerWindow::runningStores() == 0; }, 30000));
    const QStringList files = QDir(dir.path()).entryList(QDir::Files);
    // The raw frames of the channels of both groups, named with the global tag.
    EXPECT_FALSE(files.filter(QRegularExpression(QStringLiteral("^All_.*-Ch0"))).isEmpty())
        << qPrintable(files.join(QLatin1Char(' ')));
    EXPECT_FALSE(files.filter(QRegularExpression(QStringLiteral("^All_.*-Ch1"))).isEmpty())
        << qPrintable(files.join(QLatin1Char(' ')));
    EXPECT_GT(w.globalRequester()->getSequenceNumber(), before);
}

TEST(ViewerWindow, MenusListCatalogueAndDetachDisplays)
{
    ViewerWindow w;
    ASSERT_TRUE(loadDemo(w));

    w.showCatalogue();
    auto* dialog = w.findChild<QDialog*>();
    ASSERT_NE(dialog, nullptr);
    auto* table = dialog->findChild<QTableWidget*>();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rowCount(), ViewPage::getPluginTypes()->size());
    EXPECT_FALSE(table->item(0, 1)->text().isEmpty()); // the description

    QMenu* displays = nullptr;
    for (QMenu* m : w.menuBar()->findChildren<QMenu*>()) {
        if (m->title() == QStringLiteral("&Displays"))
            displays = m;
    }
    ASSERT_NE(displays, nullptr);
    emit displays->aboutToShow();
    QAction* detach = nullptr;
    for (QAction* a : displays->actions()) {
        if (a->text().endsWith(QStringLiteral("Detach Display")) && !detach)
            detach = a;
    }
    ASSERT_NE(detach, nullptr);
    detach->trigger();
    int detached = 0;
    for (ViewPage* p : w.pages()) {
        for (GPlugin* g = p->getReceiver(); g; g = g->getSuccessor()) {
            auto* s = qobject_cast<SubstitutableWidget*>(g->getWidget());
            detached += s && s->isDetached();
        }
    }
    EXPECT_EQ(detached, 1);
    // A detached display is still listed, now to dock it.
    emit displays->aboutToShow();
    bool dock = false;
    for (QAction* a : displays->actions())
        dock = dock || a->text().endsWith(QStringLiteral("Dock Display"));
    EXPECT_TRUE(dock);
}
