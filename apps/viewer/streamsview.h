#pragma once
// StreamsView: one row per subscribed channel with its stream health (words and frames, their rates, the time since
// the last block, index gaps, stores and replays, and whether the stream is live, stale or has sent nothing yet).
// The viewer refreshes it twice a second; the same texts make the headless summary.

#include "connection/channelhealth.h"

#include <QString>
#include <QVector>
#include <QWidget>

class Channel;
class QTableWidget;

class StreamsView : public QWidget
{
    Q_OBJECT
public:
    explicit StreamsView(QWidget* parent = nullptr);
    /// Shows the rows of `channels` (the subscribed ones, in order).
    void refresh(const QVector<Channel*>& channels);
    QTableWidget* table() const { return grid; }

    /// "live", "stale" or "no data".
    static QString stateText(const ChannelHealth& h);
    /// One line per channel for the headless summary.
    static QString summaryLine(int channel, const QString& name, const ChannelHealth& h);

private:
    QTableWidget* grid;
};
