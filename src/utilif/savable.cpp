#include "utilif/savable.h"

#include <QCoreApplication>
#include <QHash>
#include <QList>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <memory>

namespace {

QString settingsKey(const QString& group, const QString& key);

// Every Savable alive, and those of each setting: a change reaches the others of its setting without a walk over
// all settings, so that a host with thousands of pages starts in time proportional to its pages.
struct Registry
{
    QSet<const Savable*> alive;
    QHash<QString, QList<Savable*>> bySetting;
};

Registry& registry()
{
    static Registry r;
    return r;
}

QString& filePath()
{
    static QString path;
    return path;
}

// One settings object for the process. Writing through it keeps every value visible at once to every QSettings of
// the same file in the process. The file itself is written once per turn of the event loop, so that many changes in
// one go (a layout of thousands of pages) cost one write rather than one each; and at the latest when the
// application ends or the storage file changes. The object belongs to no thread: QSettings would otherwise write
// the file whenever anyone delivers posted events, which a long start-up does now and then.
std::unique_ptr<QSettings>& sharedSettings()
{
    static std::unique_ptr<QSettings> settings;
    return settings;
}

bool& syncScheduled()
{
    static bool scheduled = false;
    return scheduled;
}

void closeSettings()
{
    if (auto& s = sharedSettings()) {
        s->sync();
        s.reset();
    }
}

QSettings& settings()
{
    auto& s = sharedSettings();
    if (!s) {
        if (filePath().isEmpty())
            s = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Orvik"),
                                            QStringLiteral("OrvikView"));
        else
            s = std::make_unique<QSettings>(filePath(), QSettings::IniFormat);
        s->moveToThread(nullptr);
        static bool routineAdded = false;
        if (!routineAdded && QCoreApplication::instance()) {
            qAddPostRoutine(closeSettings);
            routineAdded = true;
        }
    }
    return *s;
}

void scheduleSync()
{
    if (!QCoreApplication::instance()) {
        settings().sync();
        return;
    }
    if (syncScheduled())
        return;
    syncScheduled() = true;
    QTimer::singleShot(0, [] {
        syncScheduled() = false;
        if (auto& s = sharedSettings())
            s->sync();
    });
}

// "1changeSetting(QString,QString)" -> "changeSetting"
QByteArray methodName(const char* slot)
{
    if (!slot)
        return QByteArray();
    QByteArray s(slot);
    if (!s.isEmpty() && s[0] >= '0' && s[0] <= '9')
        s.remove(0, 1);
    const int paren = s.indexOf('(');
    return paren >= 0 ? s.left(paren) : s;
}

QString settingsKey(const QString& group, const QString& key)
{
    // QSettings treats '/' as a section separator; keep instance names with slashes in one section.
    QString g = group;
    g.replace(QLatin1Char('/'), QLatin1Char('_'));
    return (g.isEmpty() ? QStringLiteral("General") : g) + QLatin1Char('/') + key;
}

} // namespace

Savable::Savable(QObject* owner, const QString& key, const QString& group, bool restoreSaved, const char* slot,
                 const char* dflt)
    : owner(owner), keyName(key), groupName(group), slotName(methodName(slot)),
      current(dflt ? QString::fromUtf8(dflt) : QString()), lastSet(current)
{
    registry().alive.insert(this);
    registry().bySetting[settingsKey(groupName, keyName)].append(this);
    if (restoreSaved && owner) {
        const QString saved = storedValue(QString());
        if (!saved.isNull()) {
            QPointer<QObject> guard(owner);
            // The owner is still being constructed: deliver the stored value from the event loop.
            QTimer::singleShot(0, owner, [this, guard, saved]() {
                if (guard && registry().alive.contains(this))
                    receive(saved);
            });
        }
    }
}

Savable::~Savable()
{
    Registry& r = registry();
    r.alive.remove(this);
    const auto it = r.bySetting.find(settingsKey(groupName, keyName));
    if (it != r.bySetting.end()) {
        it->removeOne(this);
        if (it->isEmpty())
            r.bySetting.erase(it);
    }
}

void Savable::setValue(int value)
{
    setValue(QString::number(value));
}

void Savable::setValue(double value)
{
    setValue(QString::number(value, 'g', 17));
}

void Savable::setValue(const QString& value)
{
    current = value;
    lastSet = value;
    const QString name = settingsKey(groupName, keyName);
    settings().setValue(name, value);
    scheduleSync();
    // Tell every other Savable of the same setting; copy the list since a slot may create or delete settings.
    const QList<Savable*> others = registry().bySetting.value(name);
    for (Savable* other : others) {
        if (other != this && registry().alive.contains(other))
            other->receive(value);
    }
}

QString Savable::storedValue(const QString& fallback) const
{
    const QVariant v = settings().value(settingsKey(groupName, keyName));
    return v.isValid() ? v.toString() : fallback;
}

void Savable::restore()
{
    current = lastSet;
}

void Savable::receive(const QString& value)
{
    if (frozen)
        return;
    current = value;
    if (owner && !slotName.isEmpty())
        QMetaObject::invokeMethod(owner, slotName.constData(), Qt::DirectConnection, Q_ARG(QString, keyName),
                                  Q_ARG(QString, value));
}

void Savable::setStorageFile(const QString& path)
{
    closeSettings();
    filePath() = path;
}

QString Savable::storageFile()
{
    return settings().fileName();
}

void Savable::flush()
{
    if (auto& s = sharedSettings())
        s->sync();
}
