#include "utilif/savable.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class Owner : public QObject
{
    Q_OBJECT
public:
    QStringList heard;
public slots:
    void changeSetting(QString key, QString value) { heard << key + QLatin1Char('=') + value; }
};

// Each test uses its own file so that values do not leak between tests.
struct SettingsFile
{
    SettingsFile() { Savable::setStorageFile(dir.filePath(QStringLiteral("s.ini"))); }
    QTemporaryDir dir;
};

// Writes a value to the file as an earlier session would have.
void storeEarlier(const QString& key, const QString& group, int value)
{
    Savable w(nullptr, key, group, false, nullptr);
    w.setValue(value);
}

} // namespace

TEST(Savable_Persist, ValueLandsInTheIniFileAtOnce)
{
    SettingsFile file;
    Owner owner;
    Savable s(&owner, QStringLiteral("ChannelNumber"), QStringLiteral("Page 1"), false,
              "1changeSetting(QString,QString)");
    s.setValue(7);
    QSettings ini(file.dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
    EXPECT_EQ(ini.value(QStringLiteral("Page 1/ChannelNumber")).toString(), "7");
    EXPECT_EQ(s.toInt(), 7);
    s.setValue(2.5);
    EXPECT_DOUBLE_EQ(s.toDouble(), 2.5);
}

TEST(Savable_Persist, SlashInGroupStaysOneSection)
{
    SettingsFile file;
    Savable a(nullptr, QStringLiteral("K"), QStringLiteral("a/b"), false, nullptr);
    a.setValue(QStringLiteral("x"));
    Savable b(nullptr, QStringLiteral("K"), QStringLiteral("a/b"), false, nullptr);
    EXPECT_EQ(b.storedValue(), "x");
}

TEST(Savable_Sharing, OthersOfTheSameSettingHearAChange)
{
    SettingsFile file;
    Owner o1, o2, o3;
    Savable a(&o1, QStringLiteral("Key"), QStringLiteral("G"), false, "1changeSetting(QString,QString)");
    Savable b(&o2, QStringLiteral("Key"), QStringLiteral("G"), false, "1changeSetting(QString,QString)");
    Savable other(&o3, QStringLiteral("Key"), QStringLiteral("H"), false, "1changeSetting(QString,QString)");
    a.setValue(QStringLiteral("v1"));
    EXPECT_TRUE(o1.heard.isEmpty()); // the setter's own owner is not told
    EXPECT_EQ(o2.heard, QStringList{"Key=v1"});
    EXPECT_TRUE(o3.heard.isEmpty()); // another group
    EXPECT_EQ(b.value(), "v1");
}

TEST(Savable_Sharing, RestoreAndFreeze)
{
    SettingsFile file;
    Owner o1, o2;
    Savable a(&o1, QStringLiteral("Key"), QStringLiteral("G"), false, "1changeSetting(QString,QString)");
    Savable b(&o2, QStringLiteral("Key"), QStringLiteral("G"), false, "1changeSetting(QString,QString)");
    b.setValue(QStringLiteral("mine"));
    a.setValue(QStringLiteral("theirs"));
    EXPECT_EQ(b.value(), "theirs");
    b.restore();
    EXPECT_EQ(b.value(), "mine");

    b.freeze();
    o2.heard.clear();
    a.setValue(QStringLiteral("again"));
    EXPECT_TRUE(o2.heard.isEmpty());
    EXPECT_EQ(b.value(), "mine");
}

TEST(Savable_Restore, StoredValueReachesTheOwnerFromTheEventLoop)
{
    SettingsFile file;
    storeEarlier(QStringLiteral("ChannelNumber"), QStringLiteral("P"), 3);
    Owner owner;
    Savable s(&owner, QStringLiteral("ChannelNumber"), QStringLiteral("P"), true, "1changeSetting(QString,QString)");
    s.setValue(-1);
    EXPECT_TRUE(owner.heard.isEmpty()); // not during construction
    QTRY_COMPARE(owner.heard, QStringList{"ChannelNumber=3"});
}

TEST(Savable_Restore, OwnerGoneBeforeDeliveryIsSafe)
{
    SettingsFile file;
    storeEarlier(QStringLiteral("K"), QStringLiteral("P"), 3);
    {
        Owner owner;
        Savable s(&owner, QStringLiteral("K"), QStringLiteral("P"), true, "1changeSetting(QString,QString)");
    }
    QCoreApplication::processEvents(); // the pending delivery must notice that both are gone
    SUCCEED();
}

#include "savable_test.moc"
