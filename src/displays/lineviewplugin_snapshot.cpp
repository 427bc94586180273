#include "displays/lineviewplugin.h"

#include "snapshot/snapshotmgr.h"
#include "utilif/error.h"
#include "utilif/wholefile.h"

#include <QDateTime>
#include <QDir>
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
    // The message names the last file written, or the first that failed.
    auto report = [&](const QString& fn, bool written) {
        if (msg && ok)
            *msg = (written ? QStringLiteral("Snapshot written to ") : QStringLiteral("Failed to write snapshot to ")) +
                   fn;
        ok = ok && written;
    };
    // Names are claimed while their files are written, so that a concurrent store picks another one.
    auto store = [&](const QString& ext, auto&& save) {
        const QString fn = SnapshotMgr::reserveFilename(base, ext, QString());
        if (fn.isEmpty()) {
            report(QDir::toNativeSeparators(base + QLatin1Char('.') + ext.toLower()), false);
            return;
        }
        report(fn, save(fn));
        SnapshotMgr::releaseFilename(fn);
    };
    if (what & SnapshotMgr::typeGraphics)
        store(sb->graphicType, [&](const QString& fn) {
            return WholeFile::saveImage(sb->image, fn, sb->graphicType.toLatin1(), 70);
        });
    if ((what & SnapshotMgr::typeCsvDisplayed) && !sb->curves.isEmpty())
        store(QStringLiteral("csv"), [&](const QString& fn) { return saveSnapshotCsv(sb, fn); });
    return ok;
}

bool LineViewPlugin::saveSnapshotCsv(const LvSnBuffer* sbuf, QString fn)
{
    if (!sbuf || sbuf->curves.isEmpty())
        return false;
    WholeFile file(fn);
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
    return ts.status() == QTextStream::Ok && file.commit();
}
