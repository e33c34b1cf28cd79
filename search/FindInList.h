#pragma once

#include <QString>

class QItemSelectionModel;

// The find dialog's search: deselects every row of the hit list, then selects and makes
// current the first row whose caption (column 0) contains the text, letters A to Z folded
// to lower case on both sides. Returns that row, or -1 when no row matches.
int FindInList(QItemSelectionModel& selection, const QString& text);

// Lower case for the letters A to Z only, as the list searches compare.
QString LowerCaseAZ(QString text);
