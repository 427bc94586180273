#include "snapshot/fakeprovider.h"
#include "snapshot/snapshotmgr.h"
#include "snapshot/snapshotrequester.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

namespace {
/// Settings persist by name: every manager of these tests gets a name of its own.
QString uniqueName(const char* stem)
{
    static int n = 0;
    return QStringLiteral("%1_%2").arg(QLatin1String(stem)).arg(++n);
}

bool touch(const QString& name)
{
    QFile f(name);
    return f.open(QIODevice::WriteOnly);
}
} // namespace

class SnapshotMgrTest : public ::testing::Test
{
protected:
    SnapshotMgrTest()
    {
        directory = dir.path();
        prefs = GPlugin::dfltPrefs;
        prefs.snapshotDir = &directory;
        SnapshotMgr::setBackgroundSwitch(&background);
    }
    ~SnapshotMgrTest() override { SnapshotMgr::setBackgroundSwitch(nullptr); }

    std::unique_ptr<SnapshotMgr> make(FakeProvider* provider, const QString& name, int channel = -1)
    {
        auto mgr = std::make_unique<SnapshotMgr>(uniqueName("mgr"), &prefs, provider, channel, nullptr);
        mgr->setName(name);
        if (provider)
            provider->mgr = mgr.get();
        return mgr;
    }

    QTemporaryDir dir;
    QString directory;
    bool background = false;
    GPlugin::PrefData prefs;
    QMap<int, DataGroup> noGroups;
};

TEST(SnapshotMgr_Names, BasenameFormatsTagSequenceAndName)
{
    struct Case
    {
        const char *dir, *name, *tag;
        int seq;
        const char* expected;
    };
    const Case cases[] = {
        {"D:/snap", "Ch1", "Scan", 7, "D:/snap/Scan_007-Ch1"},
        {"", "Ch1", "Scan", 7, "Scan_007-Ch1"},
        {"/tmp/x", "Line", "T", 1000, "/tmp/x/T_1000-Line"},
        {"/tmp/x", "Line", "T", -1, "/tmp/x/T_-01-Line"},
        {"/tmp/x", "", "", 0, "/tmp/x/_000-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(SnapshotMgr::makeBasename(QString::fromUtf8(c.dir), QString::fromUtf8(c.name),
                                            QString::fromUtf8(c.tag), c.seq),
                  QDir::toNativeSeparators(QString::fromUtf8(c.expected)));
    }
}

TEST(SnapshotMgr_Names, CompleteFilenameNumbersBeforeTheFirstHyphen)
{
    QTemporaryDir dir;
    const QDir d(dir.path());
    ASSERT_TRUE(d.mkdir(QStringLiteral("my-dir")));
    struct Case
    {
        const char* existing; // created before the call (relative to the directory), or null
        const char *base, *ext, *suffix;
        const char* expected;
    };
    const Case cases[] = {
        {nullptr, "y", "CSV", "a", "y-a.csv"},         {"x-a.csv", "x", "csv", "a", "x[1]-a.csv"},
        {"x.csv", "x", "csv", "", "x[1].csv"},         {"z.tar.gz", "z", "tar.gz", "", "z[1].tar.gz"},
        {"plain", "plain", "", "", "plain[1]"},        {"my-dir/s.csv", "my-dir/s", "csv", "", "my-dir/s[1].csv"},
        {"x[1]-a.csv", "x", "csv", "a", "x[2]-a.csv"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        if (c.existing) {
            ASSERT_TRUE(touch(d.filePath(QString::fromUtf8(c.existing))));
        }
        EXPECT_EQ(SnapshotMgr::completeFilename(d.filePath(QString::fromUtf8(c.base)), QString::fromUtf8(c.ext),
                                                QString::fromUtf8(c.suffix)),
                  QDir::toNativeSeparators(d.filePath(QString::fromUtf8(c.expected))));
    }
}

TEST(SnapshotMgr_Names, AllCandidatesTakenGivesEmptyAndReservationNeverRepeats)
{
    QTemporaryDir dir;
    const QString base = dir.filePath(QStringLiteral("f-n"));
    ASSERT_TRUE(touch(base + QStringLiteral(".txt")));
    for (int n = 1; n < 1000; ++n)
        ASSERT_TRUE(touch(dir.filePath(QStringLiteral("f[%1]-n.txt").arg(n))));
    EXPECT_EQ(SnapshotMgr::completeFilename(base, QStringLiteral("txt"), QString()), QString());
    EXPECT_EQ(SnapshotMgr::reserveFilename(base, QStringLiteral("txt"), QString()), QString());

    const QString other = dir.filePath(QStringLiteral("g-n"));
    const QString first = SnapshotMgr::reserveFilename(other, QStringLiteral("csv"), QString());
    const QString second = SnapshotMgr::reserveFilename(other, QStringLiteral("csv"), QString());
    // A claim creates no file (nothing unfinished under a final name) but keeps the name until it is released.
    EXPECT_FALSE(QFileInfo::exists(first));
    EXPECT_NE(first, second);
    EXPECT_EQ(SnapshotMgr::completeFilename(other, QStringLiteral("csv"), QString()),
              QDir::toNativeSeparators(dir.filePath(QStringLiteral("g[2]-n.csv"))));
    SnapshotMgr::releaseFilename(first);
    EXPECT_EQ(SnapshotMgr::reserveFilename(other, QStringLiteral("csv"), QString()), first);
    SnapshotMgr::releaseFilename(first);
    SnapshotMgr::releaseFilename(second);
}

TEST_F(SnapshotMgrTest, TriggerKeySelectsTheChannel)
{
    FakeProvider provider;
    auto mgr = make(&provider, QStringLiteral("M"));
    mgr->setTriggerReaction(81, SnapshotMgr::actStoreAlways, nullptr, QStringLiteral("t"), 0);
    mgr->setTriggerReaction(SnapshotMgr::trgChannelComplete, SnapshotMgr::actStoreAlways, nullptr, QStringLiteral("u"),
                            0);
    struct Case
    {
        int parameter;
        const char* tag; // the action expected to store, or null
    };
    const Case cases[] = {{5, "t"}, {4, nullptr}, {-1, "u"}, {0, "u"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parameter);
        provider.saves.clear();
        mgr->executeTrigger(SnapshotMgr::trgChannelComplete, c.parameter);
        if (!c.tag) {
            EXPECT_TRUE(provider.saves.isEmpty());
            continue;
        }
        ASSERT_EQ(provider.saves.size(), 1);
        EXPECT_TRUE(provider.saves[0].contains(QStringLiteral("%1_000-M").arg(QLatin1String(c.tag))));
    }
}

TEST_F(SnapshotMgrTest, ArmOnceArmsOneStoreOnTheSecondaryTrigger)
{
    FakeProvider provider;
    auto mgr = make(&provider, QStringLiteral("M"));
    mgr->setTriggerReaction(SnapshotMgr::trgExternal, SnapshotMgr::actArmOnce, nullptr, QStringLiteral("t"), 3,
                            SnapshotMgr::trgDisplayComplete);
    mgr->executeTrigger(SnapshotMgr::trgExternal);
    EXPECT_TRUE(provider.saves.isEmpty());
    ASSERT_EQ(mgr->getActions().size(), 1);
    EXPECT_EQ(mgr->getActions()[0].trigger, SnapshotMgr::trgDisplayComplete);
    EXPECT_EQ(mgr->getActions()[0].action, SnapshotMgr::actStoreOnce);
    mgr->executeTrigger(SnapshotMgr::trgExternal); // nothing armed for it any more
    EXPECT_EQ(mgr->getActions().size(), 1);
    mgr->executeTrigger(SnapshotMgr::trgDisplayComplete);
    mgr->executeTrigger(SnapshotMgr::trgDisplayComplete);
    ASSERT_EQ(provider.saves.size(), 1);
    EXPECT_TRUE(provider.saves[0].contains(QStringLiteral("t_003-M")));
    EXPECT_TRUE(mgr->getActions().isEmpty());

    // A deferred store is not fired by the pass that armed it, even when both triggers are the same.
    mgr->setTriggerReaction(SnapshotMgr::trgExternal, SnapshotMgr::actArmAlways, nullptr, QStringLiteral("t"), 3,
                            SnapshotMgr::trgExternal);
    mgr->executeTrigger(SnapshotMgr::trgExternal);
    EXPECT_EQ(provider.saves.size(), 1);
    mgr->executeTrigger(SnapshotMgr::trgExternal);
    EXPECT_EQ(provider.saves.size(), 2);
}

TEST_F(SnapshotMgrTest, ClearTriggerReactionTouchesOnlyTheRequester)
{
    auto mgr = make(nullptr, QStringLiteral("M"));
    SnapshotRequester r1(QStringLiteral("a"), noGroups, nullptr, nullptr);
    SnapshotRequester r2(QStringLiteral("b"), noGroups, nullptr, nullptr);
    mgr->setTriggerReaction(SnapshotMgr::trgImmediate, SnapshotMgr::actStoreOnce, &r1, QString(), 0);
    mgr->setTriggerReaction(17, SnapshotMgr::actStoreAlways, &r1, QString(), 0);
    mgr->setTriggerReaction(SnapshotMgr::trgImmediate, SnapshotMgr::actStoreOnce, &r2, QString(), 0);
    // Arming the same trigger and action again replaces the earlier descriptor.
    mgr->setTriggerReaction(17, SnapshotMgr::actStoreAlways, &r1, QString(), 9);
    EXPECT_EQ(mgr->getActions().size(), 3);
    mgr->clearTriggerReaction(&r1, SnapshotMgr::trgNone, SnapshotMgr::actStoreAlways);
    EXPECT_EQ(mgr->getActions().size(), 2);
    mgr->clearTriggerReaction(&r1, SnapshotMgr::trgNone, SnapshotMgr::actAny);
    ASSERT_EQ(mgr->getActions().size(), 1);
    EXPECT_EQ(mgr->getActions()[0].requester, &r2);
    // A requester that goes away takes its actions with it.
    {
        SnapshotRequester r3(QStringLiteral("c"), noGroups, nullptr, nullptr);
        mgr->setTriggerReaction(SnapshotMgr::trgExternal, SnapshotMgr::actArmAlways, &r3, QString(), 0, 2);
    }
    EXPECT_EQ(mgr->getActions().size(), 1);
}

TEST_F(SnapshotMgrTest, FullNameGroupAndTypesComeFromTheInput)
{
    auto in = make(nullptr, QStringLiteral("In"), 4);
    auto own = make(nullptr, QStringLiteral("Own"));
    EXPECT_EQ(own->getFullName(), "Own");
    EXPECT_EQ(own->getInputChannel(), -1);
    in->setDataGroup(6);
    own->setInput(in.get());
    EXPECT_EQ(own->getFullName(), "In-Own");
    EXPECT_EQ(own->getInputChannel(), 4);
    EXPECT_EQ(own->getDataGroup(), 6);
    QWidget** controls = in->getControls();
    static_cast<QCheckBox*>(controls[0])->setChecked(false); // the user drops graphics at the root
    EXPECT_EQ(in->getRequestedTypes(), 0x1E);                // the boxes now make the value
    EXPECT_EQ(own->getRequestedTypes(), 0x1E);
}

TEST_F(SnapshotMgrTest, NameCheckAcceptsOnlySafeCharactersInAWritableDirectory)
{
    auto mgr = make(nullptr, QString());
    struct Case
    {
        const char* name;
        bool valid;
    };
    const Case cases[] = {
        {"Run #3 = A+B", true}, {"$x_y-z", true}, {"Grüße", true}, {"a/b", false},
        {"a:b", false},         {"a*b", false},   {"", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mgr->setName(QString::fromUtf8(c.name));
        EXPECT_EQ(mgr->checkSnapshotName(), c.valid);
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList()); // the probe file is gone again
    directory = dir.filePath(QStringLiteral("missing"));
    mgr->setName(QStringLiteral("fresh"));
    EXPECT_FALSE(mgr->checkSnapshotName());
}

TEST_F(SnapshotMgrTest, IndicatorsShowPendingStores)
{
    FakeProvider provider;
    auto mgr = make(&provider, QStringLiteral("M"));
    QWidget parent;
    QLabel* label = mgr->getIndicator(&parent);
    EXPECT_TRUE(label->isHidden());
    mgr->setTriggerReaction(SnapshotMgr::trgExternal, SnapshotMgr::actArmAlways, nullptr, QString(), 0, 2);
    EXPECT_TRUE(label->isHidden()); // arming alone stores nothing yet
    mgr->setTriggerReaction(SnapshotMgr::trgDisplayComplete, SnapshotMgr::actStoreOnce, nullptr, QString(), 0);
    EXPECT_FALSE(label->isHidden());
    mgr->executeTrigger(SnapshotMgr::trgImmediate); // nothing armed for it
    EXPECT_FALSE(label->isHidden());
    mgr->executeTrigger(SnapshotMgr::trgDisplayComplete);
    EXPECT_TRUE(label->isHidden());
    delete label;
    mgr->setTriggerReaction(SnapshotMgr::trgDisplayComplete, SnapshotMgr::actStoreOnce, nullptr, QString(), 0);
    EXPECT_EQ(mgr->getActions().size(), 2);
}

TEST_F(SnapshotMgrTest, BackgroundStoreWritesFromTheCopyAndReportsOnTheGuiThread)
{
    background = true;
    FakeProvider provider;
    provider.copyMode = FakeProvider::copyBuffer;
    provider.liveValue = 11;
    auto mgr = make(&provider, QStringLiteral("M"));
    mgr->setTriggerReaction(SnapshotMgr::trgImmediate, SnapshotMgr::actStoreOnce, nullptr, QStringLiteral("b"), 2);
    mgr->executeTrigger(SnapshotMgr::trgImmediate);
    provider.liveValue = 99; // the live data move on; the copy keeps 11
    ASSERT_TRUE(QTest::qWaitFor([&] { return !provider.messages.isEmpty(); }, 10000));
    EXPECT_TRUE(provider.saves.isEmpty());
    EXPECT_EQ(provider.threadSaves.load(), 1);
    EXPECT_EQ(provider.messages[0],
              QStringLiteral("0|saved %1 255 11").arg(SnapshotMgr::makeBasename(directory, "M", "b", 2)));
    EXPECT_EQ(mgr->runningThreads(), 0);

    // A failing store is reported with severity 2.
    provider.saveResult = false;
    provider.messages.clear();
    mgr->setTriggerReaction(SnapshotMgr::trgImmediate, SnapshotMgr::actStoreOnce, nullptr, QStringLiteral("b"), 3);
    mgr->executeTrigger(SnapshotMgr::trgImmediate);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !provider.messages.isEmpty(); }, 10000));
    EXPECT_TRUE(provider.messages[0].startsWith("2|failed "));
}

TEST_F(SnapshotMgrTest, StoresDirectlyWithoutACopy)
{
    struct Case
    {
        const char* name;
        bool background;
        FakeProvider::CopyMode copy;
        QStringList messages;
    };
    const QString base = SnapshotMgr::makeBasename(directory, "M", "d", 1);
    const Case cases[] = {
        {"switch off", false, FakeProvider::copyBuffer, {"0|saved " + base + " 255 -1"}},
        {"no copy", true, FakeProvider::copyNone, {"0|saved " + base + " 255 -1"}},
        {"out of memory",
         true,
         FakeProvider::copyOom,
         {"2|Can't store in background task - not enough memory", "0|saved " + base + " 255 -1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        background = c.background;
        FakeProvider provider;
        provider.copyMode = c.copy;
        auto mgr = make(&provider, QStringLiteral("M"));
        SnapshotMgr::ActionDescriptor d;
        d.directory = directory;
        d.fullName = QStringLiteral("M");
        d.tag = QStringLiteral("d");
        d.sequence = 1;
        d.types = 255;
        EXPECT_TRUE(mgr->makeSnapshot(d));
        EXPECT_EQ(provider.messages, c.messages);
        EXPECT_EQ(provider.saves.size(), 1);
        EXPECT_EQ(mgr->runningThreads(), 0);
    }
    auto orphan = make(nullptr, QStringLiteral("M"));
    EXPECT_TRUE(orphan->makeSnapshot(SnapshotMgr::ActionDescriptor()));
}

TEST_F(SnapshotMgrTest, ContinuousStoreFollowsItsTypeBit)
{
    FakeProvider provider;
    auto mgr = make(&provider, QStringLiteral("M"));
    EXPECT_TRUE(mgr->startContinousStore(true, QStringLiteral("c"), 5));
    EXPECT_EQ(provider.logging, QStringList{SnapshotMgr::makeBasename(directory, "M", "c", 5)});
    EXPECT_EQ(provider.messages.size(), 1);
    static_cast<QCheckBox*>(mgr->getControls()[4])->setChecked(false);
    EXPECT_EQ(provider.changes, 1);
    EXPECT_TRUE(mgr->startContinousStore(true, QStringLiteral("c"), 6));
    EXPECT_EQ(provider.logging.last(), QString()); // without the bit a start means stop
}

TEST_F(SnapshotMgrTest, EditingTheControlsStoresTheSettings)
{
    FakeProvider provider;
    auto mgr = make(&provider, QStringLiteral("Old"));
    QWidget** controls = mgr->getControls();
    auto* edit = static_cast<QLineEdit*>(controls[5]);
    EXPECT_EQ(edit->text(), "Old");
    EXPECT_TRUE(static_cast<QCheckBox*>(controls[2])->isChecked());
    edit->setText(QStringLiteral("New"));
    EXPECT_EQ(mgr->getName(), "New");
    EXPECT_EQ(mgr->getRequestedTypes(), 0x1F); // the five boxes replace the default 255
    EXPECT_EQ(provider.changes, 1);
    edit->setText(QStringLiteral("Newer"));
    EXPECT_EQ(provider.changes, 1); // a valid name that was taken as typed changes nothing for the provider
    static_cast<QCheckBox*>(controls[2])->setChecked(false);
    EXPECT_EQ(mgr->getRequestedTypes(), 0x1F & ~SnapshotMgr::typeBinaryRaw);
    EXPECT_EQ(provider.changes, 2);
    mgr->setName(QStringLiteral("Set"));
    EXPECT_EQ(edit->text(), "Set");
}

TEST_F(SnapshotMgrTest, FiringAsksTheRequesterForTheNextNumber)
{
    FakeProvider provider;
    auto mgr = make(&provider, QStringLiteral("M"));
    SnapshotRequester global(QStringLiteral("g"), noGroups, nullptr, nullptr);
    mgr->setTriggerReaction(SnapshotMgr::trgExternal, SnapshotMgr::actStoreAlways, &global, QStringLiteral("g"), 4);
    mgr->executeTrigger(SnapshotMgr::trgExternal);
    mgr->executeTrigger(SnapshotMgr::trgExternal);
    ASSERT_EQ(provider.saves.size(), 2);
    EXPECT_TRUE(provider.saves[0].contains("g_004-M"));
    EXPECT_TRUE(provider.saves[1].contains("g_005-M"));
    EXPECT_EQ(global.getSequenceNumber(), 6);
}

TEST_F(SnapshotMgrTest, DeletingTheManagerWaitsForItsBackgroundStores)
{
    background = true;
    FakeProvider provider;
    provider.copyMode = FakeProvider::copyBuffer;
    auto mgr = make(&provider, QStringLiteral("M"));
    for (int i = 0; i < 3; ++i) {
        mgr->setTriggerReaction(SnapshotMgr::trgImmediate, SnapshotMgr::actStoreOnce, nullptr, QStringLiteral("w"), i);
        mgr->executeTrigger(SnapshotMgr::trgImmediate);
    }
    mgr.reset(); // no end event has been handled yet
    EXPECT_EQ(provider.threadSaves.load(), 3);
    QCoreApplication::processEvents(); // the posted end events died with the manager
    EXPECT_TRUE(provider.messages.isEmpty());
}

TEST_F(SnapshotMgrTest, RenameDialogTakesTheNameOnOkOnly)
{
    auto mgr = make(nullptr, QStringLiteral("Before"));
    struct Case
    {
        const char* button;
        const char* result;
    };
    const Case cases[] = {{"Cancel", "Before"}, {"Ok", "After"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        QString title;
        QTimer::singleShot(0, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            ASSERT_NE(dialog, nullptr);
            title = dialog->windowTitle();
            dialog->findChild<QLineEdit*>()->setText(QStringLiteral("After"));
            for (QPushButton* b : dialog->findChildren<QPushButton*>())
                if (b->text() == QLatin1String(c.button))
                    b->click();
        });
        EXPECT_EQ(mgr->editName(nullptr, QStringLiteral("New name:")), QString::fromLatin1(c.result));
        EXPECT_EQ(title, "Rename Display");
        EXPECT_EQ(mgr->getName(), QString::fromLatin1(c.result));
    }
}
