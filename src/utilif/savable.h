#pragma once
// One persisted setting, stored in an INI file through QSettings under [group] key.
//
// Every Savable with the same group and key hears a change made through another one: its value follows and its
// owner's slot (given in SLOT() form, e.g. "1changeSetting(QString,QString)") is called with (key, value).
// restore() puts back the value last set through this object; freeze() stops changes from outside.
// The host may choose the file (setStorageFile); the default is the user's config location.

#include <QObject>
#include <QPointer>
#include <QString>

class Savable
{
public:
    /// With `restoreSaved`, a value found in the file is delivered to the owner's slot once the event loop runs
    /// (so the owner is fully constructed). `dflt` is the value until something is set or restored.
    Savable(QObject* owner, const QString& key, const QString& group, bool restoreSaved, const char* slot,
            const char* dflt = nullptr);
    ~Savable();
    Savable(const Savable&) = delete;
    Savable& operator=(const Savable&) = delete;

    void setValue(int value);
    void setValue(double value);
    void setValue(const QString& value);
    QString value() const { return current; }
    int toInt(bool* ok = nullptr) const { return current.toInt(ok); }
    double toDouble(bool* ok = nullptr) const { return current.toDouble(ok); }
    /// The value stored in the file, or `fallback` when there is none.
    QString storedValue(const QString& fallback = QString()) const;

    /// Puts back the value last set through this object (changes from outside are undone locally).
    void restore();
    /// Stops changes from outside (they are neither taken nor reported).
    void freeze() { frozen = true; }
    bool isFrozen() const { return frozen; }
    QString key() const { return keyName; }
    QString group() const { return groupName; }

    /// File that all settings go to; an empty path selects the default (the user's config location).
    static void setStorageFile(const QString& path);
    static QString storageFile();
    /// Writes pending changes to the file now (they are written from the event loop and at the end anyway).
    static void flush();

private:
    void receive(const QString& value);

    QPointer<QObject> owner;
    QString keyName;
    QString groupName;
    QByteArray slotName;
    QString current;
    QString lastSet;
    bool frozen = false;
};
