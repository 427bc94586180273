// Shared main of the benchmark programs: offscreen Qt (displays and panels are widgets) and a private settings file,
// so that a benchmark never touches the user's configuration.
#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include "utilif/savable.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir settings;
    Savable::setStorageFile(settings.filePath(QStringLiteral("bench.ini")));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
