#pragma once

#include <QString>
#include <QtGlobal>

class QItemSelectionModel;

// What the group select dialog asks for: a size range in kilobytes of 1000 bytes and a text
// that the file name must contain.
struct GroupSelectChoice {
    bool sizeInRange = false;
    QString minKb;
    QString maxKb;
    bool nameMustContain = true;
    QString text;
    bool caseSensitive = false;
};

// Selects the rows of the hit list (caption in column 0, "Size" in bytes in column 1)
// that meet a group select choice.
class GroupSelection {
public:
    // "Please check one option first!" when the choice asks for nothing, else empty.
    static QString warningFor(const GroupSelectChoice& choice);

    // A size edit is left holding something else than a non-negative integer.
    static bool isSizeText(const QString& text);

    // Converts the size edits strictly; throws EConvertError before anything changes.
    explicit GroupSelection(const GroupSelectChoice& choice);

    // Deselects every row, then selects each row that meets the choice, first to last. A
    // row whose size is not an integer throws EConvertError while the size range is asked
    // for: the rows before it keep their new state, it and the rows after it stay
    // deselected.
    void apply(QItemSelectionModel& selection) const;

private:
    bool nameMatches(const QString& caption) const;

    GroupSelectChoice m_choice;
    qint64 m_min = 0;
    qint64 m_max = 0;
};
