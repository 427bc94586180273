// The filters with timers: the counter filter and the index recovery filter. Timer slots are called directly.
#include "filterchain.h"
#include "filters/counterfilter.h"
#include "filters/indexrecoveryfilter.h"
#include "utilif/unitedit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

TEST(CounterFilter_Rate, RoundedRateWithRemainderCarried)
{
    FilterChain<CounterFilter> chain;
    EXPECT_EQ(chain->getTimer()->interval(), 330);
    EXPECT_TRUE(chain->getTimer()->isActive());
    chain.feed(ramp(1000), 0);
    EXPECT_TRUE(chain.rec->calls.isEmpty()); // the words themselves do not go on
    chain->outputRate();
    EXPECT_NEAR(chain->pendingCount(), 0.1, 1e-9);
    chain->outputRate(); // no data: 0.1 words make 0.3 per second
    chain->outputRate();
    EXPECT_EQ(chain.rec->calls, QStringList({"setData 1 @0: 3030", "setData 1 @1: 0", "setData 1 @2: 0"}));
}

namespace {

// Starts near the end of the output positions instead of running through 2^29 ticks.
struct LateCounter : CounterFilter
{
    LateCounter() : CounterFilter(nullptr, QStringLiteral("c")) { outIndex = _indexRange - 2; }
};

} // namespace

TEST(CounterFilter_Rate, OutputPositionWrapsAfterTwoToThe29)
{
    LateCounter filter;
    auto* rec = new RecordingPlugin;
    filter.setSuccessor(rec);
    for (int i = 0; i < 3; ++i)
        filter.outputRate();
    EXPECT_EQ(rec->indices, QVector<int>({536870910, 536870911, 0}));
}

TEST(CounterFilter_Properties, OwnDescriptionReplacesTheIncoming)
{
    FilterChain<CounterFilter> chain;
    chain->setDataOrder(GPlugin::forBack);
    chain->setDataRangeX(512);
    chain->setDataOffsetX(-7);
    chain->setDataPhysX(99);
    chain->setDataEncoding(GPlugin::coord3d);
    chain->setDataPhysVal(33);
    chain->setDataRotation(1000);
    chain->setDataUnitX(4);
    chain->setDataUnitVal(5);
    chain->setDataRangeY(17); // not replaced
    chain->setDataScanSpeed(3);
    EXPECT_EQ(chain.rec->calls,
              QStringList({"setDataOrder 0", "setDataRangeX 1", "setDataOffsetX 0", "setDataPhysX 330",
                           "setDataEncoding 0", "setDataPhysVal 1", "setDataRotation 0", "setDataUnitX 1151",
                           "setDataUnitVal 896", "setDataRangeY 17", "setDataScanSpeed 3"}));
}

TEST(CounterFilter_Exposure, NewPeriodRestartsTimerAndTellsTheExtent)
{
    struct Case
    {
        const char* key;
        const char* value;
        int period;
        bool sent;
    };
    const Case cases[] = {{"exposure", "1000", 1000, true}, {"EXPOSURE", "50", 50, true},
                          {"exposure", "0", 330, false},    {"exposure", "-5", 330, false},
                          {"exposure", "abc", 330, false},  {"other", "1000", 330, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.key << "=" << c.value);
        FilterChain<CounterFilter> chain;
        chain->setOption(QLatin1String(c.key), QLatin1String(c.value));
        EXPECT_EQ(chain->getPeriod(), c.period);
        EXPECT_EQ(chain->getTimer()->interval(), c.period);
        EXPECT_EQ(chain.rec->calls,
                  c.sent ? QStringList({QStringLiteral("setDataPhysX %1").arg(c.period)}) : QStringList());
    }
    FilterChain<CounterFilter> chain;
    chain->setOption(QStringLiteral("exposure"), QStringLiteral("1000"));
    chain.feed(ramp(250), 0);
    chain->outputRate();
    EXPECT_EQ(chain.rec->words, QVector<int>({250}));
}

TEST(IndexRecoveryFilter_Numbering, CountsItsOwnPositionsAndRestartsOnTimeout)
{
    FilterChain<IndexRecoveryFilter> chain;
    EXPECT_EQ(chain->timeoutField()->getValue(), 250);
    EXPECT_EQ(chain->rangeField()->getValue(), 1000);
    chain.feed(ramp(10), 5000);
    chain.feed(ramp(5), -3);
    EXPECT_EQ(chain.rec->indices, QVector<int>({0, 10}));
    EXPECT_TRUE(chain->getTimer()->isActive());
    EXPECT_EQ(chain->getTimer()->interval(), 250);
    chain->dataTimeout();
    chain->dataTimeout(); // keeps firing while idle: changes nothing further
    chain.feed(ramp(2), 77);
    chain->init(); // does not restart the numbering
    chain.feed(ramp(2), 77);
    EXPECT_EQ(chain.rec->indices, QVector<int>({0, 10, 0, 2}));
}

TEST(IndexRecoveryFilter_Numbering, TimerFiresAfterTheTimeout)
{
    FilterChain<IndexRecoveryFilter> chain;
    chain->timeoutField()->setText(QStringLiteral("20 ms"));
    emit chain->timeoutField()->editingFinished();
    EXPECT_EQ(chain->getTimer()->interval(), 20);
    chain.feed(ramp(3), 0);
    bool reset = false;
    QElapsedTimer clock;
    clock.start();
    while (!reset && clock.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        reset = chain->getNextIndex() == 0;
    }
    EXPECT_TRUE(reset);
}

TEST(IndexRecoveryFilter_Properties, CyclicLineOfTheSetRange)
{
    FilterChain<IndexRecoveryFilter> chain;
    chain->setDataOrder(GPlugin::forBack);
    chain->setDataRangeX(64);
    chain->setDataOffsetX(-3);
    chain->setDataPhysX(9);
    chain->setDataUnitX(4); // not replaced
    EXPECT_EQ(chain.rec->calls, QStringList({"setDataOrder 2", "setDataRangeX 1000", "setDataOffsetX 500",
                                             "setDataPhysX 1000", "setDataUnitX 4"}));
    chain.feed(ramp(7), 0);
    chain.rec->clear();
    chain->rangeField()->setText(QStringLiteral("501"));
    emit chain->rangeField()->editingFinished();
    EXPECT_EQ(chain.rec->calls, QStringList({"setDataRangeX 501", "setDataOffsetX 250", "setDataPhysX 501"}));
    EXPECT_EQ(chain->getNextIndex(), 0);
    chain->rangeField()->setText(QStringLiteral("0")); // below the limit: held at 1
    emit chain->rangeField()->editingFinished();
    EXPECT_EQ(chain.rec->lastValue("setDataRangeX"), 1);
}
