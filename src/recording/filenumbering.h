#pragma once
// The numbering rule of recording files: the next name of a series ("run.txt" -> "run_0.txt" -> "run_1.txt").
// The disc writer uses it for its per-frame files and for free names, the sync writer for its output files.

#include <QFileInfo>
#include <QString>

/// The next numbered name of `file`: the directory, the base name (up to the first dot) with its number after the
/// last "_" increased (or "_0" appended when it has none) and, when there is one, the suffix after the last dot.
/// A base name that is a number as a whole counts as the number: "2024.log" becomes "2024_2025.log".
QString increaseFileNumber(const QFileInfo& file);
