#pragma once

#include "crawl/ListingRead.h"

#include <QStringList>
#include <string>

// A listing's entries as one line each: "name[/] size date [url] [-> target]", for exact
// comparisons of whole listings.
inline std::string entryLines(const ListingRead& read) {
    QStringList lines;
    for (const RemoteEntry& entry : read.entries) {
        QString line =
            entry.name + (entry.folder ? QStringLiteral("/") : QString()) + QLatin1Char(' ') +
            QString::number(entry.size) + QLatin1Char(' ') +
            (entry.modified.isValid() ? entry.modified.toString(Qt::ISODate) : QStringLiteral("-"));
        if (!entry.url.isEmpty())
            line += QLatin1Char(' ') + QString::fromLatin1(entry.url.toEncoded());
        if (!entry.linkTarget.isEmpty())
            line += QStringLiteral(" -> ") + entry.linkTarget;
        lines.append(line);
    }
    return lines.join(QLatin1Char('\n')).toStdString();
}

inline std::string lines(const QStringList& expected) {
    return expected.join(QLatin1Char('\n')).toStdString();
}
