#include "displays/lineviewplugin.h"

#include "snapshot/snapshotmgr.h"
#include "utilif/error.h"

#include <QDateTime>
#include <QFile>
#include <QTextStream>
#include <memory>
#include <new>

// ---- snapshots ----

SnapshotBuffer* LineViewPlugin::snapshotData(int what)
{
    try {
        auto buf = std::make_unique<LvSnBuffer>();
        buf->unitX = meta.unitXText.mid(1);
        buf->unitY = meta.unitValText.mid(1);
        buf->displayName = snapshotMgr->getName().isEmpty() ? name : snapshotMgr->getName();
        const PrefData* prefs = GPlugin::prefs();
        if (prefs->graphicType && !prefs->graphicType->isEmpty())
            buf->graphicType = *prefs->graphicType;
        buf->csvColumns = prefs->csvFlag && *prefs->csvFlag;
        if (what & SnapshotMgr::typeCsvDisplayed) {
            buf->curves.reserve(view->getCurves().size());
            for (const LvCurve* c : view->getCurves())
                buf->curves.append(*c);
        }
        if (what & SnapshotMgr::typeGraphics)
            buf->image = view->getPixmap().toImage();
        return buf.release();
    } catch (const std::bad_alloc&) {
        throw OomError();
    }
}

bool LineViewPlugin::saveSnapshot(QString base, int what, const SnapshotBuffer* buf, QString* msg)
{
    std::unique_ptr<SnapshotBuffer> own;
    if (!buf) {
        own.reset(snapshotData(what));
        buf = own.get();
    }
    const auto* sb = dynamic_cast<const LvSnBuffer*>(buf);
    if (!sb)
        return false;
    bool ok = true;
    auto report = [&](const QString& fn, bool written) {
        if (msg)
            *msg = (written ? QStringLiteral("Snapshot written to ") : QStringLiteral("Failed to write snapshot to ")) +
                   fn;
        ok = ok && written;
    };
    if (what & SnapshotMgr::typeGraphics) {
        const QString format = sb->graphicType;
        const QString fn = SnapshotMgr::completeFilename(base, format, QString());
        if (fn.isEmpty())
            ok = false;
        else
            report(fn, sb->image.save(fn, format.toLatin1().constData(), 70));
    }
    if ((what & SnapshotMgr::typeCsvDisplayed) && !sb->curves.isEmpty()) {
        const QString fn = SnapshotMgr::completeFilename(base, QStringLiteral("csv"), QString());
        if (fn.isEmpty())
            ok = false;
        else
            report(fn, saveSnapshotCsv(sb, fn));
    }
    return ok;
}

bool LineViewPlugin::saveSnapshotCsv(const LvSnBuffer* sbuf, QString fn)
{
    if (!sbuf || sbuf->curves.isEmpty())
        return false;
    QFile file(fn);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QTextStream ts(&file);
    ts.setCodec("ISO-8859-1");
    ts.setRealNumberPrecision(9);
    const QVector<LvCurve>& curves = sbuf->curves;
    ts << "# Orvik line view snapshot\n";
    ts << "# " << QDateTime::currentDateTime().toString(Qt::ISODate) << "\n";
    ts << "# display:  " << sbuf->displayName << "\n";
    ts << "# x-pixels: " << curves.first().points.size() << "\n";
    ts << "# x-unit:   " << sbuf->unitX << "\n";
    ts << "# y-unit:   " << sbuf->unitY << "\n";
    ts << "X ; Y";
    for (int k = 2; k <= curves.size(); ++k)
        ts << " ; Y[" << k << "]";
    ts << "\n";
    if (!sbuf->csvColumns) {
        for (int k = 0; k < curves.size(); ++k) {
            if (k > 0)
                ts << "# curve " << k + 1 << "\n";
            for (const QPointF& p : curves.at(k).points)
                ts << p.x() << " ; " << p.y() << "\n";
        }
    } else {
        const LvPoints& firstPts = curves.first().points;
        const int rows = firstPts.size();
        for (int r = 0; r < rows; ++r) {
            ts << firstPts.at(r).x();
            for (const LvCurve& c : curves) {
                // A reversed line is written in the order of the first curve's x.
                const int idx = c.isReverse() ? rows - 1 - r : r;
                ts << " ; ";
                if (idx >= 0 && idx < c.points.size())
                    ts << c.points.at(idx).y();
            }
            ts << "\n";
        }
    }
    ts.flush();
    return ts.status() == QTextStream::Ok && file.error() == QFileDevice::NoError;
}
