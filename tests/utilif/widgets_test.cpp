#include "utilif/enummap.h"
#include "utilif/ithread.h"
#include "utilif/substitutablewidget.h"
#include "utilif/unitedit.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <atomic>
#include <gtest/gtest.h>

TEST(EnumMap_Parse, PlainAndNumberedEntries)
{
    EnumMap plain(QStringLiteral("Topography, Current,Phase"));
    EXPECT_EQ(plain.getCaptions(), (QStringList{"Topography", "Current", "Phase"}));
    EXPECT_EQ(plain.caption(1), "Current");
    EXPECT_EQ(plain.caption(3), "?");
    EXPECT_EQ(EnumMap::extractCaption(QStringLiteral("0=Off,5=Height,Next"), 6), "Next");
    EXPECT_EQ(EnumMap::extractCaption(QStringLiteral("0=Off,5=Height"), 1), "?");
    EXPECT_EQ(EnumMap::extractCaption(QString(), 0), "?");
    EXPECT_EQ(EnumMap(QStringLiteral(",,")).count(), 0);
}

namespace {
struct Worker : IThread
{
    std::atomic<bool> release{false};
    std::atomic<bool>* done;
    explicit Worker(std::atomic<bool>* d) : done(d) {}
    ~Worker() override { wait(); }
    void run() override
    {
        while (!release)
            IThread::sleep(1);
        IThread::sleep(20);
        *done = true;
    }
};
} // namespace

TEST(IThread_Lifetime, DeletingWaitsForRun)
{
    std::atomic<bool> done{false};
    auto* w = new Worker(&done);
    w->start();
    w->release = true;
    delete w;
    EXPECT_TRUE(done);
}

TEST(UnitEdit_Input, ParsesPrefixesAndLimits)
{
    UnitEdit edit;
    edit.configure(QStringLiteral("Hz"), ' ', 0, 6250000, 0);
    QSignalSpy spy(&edit, &UnitEdit::changed);
    struct Case
    {
        const char* typed;
        int value;
    } cases[] = {{"40000", 40000}, {"1.5 kHz", 1500}, {"2k", 2000}, {"9 MHz", 6250000}, {"-3", 0}, {"abc", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        edit.setText(QString::fromUtf8(c.typed));
        emit edit.editingFinished();
        EXPECT_EQ(edit.getValue(), c.value);
    }
    EXPECT_EQ(spy.count(), 5); // "abc" changes nothing and puts the old value back
    EXPECT_EQ(edit.text(), "0 Hz");
}

TEST(UnitEdit_Input, FactorAndOffsetApplyToTheShownValue)
{
    UnitEdit edit;
    edit.configure(QStringLiteral("V"), 'm', -1000, 1000, 0, 2.0, 10.0); // shown = raw*2 + 10 mV
    edit.setValue(5);
    EXPECT_EQ(edit.text(), "20 mV");
    edit.setText(QStringLiteral("0.03 V"));
    emit edit.editingFinished();
    EXPECT_EQ(edit.getValue(), 10); // 30 mV -> (30-10)/2
}

TEST(DblEdit_Input, EmitsDoubleAndKeepsLimits)
{
    DblEdit edit;
    edit.configure(QStringLiteral("m"), 'u', 0.0, 100.0, 4);
    QSignalSpy spy(&edit, &DblEdit::changed);
    edit.setText(QStringLiteral("12.5"));
    emit edit.editingFinished();
    EXPECT_DOUBLE_EQ(edit.getValue(), 12.5);
    edit.setText(QStringLiteral("1 m"));
    emit edit.editingFinished();
    EXPECT_DOUBLE_EQ(edit.getValue(), 100.0);
    EXPECT_EQ(spy.count(), 2);
}

TEST(SubstitutableWidget_Detach, DetachesIntoAWindowAndDocksBackInPlace)
{
    QWidget page;
    auto* layout = new QVBoxLayout(&page);
    auto* before = new QWidget;
    auto* substitute = new SubstituteWidget;
    auto* display = new SubstitutableWidget(substitute, QStringLiteral("Scan"), nullptr, nullptr, true);
    auto* after = new QWidget;
    layout->addWidget(before);
    layout->addWidget(display, 5);
    layout->addWidget(after);
    page.show();

    QAction action(nullptr);
    display->updateDetachMenuItem(&action);
    EXPECT_EQ(action.text(), "Detach Display");
    action.trigger();
    ASSERT_TRUE(display->isDetached());
    EXPECT_TRUE(display->window()->isWindow());
    EXPECT_NE(display->window(), &page);
    EXPECT_EQ(layout->indexOf(substitute), 1);
    EXPECT_EQ(layout->indexOf(display), -1);
    auto* note = substitute->findChild<QLabel*>();
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->text(), "Scan is shown in its own window");
    display->updateDetachMenuItem(&action);
    EXPECT_EQ(action.text(), "Dock Display");

    display->detachedWindow()->close(); // closing the window docks the display
    EXPECT_FALSE(display->isDetached());
    EXPECT_EQ(layout->indexOf(display), 1);
    EXPECT_EQ(layout->stretch(1), 5);
    EXPECT_EQ(layout->indexOf(substitute), -1);
    EXPECT_EQ(display->window(), &page);
}

TEST(SubstitutableWidget_Detach, DestroyedWhileDetachedTakesItsWindow)
{
    QWidget page;
    auto* layout = new QVBoxLayout(&page);
    auto* substitute = new SubstituteWidget;
    auto* display = new SubstitutableWidget(substitute, QStringLiteral("Scan"), nullptr, nullptr, true);
    layout->addWidget(display);
    display->detach();
    QPointer<QWidget> window = display->detachedWindow();
    ASSERT_TRUE(window);
    delete display;
    EXPECT_TRUE(window.isNull());
    SubstitutableWidget::moveDisplaysOnTop(false); // no dangling entries
}
