#include "routing/unionplugin.h"

#include "framework/logging.h"
#include "routing/forkplugin.h"
#include "utilif/algo.h"

#include <QTimer>
#include <algorithm>
#include <climits>
#include <cmath>

const GPlugin::PluginDescriptor UnionPlugin::_descriptor(
    QStringLiteral("Union"),
    QStringLiteral("Merge data stream with a copy of another one for a parametric curve display"), 0x1108,
    unionFactory);

GPlugin* unionFactory(QWidget* parent, QString name)
{
    return new UnionPlugin(parent, std::move(name));
}

namespace {

constexpr int inactiveEncoding = 255;

// A signed 24-bit number in bits 0 to 23 (bit 23 the sign); bits 24 to 31 are not part of it.
inline int signed24(int w)
{
    return int(quint32(w) << 8) >> 8;
}

// Stream index of output sample `sample` of A words each. The chain's indices are ints: the word index wraps at the
// largest multiple of A below 2^31, so that index / A stays the sample number within a wrap.
inline int wordIndex(qint64 sample, int a)
{
    const qint64 wrap = (qint64(INT_MAX) + 1) / a * a;
    qint64 w = (sample * a) % wrap;
    if (w < 0)
        w += wrap;
    return int(w);
}

// The extent of a parametric x axis of `points` points whose raw positions count in units of 1/physVal of `unit`:
// the span of the axis in that unit, moved to the prefix that keeps it an integer of six significant digits or more
// (a plain rescale to a mantissa below 1000 would round 1.5 to 2).
int parametricExtent(int physVal, int* unit)
{
    double extent = double(UnionPlugin::parametricPoints - 1) / std::max(1, physVal);
    algoRescaleUnit(&extent, unit);
    const int code = *unit;
    const int power = (code & 0xff) - 128;
    if (code >= 0x80 && power >= -6 && power <= 6) {
        int p = power;
        while (std::fabs(extent) < 1e6 && p > -6) {
            extent *= 1000.0;
            --p;
        }
        while (std::fabs(extent) > 2e9 && p < 6) {
            extent /= 1000.0;
            ++p;
        }
        *unit = (code & ~0xff) | (128 + p);
    }
    return std::max(1, algoNearest(extent));
}

bool isUnit(StreamFormat::Property p)
{
    return p == StreamFormat::UnitX || p == StreamFormat::UnitZ || p == StreamFormat::UnitVal;
}

template <int A> void interleaveFixed(const int* const* src, int samples, int* out)
{
    for (int s = 0; s < samples; ++s)
        for (int j = 0; j < A; ++j)
            out[s * A + j] = src[j][s];
}

void interleave(const int* const* src, int a, int samples, int* out)
{
    switch (a) {
    case 1:
        std::copy(src[0], src[0] + samples, out);
        break;
    case 2:
        interleaveFixed<2>(src, samples, out);
        break;
    case 3:
        interleaveFixed<3>(src, samples, out);
        break;
    case 4:
        interleaveFixed<4>(src, samples, out);
        break;
    default:
        for (int s = 0; s < samples; ++s)
            for (int j = 0; j < a; ++j)
                out[s * a + j] = src[j][s];
    }
}

} // namespace

UnionPlugin::UnionPlugin(QWidget* parent, QString name) : GPlugin(parent, std::move(name), &_descriptor)
{
    // Forks that exist already pair as soon as the page has connected our signals.
    QTimer::singleShot(0, this, [this] { announce(); });
}

UnionPlugin::~UnionPlugin()
{
    for (int i = 1; i < inputCount; ++i) {
        Input& in = inputs[i];
        if (in.held && in.fork)
            in.fork->assignInput(nullptr, -1);
        in.fork = nullptr;
        in.held = false;
    }
}

void UnionPlugin::announce()
{
    emit searchPartner(name, this);
}

void UnionPlugin::report(const QString& text)
{
    qCWarning(lcRouting).noquote() << text;
    emit statusChanged(text, -1, 2);
}

void UnionPlugin::checkForPartner(QString partnerName, GPlugin* ptr)
{
    if (!ptr) {
        announce();
        return;
    }
    // A fork that searches for us: answer through its own pairing.
    if (partnerName == name) {
        if (auto* fork = qobject_cast<ForkPlugin*>(ptr))
            fork->checkForPartner(name, this);
    }
}

int UnionPlugin::getInputsUsed() const
{
    int used = 0;
    for (int i = 1; i < inputCount; ++i)
        if (present(i))
            used = i;
    return used;
}

ForkPlugin* UnionPlugin::getFork(int input) const
{
    return input >= 1 && input < inputCount && inputs[input].held ? inputs[input].fork.data() : nullptr;
}

void UnionPlugin::resetInput(Input& in)
{
    in.ring.clear();
    in.fixCarryIndex = -1;
    in.pairCarryIndex = -1;
}

int UnionPlugin::setPartner(ForkPlugin* fork, int input)
{
    if (!fork)
        return -1;
    for (int i = 1; i < inputCount; ++i)
        if (present(i) && inputs[i].fork == fork)
            return i;
    // A fork behind us would feed our own output back into us.
    for (GPlugin* p = successor; p; p = p->getSuccessor()) {
        if (p == fork) {
            report(QStringLiteral("Union %1: fork %2 follows the union in its own chain and is not paired.")
                       .arg(name, fork->getName()));
            return -1;
        }
    }
    auto lowestFree = [this](int except) {
        for (int i = 1; i < inputCount; ++i)
            if (i != except && !present(i))
                return i;
        return -1;
    };
    auto take = [this](int n, ForkPlugin* f, bool explicitly) {
        Input& in = inputs[n];
        in.fork = f;
        in.held = true;
        in.explicitly = explicitly;
        in.format.clear();
        resetInput(in);
        in.reportedOverflow = in.reportedEncoding = in.reportedMerge = in.reported64 = false;
    };

    int n = -1;
    if (input >= 1 && input < inputCount) {
        Input& in = inputs[input];
        if (present(input) && in.explicitly)
            return -1;
        ForkPlugin* displaced = present(input) ? in.fork.data() : nullptr;
        n = input;
        take(n, fork, true);
        if (displaced) {
            // An explicit index wins over an automatic choice; the fork that had the input moves on.
            const int m = lowestFree(n);
            if (m > 0)
                take(m, displaced, false);
            else
                report(QStringLiteral("Union %1: fork %2 gave input %3 to fork %4, which asks for it by index; no "
                                      "other input is free.")
                           .arg(name, displaced->getName())
                           .arg(n)
                           .arg(fork->getName()));
            displaced->assignInput(m > 0 ? this : nullptr, m);
        }
    } else if (input == -1) {
        n = lowestFree(-1);
        if (n < 0)
            return -1;
        take(n, fork, false);
    } else {
        return -1;
    }
    // Words kept so far were waiting for partners of the old set of inputs.
    for (Input& in : inputs)
        resetInput(in);
    fork->assignInput(this, n);
    mergeMeta();
    return n;
}

void UnionPlugin::releasePartner(ForkPlugin* fork)
{
    if (!fork)
        return;
    for (int i = 1; i < inputCount; ++i) {
        Input& in = inputs[i];
        if (in.held && in.fork == fork) {
            in.fork = nullptr;
            in.held = false;
            in.explicitly = false;
            in.format.clear();
            for (Input& other : inputs)
                resetInput(other);
            fork->assignInput(nullptr, -1);
            mergeMeta();
            return;
        }
    }
}

// ---- options ----

void UnionPlugin::setOption(QString key, QString value)
{
    const QString k = key.toLower();
    const QString v = value.trimmed();
    bool ok = false;
    if (k == QLatin1String("mode")) {
        static const char* const names[] = {"transparent", "parametric", "fpsxy", "multiline"};
        int m = -1;
        for (int i = 0; i < 4; ++i)
            if (v.compare(QLatin1String(names[i]), Qt::CaseInsensitive) == 0)
                m = i;
        if (m < 0) {
            report(QStringLiteral("Union %1: unknown mode \"%2\"; the mode stays unchanged.").arg(name, value));
            return;
        }
        if (Mode(m) == mode)
            return;
        mode = Mode(m);
        // Words kept for the old mode mean something else now.
        for (Input& in : inputs)
            resetInput(in);
        arrivalSample = 0;
        mergeMeta();
    } else if (k == QLatin1String("forceddatamatch")) {
        const int n = v.toInt(&ok, 0);
        if (ok) {
            forcedDataMatch = n;
            mergeMeta();
        }
    } else if (k == QLatin1String("debug64format")) {
        const int n = v.toInt(&ok, 0);
        if (ok)
            debug64 = n != 0;
    } else if (k == QLatin1String("fix64format")) {
        const int n = v.toInt(&ok, 0);
        if (ok) {
            fix64 = n != 0;
            for (Input& in : inputs)
                in.fixCarryIndex = -1;
        }
    } else if (k == QLatin1String("masterchannel")) {
        const int n = v.toInt(&ok, 0);
        if (!ok)
            return;
        if (n < -1 || n >= inputCount) {
            report(QStringLiteral("Union %1: master channel %2 is outside -1 to 7 and is ignored.").arg(name).arg(n));
            return;
        }
        masterChannel = n;
        mergeMeta();
    }
}

// ---- properties ----

void UnionPlugin::setInputProperty(int input, StreamFormat::Property p, int value)
{
    if (input < 0 || input >= inputCount || !present(input) || p < 0 || p >= StreamFormat::PropertyCount)
        return;
    Input& in = inputs[input];
    if (!in.format.set(p, value))
        return;
    if (p == StreamFormat::Encoding) {
        // A new encoding is worth a new message.
        in.reportedEncoding = false;
        in.reportedMerge = false;
    }
    formatChanged();
}

void UnionPlugin::formatChanged()
{
    mergeMeta();
}

void UnionPlugin::setDataOrder(int input, GPlugin::DataOrder order)
{
    setInputProperty(input, StreamFormat::Order, int(order));
}
void UnionPlugin::setDataEncoding(int input, GPlugin::DataEncoding encoding)
{
    setInputProperty(input, StreamFormat::Encoding, int(encoding));
}
void UnionPlugin::setDataRangeX(int input, int value)
{
    setInputProperty(input, StreamFormat::RangeX, value);
}
void UnionPlugin::setDataRangeY(int input, int value)
{
    setInputProperty(input, StreamFormat::RangeY, value);
}
void UnionPlugin::setDataOffsetX(int input, int value)
{
    setInputProperty(input, StreamFormat::OffsetX, value);
}
void UnionPlugin::setDataOffsetY(int input, int value)
{
    setInputProperty(input, StreamFormat::OffsetY, value);
}
void UnionPlugin::setDataOffsetVal(int input, int value)
{
    setInputProperty(input, StreamFormat::OffsetVal, value);
}
void UnionPlugin::setDataPhysX(int input, int value)
{
    setInputProperty(input, StreamFormat::PhysX, value);
}
void UnionPlugin::setDataPhysY(int input, int value)
{
    setInputProperty(input, StreamFormat::PhysY, value);
}
void UnionPlugin::setDataPhysVal(int input, int value)
{
    setInputProperty(input, StreamFormat::PhysVal, value);
}
void UnionPlugin::setDataUnitX(int input, int value)
{
    setInputProperty(input, StreamFormat::UnitX, value);
}
void UnionPlugin::setDataUnitVal(int input, int value)
{
    setInputProperty(input, StreamFormat::UnitVal, value);
}

#define ORVIK_UNION_SETTER(setter, Type, prop)                                                                         \
    void UnionPlugin::setter(Type v)                                                                                   \
    {                                                                                                                  \
        setInputProperty(0, StreamFormat::prop, int(v));                                                               \
    }

ORVIK_UNION_SETTER(setDataOrder, GPlugin::DataOrder, Order)
ORVIK_UNION_SETTER(setDataEncoding, GPlugin::DataEncoding, Encoding)
ORVIK_UNION_SETTER(setDataBinning, int, Binning)
ORVIK_UNION_SETTER(setDataRangeX, int, RangeX)
ORVIK_UNION_SETTER(setDataRangeY, int, RangeY)
ORVIK_UNION_SETTER(setDataRangeZ, int, RangeZ)
ORVIK_UNION_SETTER(setDataOffsetX, int, OffsetX)
ORVIK_UNION_SETTER(setDataOffsetY, int, OffsetY)
ORVIK_UNION_SETTER(setDataOffsetZ, int, OffsetZ)
ORVIK_UNION_SETTER(setDataOffsetVal, int, OffsetVal)
ORVIK_UNION_SETTER(setDataPhysX, int, PhysX)
ORVIK_UNION_SETTER(setDataPhysY, int, PhysY)
ORVIK_UNION_SETTER(setDataPhysZ, int, PhysZ)
ORVIK_UNION_SETTER(setDataPhysVal, int, PhysVal)
ORVIK_UNION_SETTER(setDataPhysValNumerator, int, PhysValNumerator)
ORVIK_UNION_SETTER(setDataTrigger, GPlugin::DataTrigger, Trigger)
ORVIK_UNION_SETTER(setDataRotation, int, Rotation)
ORVIK_UNION_SETTER(setDataUnitX, int, UnitX)
ORVIK_UNION_SETTER(setDataUnitZ, int, UnitZ)
ORVIK_UNION_SETTER(setDataUnitVal, int, UnitVal)
ORVIK_UNION_SETTER(setFixXY, bool, FixXY)
ORVIK_UNION_SETTER(setDataScanSpeed, int, ScanSpeed)
#undef ORVIK_UNION_SETTER

void UnionPlugin::updateActiveChannels()
{
    master = -1;
    if (masterChannel >= 0 && masterChannel < inputCount && present(masterChannel) &&
        encodingOf(masterChannel) != inactiveEncoding)
        master = masterChannel;
    for (int i = 0; master < 0 && i < inputCount; ++i)
        if (present(i) && encodingOf(i) != inactiveEncoding)
            master = i;
    active.clear();
    if (master < 0)
        return;
    const StreamFormat& m = inputs[master].format;
    for (int i = 0; i < inputCount; ++i) {
        if (!present(i) || encodingOf(i) == inactiveEncoding)
            continue;
        Input& in = inputs[i];
        const StreamFormat& f = in.format;
        if (f.value(StreamFormat::Encoding) != m.value(StreamFormat::Encoding)) {
            if (!in.reportedEncoding)
                report(QStringLiteral("Union %1: input %2 has encoding %3, the master input %4; it is not merged.")
                           .arg(name)
                           .arg(i)
                           .arg(f.value(StreamFormat::Encoding))
                           .arg(m.value(StreamFormat::Encoding)));
            in.reportedEncoding = true;
            continue;
        }
        // Inputs merge when they measure the same quantity on the same scale, unless "forceddatamatch" says to
        // merge them anyway.
        const bool agree = f.value(StreamFormat::UnitVal) == m.value(StreamFormat::UnitVal) &&
                           f.value(StreamFormat::PhysVal) == m.value(StreamFormat::PhysVal) &&
                           f.value(StreamFormat::OffsetVal) == m.value(StreamFormat::OffsetVal);
        if (agree || forcedDataMatch != 0)
            active.append(i);
    }
}

void UnionPlugin::sendProperty(StreamFormat::Property p, int value)
{
    if (isUnit(p) && value == 0)
        return;
    if (!successor || (sent.isSet(p) && sent.value(p) == value))
        return;
    sent.set(p, value);
    StreamFormat::deliver(successor, p, value);
}

void UnionPlugin::sendMetaX(GPlugin::DataOrder order, int rangeX, int offsetX, int physX, int unitX,
                            GPlugin::DataEncoding encoding)
{
    sendProperty(StreamFormat::Order, int(order));
    sendProperty(StreamFormat::UnitX, unitX);
    if (rangeX > 0)
        sendProperty(StreamFormat::RangeX, rangeX);
    if (physX > 0)
        sendProperty(StreamFormat::PhysX, physX);
    sendProperty(StreamFormat::OffsetX, offsetX);
    sendProperty(StreamFormat::Encoding, int(encoding));
}

void UnionPlugin::sendMetaVal(int unitVal, int physVal, int offsetVal)
{
    sendProperty(StreamFormat::UnitVal, unitVal);
    if (physVal > 0)
        sendProperty(StreamFormat::PhysVal, physVal);
    sendProperty(StreamFormat::OffsetVal, offsetVal);
}

void UnionPlugin::mergeMeta()
{
    updateActiveChannels();
    ready = master >= 0 && !active.isEmpty();
    if (!ready)
        return;
    const StreamFormat& m = inputs[master].format;
    switch (mode) {
    case transparent:
        for (int p = 0; p < StreamFormat::PropertyCount; ++p)
            if (m.isSet(StreamFormat::Property(p)))
                sendProperty(StreamFormat::Property(p), m.value(StreamFormat::Property(p)));
        break;
    case parametric:
    case fpsxy: {
        // x: the position source's raw values; y: the values of input 0.
        const StreamFormat& pos = inputs[mode == fpsxy ? 0 : 1].format;
        const StreamFormat& val = inputs[0].format;
        int unitX = pos.value(StreamFormat::UnitVal, 0);
        const int physX = parametricExtent(pos.value(StreamFormat::PhysVal, 1), &unitX);
        sendMetaX(GPlugin::linear, parametricPoints, 0, physX, unitX, GPlugin::Int32Enc);
        sendMetaVal(val.value(StreamFormat::UnitVal, 0), val.value(StreamFormat::PhysVal, 0),
                    val.value(StreamFormat::OffsetVal, 0));
        if (val.isSet(StreamFormat::PhysValNumerator))
            sendProperty(StreamFormat::PhysValNumerator, val.value(StreamFormat::PhysValNumerator));
        break;
    }
    case multiline: {
        const int a = active.size();
        // One curve per active input: encoding 1 with a channel mask of A bits.
        const int encoding = a > 1 ? 1 | (((1 << a) - 1) << 8) : m.value(StreamFormat::Encoding);
        sendMetaX(m.order(), m.rangeX(), m.value(StreamFormat::OffsetX), m.value(StreamFormat::PhysX),
                  m.value(StreamFormat::UnitX), GPlugin::DataEncoding(encoding));
        sendMetaVal(m.value(StreamFormat::UnitVal), m.value(StreamFormat::PhysVal), m.value(StreamFormat::OffsetVal));
        if (m.isSet(StreamFormat::PhysValNumerator))
            sendProperty(StreamFormat::PhysValNumerator, m.value(StreamFormat::PhysValNumerator));
        break;
    }
    }
}

// ---- data ----

void UnionPlugin::init()
{
    initInput(0);
}

void UnionPlugin::initInput(int input)
{
    if (input < 0 || input >= inputCount || !present(input))
        return;
    resetInput(inputs[input]);
    // The output restarts with the own chain's stream, or in transparent mode with the stream that passes.
    if (mode == transparent ? input == master : input == 0)
        GPlugin::init();
}

void UnionPlugin::setDataOdd(const int* data, int count, int index)
{
    if (mode == transparent && master == 0)
        GPlugin::setDataOdd(data, count, index);
}

void UnionPlugin::setData(const int* data, int count, int index)
{
    setData(0, data, count, index);
}

bool UnionPlugin::indexPairing() const
{
    if (forcedDataMatch != 0)
        return true;
    const int order = master >= 0 ? inputs[master].format.value(StreamFormat::Order) : 0;
    return order != GPlugin::linear && order != 7;
}

int UnionPlugin::check64Format(const int* data, int count)
{
    if (!data || count <= 0)
        return 0;
    int bad = count % 2;
    for (int i = 0; i + 1 < count; i += 2)
        if (data[i] < 0 || data[i + 1] >= 0)
            ++bad;
    return bad;
}

void UnionPlugin::store(int input, const int* data, int count, int index)
{
    Input& in = inputs[input];
    // Merges by arrival ignore the stream index: every block continues the input's queue.
    const bool kept = indexPairing() ? in.ring.add(data, count, index) : in.ring.append(data, count);
    if (!kept && !in.reportedOverflow) {
        report(QStringLiteral("Union %1: a block of %2 words on input %3 is larger than the buffer of %4 words; only "
                              "its newest %4 words are merged.")
                   .arg(name)
                   .arg(count)
                   .arg(input)
                   .arg(RingBuffer::capacity));
        in.reportedOverflow = true;
    }
}

void UnionPlugin::setData(int input, const int* data, int count, int index)
{
    if (input < 0 || input >= inputCount || !present(input) || !data || count <= 0)
        return;
    if (busy) {
        if (!reportedLoop)
            report(QStringLiteral("Union %1: input %2 is fed by the union's own output; its data is dropped.")
                       .arg(name)
                       .arg(input));
        reportedLoop = true;
        return;
    }
    struct Busy
    {
        bool& b;
        explicit Busy(bool& flag) : b(flag) { b = true; }
        ~Busy() { b = false; }
    } guard(busy);

    if (mode == transparent) {
        if (input == master)
            GPlugin::setData(data, count, index);
        return;
    }

    Input& in = inputs[input];
    if (debug64) {
        const int bad = check64Format(data, count);
        if (bad > 0 && !in.reported64)
            report(QStringLiteral("Union %1: block of input %2 at index %3 breaks the 64-bit event format in %4 "
                                  "pair(s).")
                       .arg(name)
                       .arg(input)
                       .arg(index)
                       .arg(bad));
        in.reported64 = bad > 0;
    }
    if (fix64) {
        // A block that starts with the high word of a pair gets the low word that ended the previous block; a word
        // without its partner at the end of a block waits for the next one.
        fixBuffer.clear();
        qint64 first = index;
        int from = 0;
        if (count >= 2 && data[0] < 0 && data[1] >= 0) {
            if (in.fixCarryIndex >= 0 && in.fixCarryIndex + 1 == index) {
                fixBuffer.push_back(in.fixCarry);
                first = index - 1;
            } else {
                from = 1; // its low word is lost
                first = qint64(index) + 1;
            }
        }
        fixBuffer.insert(fixBuffer.end(), data + from, data + count);
        in.fixCarryIndex = -1;
        if (fixBuffer.size() % 2 != 0) {
            in.fixCarry = fixBuffer.back();
            in.fixCarryIndex = first + qint64(fixBuffer.size()) - 1;
            fixBuffer.pop_back();
        }
        if (fixBuffer.empty() || first < INT_MIN || first > INT_MAX)
            return;
        data = fixBuffer.data();
        count = int(fixBuffer.size());
        index = int(first);
    }

    if (!ready || active.isEmpty())
        return;
    switch (mode) {
    case transparent:
        break;
    case parametric:
        // Values wait for positions only while a fork supplies them.
        if (input > 1 || !present(1))
            return;
        if ((encodingOf(input) & 0xff) != 0) {
            if (!in.reportedMerge)
                report(QStringLiteral("Union %1: input %2 has encoding %3; parametric curves take plain 32-bit words.")
                           .arg(name)
                           .arg(input)
                           .arg(encodingOf(input)));
            in.reportedMerge = true;
            return;
        }
        store(input, data, count, index);
        if (indexPairing())
            pairParametricByIndex(index, count);
        else
            pairParametricByArrival();
        break;
    case fpsxy:
        if (input == 0)
            convertFpsxy(data, count, index);
        break;
    case multiline:
        if (!active.contains(input))
            return;
        if ((encodingOf(master) & 0xff) != 0) {
            if (!in.reportedMerge)
                report(QStringLiteral("Union %1: encoding %2 cannot be merged into lines; plain 32-bit words only.")
                           .arg(name)
                           .arg(encodingOf(master)));
            in.reportedMerge = true;
            return;
        }
        store(input, data, count, index);
        if (indexPairing())
            mergeMultiline(index, count);
        else
            mergeMultilineHeuristic(index, count);
        break;
    }
}

void UnionPlugin::pairParametricByIndex(int index, int count)
{
    const RingBuffer& values = inputs[0].ring;
    const RingBuffer& positions = inputs[1].ring;
    const qint64 end = std::min<qint64>(qint64(index) + count, qint64(INT_MAX) + 1);
    qint64 k = index;
    while (k < end) {
        int runV = 0, runP = 0;
        const int* v = values.find(int(k), &runV);
        const int* p = positions.find(int(k), &runP);
        if (!v || !p) {
            // An input that holds nothing from k on ends the walk; one that starts later moves k to its start.
            if ((!v && runV == RingBuffer::beyondRun) || (!p && runP == RingBuffer::beyondRun))
                break;
            k += std::max(v ? 0 : runV, p ? 0 : runP);
            continue;
        }
        const int r = int(std::min<qint64>(std::min(runV, runP), end - k));
        for (int i = 0; i < r; ++i) {
            int value = v[i];
            GPlugin::setData(&value, 1, p[i]);
        }
        k += r;
    }
}

void UnionPlugin::pairParametricByArrival()
{
    // The oldest unpaired word of each input make a point, whichever input arrived first; paired words are dropped,
    // and an input that runs ahead keeps at most a ring's worth of words.
    RingBuffer& values = inputs[0].ring;
    RingBuffer& positions = inputs[1].ring;
    while (!values.isEmpty() && !positions.isEmpty()) {
        int runV = 0, runP = 0;
        const int* v = values.getOldest(&runV);
        const int* p = positions.getOldest(&runP);
        const int r = std::min(runV, runP);
        for (int i = 0; i < r; ++i) {
            int value = v[i];
            GPlugin::setData(&value, 1, p[i]);
        }
        values.killOldest(r);
        positions.killOldest(r);
    }
}

void UnionPlugin::convertFpsxy(const int* data, int count, int index)
{
    // Every pair of words is one point, a position and then a value. A pair that the previous block cut is completed
    // with this block's first word.
    Input& in = inputs[0];
    int i = 0;
    if (in.pairCarryIndex >= 0 && in.pairCarryIndex + 1 == index) {
        int value = signed24(data[0]);
        GPlugin::setData(&value, 1, signed24(in.pairCarry));
        i = 1;
    }
    in.pairCarryIndex = -1;
    for (; i + 1 < count; i += 2) {
        int value = signed24(data[i + 1]);
        GPlugin::setData(&value, 1, signed24(data[i]));
    }
    if (i < count) {
        in.pairCarry = data[i];
        in.pairCarryIndex = qint64(index) + i;
    }
}

void UnionPlugin::emitMerged(const int* const* sources, int samples, qint64 sample)
{
    const int a = active.size();
    const size_t words = size_t(samples) * size_t(a);
    if (mergeBuffer.size() < words)
        mergeBuffer.resize(words);
    interleave(sources, a, samples, mergeBuffer.data());
    GPlugin::setData(mergeBuffer.data(), int(words), wordIndex(sample, a));
}

void UnionPlugin::mergeMultiline(int index, int /*count*/)
{
    // Walks the indices from the block's start while every active input holds them; the block's own input ends
    // the walk at its newest word.
    const int a = active.size();
    if (a == 0)
        return;
    const int* sources[inputCount];
    qint64 k = index;
    for (;;) {
        int r = RingBuffer::beyondRun;
        bool jumped = false;
        for (int j = 0; j < a; ++j) {
            int run = 0;
            const int* p = inputs[active[j]].ring.find(int(k), &run);
            if (!p) {
                if (run == RingBuffer::beyondRun)
                    return;
                k += run; // before this input's oldest word: start there
                jumped = true;
                break;
            }
            sources[j] = p;
            r = std::min(r, run);
        }
        if (k > INT_MAX)
            return;
        if (jumped)
            continue;
        emitMerged(sources, r, k);
        k += r;
        for (int j = 0; j < a; ++j)
            inputs[active[j]].ring.killOlder(int(std::min<qint64>(k, INT_MAX)));
        if (k > INT_MAX)
            return;
    }
}

void UnionPlugin::mergeMultilineHeuristic(int, int)
{
    // Inputs whose indices do not line up (independent linear streams) are merged by arrival: sample s of the
    // output holds the s-th word of every active input since the merge began. An input that stops holds the merge;
    // the others keep their newest words in their rings meanwhile.
    const int a = active.size();
    if (a == 0)
        return;
    const int* sources[inputCount];
    for (;;) {
        int r = RingBuffer::beyondRun;
        for (int j = 0; j < a; ++j) {
            int run = 0;
            const int* p = inputs[active[j]].ring.getOldest(&run);
            if (!p)
                return;
            sources[j] = p;
            r = std::min(r, run);
        }
        emitMerged(sources, r, arrivalSample);
        arrivalSample += r;
        for (int j = 0; j < a; ++j)
            inputs[active[j]].ring.killOldest(r);
    }
}
