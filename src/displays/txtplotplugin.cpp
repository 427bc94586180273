#include "displays/txtplotplugin.h"

#include "framework/streamformat.h"
#include "utilif/qthelpers.h"

#include <QLabel>
#include <QTimer>

const GPlugin::PluginDescriptor
    TxtPlotPlugin::_descriptor(QStringLiteral("Text Display"),
                               QStringLiteral("Numerical text display, cyclically updated."), 0x1001, txtPlotFactory);

GPlugin* txtPlotFactory(QWidget* parent, QString name)
{
    return new TxtPlotPlugin(parent, name);
}

namespace {

constexpr int kRefreshMs = 330;
constexpr int kSunkenPanel = QFrame::Panel | QFrame::Sunken; // 50

void setPointSize(QLabel* label, int size)
{
    QFont font = label->font();
    font.setPointSize(qMax(1, size));
    label->setFont(font);
}

} // namespace

TxtPlotPlugin::TxtPlotPlugin(QWidget* parent, QString name) : GPlugin(parent, std::move(name), &_descriptor)
{
    label = new QLabel(QStringLiteral("0.0000"), parent);
    label->setFrameStyle(kSunkenPanel);
    // Size the field for a sample number at double size; fonts set in pixels have no point size to double.
    if (label->font().pointSize() > 0)
        setPointSize(label, label->font().pointSize() * 2);
    const QSize hint = label->sizeHint();
    label->setFixedWidth(hint.width() * 2);
    label->setFixedHeight(int(hint.height() * 1.5));
    label->setText(QString());
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setAutoFillBackground(true);
    qth_setWidgetColor(label, Qt::white, false);

    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &TxtPlotPlugin::updateDisplay);
    timer->start(kRefreshMs);
    init();
}

TxtPlotPlugin::~TxtPlotPlugin()
{
    delete label.data();
}

QWidget* TxtPlotPlugin::getWidget()
{
    return label;
}

void TxtPlotPlugin::setFrameStyle(int style)
{
    if (label)
        label->setFrameStyle(style);
}

void TxtPlotPlugin::init()
{
    hasValue = false;
    if (label)
        label->setText(QString());
    GPlugin::init();
}

void TxtPlotPlugin::setOption(QString key, QString value)
{
    bool ok = false;
    const int v = value.toInt(&ok, 0);
    if (!ok || !label)
        return;
    key = key.toLower();
    if (key == QLatin1String("style")) {
        label->setAutoFillBackground(v == 0);
        label->setFrameStyle(v == 0 ? kSunkenPanel : QFrame::NoFrame);
    } else if (key == QLatin1String("fontincr")) {
        // The constructor doubled the size: half of it is the size before, plus the increment.
        // A sum beyond any font size is held to one a screen can show, without overflowing on the way.
        if (label->font().pointSize() > 0)
            setPointSize(label, int(qBound<qint64>(1, qint64(label->font().pointSize()) / 2 + v, 1000)));
    } else if (key == QLatin1String("digits")) {
        // Doubles carry 17 significant digits at most; larger requests change nothing.
        step = 1.0;
        for (int i = 0; i < qMin(v, 17); ++i)
            step /= 10.0;
        updateDisplay();
    }
}

void TxtPlotPlugin::setData(const int* data, int count, int index)
{
    if (count > 0 && data) {
        hasValue = true;
        qint64 raw;
        if (encoding == 6 && count >= 2) {
            // 48-bit value in two 24-bit words, low word first; bit 31 marks the high word of a pair. When the
            // second-last word is a high word, the last one starts a pair that is not complete yet.
            quint32 a = quint32(data[count - 2]);
            quint32 b = quint32(data[count - 1]);
            if (count > 2 && (a & 0x80000000u)) {
                a = quint32(data[count - 3]);
                b = quint32(data[count - 2]);
            }
            raw = StreamFormat::decode48(a, b);
        } else {
            raw = data[count - 1];
        }
        // 64-bit difference: a 32-bit one would wrap for values near the ends of the range.
        value = double(raw - offsetVal) * factor;
    }
    GPlugin::setData(data, count, index);
}

void TxtPlotPlugin::setDataOffsetVal(int v)
{
    offsetVal = v;
    GPlugin::setDataOffsetVal(v);
}

void TxtPlotPlugin::setDataPhysVal(int v)
{
    if (v != 0)
        factor = 1.0 / v;
    GPlugin::setDataPhysVal(v);
}

void TxtPlotPlugin::setDataUnitVal(int unit)
{
    unitVal = unit;
    GPlugin::setDataUnitVal(unit);
}

void TxtPlotPlugin::setDataEncoding(GPlugin::DataEncoding e)
{
    encoding = int(e) & ~0xFF00;
    GPlugin::setDataEncoding(e);
}

void TxtPlotPlugin::updateDisplay()
{
    if (!hasValue || !label)
        return;
    // A resolution of step * value makes the text resolve one part in 1/step of the value (at least 4 digits).
    label->setText(GPlugin::formatValue(value, unitVal, step * value, ' ', 4));
}
