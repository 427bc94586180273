#include "snapshot/snapshotmgr.h"

#include "framework/logging.h"
#include "snapshot/snapshotprovider.h"
#include "snapshot/snapshotrequester.h"
#include "snapshot/snapshotthread.h"
#include "snapshot/viewrecipe.h"
#include "utilif/error.h"
#include "utilif/qthelpers.h"
#include "utilif/substitutablewidget.h"
#include "utilif/wholefile.h"

#include <QBitmap>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

QList<SnapshotMgr*> SnapshotMgr::_snapshotList;
const bool* SnapshotMgr::_backgroundSwitch = nullptr;
int SnapshotMgr::_failedStores = 0;

namespace {
const char* const typeToolTips[5] = {
    "Create graphical snapshot files.",
    "Create file in ASCII format (CSV/ASC) from raw data.",
    "Create file in binary format (BCRF) from raw data.",
    "Create files in ASCII format (CSV) from displayed data.",
    "Store raw data continously in ASCII format (CSV).",
};
const char* const typeCaptions[5] = {"Graphics", "ASCII raw", "Binary raw", "CSV displayed", "Continuous"};

/// The indicator: a red recording dot on a transparent 18x18 square.
QPixmap indicatorPixmap()
{
    QPixmap pixmap(18, 18);
    pixmap.fill(Qt::white);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Qt::darkRed, 1));
    painter.setBrush(QColor(220, 30, 30));
    painter.drawEllipse(2, 2, 13, 13);
    painter.end();
    pixmap.setMask(pixmap.createHeuristicMask());
    return pixmap;
}
} // namespace

SnapshotMgr::SnapshotMgr(QString name, const GPlugin::PrefData* prefs, SnapshotProvider* provider, int channel,
                         QObject* parent)
    : QObject(parent),
      nameSetting(this, QStringLiteral("SnapshotName"), name, true, "1changeSetting(QString,QString)", ""),
      typesSetting(this, QStringLiteral("SnapshotTypes"), name, true, "1changeSetting(QString,QString)", "255"),
      groupName(name), channel(channel), prefs(prefs ? prefs : &GPlugin::dfltPrefs), provider(provider)
{
    for (int i = 0; i < 5; ++i) {
        typeBoxes[i] = new QCheckBox(QString::fromLatin1(typeCaptions[i]));
        typeBoxes[i]->setToolTip(QString::fromLatin1(typeToolTips[i]));
        typeBoxes[i]->hide();
        controls[i] = typeBoxes[i];
        connect(typeBoxes[i], &QCheckBox::toggled, this, &SnapshotMgr::edited);
    }
    nameEdit = new QLineEdit;
    nameEdit->setToolTip(QStringLiteral("Base name of all snapshot files."));
    nameEdit->hide();
    controls[5] = nameEdit;
    for (int i = 0; i < 6; ++i)
        ownedControls[i] = controls[i];
    connect(nameEdit, &QLineEdit::textChanged, this, &SnapshotMgr::edited);
    updateDisplay();
    _snapshotList.append(this);
}

SnapshotMgr::~SnapshotMgr()
{
    _snapshotList.removeOne(this);
    actions.clear();
    // Their end events die with this object; the threads must not post to it afterwards.
    for (SnapshotThread* thread : threads) {
        thread->wait();
        delete thread;
    }
    // Controls were handed out without parent; the caller may have re-parented them (then Qt owns them).
    for (const QPointer<QWidget>& w : ownedControls)
        if (w && !w->parent())
            delete w.data();
}

void SnapshotMgr::setInput(SnapshotMgr* mgr)
{
    input = mgr;
    if (mgr)
        typesSetting.freeze();
}

void SnapshotMgr::setFlag(SnapshotFlag flag, bool on)
{
    if (flag == flagStoreLocal)
        storeLocal = on ? 1 : 0;
    else if (flag == flagStoreRetrigger)
        storeRetrigger = on ? 1 : 0;
}

int SnapshotMgr::getFlag(SnapshotFlag flag) const
{
    if (flag == flagStoreLocal)
        return storeLocal;
    if (flag == flagStoreRetrigger)
        return storeRetrigger;
    return -1;
}

int SnapshotMgr::getInputChannel() const
{
    return input ? input->channel : channel;
}

const SnapshotMgr* SnapshotMgr::root() const
{
    const SnapshotMgr* m = this;
    while (m->input)
        m = m->input;
    return m;
}

int SnapshotMgr::getDataGroup() const
{
    return root()->dataGroup;
}

int SnapshotMgr::getRequestedTypes() const
{
    return root()->typesSetting.toInt();
}

QString SnapshotMgr::getFullName() const
{
    if (input)
        return input->nameSetting.value() + QLatin1Char('-') + nameSetting.value();
    return nameSetting.value();
}

int SnapshotMgr::triggerKey(StoreTrigger trigger, int parameter)
{
    return parameter <= 0 ? trigger : (parameter << 4) | trigger;
}

QString SnapshotMgr::makeBasename(QString directory, QString name, QString tag, int sequence)
{
    if (!directory.isEmpty())
        directory = QDir::toNativeSeparators(directory + QLatin1Char('/'));
    return directory + tag + QString::asprintf("_%03d", sequence) + QLatin1Char('-') + name;
}

QString SnapshotMgr::completeFilename(QString baseName, QString extension, QString suffix)
{
    QString name = baseName;
    if (!suffix.isEmpty())
        name += QLatin1Char('-') + suffix;
    if (!extension.isEmpty())
        name += QLatin1Char('.') + extension.toLower();
    const QString path = QFileInfo(QDir::fromNativeSeparators(name)).absoluteFilePath();
    const int dirEnd = path.lastIndexOf(QLatin1Char('/')) + 1;
    int insertAt = path.indexOf(QLatin1Char('-'), dirEnd);
    if (insertAt < 0) {
        insertAt = path.indexOf(QLatin1Char('.'), dirEnd);
        if (insertAt < 0)
            insertAt = path.size();
    }
    for (int n = 0; n < 1000; ++n) {
        QString candidate = path;
        if (n > 0)
            candidate.insert(insertAt, QStringLiteral("[%1]").arg(n));
        if (!QFileInfo::exists(candidate) && !WholeFile::isClaimed(candidate))
            return QDir::toNativeSeparators(candidate);
    }
    return QString();
}

QString SnapshotMgr::reserveFilename(QString baseName, QString extension, QString suffix)
{
    // Another store may claim the same candidate between the check and the creation: try again then.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString name = completeFilename(baseName, extension, suffix);
        if (name.isEmpty() || WholeFile::claim(name))
            return name;
    }
    return QString();
}

void SnapshotMgr::releaseFilename(const QString& fileName)
{
    if (!fileName.isEmpty())
        WholeFile::release(fileName);
}

QString SnapshotMgr::snapshotDirectory() const
{
    return prefs->snapshotDir ? *prefs->snapshotDir : QString();
}

void SnapshotMgr::setTriggerReaction(StoreTrigger trigger, StoreAction action, SnapshotRequester* requester,
                                     QString tag, int sequence, StoreTrigger secondaryTrigger)
{
    if (trigger == trgNone)
        return;
    clearTriggerReaction(requester, trigger, action);
    ActionDescriptor d;
    d.trigger = trigger;
    d.secondaryTrigger = secondaryTrigger;
    d.action = action;
    d.directory = snapshotDirectory();
    d.fullName = getFullName();
    d.tag = tag;
    d.sequence = sequence;
    d.types = getRequestedTypes();
    d.requester = requester;
    actions.append(d);
    updateIndicators();
}

void SnapshotMgr::setSecondaryTriggerReaction(const ActionDescriptor& descriptor)
{
    if (descriptor.secondaryTrigger == trgNone)
        return;
    ActionDescriptor d = descriptor;
    d.trigger = descriptor.secondaryTrigger;
    d.secondaryTrigger = trgNone;
    d.action = actStoreOnce;
    d.fullName = getFullName();
    d.types = getRequestedTypes();
    actions.append(d);
    updateIndicators();
}

void SnapshotMgr::clearTriggerReaction(SnapshotRequester* requester, StoreTrigger trigger, StoreAction action)
{
    for (int i = actions.size() - 1; i >= 0; --i) {
        const ActionDescriptor& d = actions.at(i);
        qCDebug(lcSnapshot) << "ActionList trg" << d.trigger << " Act " << d.action;
        if (d.requester == requester && (trigger == trgNone || d.trigger == trigger) &&
            (action == actAny || d.action == action))
            actions.removeAt(i);
    }
    updateIndicators();
}

void SnapshotMgr::executeTrigger(int trigger, int parameter)
{
    const int key = triggerKey(trigger, parameter);
    QList<ActionDescriptor> deferred;
    bool fired = false;
    firing = true;
    for (int i = 0; i < actions.size();) {
        if (actions.at(i).trigger != key) {
            ++i;
            continue;
        }
        if (!fired) {
            fired = true;
            updateIndicators();
        }
        // A copy: makeSnapshot may post messages that re-enter and change the list.
        ActionDescriptor d = actions.at(i);
        if (d.action == actStoreOnce || d.action == actStoreAlways)
            makeSnapshot(d);
        else
            deferred.append(d);
        if (d.requester && SnapshotRequester::_objectList.contains(d.requester))
            d.sequence = d.requester->updateSequenceNumber(d.sequence);
        if (i >= actions.size())
            break;
        if (d.action == actStoreOnce || d.action == actArmOnce)
            actions.removeAt(i);
        else {
            actions[i].sequence = d.sequence;
            ++i;
        }
    }
    firing = false;
    for (const ActionDescriptor& d : deferred)
        setSecondaryTriggerReaction(d);
    updateIndicators();
}

void SnapshotMgr::executeTriggerGlobally(StoreTrigger trigger, int parameter)
{
    // A store may create or delete managers; walk a snapshot of the list and skip the ones gone meanwhile.
    const QList<SnapshotMgr*> list = _snapshotList;
    for (SnapshotMgr* mgr : list)
        if (_snapshotList.contains(mgr))
            mgr->executeTrigger(trigger, parameter);
}

void SnapshotMgr::provokeTrigger()
{
    if (provider)
        provider->provokeFullTrigger();
}

void SnapshotMgr::setBackgroundSwitch(const bool* on)
{
    _backgroundSwitch = on;
}

bool SnapshotMgr::backgroundStorage()
{
    return _backgroundSwitch ? *_backgroundSwitch : true;
}

bool SnapshotMgr::makeSnapshot(const ActionDescriptor& d)
{
    const QString baseName = makeBasename(d.directory, d.fullName, d.tag, d.sequence);
    if (baseName.isEmpty())
        return false;
    if (!provider)
        return true;
    if (backgroundStorage()) {
        SnapshotBuffer* copy = nullptr;
        try {
            copy = provider->snapshotData(d.types);
        } catch (const OomError&) {
            provider->postMessage(QStringLiteral("Can't store in background task - not enough memory"), -1, 2);
        }
        if (copy) {
            auto* thread = new SnapshotThread(this, provider, baseName, d.types, copy, ViewRecipe::describe(this, d));
            threads.append(thread);
            thread->start();
            return true;
        }
    }
    QString message;
    const bool ok = storeSnapshotSet(provider, baseName, d.types, nullptr, ViewRecipe::describe(this, d), &message);
    if (!ok)
        ++_failedStores;
    if (!message.isEmpty())
        provider->postMessage(message, -1, ok ? 0 : 2);
    return ok;
}

void SnapshotMgr::customEvent(QEvent* event)
{
    if (event->type() != ThreadEndEvent::eventType)
        return;
    SnapshotThread* ended = static_cast<ThreadEndEvent*>(event)->getThread();
    if (!threads.removeOne(ended))
        return;
    std::unique_ptr<SnapshotThread> thread(ended);
    thread->wait(); // the event is posted from run(): let the thread return before it is deleted
    if (!thread->getResult())
        ++_failedStores;
    const QString message = thread->getMessage();
    if (!message.isEmpty() && provider)
        provider->postMessage(message, -1, thread->getResult() ? 0 : 2);
}

bool SnapshotMgr::startContinousStore(bool start, QString tag, int sequence)
{
    QString baseName;
    if (start && (typesSetting.toInt() & typeContinuous)) {
        baseName = makeBasename(snapshotDirectory(), getFullName(), tag, sequence);
        if (baseName.isEmpty())
            return false;
    }
    if (!provider)
        return true;
    QString message;
    const bool ok = provider->startLogging(baseName, &message);
    if (!message.isEmpty())
        provider->postMessage(message, -1, ok ? 0 : 2);
    return ok;
}

bool SnapshotMgr::checkSnapshotName()
{
    const QString full = getFullName();
    if (nameChecked && full == checkedName)
        return nameValid;
    nameChecked = true;
    checkedName = full;
    bool valid = true;
    for (const QChar ch : full) {
        const ushort u = ch.unicode();
        const bool ok = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') ||
                        (u >= 128 && ch.isLetterOrNumber()) || QStringLiteral("_-+$=# ").contains(ch);
        if (!ok)
            valid = false;
    }
    if (valid) {
        QFile test(makeBasename(snapshotDirectory(), full, QStringLiteral("TEST"), 1) + QStringLiteral(".ext"));
        // Only probe a name that is free, so that an existing file of the user is never removed.
        if (test.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            test.close();
            test.remove();
        } else if (!test.exists())
            valid = false;
    }
    nameValid = valid;
    qth_setWidgetColor(nameEdit, valid ? QColor(Qt::white) : QColor(Qt::red), false);
    return valid;
}

QWidget** SnapshotMgr::getControls()
{
    updateDisplay();
    return controls;
}

QLabel* SnapshotMgr::getIndicator(QWidget* parent)
{
    static const QPixmap pixmap = indicatorPixmap();
    auto* label = new QLabel(parent);
    label->setPixmap(pixmap);
    label->setFixedSize(18, 18);
    label->setMask(pixmap.mask());
    label->show();
    indicators.append(label);
    // Remember the label's own pointer: the destroyed() argument is a dying QObject that must not be cast down.
    connect(label, &QObject::destroyed, this, [this, label]() { indicators.removeAll(label); });
    updateIndicators();
    return label;
}

void SnapshotMgr::onIndicatorDelete(QObject* object)
{
    // Kept for callers that connect it themselves: find the entry without casting the dying object down.
    for (int i = indicators.size() - 1; i >= 0; --i)
        if (reinterpret_cast<const void*>(indicators.at(i)) == reinterpret_cast<const void*>(object))
            indicators.removeAt(i);
}

void SnapshotMgr::updateIndicators()
{
    bool pending = false;
    if (!firing)
        for (const ActionDescriptor& d : actions)
            if (d.action == actStoreOnce || d.action == actStoreAlways)
                pending = true;
    for (QLabel* label : indicators)
        label->setVisible(pending);
}

void SnapshotMgr::setName(QString name)
{
    nameSetting.setValue(name);
    updateDisplay();
}

QString SnapshotMgr::editName(QWidget* parent, QString prompt)
{
    QDialog dialog(parent, Qt::Dialog);
    dialog.setWindowTitle(QStringLiteral("Rename Display"));
    dialog.setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto* layout = new QVBoxLayout(&dialog);
    layout->setSpacing(15);
    layout->setContentsMargins(15, 15, 15, 15);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(new QLabel(prompt, &dialog));
    auto* edit = new QLineEdit(nameSetting.value(), &dialog);
    layout->addWidget(edit);
    layout->addSpacing(10);
    auto* row = new QHBoxLayout;
    row->addStretch(100);
    auto* ok = new QPushButton(QStringLiteral("Ok"), &dialog);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), &dialog);
    row->addWidget(ok);
    row->addWidget(cancel);
    layout->addLayout(row);
    connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    SubstitutableWidget::moveDisplaysOnTop(false);
    const int result = dialog.exec();
    SubstitutableWidget::moveDisplaysOnTop(true);
    if (result == QDialog::Accepted) {
        nameSetting.setValue(edit->text());
        updateDisplay();
    }
    return nameSetting.value();
}

void SnapshotMgr::updateDisplay()
{
    checkSnapshotName();
    for (QWidget* w : controls)
        w->blockSignals(true);
    if (nameEdit->text() != nameSetting.value())
        nameEdit->setText(nameSetting.value());
    const int types = typesSetting.toInt();
    for (int i = 0; i < 5; ++i)
        typeBoxes[i]->setChecked(types & (1 << i));
    for (QWidget* w : controls)
        w->blockSignals(false);
}

void SnapshotMgr::edited()
{
    nameSetting.setValue(nameEdit->text());
    const bool valid = checkSnapshotName();
    const bool nameDiffers = valid && nameSetting.value() != nameEdit->text();
    int bits = 0;
    for (int i = 0; i < 5; ++i)
        if (typeBoxes[i]->isChecked())
            bits |= 1 << i;
    const int before = typesSetting.toInt();
    typesSetting.setValue(bits);
    if (provider && (bits != before || nameDiffers))
        provider->onSnapshotChange();
}

void SnapshotMgr::changeSetting(QString, QString)
{
    updateDisplay();
}
