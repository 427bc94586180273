#pragma once
// ViewRecipe: the JSON sidecar "<basename>.json" that every snapshot set gets beside its files. It says when and by
// which program version the set was made, from which server, channel, data group and store trigger, the stream's
// format, the page's plug-in chain with every plug-in's options and display state, and the names of the files that
// were written. A recipe can be read back to rebuild the page that made the set.

#include "framework/streamformat.h"
#include "snapshot/snapshotmgr.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class GPlugin;
class ViewPage;

class ViewRecipe
{
public:
    /// The value of "format" in every recipe.
    static const char* const formatName;
    /// The value of "formatVersion" written by this build.
    static constexpr int formatVersion = 1;

    /// One plug-in of a recipe's chain.
    struct Plugin
    {
        QString type;
        QString name;
        QStringList keys;
        QStringList values;
        QVariantMap display;
    };
    /// What a recipe says about the page that made the set.
    struct Page
    {
        QString name;
        int channel = -1;
        int dataGroup = -1;
        QList<Plugin> chain;
    };

    /// The server the view manager is connected to ("host:port"); empty before any connection.
    static void setServer(const QString& address);
    static QString server();
    /// The program version written into recipes.
    static QString programVersion();

    /// Everything but the file list, for a store of `mgr` by `action`. Runs on the GUI thread: it reads the chain.
    static QJsonObject describe(const SnapshotMgr* mgr, const SnapshotMgr::ActionDescriptor& action);
    /// The set properties of `format`, by name ("RangeX"), with the unit texts of the unit codes ("UnitXText").
    static QJsonObject describeFormat(const StreamFormat& format);
    /// The chain from `head` on: type, name, options (pairs in order) and display state of every plug-in.
    static QJsonArray describeChain(const GPlugin* head);
    /// Name of a property in a recipe: its setter without "setData"/"set" ("RangeX", "FixXY").
    static QString propertyName(StreamFormat::Property p);

    /// Adds "files" (the names of `files` without their folder) and writes the recipe whole under the first free
    /// name of "<baseName>.json" (the snapshot scheme). On success `*fileName` is the name written; on failure
    /// `*error` is a message for the user that names the file.
    static bool write(const QString& baseName, QJsonObject recipe, const QStringList& files, QString* fileName,
                      QString* error);
    /// Reads a recipe and checks its required fields. On failure `*error` names the file and the fault.
    static bool read(const QString& fileName, QJsonObject* recipe, QString* error);
    /// The page of a recipe read by `read`; false with `*error` if the chain is malformed.
    static bool pageOf(const QJsonObject& recipe, Page* page, QString* error);
    /// Applies the recorded display states to the chain of `page`, plug-in by plug-in in order; returns how many
    /// plug-ins got a state.
    static int applyDisplayStates(ViewPage* page, const Page& recipe);
};
