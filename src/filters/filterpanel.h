#pragma once
// Panel layouts shared by several filters, so that their controls look and space alike.

#include <QString>

class QComboBox;
class QFrame;
class QHBoxLayout;
class QWidget;

namespace FilterPanel {

/// Turns `panel` into a raised frame holding one row of controls (no margin, the host's spacing); returns the row.
QHBoxLayout* makeFramedRow(QFrame* panel);

/// Fills `panel` with the instance name, a stretch and a mode selector with the comma-separated `entries` (current
/// entry 0, tool tip "Operation Mode of the filter."); returns the selector.
QComboBox* makeModeRow(QWidget* panel, const QString& name, const QString& entries);

} // namespace FilterPanel
