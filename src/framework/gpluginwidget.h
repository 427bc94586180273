#pragma once
// The detachable container widget that display plug-ins live in.

#include "utilif/substitutablewidget.h"

class GPluginWidget : public SubstitutableWidget
{
    Q_OBJECT
public:
    /// Display plug-ins pass their substitute, their name, themselves as owner, the host's "detached windows on top"
    /// preference and true.
    GPluginWidget(SubstituteWidget* substitute, QString name, QObject* owner, const bool* option, bool flag)
        : SubstitutableWidget(substitute, name, owner, option, flag)
    {
    }
};
