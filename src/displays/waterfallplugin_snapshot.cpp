#include "displays/waterfallplugin.h"

#include "displays/waterfallsnbuffer.h"
#include "snapshot/snapshotmgr.h"
#include "utilif/algo.h"
#include "utilif/error.h"
#include "utilif/wholefile.h"

#include <QDateTime>
#include <QDir>
#include <cstdio>
#include <memory>
#include <new>

namespace {

// Unit name and factor for the frame-view file: metres are written as nanometres.
QString fileUnit(int code, double* factor)
{
    QString unit = algoGetBaseUnit(code, nullptr, factor);
    if (unit == QLatin1String("m")) {
        unit = QStringLiteral("nm");
        *factor *= 1e9;
    }
    return unit;
}

QByteArray fmtG9(double v)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.9g", v);
    return QByteArray(buf);
}

} // namespace

// ---- snapshots ----

SnapshotBuffer* WaterfallPlugin::snapshotData(int kind)
{
    auto buffer = std::make_unique<WaterfallSnBuffer>();
    buffer->meta = meta;
    buffer->viewName = viewName();
    buffer->width = waterfall->rangeX;
    buffer->height = waterfall->rangeY;
    buffer->ascMatrix = GPlugin::prefs()->ascMatrix && *GPlugin::prefs()->ascMatrix;
    if (kind & SnapshotMgr::typeCsvDisplayed) {
        int* fwd = nullptr;
        int* bwd = nullptr;
        char* fwdValid = nullptr;
        char* bwdValid = nullptr;
        waterfall->getBuffers(true, &fwd, &fwdValid);
        waterfall->getBuffers(false, &bwd, &bwdValid);
        if (fwd && bwd) {
            const size_t n = size_t(buffer->width) * size_t(buffer->height);
            try {
                buffer->values.resize(2 * n);
                buffer->valid.resize(2 * n);
            } catch (const std::bad_alloc&) {
                throw OomError();
            }
            std::copy(fwd, fwd + n, buffer->values.begin());
            std::copy(bwd, bwd + n, buffer->values.begin() + n);
            std::copy(fwdValid, fwdValid + n, buffer->valid.begin());
            std::copy(bwdValid, bwdValid + n, buffer->valid.begin() + n);
        }
    }
    buffer->hasFwd = !waterfall->getEmpty(true);
    buffer->hasBwd = !waterfall->getEmpty(false);
    if (kind & SnapshotMgr::typeGraphics) {
        buffer->fwdImage = makeSnapshotImg(true);
        buffer->bwdImage = makeSnapshotImg(false);
    }
    return buffer.release();
}

QImage WaterfallPlugin::makeSnapshotImg(bool fwd)
{
    if (mode3d)
        return QImage();
    const bool shown = waterfall->isForwardDisplayed();
    if (shown != fwd)
        waterfall->setDirection(fwd);
    const QImage picture = displayArea->grab().toImage();
    if (shown != fwd)
        waterfall->setDirection(shown);
    return picture;
}

bool WaterfallPlugin::saveSnapshot(QString name, int kind, const SnapshotBuffer* buffer, QString* message)
{
    const auto* buf = dynamic_cast<const WaterfallSnBuffer*>(buffer);
    if (buffer && !buf) {
        if (message)
            *message = QStringLiteral("Failed to write snapshot to ") + name;
        return false;
    }
    const bool has[2] = {buf ? buf->hasFwd : !waterfall->getEmpty(true),
                         buf ? buf->hasBwd : !waterfall->getEmpty(false)};
    bool ok = true;
    QString written;
    QString failed;
    const int types[2] = {SnapshotMgr::typeGraphics, SnapshotMgr::typeCsvDisplayed};
    for (int type : types) {
        if (!(kind & type))
            continue;
        const QString ext = type == SnapshotMgr::typeGraphics ? QStringLiteral("png") : QStringLiteral("asc");
        for (int d = 0; d < 2; ++d) {
            if (!has[d])
                continue;
            const bool fwd = d == 0;
            const QString suffix = fwd ? QStringLiteral("fwd") : QStringLiteral("bwd");
            const QString file = SnapshotMgr::reserveFilename(name, ext, suffix);
            bool done = false;
            if (!file.isEmpty()) {
                done = type == SnapshotMgr::typeGraphics ? saveSnapshotImg(buffer, file, fwd, QStringLiteral("PNG"))
                                                         : saveSnapshotAsc(buffer, file, fwd);
                SnapshotMgr::releaseFilename(file);
            }
            if (done) {
                written = file;
                continue;
            }
            ok = false;
            if (failed.isEmpty())
                failed = file.isEmpty()
                             ? QDir::toNativeSeparators(name + QLatin1Char('-') + suffix + QLatin1Char('.') + ext)
                             : file;
            if (fwd)
                break; // the backward file of this type is not attempted
        }
    }
    if (message) {
        if (!ok)
            *message = QStringLiteral("Failed to write snapshot to ") + failed;
        else if (!written.isEmpty())
            *message = QStringLiteral("Snapshot written to ") + written;
        else
            message->clear();
    }
    return ok;
}

bool WaterfallPlugin::saveSnapshotImg(const SnapshotBuffer* buffer, QString fileName, bool fwd, QString format)
{
    const auto* buf = dynamic_cast<const WaterfallSnBuffer*>(buffer);
    const QImage picture = buf ? (fwd ? buf->fwdImage : buf->bwdImage) : makeSnapshotImg(fwd);
    if (picture.isNull())
        return false;
    return WholeFile::saveImage(picture, fileName, format.toLatin1(), 70);
}

bool WaterfallPlugin::saveSnapshotAsc(const SnapshotBuffer* buffer, QString fileName, bool fwd)
{
    const auto* buf = dynamic_cast<const WaterfallSnBuffer*>(buffer);
    const WaterfallMeta& m = buf ? buf->meta : meta;
    const int w = buf ? buf->width : waterfall->rangeX;
    const int h = buf ? buf->height : waterfall->rangeY;
    const size_t n = size_t(w) * size_t(h);
    const int* values = nullptr;
    const char* valid = nullptr;
    if (buf) {
        if (buf->values.size() >= 2 * n && n > 0) {
            values = buf->values.data() + (fwd ? 0 : n);
            valid = buf->valid.data() + (fwd ? 0 : n);
        }
    } else {
        int* v = nullptr;
        char* ok = nullptr;
        waterfall->getBuffers(fwd, &v, &ok);
        values = v;
        valid = ok;
    }

    WholeFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    double xFactor = 1.0;
    double valFactor = 1.0;
    const QString xUnit = fileUnit(m.unitX, &xFactor);
    const QString valUnit = fileUnit(m.unitVal, &valFactor);
    const double multiplier = valFactor * m.valFactor;
    const QString view = buf ? buf->viewName : viewName();

    QByteArray out;
    out += "# Orvik frame view snapshot\n";
    out += "# " + QDateTime::currentDateTime().toString(Qt::ISODate).toLatin1() + "\n";
    out += "# display:   " + view.toLatin1() + (fwd ? "fwd" : "bwd") + "\n";
    out += "# x-pixels:  " + QByteArray::number(w) + "\n";
    out += "# y-pixels:  " + QByteArray::number(h) + "\n";
    out += "# x-length:  " + fmtG9(m.physX * xFactor) + "\n";
    out += "# y-length:  " + fmtG9(m.physY * xFactor) + "\n";
    out += "# x-offset:  " + fmtG9(m.offsetX * xFactor) + "\n";
    out += "# y-offset:  " + fmtG9(m.offsetY * xFactor) + "\n";
    out += "# rotation:  " + fmtG9(m.rotation * 360.0 / 65535.0) + "\n";
    out += "# x-unit:    " + xUnit.toLatin1() + "\n";
    out += "# y-unit:    " + xUnit.toLatin1() + "\n";
    out += "# z-unit:    " + valUnit.toLatin1() + "\n";
    out += "# scanspeed: " + QByteArray::number((m.scanSpeed + 500) / 1000) + "\n";
    out += "# Start of Data:\n";

    const bool matrix = buf ? buf->ascMatrix : GPlugin::prefs()->ascMatrix && *GPlugin::prefs()->ascMatrix;
    const char* sep = matrix ? "  " : "\n";
    bool good = true;
    for (int y = 0; y < h && good; ++y) {
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            const int v = values && valid && valid[i] ? values[i] : 0;
            out += fmtG9((double(v) - m.offsetVal) * multiplier);
            out += sep;
        }
        if (matrix)
            out += '\n';
        // Written line by line so that a large frame never needs its whole text in memory.
        if (out.size() > (1 << 16)) {
            good = file.write(out) == out.size();
            out.clear();
        }
    }
    if (good && !out.isEmpty())
        good = file.write(out) == out.size();
    return good && file.commit();
}
