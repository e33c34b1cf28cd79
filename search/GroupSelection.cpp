#include "search/GroupSelection.h"

#include "platform/Errors.h"
#include "search/FindInList.h"

#include <QItemSelectionModel>

namespace {

// The edits hold kilobytes of 1000 bytes; the list's "Size" holds bytes.
qint64 bytesOf(const QString& kilobytes) {
    return kilobytes.isEmpty() ? 0 : qint64(StrToInt(kilobytes)) * 1000;
}

} // namespace

QString GroupSelection::warningFor(const GroupSelectChoice& choice) {
    if (!choice.sizeInRange && !choice.nameMustContain)
        return QStringLiteral("Please check one option first!");
    return {};
}

bool GroupSelection::isSizeText(const QString& text) {
    const std::optional<int> value = TryStrToInt(text);
    return value && *value >= 0;
}

GroupSelection::GroupSelection(const GroupSelectChoice& choice) : m_choice(choice) {
    if (m_choice.sizeInRange) {
        m_min = bytesOf(m_choice.minKb);
        m_max = bytesOf(m_choice.maxKb);
    }
    if (!m_choice.caseSensitive)
        m_choice.text = LowerCaseAZ(m_choice.text);
}

bool GroupSelection::nameMatches(const QString& caption) const {
    if (m_choice.text.isEmpty())
        return false;
    return (m_choice.caseSensitive ? caption : LowerCaseAZ(caption)).contains(m_choice.text);
}

void GroupSelection::apply(QItemSelectionModel& selection) const {
    selection.clearSelection();
    const QAbstractItemModel* model = selection.model();
    const int lastColumn = model->columnCount() - 1;
    QItemSelection chosen;
    // Neighbouring rows go into one range: one selection change for the whole list.
    int runStart = -1;
    auto closeRun = [&](int endRow) {
        if (runStart >= 0)
            chosen.select(model->index(runStart, 0), model->index(endRow, lastColumn));
        runStart = -1;
    };
    int row = 0;
    try {
        for (; row < model->rowCount(); ++row) {
            bool selected = true;
            if (m_choice.nameMustContain)
                selected = nameMatches(model->index(row, 0).data().toString());
            if (m_choice.sizeInRange) {
                const qint64 size = StrToInt(model->index(row, 1).data().toString());
                selected = selected && size >= m_min && (m_max <= 0 || size <= m_max);
            }
            if (selected && runStart < 0)
                runStart = row;
            if (!selected)
                closeRun(row - 1);
        }
    } catch (const EConvertError&) {
        closeRun(row - 1);
        selection.select(chosen, QItemSelectionModel::Select);
        throw;
    }
    closeRun(row - 1);
    selection.select(chosen, QItemSelectionModel::Select);
}
