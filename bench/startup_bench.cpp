// Viewer start-up with many pages: parse a layout of N pages (each a "Text Display" on one of four channels, half of
// them naming their channel), build the pages, connect them to the manager, show the window and run the deferred
// work of the event loop. Items are pages, so pages per second at 500 and at 8000 read as a ratio: the work per page
// must not grow with the number of pages.
#include "layoutfile.h"
#include "viewerwindow.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

QByteArray layoutOfPages(int count)
{
    QJsonArray pages;
    for (int i = 0; i < count; ++i) {
        QJsonObject page{{QStringLiteral("name"), QStringLiteral("Page%1").arg(i)},
                         {QStringLiteral("chain"),
                          QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("Text Display")},
                                                 {QStringLiteral("name"), QStringLiteral("Value%1").arg(i)}}}}};
        if (i % 2 == 0)
            page.insert(QStringLiteral("channel"), i % 4);
        pages.append(page);
    }
    const QJsonObject root{{QStringLiteral("channels"), QJsonObject{{QStringLiteral("count"), 4}}},
                           {QStringLiteral("window"), QJsonObject{{QStringLiteral("arrange"), QStringLiteral("grid")},
                                                                  {QStringLiteral("columns"), 4}}},
                           {QStringLiteral("pages"), pages}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

void BM_LoadLayout(benchmark::State& state)
{
    const int count = int(state.range(0));
    const QByteArray json = layoutOfPages(count);
    for (auto _ : state) {
        ViewerLayout layout;
        QString error;
        auto window = std::make_unique<ViewerWindow>();
        if (!LayoutFile::parse(json, QStringLiteral("bench"), &layout, &error) || !window->loadLayout(layout, &error)) {
            state.SkipWithError(error.toUtf8().constData());
            break;
        }
        window->show();
        QApplication::processEvents();
        state.PauseTiming();
        window.reset();
        QApplication::processEvents();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_LoadLayout)->Arg(500)->Arg(8000)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
