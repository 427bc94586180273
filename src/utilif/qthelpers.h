#pragma once
// Small widget helpers shared by the plug-in panels.

#include <QColor>
#include <QIcon>
#include <string>

class QLayout;
class QSpinBox;
class QWidget;

/// Icon from XPM data, with an optional separate picture for the disabled state.
QIcon qth_makeIcon(const char* const* xpm, const char* const* xpmDisabled = nullptr);
/// A spin box with range and value, owned by `parent`.
QSpinBox* qth_makeSpinBox(int min, int max, int value, QWidget* parent);
/// Sets the margins on all sides and the spacing of a layout; a null layout is ignored.
void qth_setLayoutParams(QLayout* layout, int margin, int spacing);
/// Colours the background (or, with `text`, the text) of a widget; an invalid colour restores the default palette.
void qth_setWidgetColor(QWidget* widget, const QColor& colour, bool text);
/// QString to a UTF-8 std::string.
std::string qth_q2s(const QString& text);
