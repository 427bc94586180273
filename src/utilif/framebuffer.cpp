#include "utilif/framebuffer.h"

#include "utilif/algo.h"
#include "utilif/error.h"
#include "utilif/wholefile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QtEndian>
#include <algorithm>
#include <stdexcept>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

namespace {
// The properties that shape the frame or the physical values.
constexpr StreamFormat::Property propOrder = StreamFormat::Order;
constexpr StreamFormat::Property propRangeX = StreamFormat::RangeX;
constexpr StreamFormat::Property propRangeY = StreamFormat::RangeY;
constexpr StreamFormat::Property propPhysX = StreamFormat::PhysX;
constexpr StreamFormat::Property propPhysY = StreamFormat::PhysY;
constexpr StreamFormat::Property propOffsetX = StreamFormat::OffsetX;
constexpr StreamFormat::Property propOffsetY = StreamFormat::OffsetY;
constexpr StreamFormat::Property propPhysVal = StreamFormat::PhysVal;
constexpr StreamFormat::Property propPhysValNumerator = StreamFormat::PhysValNumerator;
constexpr StreamFormat::Property propUnitX = StreamFormat::UnitX;
constexpr StreamFormat::Property propUnitVal = StreamFormat::UnitVal;
constexpr StreamFormat::Property propOffsetVal = StreamFormat::OffsetVal;
constexpr StreamFormat::Property propScanSpeed = StreamFormat::ScanSpeed;

constexpr int orderForFor = 3;
constexpr int orderForBack = 4;
constexpr int orderBackFor = 6;

qint64 floorMod(qint64 a, qint64 m)
{
    const qint64 r = a % m;
    return r < 0 ? r + m : r;
}

QByteArray num(double value)
{
    return std::isfinite(value) ? QByteArray::number(value, 'g', 9) : QByteArrayLiteral("NaN");
}

/// Writes `text` in pieces to keep the staging buffer small; false on the first failed write.
bool writeAll(QIODevice& file, QByteArray& text, bool final)
{
    if (!final && text.size() < (1 << 20))
        return true;
    const bool ok = file.write(text) == text.size();
    text.clear();
    return ok;
}

/// Header lines shared by the text files.
QByteArray textHeader(const QByteArray& title)
{
    QByteArray head;
    head += "# " + title + '\n';
    head += "# Date: " + QDateTime::currentDateTime().toString(Qt::ISODate).toLatin1() + '\n';
    return head;
}

/// The writers replace a file as a whole; anything but a plain file (a device, a directory) is refused, as a save
/// would otherwise swap it for a regular file.
bool usableTarget(const QString& fileName)
{
    if (fileName.isEmpty())
        return false;
    const QFileInfo info(fileName);
    return !info.exists() || (info.isFile() && !info.isSymLink());
}

int commit(WholeFile& file)
{
    return file.commit() ? FrameBuffer::saveOk : FrameBuffer::saveFailed;
}
} // namespace

qint64 FrameBuffer::_sizeLimit = qint64(1) << 30;

FrameBuffer::FrameBuffer() = default;

FrameBuffer::FrameBuffer(const FrameBuffer& other, bool fullFrame)
    : meta(other.meta), initValue(other.initValue), initKnown(other.initKnown), length(other.length), mode(other.mode),
      lineLen(other.lineLen), lines(other.lines), active(other.active), frameEnded(other.frameEnded),
      nextPosition(other.nextPosition), ringBase(other.ringBase), frameStart(other.frameStart),
      completeFrames(other.completeFrames)
{
    frameTrigger = other.frameTrigger;
    if (!fullFrame && mode != 1)
        return;
    try {
        words = other.words;
        written = other.written;
    } catch (const std::bad_alloc&) {
        throw OomError();
    }
}

FrameBuffer::~FrameBuffer()
{
    if (permFile)
        startPermCsv(QString(), QByteArray());
}

void FrameBuffer::setSizeLimit(qint64 bytes)
{
    _sizeLimit = bytes;
}

qint64 FrameBuffer::sizeLimit()
{
    return _sizeLimit;
}

qint64 FrameBuffer::computeLength(int order, int rangeX, int rangeY, int* newMode) const
{
    if (rangeX <= 0) {
        *newMode = 0;
        return 0;
    }
    if (order >= orderForFor && order <= orderBackFor) {
        *newMode = 2;
        const qint64 both = (order == orderForBack || order == orderBackFor) ? 2 : 1;
        return both * rangeX * qMax(rangeY, 1);
    }
    *newMode = 1;
    return rangeX;
}

int FrameBuffer::getMetaData(int code, int dflt) const
{
    if (code == StreamFormat::metaInit)
        return initKnown ? initValue : dflt;
    StreamFormat::Property p;
    return StreamFormat::fromMetaCode(code, &p) ? meta.value(p, dflt) : dflt;
}

QMap<int, int> FrameBuffer::metaData() const
{
    QMap<int, int> codes;
    for (int i = 0; i < StreamFormat::PropertyCount; ++i) {
        const auto p = StreamFormat::Property(i);
        if (meta.isSet(p))
            codes.insert(StreamFormat::metaCode(p), meta.value(p));
    }
    if (initKnown)
        codes.insert(StreamFormat::metaInit, initValue);
    return codes;
}

void FrameBuffer::setMetaData(int code, int value)
{
    if (code == StreamFormat::metaInit) {
        initValue = value;
        initKnown = true;
        return;
    }
    StreamFormat::Property p;
    if (!StreamFormat::fromMetaCode(code, &p))
        return; // a code without a property: nothing to keep or replay
    if (p != propOrder && p != propRangeX && p != propRangeY) {
        meta.set(p, value);
        return;
    }
    StreamFormat changed = meta;
    changed.set(p, value);
    const int order = changed.value(propOrder, 0);
    const int rangeX = changed.value(propRangeX, 0);
    const int rangeY = changed.value(propRangeY, 0);
    int newMode = 0;
    const qint64 newLength = computeLength(order, rangeX, rangeY, &newMode);
    // Words plus one bit per word for the written map; the first test keeps the product from overflowing.
    if (newLength > _sizeLimit / qint64(sizeof(qint32)) ||
        newLength * qint64(sizeof(qint32)) + newLength / 8 > _sizeLimit)
        throw OomError(QStringLiteral("Frame of %1 words exceeds the frame buffer limit").arg(newLength));
    const int newLines = newMode == 2 ? qMax(rangeY, 1) : 1;
    const bool geometryChanged =
        newLength != length || newMode != mode || qMax(rangeX, 0) != lineLen || newLines != lines;
    if (geometryChanged) {
        const qint64 oldLength = length;
        const int oldMode = mode, oldLine = lineLen, oldLines = lines;
        length = newLength;
        mode = newMode;
        lineLen = qMax(rangeX, 0);
        lines = newLines;
        try {
            allocate();
        } catch (const OomError&) {
            // The frame and the stored value stay as they were.
            length = oldLength;
            mode = oldMode;
            lineLen = oldLine;
            lines = oldLines;
            throw;
        }
    }
    meta = changed;
}

void FrameBuffer::allocate()
{
    std::vector<qint32> newWords;
    std::vector<bool> newWritten;
    if (active && length > 0) {
        try {
            newWords.assign(size_t(length), 0);
            newWritten.assign(size_t(length), false);
        } catch (const std::bad_alloc&) {
            throw OomError();
        } catch (const std::length_error&) {
            throw OomError();
        }
    }
    words.swap(newWords);
    written.swap(newWritten);
    ringBase = 0;
    frameStart = length > 0 ? nextPosition - floorMod(nextPosition, length) : nextPosition;
    completeFrames = 0;
    frameEnded = false;
}

void FrameBuffer::setActive(bool on)
{
    if (on == active)
        return;
    active = on;
    try {
        allocate();
    } catch (const OomError&) {
        active = false;
        throw;
    }
}

int FrameBuffer::addData(const int* data, int count, int index)
{
    frameEnded = false;
    if (count <= 0 || !data)
        return 0;
    const qint64 pos = index < 0 ? nextPosition : qint64(index);
    if (length <= 0) {
        nextPosition = pos + count;
        return 0;
    }
    const qint64 q = floorMod(pos, length);
    const qint64 n = qMin<qint64>(count, length - q);
    frameStart = pos - q;
    if (!words.empty()) {
        const qint64 slot = floorMod(pos - ringBase, length);
        const qint64 first = qMin(n, length - slot);
        std::memcpy(words.data() + slot, data, size_t(first) * sizeof(qint32));
        std::fill(written.begin() + slot, written.begin() + slot + first, true);
        if (first < n) {
            std::memcpy(words.data(), data + first, size_t(n - first) * sizeof(qint32));
            std::fill(written.begin(), written.begin() + (n - first), true);
        }
    }
    nextPosition = pos + n;
    if (q + n == length) {
        frameEnded = true;
        ++completeFrames;
    }
    return int(count - n);
}

bool FrameBuffer::hasWords() const
{
    return std::find(written.begin(), written.end(), true) != written.end();
}

bool FrameBuffer::getFilled() const
{
    return active && length > 0 && completeFrames > 0;
}

const int* FrameBuffer::getData(int* count, qint64* position)
{
    *count = 0;
    if (position)
        *position = 0;
    if (words.empty())
        return nullptr;
    qint64 first = frameStart;
    qint64 n = nextPosition - frameStart;
    if (completeFrames > 0) {
        first = nextPosition - length;
        n = length;
        if (first < 0) {
            first = 0;
            n = nextPosition;
        }
    }
    if (n <= 0)
        return nullptr;
    const qint64 slot = floorMod(first - ringBase, length);
    if (slot != 0) {
        std::rotate(words.begin(), words.begin() + slot, words.end());
        std::rotate(written.begin(), written.begin() + slot, written.end());
    }
    ringBase = first;
    *count = int(n);
    if (position)
        *position = first;
    return words.data();
}

FrameBuffer::ValueScale FrameBuffer::valueScale() const
{
    double factor = 1.0;
    algoGetBaseUnit(meta.value(propUnitVal, 128), nullptr, &factor);
    const int physVal = meta.value(propPhysVal, 0);
    int numerator = meta.value(propPhysValNumerator, 1);
    if (numerator == 0)
        numerator = 1;
    const double scale = physVal != 0 ? factor * numerator / physVal : factor;
    return ValueScale{double(meta.value(propOffsetVal, 0)), scale};
}

QString FrameBuffer::unitX(double* factor) const
{
    return algoGetBaseUnit(meta.value(propUnitX, 128), nullptr, factor);
}

QString FrameBuffer::unitText(StreamFormat::Property code) const
{
    return algoGetBaseUnit(meta.value(code, 128));
}

std::vector<double> FrameBuffer::framePixels(bool forward, int* voids) const
{
    const int w = lineLen, h = lines;
    std::vector<double> pixels(size_t(w) * size_t(h), std::numeric_limits<double>::quiet_NaN());
    const int order = meta.value(propOrder, 0);
    const int perRow = (order == orderForBack || order == orderBackFor) ? 2 : 1;
    // Even frames are scanned bottom up and odd frames top down; files hold the top row first.
    const bool oddFrame = length > 0 && nextPosition > 0 && ((nextPosition - 1) / length) % 2 == 1;
    const ValueScale phys = valueScale();
    for (int r = 0; r < h; ++r) {
        const int row = oddFrame ? r : h - 1 - r;
        for (int k = 0; k < perRow; ++k) {
            const qint64 line = qint64(r) * perRow + k;
            bool fwd;
            if (order == orderForFor)
                fwd = true;
            else if (order == orderForBack)
                fwd = line % 2 == 0;
            else if (order == orderBackFor)
                fwd = line % 2 == 1;
            else
                fwd = false;
            if (fwd != forward)
                continue;
            for (int c = 0; c < w; ++c) {
                const qint64 slot = floorMod(line * w + c - ringBase, length);
                if (!written[size_t(slot)])
                    continue;
                const int x = fwd ? c : w - 1 - c;
                pixels[size_t(row) * w + x] = phys(words[size_t(slot)]);
            }
        }
    }
    *voids = int(std::count_if(pixels.begin(), pixels.end(), [](double v) { return std::isnan(v); }));
    return pixels;
}

int FrameBuffer::saveLineCsv(const QString& fileName, const QByteArray& title) const
{
    if (!usableTarget(fileName) || !hasWords() || mode != 1)
        return saveFailed;
    try {
        WholeFile file(fileName);
        if (!file.open(QIODevice::WriteOnly))
            return saveFailed;
        double factorX = 1.0;
        const QString xUnit = unitX(&factorX);
        const ValueScale phys = valueScale();
        const int physX = meta.value(propPhysX, 0);
        const double dx = (physX != 0 && lineLen >= 2) ? double(physX) / (lineLen - 1) * factorX : 1.0;
        const double x0 = physX != 0 ? meta.value(propOffsetX, 0) * factorX : 0.0;
        QByteArray text = textHeader(title);
        text += "# Unit of X: " + (physX != 0 ? xUnit : QString()).toLatin1() + '\n';
        text += "# Unit of Y: " + unitText(propUnitVal).toLatin1() + '\n';
        text += "X ; Y\n";
        for (int c = 0; c < lineLen; ++c) {
            const size_t slot = size_t(floorMod(c - ringBase, length));
            if (!written[slot])
                continue;
            text += num(x0 + c * dx) + " ; " + num(phys(words[slot])) + '\n';
            if (!writeAll(file, text, false))
                return saveFailed;
        }
        if (!writeAll(file, text, true))
            return saveFailed;
        return commit(file);
    } catch (const std::bad_alloc&) {
        return saveOom;
    }
}

int FrameBuffer::saveFrameAsc(const QString& fileName, const QByteArray& title, bool forward, bool matrix) const
{
    if (!usableTarget(fileName) || !hasWords() || mode != 2)
        return saveFailed;
    try {
        int voids = 0;
        const std::vector<double> pixels = framePixels(forward, &voids);
        WholeFile file(fileName);
        if (!file.open(QIODevice::WriteOnly))
            return saveFailed;
        double factorX = 1.0;
        const QString xUnit = unitX(&factorX);
        QByteArray text = textHeader(title);
        text += "# x-pixels: " + QByteArray::number(lineLen) + '\n';
        text += "# y-pixels: " + QByteArray::number(lines) + '\n';
        text += "# x-length: " + num(meta.value(propPhysX, 0) * factorX) + '\n';
        text += "# y-length: " + num(meta.value(propPhysY, 0) * factorX) + '\n';
        text += "# x-offset: " + num(meta.value(propOffsetX, 0) * factorX) + '\n';
        text += "# y-offset: " + num(meta.value(propOffsetY, 0) * factorX) + '\n';
        text += "# xy-unit: " + xUnit.toLatin1() + '\n';
        text += "# z-unit: " + unitText(propUnitVal).toLatin1() + '\n';
        text += QByteArray("# direction: ") + (forward ? "fwd" : "bwd") + '\n';
        text += "# void pixels: " + QByteArray::number(voids) + '\n';
        text += "# Start of Data:\n";
        for (int r = 0; r < lines; ++r) {
            for (int c = 0; c < lineLen; ++c) {
                if (matrix && c > 0)
                    text += "  ";
                text += num(pixels[size_t(r) * lineLen + c]);
                if (!matrix)
                    text += '\n';
            }
            if (matrix)
                text += '\n';
            if (!writeAll(file, text, false))
                return saveFailed;
        }
        if (!writeAll(file, text, true))
            return saveFailed;
        return commit(file);
    } catch (const std::bad_alloc&) {
        return saveOom;
    }
}

int FrameBuffer::saveFrameBcr(const QString& fileName, const QByteArray& title, bool forward) const
{
    if (!usableTarget(fileName) || !hasWords() || mode != 2)
        return saveFailed;
    try {
        int voids = 0;
        const std::vector<double> pixels = framePixels(forward, &voids);
        WholeFile file(fileName);
        if (!file.open(QIODevice::WriteOnly))
            return saveFailed;
        double factorX = 1.0;
        const QString xUnit = unitX(&factorX);
        QString unitZ = unitText(propUnitVal);
        // Gwyddion needs a physical size; without one the pixel pitch is 1.
        double xlength = meta.value(propPhysX, 0) * factorX;
        double ylength = meta.value(propPhysY, 0) * factorX;
        if (xlength <= 0 || ylength <= 0) {
            xlength = lineLen;
            ylength = lines;
        }
        QByteArray head;
        head += "fileformat = bcrf\n";
        head += "headersize = 2048\n";
        head += "xpixels = " + QByteArray::number(lineLen) + '\n';
        head += "ypixels = " + QByteArray::number(lines) + '\n';
        head += "xlength = " + num(xlength) + '\n';
        head += "ylength = " + num(ylength) + '\n';
        head += "xunit = " + xUnit.toLatin1() + '\n';
        head += "yunit = " + xUnit.toLatin1() + '\n';
        head += "zunit = " + unitZ.toLatin1() + '\n';
        head += "xlabel = X\n";
        head += "ylabel = Y\n";
        head += "zlabel = Z\n";
        head += "scanspeed = " + QByteArray::number(meta.value(propScanSpeed, 0)) + '\n';
        head += "intelmode = 1\n";
        head += "bit2nm = 1\n";
        head += "xoffset = " + num(meta.value(propOffsetX, 0) * factorX) + '\n';
        head += "yoffset = " + num(meta.value(propOffsetY, 0) * factorX) + '\n';
        head += "voidpixels = " + QByteArray::number(voids) + '\n';
        QByteArray cleanTitle = title;
        cleanTitle.replace('\n', ' ').replace('\0', ' ');
        head += "# " + cleanTitle.left(512) + (forward ? " fwd" : " bwd") + '\n';
        head.append(2048 - head.size(), '\0');
        if (file.write(head) != head.size())
            return saveFailed;
        QByteArray block;
        block.reserve(1 << 20);
        for (size_t i = 0; i < pixels.size(); ++i) {
            const float value = float(pixels[i]);
            quint32 bits;
            std::memcpy(&bits, &value, sizeof bits);
            char le[4];
            qToLittleEndian(bits, le);
            block.append(le, 4);
            if (!writeAll(file, block, false))
                return saveFailed;
        }
        if (!writeAll(file, block, true))
            return saveFailed;
        return commit(file);
    } catch (const std::bad_alloc&) {
        return saveOom;
    }
}

int FrameBuffer::startPermCsv(const QString& fileName, const QByteArray& title)
{
    int result = saveOk;
    if (permFile) {
        flushPermCsv();
        permFile->close();
        if (permFailed || permFile->error() != QFileDevice::NoError)
            result = saveFailed;
        permFile.reset();
        flushTimer.reset();
    }
    if (fileName.isEmpty())
        return result;
    auto file = std::make_unique<QFile>(fileName);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append))
        return saveFailed;
    QByteArray head;
    if (file->size() == 0) {
        head = textHeader(title);
        head += "# Unit of Y: raw words\n";
        head += "Index ; Value\n";
    }
    if (file->write(head) != head.size() || !file->flush())
        return saveFailed;
    permFile = std::move(file);
    permIndex = 0;
    permDirty = false;
    permFailed = false;
    sinceFlush.start();
    flushTimer = std::make_unique<QTimer>();
    flushTimer->setInterval(1000);
    flushTimer->callOnTimeout([this] { flushPermCsv(); });
    flushTimer->start();
    return saveOk;
}

QString FrameBuffer::permLogName() const
{
    return permFile ? permFile->fileName() : QString();
}

int FrameBuffer::savePermCsv(const int* data, int count, int index)
{
    if (!permFile)
        return saveNothing;
    if (permFailed)
        return saveFailed;
    if (count <= 0 || !data)
        return saveOk;
    qint64 i = index < 0 ? permIndex : index;
    try {
        QByteArray text;
        text.reserve(count * 16);
        for (int k = 0; k < count; ++k, ++i) {
            text += QByteArray::number(i);
            text += " ; ";
            text += QByteArray::number(data[k]);
            text += '\n';
        }
        if (permFile->write(text) != text.size()) {
            permFailed = true;
            return saveFailed;
        }
    } catch (const std::bad_alloc&) {
        return saveOom;
    }
    permIndex = i;
    permDirty = true;
    // The timer needs an event loop; a busy stream flushes here as well.
    if (sinceFlush.hasExpired(1000))
        flushPermCsv();
    return saveOk;
}

void FrameBuffer::flushPermCsv()
{
    if (!permFile || !permDirty)
        return;
    if (!permFile->flush())
        permFailed = true;
    permDirty = false;
    sinceFlush.restart();
}
