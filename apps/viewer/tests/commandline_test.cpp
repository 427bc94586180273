#include "commandline.h"

#include <gtest/gtest.h>

TEST(CommandLine, ReadsOptions)
{
    ViewerOptions o;
    QString error;
    ASSERT_TRUE(
        CommandLine::parse({"--offscreen", "--run-for", "2.5", "--store-on-exit", "--screenshot=s.png",
                            "--snapshot-dir", "snaps", "--settings", "v.ini", "--connect", "[::1]:7020", "lab.json"},
                           &o, &error))
        << qPrintable(error);
    EXPECT_TRUE(o.offscreen);
    EXPECT_DOUBLE_EQ(o.runFor, 2.5);
    EXPECT_TRUE(o.storeOnExit);
    EXPECT_EQ(o.screenshot, QStringLiteral("s.png"));
    EXPECT_EQ(o.snapshotDir, QStringLiteral("snaps"));
    EXPECT_EQ(o.settingsFile, QStringLiteral("v.ini"));
    EXPECT_EQ(o.connectHost, QStringLiteral("::1"));
    EXPECT_EQ(o.connectPort, 7020);
    EXPECT_EQ(o.layoutFile, QStringLiteral("lab.json"));

    ViewerOptions r;
    ASSERT_TRUE(CommandLine::parse({"--replay", "scan.dat", "--layout=lab.json"}, &r, &error)) << qPrintable(error);
    EXPECT_EQ(r.replayFile, QStringLiteral("scan.dat"));
    EXPECT_EQ(r.layoutFile, QStringLiteral("lab.json"));

    ViewerOptions d;
    ASSERT_TRUE(CommandLine::parse({}, &d, &error));
    EXPECT_TRUE(d.layoutFile.isEmpty() && d.connectHost.isEmpty());
    EXPECT_LT(d.runFor, 0);
}

TEST(CommandLine, RefusesBadArguments)
{
    struct Case
    {
        QStringList args;
        const char* message;
    };
    const Case cases[] = {
        {{"--connect", "localhost"}, "HOST:PORT"},
        {{"--connect", "localhost:0"}, "HOST:PORT"},
        {{"--connect", "localhost:65536"}, "HOST:PORT"},
        {{"--connect", "::1:80"}, "HOST:PORT"},
        {{"--connect"}, "needs a value"},
        {{"--run-for", "-1"}, "--run-for -1"},
        {{"--run-for", "soon"}, "--run-for soon"},
        {{"--offscreen=1"}, "takes no value"},
        {{"--frobnicate"}, "unknown argument \"--frobnicate\""},
        {{"a.json", "b.json"}, "unknown argument \"b.json\""},
        {{"--screenshot="}, "non-empty value"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(qPrintable(c.args.join(QLatin1Char(' '))));
        ViewerOptions o;
        o.screenshot = QStringLiteral("untouched");
        QString error;
        EXPECT_FALSE(CommandLine::parse(c.args, &o, &error));
        EXPECT_TRUE(error.contains(QLatin1String(c.message))) << qPrintable(error);
        EXPECT_EQ(o.screenshot, QStringLiteral("untouched"));
    }
}
