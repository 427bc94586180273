// Shared test main: a QApplication (offscreen, set by the CTest registration) and a private settings file so that
// tests never touch the user's configuration.
#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "framework/gplugin.h"
#include "utilif/savable.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("OrvikTests"));
    QTemporaryDir settingsDir;
    Savable::setStorageFile(settingsDir.filePath(QStringLiteral("settings.ini")));
    registerOrvikMetaTypes();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
