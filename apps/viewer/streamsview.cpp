#include "streamsview.h"

#include "connection/channel.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const char* const columns[] = {"Channel",  "Name",       "State", "Words",  "Words/s", "Blocks", "Frames",
                               "Frames/s", "Last block", "Gaps",  "Missed", "Stored",  "Replays"};

QString seconds(qint64 ms)
{
    return ms < 0 ? QStringLiteral("-") : QStringLiteral("%1 s").arg(ms / 1000.0, 0, 'f', 1);
}

QString rate(double r)
{
    return r >= 100 ? QString::number(qint64(r + 0.5)) : QString::number(r, 'f', 1);
}

} // namespace

StreamsView::StreamsView(QWidget* parent) : QWidget(parent), grid(new QTableWidget(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(grid);
    grid->setColumnCount(int(std::size(columns)));
    QStringList headers;
    for (const char* c : columns)
        headers << QString::fromLatin1(c);
    grid->setHorizontalHeaderLabels(headers);
    grid->verticalHeader()->hide();
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionMode(QAbstractItemView::NoSelection);
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    grid->setToolTip(
        QStringLiteral("Stream health of the subscribed channels, refreshed twice a second.\n"
                       "Stale: no data for longer than the frame period (two seconds without frames).\n"
                       "Gaps: blocks whose position was not the one expected; Missed: positions skipped."));
}

QString StreamsView::stateText(const ChannelHealth& h)
{
    switch (h.state()) {
    case ChannelHealth::NoData:
        return QStringLiteral("no data");
    case ChannelHealth::Live:
        return QStringLiteral("live");
    case ChannelHealth::Stale:
        return QStringLiteral("stale");
    }
    return QString();
}

void StreamsView::refresh(const QVector<Channel*>& channels)
{
    grid->setRowCount(channels.size());
    for (int row = 0; row < channels.size(); ++row) {
        const Channel* c = channels.at(row);
        const ChannelHealth h = c->health();
        const QStringList cells{QString::number(c->getNumber()),
                                c->getName(),
                                stateText(h),
                                QString::number(h.words),
                                rate(h.wordsPerSecond),
                                QString::number(h.blocks),
                                QString::number(h.frames),
                                rate(h.framesPerSecond),
                                seconds(h.msSinceLastBlock),
                                QString::number(h.indexGaps),
                                QString::number(h.wordsMissed),
                                QString::number(h.framesStored),
                                QString::number(h.replays)};
        for (int col = 0; col < cells.size(); ++col) {
            QTableWidgetItem* item = grid->item(row, col);
            if (!item) {
                item = new QTableWidgetItem;
                item->setTextAlignment(col >= 3 ? int(Qt::AlignRight | Qt::AlignVCenter)
                                                : int(Qt::AlignLeft | Qt::AlignVCenter));
                grid->setItem(row, col, item);
            }
            item->setText(cells.at(col));
        }
        QTableWidgetItem* state = grid->item(row, 2);
        const ChannelHealth::State s = h.state();
        state->setBackground(s == ChannelHealth::Live    ? QColor(0x2e, 0x9d, 0x3a)
                             : s == ChannelHealth::Stale ? QColor(0xe0, 0x8a, 0x00)
                                                         : QColor(Qt::transparent));
        state->setForeground(s == ChannelHealth::NoData ? QColor(Qt::gray) : QColor(Qt::white));
    }
}

QString StreamsView::summaryLine(int channel, const QString& name, const ChannelHealth& h)
{
    return QStringLiteral("Channel %1 (%2): %3, %4 words in %5 blocks, %6 frames, %7 gaps (%8 words missed), "
                          "%9 stored, %10 replays, %11")
        .arg(channel)
        .arg(name, stateText(h))
        .arg(h.words)
        .arg(h.blocks)
        .arg(h.frames)
        .arg(h.indexGaps)
        .arg(h.wordsMissed)
        .arg(h.framesStored)
        .arg(h.replays)
        .arg(h.msSinceLastBlock < 0 ? QStringLiteral("no block yet")
                                    : QStringLiteral("last block %1 ago").arg(seconds(h.msSinceLastBlock)));
}
