#pragma once
// ForkPlugin ("Fork"): passes its chain's stream on unchanged and sends a copy of every data block and data property
// to the union named by its "target" option, as one of the union's inputs 1 to 7.
//
// Pairing runs through the partner search of the pages: a union announces itself under its name, and a fork that
// comes later asks for its target. Either order, and pages built at different times, end in the same pairing. Both
// sides hold each other through guarded pointers, so either may be deleted first; a fork whose union is gone is
// unpaired and pairs again with the next union of that name that announces itself.
//
// Options: "target" (name of the union), "index" n (input n + 1 of the union, n from 0 to 6; -1 takes the lowest
// free input, the default). Any other index leaves the fork unpaired with a message.

#include "framework/gplugin.h"
#include "framework/streamformat.h"

#include <QPointer>

class UnionPlugin;

class ForkPlugin : public GPlugin
{
    Q_OBJECT
public:
    ForkPlugin(QWidget* parent, QString name);
    ~ForkPlugin() override;

    void setOption(QString key, QString value) override;
    void init() override;
    void setDataOrder(GPlugin::DataOrder v) override;
    void setDataEncoding(GPlugin::DataEncoding v) override;
    void setDataBinning(int v) override;
    void setDataRangeX(int v) override;
    void setDataRangeY(int v) override;
    void setDataRangeZ(int v) override;
    void setDataOffsetX(int v) override;
    void setDataOffsetY(int v) override;
    void setDataOffsetZ(int v) override;
    void setDataOffsetVal(int v) override;
    void setDataPhysX(int v) override;
    void setDataPhysY(int v) override;
    void setDataPhysZ(int v) override;
    void setDataPhysVal(int v) override;
    void setDataPhysValNumerator(int v) override;
    void setDataTrigger(GPlugin::DataTrigger v) override;
    void setDataRotation(int v) override;
    void setDataUnitX(int v) override;
    void setDataUnitZ(int v) override;
    void setDataUnitVal(int v) override;
    void setFixXY(bool v) override;
    void setDataScanSpeed(int v) override;
    void setData(const int* data, int count, int index) override;

    QString getTarget() const { return target; }
    /// The union fed, or null while unpaired.
    UnionPlugin* getPartner() const { return partner.data(); }
    /// The union input fed (1 to 7), or -1 while unpaired.
    int getInput() const { return partner ? input : -1; }
    /// The input asked for by the "index" option (1 to 7), -1 for the lowest free one, 0 for an invalid option.
    int getWantedInput() const { return wanted; }
    /// The stream description seen so far (handed to the union on pairing).
    const StreamFormat& getFormat() const { return format; }

    static const GPlugin::PluginDescriptor _descriptor;

public slots:
    /// Pairs with `ptr` when it is a union called like the target and this fork has no union yet.
    void checkForPartner(QString name, GPlugin* ptr) override;

private:
    friend class UnionPlugin;
    /// Called by the union: the fork now feeds `n`, or (n < 0) is unpaired.
    void assignInput(UnionPlugin* u, int n);
    void property(StreamFormat::Property p, int value);
    void scheduleSearch();

    QString target;
    QPointer<UnionPlugin> partner;
    int input = -1;
    int wanted = -1;
    bool searchPending = false;
    StreamFormat format;
};

GPlugin* forkFactory(QWidget* parent, QString name);
