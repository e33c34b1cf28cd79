#include "searchd/index/SavedSearchStore.h"

#include "searchd/index/IndexWords.h"

QString SavedSearch::sameness() const {
    const QStringList reduced =
        IndexWords::ofQuery(words.split(QLatin1Char(' '), Qt::SkipEmptyParts));
    if (reduced.isEmpty())
        return {};
    return reduced.join(QLatin1Char(' ')) + QLatin1Char('\n') + kind + QLatin1Char('\n') +
           QString::number(minBitrate) + QLatin1Char('\n') +
           QLatin1String(genuineOnly ? "genuine" : "any");
}
