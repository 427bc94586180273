#include "testtypes.h"

#include "support/recordingplugin.h"

namespace {

GPlugin* testDisplayFactory(QWidget*, QString name)
{
    return new RecordingPlugin(name);
}

} // namespace

QString viewerTestType()
{
    static const GPlugin::PluginDescriptor descriptor(QStringLiteral("Viewer Test Display"),
                                                      QStringLiteral("Records what it receives (tests only)"), 0x1,
                                                      testDisplayFactory);
    return descriptor.name;
}
