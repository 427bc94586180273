// orvik-simserver: the acquisition-server simulator as a program.
#include "simserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvik-simserver"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVIK_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Acquisition-server simulator speaking the telegram protocol."));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption portOpt({QStringLiteral("p"), QStringLiteral("port")},
                               QStringLiteral("TCP port; 0 picks a free one (default 0)."), QStringLiteral("port"),
                               QStringLiteral("0"));
    QCommandLineOption addrOpt(QStringLiteral("listen"), QStringLiteral("Address to listen on (default 127.0.0.1)."),
                               QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    QCommandLineOption chanOpt({QStringLiteral("c"), QStringLiteral("channels")},
                               QStringLiteral("Channels in order, from scan, sine, lines, tags, lissx, lissy "
                                              "(default scan,sine,lines,tags,lissx,lissy)."),
                               QStringLiteral("list"), QStringLiteral("scan,sine,lines,tags,lissx,lissy"));
    QCommandLineOption rateOpt({QStringLiteral("r"), QStringLiteral("rates")},
                               QStringLiteral("Words per second per channel, comma separated; 0 = as fast as the "
                                              "connection takes them (default: each stream's own rate)."),
                               QStringLiteral("list"));
    QCommandLineOption pixOpt(QStringLiteral("pixels"), QStringLiteral("Pixels per scan line (default 128)."),
                              QStringLiteral("n"), QStringLiteral("128"));
    QCommandLineOption blockOpt(QStringLiteral("block"), QStringLiteral("Data words per telegram (default 1019)."),
                                QStringLiteral("n"), QStringLiteral("1019"));
    QCommandLineOption dropOpt(QStringLiteral("drop"),
                               QStringLiteral("Leave out every N-th data block of channel CH (repeatable)."),
                               QStringLiteral("CH:N"));
    QCommandLineOption pauseOpt(QStringLiteral("pause"),
                                QStringLiteral("Send nothing more on channel CH, from the start or after START "
                                               "seconds (repeatable)."),
                                QStringLiteral("CH[:START]"));
    QCommandLineOption stallOpt(QStringLiteral("stall"),
                                QStringLiteral("After START seconds send no data for DURATION seconds."),
                                QStringLiteral("START:DURATION"));
    parser.addOptions({portOpt, addrOpt, chanOpt, rateOpt, pixOpt, blockOpt, dropOpt, pauseOpt, stallOpt});
    parser.process(app);

    QTextStream err(stderr);
    bool ok = false;
    const uint port = parser.value(portOpt).toUInt(&ok);
    if (!ok || port > 65535) {
        err << "invalid port: " << parser.value(portOpt) << "\n";
        return 2;
    }
    QList<SimServer::Stream> streams;
    for (const QString& name : parser.value(chanOpt).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString n = name.trimmed().toLower();
        if (n == QLatin1String("scan"))
            streams.append(SimServer::Scan);
        else if (n == QLatin1String("sine"))
            streams.append(SimServer::Sine);
        else if (n == QLatin1String("lines"))
            streams.append(SimServer::Lines);
        else if (n == QLatin1String("tags"))
            streams.append(SimServer::TimeTags);
        else if (n == QLatin1String("lissx"))
            streams.append(SimServer::LissajousX);
        else if (n == QLatin1String("lissy"))
            streams.append(SimServer::LissajousY);
        else {
            err << "unknown channel type: " << name << " (scan, sine, lines, tags, lissx, lissy)\n";
            return 2;
        }
    }
    if (streams.isEmpty()) {
        err << "no channels\n";
        return 2;
    }
    const QHostAddress address(parser.value(addrOpt));
    if (address.isNull()) {
        err << "invalid address: " << parser.value(addrOpt) << "\n";
        return 2;
    }

    SimServer sim;
    sim.setBlockWords(parser.value(blockOpt).toInt());
    sim.setScanPixels(parser.value(pixOpt).toInt());
    sim.setChannels(streams);
    if (parser.isSet(rateOpt)) {
        const QStringList rates = parser.value(rateOpt).split(QLatin1Char(','));
        for (int n = 0; n < rates.size() && n < streams.size(); ++n) {
            const double r = rates[n].toDouble(&ok);
            if (!ok || r < 0) {
                err << "invalid rate: " << rates[n] << "\n";
                return 2;
            }
            sim.setRate(n, r);
        }
    }
    QString faultError;
    if (!SimServer::applyFaults(&sim, parser.values(dropOpt), parser.values(pauseOpt), parser.value(stallOpt),
                                &faultError)) {
        err << faultError << "\n";
        return 2;
    }
    if (!sim.listen(quint16(port), address)) {
        err << "cannot listen on " << address.toString() << ":" << port << ": " << sim.errorString() << "\n";
        return 1;
    }
    QTextStream(stdout) << "orvik-simserver listening on " << address.toString() << ":" << sim.serverPort() << "\n"
                        << Qt::flush;
    return app.exec();
}
