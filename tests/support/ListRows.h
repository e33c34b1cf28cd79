#pragma once

#include "search/HitListModel.h"
#include "search/HostListModel.h"

#include <QStringList>

// The hit list as "caption|mark|size|info" rows.
inline QStringList HitRowTexts(const HitListModel& model) {
    QStringList rows;
    for (int row = 0; row < model.rowCount(); ++row)
        rows.append(
            QStringLiteral("%1|%2|%3|%4")
                .arg(model.index(row, 0).data().toString())
                .arg(model.index(row, 0).data(HitListModel::ImageIndexRole).toInt())
                .arg(model.index(row, 1).data().toString(), model.index(row, 2).data().toString()));
    return rows;
}

// The host list as "caption|files" rows.
inline QStringList HostRowTexts(const HostListModel& model) {
    QStringList rows;
    for (int row = 0; row < model.rowCount(); ++row)
        rows.append(model.index(row, 0).data().toString() + "|" +
                    model.index(row, 1).data().toString());
    return rows;
}
