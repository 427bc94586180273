#include "utilif/savable.h"

#include <QCoreApplication>
#include <QList>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <memory>

namespace {

QList<Savable*>& registry()
{
    static QList<Savable*> list;
    return list;
}

QString& filePath()
{
    static QString path;
    return path;
}

std::unique_ptr<QSettings> openSettings()
{
    if (filePath().isEmpty())
        return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Orvik"),
                                           QStringLiteral("OrvikView"));
    return std::make_unique<QSettings>(filePath(), QSettings::IniFormat);
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
    registry().append(this);
    if (restoreSaved && owner) {
        const QString saved = storedValue(QString());
        if (!saved.isNull()) {
            QPointer<QObject> guard(owner);
            // The owner is still being constructed: deliver the stored value from the event loop.
            QTimer::singleShot(0, owner, [this, guard, saved]() {
                if (guard && registry().contains(this))
                    receive(saved);
            });
        }
    }
}

Savable::~Savable()
{
    registry().removeAll(this);
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
    {
        auto settings = openSettings();
        settings->setValue(settingsKey(groupName, keyName), value);
        settings->sync();
    }
    // Tell every other Savable of the same setting; copy the list since a slot may create or delete settings.
    const QList<Savable*> others = registry();
    for (Savable* other : others) {
        if (other != this && registry().contains(other) && other->keyName == keyName &&
            other->groupName == groupName)
            other->receive(value);
    }
}

QString Savable::storedValue(const QString& fallback) const
{
    auto settings = openSettings();
    const QVariant v = settings->value(settingsKey(groupName, keyName));
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
    filePath() = path;
}

QString Savable::storageFile()
{
    return openSettings()->fileName();
}
