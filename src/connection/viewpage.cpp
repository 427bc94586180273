#include "connection/viewpage.h"

#include "connection/channel.h"
#include "connection/datagroup.h"
#include "snapshot/snapshotmgr.h"
#include "snapshot/snapshotrequester.h"
#include "utilif/enummap.h"
#include "utilif/error.h"
#include "utilif/qthelpers.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <new>

namespace {

constexpr int iconSize = 18;
constexpr int periodUnit = 0x47e; // µs: the period counts steps of 2.5 µs

// The four button pictures, drawn rather than shipped as files.
enum class Glyph { Now, Next, Always, Config };

QIcon makeGlyph(Glyph glyph)
{
    QPixmap pm(iconSize, iconSize);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 1.5));
    // A document with a folded corner stands for "store to file".
    auto page = [&p](QColor fill) {
        const QPointF shape[] = {{3, 2}, {11, 2}, {15, 6}, {15, 16}, {3, 16}};
        p.setBrush(fill);
        p.drawPolygon(shape, 5);
    };
    switch (glyph) {
    case Glyph::Now:
        page(QColor(250, 250, 250));
        p.setBrush(QColor(200, 40, 40));
        p.drawEllipse(QPointF(9, 11), 3, 3);
        break;
    case Glyph::Next:
        page(QColor(250, 250, 250));
        p.drawLine(QPointF(6, 10), QPointF(12, 10));
        p.drawLine(QPointF(9, 7), QPointF(12, 10));
        p.drawLine(QPointF(9, 13), QPointF(12, 10));
        break;
    case Glyph::Always:
        page(QColor(250, 250, 250));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(5, 7, 8, 8), 30 * 16, 300 * 16);
        p.drawLine(QPointF(12, 8), QPointF(13, 11));
        break;
    case Glyph::Config:
        p.setBrush(QColor(120, 120, 140));
        for (int k = 0; k < 4; ++k) {
            p.save();
            p.translate(9, 9);
            p.rotate(45 * k);
            p.drawRect(QRectF(-1.5, -8, 3, 16));
            p.restore();
        }
        p.drawEllipse(QPointF(9, 9), 5, 5);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(9, 9), 2, 2);
        break;
    }
    return QIcon(pm);
}

} // namespace

ViewPage::ViewPage(QWidget* parent, QString name, const QMap<int, DataGroup>& groups, bool leftAligned)
    : QFrame(parent), groups(&groups),
      channelSetting(this, QStringLiteral("ChannelNumber"), name, true, SLOT(changeSetting(QString,QString)), nullptr),
      pageName(name)
{
    channelSetting.setValue(-1);
    requester = new SnapshotRequester(name, groups, this, this);

    auto* layout = new QVBoxLayout(this);
    qth_setLayoutParams(layout, 0, 0);
    pluginLayout = layout;
    if (leftAligned) {
        auto* row = new QHBoxLayout;
        qth_setLayoutParams(row, 0, 0);
        layout->addLayout(row);
        auto* inner = new QVBoxLayout;
        qth_setLayoutParams(inner, 0, 0);
        row->addLayout(inner, 10);
        row->addStretch(100);
        outerLayout = layout;
        pluginLayout = inner;
    }

    controlFrame = new QFrame(this);
    controlLayout = new QHBoxLayout(controlFrame);
    qth_setLayoutParams(controlLayout, 3, 3);
    channelCombo = new QComboBox(controlFrame);
    channelCombo->setMinimumWidth(120);
    nameLabel = new QLabel(name, controlFrame);
    nameLabel->hide();
    auto makeButton = [this](Glyph glyph) {
        auto* b = new QPushButton(controlFrame);
        b->setIcon(makeGlyph(glyph));
        b->setIconSize(QSize(iconSize, iconSize));
        return b;
    };
    storeNowButton = makeButton(Glyph::Now);
    storeNextButton = makeButton(Glyph::Next);
    storeAlwaysButton = makeButton(Glyph::Always);
    configButton = makeButton(Glyph::Config);
    storeAlwaysButton->setCheckable(true);
    const int side = storeNowButton->sizeHint().height();
    for (QPushButton* b : {storeNowButton, storeNextButton, storeAlwaysButton, configButton})
        b->setFixedSize(side, side);
    controlLayout->addWidget(channelCombo, 1);
    controlLayout->addWidget(nameLabel);
    controlLayout->addStretch(1000);
    auto* buttonRow = new QHBoxLayout;
    qth_setLayoutParams(buttonRow, 0, 3);
    for (QPushButton* b : {storeNowButton, storeNextButton, storeAlwaysButton, configButton})
        buttonRow->addWidget(b);
    controlLayout->addLayout(buttonRow);
    controlLayout->addStretch(1000);
    controlFrame->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    controlFrame->setMaximumHeight(controlFrame->sizeHint().height());
    pluginLayout->addWidget(controlFrame);

    channelCombo->setToolTip(tr("Data source for the display (select channel)"));
    storeNowButton->setToolTip(tr("Store data to files immediately"));
    storeNextButton->setToolTip(tr("Store data to files\nwhen complete next time"));
    storeAlwaysButton->setToolTip(tr("Store data to files\nalways when complete"));
    configButton->setToolTip(tr("Configure data output of displayed group"));
    controlFrame->setToolTip(tr("Channel ") + QString::number(getChannelNo()));

    setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Minimum);

    // Picking an entry is the user's choice: it overrides a channel requested earlier by the host.
    connect(channelCombo, QOverload<int>::of(&QComboBox::activated), this, [this]() { changeChannel(true); });
    connect(storeNowButton, &QPushButton::clicked, requester, &SnapshotRequester::requestImmediate);
    connect(storeNextButton, &QPushButton::clicked, requester, &SnapshotRequester::requestDelayed);
    connect(storeAlwaysButton, SIGNAL(toggled(bool)), requester, SLOT(requestPerm(bool)));
    connect(configButton, &QPushButton::clicked, this, &ViewPage::channelDialog);
    updateDisplay();
}

ViewPage::~ViewPage()
{
    emit closing();
    if (joined)
        joined->removePage(this);
    delete receiver; // deletes the whole chain
    receiver = nullptr;
}

QList<const GPlugin::PluginDescriptor*>* ViewPage::getPluginTypes()
{
    return GPlugin::_typeList;
}

GPlugin* ViewPage::addPlugin(QString type, QString name, QStringList keys, QStringList values)
{
    GPlugin* plugin = nullptr;
    if (GPlugin::_typeList) {
        for (const GPlugin::PluginDescriptor* d : qAsConst(*GPlugin::_typeList)) {
            if (d->name == type && d->factory) {
                plugin = d->factory(this, name);
                if (plugin)
                    break;
            }
        }
    }
    if (!plugin)
        return nullptr;
    // Connected before the options so that what an option reports reaches the host.
    connect(plugin, SIGNAL(statusChanged(QString,int,int)), this, SIGNAL(statusChanged(QString,int,int)),
            Qt::UniqueConnection);
    for (int k = 0; k < keys.size(); ++k) {
        const QString value = k < values.size() ? values[k] : QString();
        if (keys[k].toLower() == QLatin1String("leftalign") && value == QLatin1String("0") && outerLayout)
            pluginLayout = outerLayout; // widgets from here on span the page's width
        // setOption does not throw; should one still run out of memory, the option is reported and left out
        // instead of ending the layout.
        plugin->recordOption(keys[k], value);
        try {
            plugin->setOption(keys[k], value);
        } catch (const OomError&) {
            optionFailed(name, keys[k], value);
        } catch (const std::bad_alloc&) {
            optionFailed(name, keys[k], value);
        }
    }
    addReceiver(plugin);
    return plugin;
}

void ViewPage::optionFailed(const QString& pluginName, const QString& key, const QString& value)
{
    emit statusChanged(
        QStringLiteral("Not enough memory for option %1=%2 of %3; the option is ignored").arg(key, value, pluginName),
        -1, 2);
}

void ViewPage::addReceiver(GPlugin* plugin)
{
    if (!plugin)
        return;
    if (!receiver) {
        receiver = plugin;
    } else {
        GPlugin* last = receiver;
        while (last->getSuccessor())
            last = last->getSuccessor();
        last->setSuccessor(plugin);
    }
    if (QWidget* w = plugin->getWidget()) {
        pluginLayout->addWidget(w, 0);
        setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);
    }
    connect(plugin, SIGNAL(pointSelected(Int32,Int32,Int32)), this, SIGNAL(pointSelected(Int32,Int32,Int32)));
    connect(plugin, SIGNAL(rangeSelected(QRect,GPlugin::DataTrigger)), this,
            SIGNAL(rangeSelected(QRect,GPlugin::DataTrigger)));
    connect(plugin, SIGNAL(angleSelected(Int32)), this, SIGNAL(angleSelected(Int32)));
    connect(plugin, SIGNAL(pathSelected(PathList,GPlugin::DataTrigger)), this,
            SIGNAL(pathSelected(PathList,GPlugin::DataTrigger)));
    connect(plugin, SIGNAL(gridSelected(PathList,Int32,Int32,GPlugin::DataTrigger)), this,
            SIGNAL(gridSelected(PathList,Int32,Int32,GPlugin::DataTrigger)));
    connect(plugin, SIGNAL(sendGenericTelegram(void*)), this, SIGNAL(genericTel(void*)));
    connect(plugin, SIGNAL(statusChanged(QString,int,int)), this, SIGNAL(statusChanged(QString,int,int)),
            Qt::UniqueConnection);
    connect(plugin, SIGNAL(searchPartner(QString,GPlugin*)), this, SIGNAL(searchPluginIn(QString,GPlugin*)));
    connect(this, SIGNAL(searchPluginOut(QString,GPlugin*)), plugin, SLOT(checkForPartner(QString,GPlugin*)));
    connect(plugin, SIGNAL(requestLastFrame()), this, SLOT(replayLastFrame()));
    if (SnapshotMgr* mgr = plugin->getSnapshotManager())
        mgr->setDisplay(this);
}

QStringList ViewPage::getPlugins() const
{
    QStringList names;
    for (GPlugin* p = receiver; p; p = p->getSuccessor())
        names.append(p->getDescriptor() ? p->getDescriptor()->name : QString());
    return names;
}

int ViewPage::getStretch() const
{
    int sum = 0;
    for (GPlugin* p = receiver; p; p = p->getSuccessor())
        sum += p->getStretch();
    return sum;
}

int ViewPage::getChannelNo() const
{
    bool ok = false;
    const int n = channelSetting.toInt(&ok);
    return ok ? n : -1;
}

Channel* ViewPage::findChannelObject(int n) const
{
    return n >= 0 && n < channelList.size() ? channelList[n] : nullptr;
}

Channel* ViewPage::currentChannel() const
{
    return findChannelObject(getChannelNo());
}

bool ViewPage::groupUsable(const DataGroup* group) const
{
    return group && !group->disabled && !group->inactive;
}

int ViewPage::channelGroupNumber(const Channel* channel) const
{
    return channel ? channel->getDataGroup() : -1;
}

void ViewPage::moveToChannel(int n)
{
    Channel* target = findChannelObject(n);
    if (!target)
        return;
    if (joined)
        joined->removePage(this);
    target->addPage(this);
    joined = target;
    channelSetting.setValue(n);
    controlFrame->setToolTip(tr("Channel ") + QString::number(n));
    const auto it = groups->constFind(target->getDataGroup());
    if (it != groups->constEnd() && groupUsable(&it.value()))
        resolvedGroup = it->groupNumber;
}

void ViewPage::leaveChannel()
{
    if (joined)
        joined->removePage(this);
    joined = nullptr;
    channelSetting.setValue(-1);
    controlFrame->setToolTip(tr("Channel ") + QString::number(-1));
}

void ViewPage::setChannelNo(int n)
{
    const int current = getChannelNo();
    if (n == current)
        return;
    wantedChannel = n;
    if (findChannelObject(n) && comboIndex.contains(n)) {
        moveToChannel(n);
        emit channelChange(n);
        updateDisplay();
    } else {
        // The selector lists a wanted channel once it exists: rebuilding it moves the page there if it can.
        updateDisplay();
    }
}

void ViewPage::changeChannel(bool byUser)
{
    if (byUser) {
        wantedChannel = -1;
        pageGroup = -1;
    }
    const int current = getChannelNo();
    const int entry = channelCombo->currentIndex();
    bool changed = false;
    if (entry < 0 || entry >= comboIndex.size()) {
        if (currentChannel()) {
            leaveChannel();
            changed = true;
        }
    } else if (comboIndex[entry] != current && findChannelObject(comboIndex[entry])) {
        moveToChannel(comboIndex[entry]);
        changed = true;
    }
    if (changed) {
        updateDisplay();
        updateSnapshotMgrs();
        emit channelChange(getChannelNo());
    }
}

void ViewPage::changeSetting(QString name, QString value)
{
    if (name != channelSetting.key())
        return;
    bool ok = false;
    const int n = value.toInt(&ok);
    channelSetting.restore(); // the page moves itself, which stores the number again
    if (ok)
        setChannelNo(n);
}

void ViewPage::setChannelList(const QVector<Channel*>& channels)
{
    if (channels != channelList)
        channelList = channels;
    updateDisplay();
    updateSnapshotMgrs();
}

void ViewPage::setDataGroup(int group)
{
    pageGroup = group;
    controlFlags = 1;
    updateSnapshotMgrs();
    updateDisplay();
}

void ViewPage::setSelectMode(ViewPage::ChannelSelectMode mode)
{
    selectMode = mode;
    updateDisplay();
}

void ViewPage::showSnapshotButtons(bool show)
{
    snapshotButtonsShown = show;
    updateDisplay();
}

void ViewPage::showChannelControls(bool source, bool sampleTime, bool average)
{
    controlFlags = (source ? 0x2 : 0) | (sampleTime ? 0x4 : 0) | (average ? 0x8 : 0);
    updateDisplay();
}

void ViewPage::setChannelControlWidgets(QWidget* source, QWidget* sampleTime, QWidget* average)
{
    QWidget* given[3] = {source, sampleTime, average};
    for (int k = 0; k < 3; ++k) {
        if (hostControls[k] == given[k])
            continue;
        if (hostControls[k])
            controlLayout->removeWidget(hostControls[k]);
        hostControls[k] = given[k];
        if (given[k])
            controlLayout->insertWidget(1 + k, given[k]); // after the selector
    }
    updateDisplay();
}

const DataGroup* ViewPage::findDataGroup(bool preferPage) const
{
    const Channel* channel = currentChannel();
    const int g = ((preferPage && pageGroup >= 0) || !channel) ? pageGroup : channel->getDataGroup();
    const auto it = groups->constFind(g);
    return it == groups->constEnd() ? nullptr : &it.value();
}

ViewPage::ChannelSelectMode ViewPage::getEffectiveSelectMode() const
{
    if (selectMode == selectByGroup) {
        const DataGroup* g = findDataGroup(false);
        if (currentChannel() && groupUsable(g))
            return g->groupSelectMode;
    }
    return selectMode;
}

QString ViewPage::buildChannelDescriptor(const DataGroup* group, int channelNo, QString channelName, int period,
                                         int signalNo, QString signalList)
{
    if (!group)
        return channelName;
    QString text;
    if (group->showNumber)
        text += QString::number(channelNo) + QStringLiteral(": ");
    if (group->showName)
        text += channelName;
    if (group->showSignal) {
        const QString caption = EnumMap::extractCaption(signalList, signalNo);
        text += caption == QLatin1String("?") ? QStringLiteral("Signal ") + QString::number(signalNo) : caption;
    }
    if (group->showGroup) {
        if (group->sampleTime && period >= 1)
            text += QStringLiteral(" (") + GPlugin::formatValue(period * 2.5, periodUnit, 0, ' ', 4) +
                    QStringLiteral(")");
        else
            text += QStringLiteral(" (") + group->name + QStringLiteral(")");
    }
    return text;
}

QString ViewPage::makeChannelDescr(const Channel* channel) const
{
    if (!channel)
        return QString();
    const auto it = groups->constFind(channel->getDataGroup());
    const DataGroup* group = it == groups->constEnd() ? nullptr : &it.value();
    return buildChannelDescriptor(group, channel->getNumber(), channel->getName(), channel->getPeriod(),
                                  channel->getSignalNumber(), signalList);
}

void ViewPage::rebuildCombobox()
{
    channelCombo->clear();
    comboIndex.clear();
    const int mode = getEffectiveSelectMode();
    const int reference = pageGroup >= 0 ? pageGroup : resolvedGroup;
    auto inReference = [this, reference](int n) {
        const Channel* c = findChannelObject(n);
        return c && c->getDataGroup() == reference;
    };
    for (int n = 0; n < channelList.size(); ++n) {
        const Channel* c = channelList[n];
        if (!c)
            continue;
        if (n != wantedChannel && ((mode != selectAll && !inReference(n)) || !c->getEnabled()))
            continue;
        channelCombo->addItem(makeChannelDescr(c));
        comboIndex.append(n);
    }
    if (comboIndex.isEmpty())
        return;

    const int current = getChannelNo();
    const int wantedEntry = wantedChannel >= 0 ? comboIndex.indexOf(wantedChannel) : -1;
    const int currentEntry = current >= 0 ? comboIndex.indexOf(current) : -1;
    int choice = -1;
    if (wantedEntry >= 0 && inReference(wantedChannel)) {
        choice = wantedEntry;
    } else if (currentEntry >= 0 && inReference(current)) {
        choice = currentEntry;
    } else {
        for (int e = comboIndex.size() - 1; e >= 0 && choice < 0; --e) {
            if (inReference(comboIndex[e]))
                choice = e;
        }
    }
    if (choice < 0)
        choice = wantedEntry >= 0 ? wantedEntry : currentEntry >= 0 ? currentEntry : 0;
    channelCombo->setCurrentIndex(choice);
    if (comboIndex[choice] != current)
        changeChannel(false);
}

void ViewPage::updateDisplay()
{
    rebuildCombobox();
    int flags = controlFlags;
    bool selector;
    if (selectMode == selectByGroup) {
        const DataGroup* g = findDataGroup(false);
        selector = !groupUsable(g) || g->groupSelectMode != 0;
    } else {
        selector = selectMode != selectNone;
    }
    // A page that follows its group shows the host controls the group asks for.
    const DataGroup* preferred = findDataGroup(true);
    if ((flags & 0x1) && groupUsable(preferred)) {
        flags = (flags & ~0xE) | (preferred->showSource ? 0x2 : 0) | (preferred->sampleTime ? 0x4 : 0) |
                (preferred->showAverage ? 0x8 : 0);
    }
    if (selector)
        flags |= 0x10;
    if (snapshotButtonsShown)
        flags |= 0x20;
    controlFrame->setVisible((flags & 0x3E) != 0);
    channelCombo->setVisible(flags & 0x10);
    for (QPushButton* b : {storeNowButton, storeNextButton, storeAlwaysButton, configButton})
        b->setVisible(flags & 0x20);
    for (int k = 0; k < 3; ++k) {
        if (hostControls[k])
            hostControls[k]->setVisible(flags & (0x2 << k));
    }
}

void ViewPage::updateSnapshotMgrs()
{
    if (const DataGroup* g = findDataGroup(true)) {
        requester->setTag(g->tag);
        requester->setDataGroup(g->groupNumber);
    }
    const Channel* channel = currentChannel();
    SnapshotMgr* input = channel ? channel->getSnapshotManager() : nullptr;
    const QList<SnapshotMgr*> managers = SnapshotMgr::_snapshotList;
    for (SnapshotMgr* m : managers) {
        if (m->getDisplay() == this)
            m->setInput(input);
    }
}

void ViewPage::setSignalList(QString list)
{
    signalList = list;
    updateDisplay();
}

void ViewPage::replayLastFrame()
{
    if (Channel* c = currentChannel(); c && receiver)
        c->replayFrame(receiver);
}

void ViewPage::channelDialog()
{
    const DataGroup* g = findDataGroup(false);
    emit channelDialogRequestByDGroup(g ? g->groupNumber : 0);
}

void ViewPage::closeEvent(QCloseEvent* event)
{
    emit closing();
    QObject::disconnect(this, SIGNAL(closing()), nullptr, nullptr);
    event->accept();
}
