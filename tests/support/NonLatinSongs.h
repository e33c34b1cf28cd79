#pragma once

#include "searchd/library/SampleLibrary.h"

#include <QList>
#include <QString>
#include <algorithm>

// Two songs whose names leave ASCII, for a library: one that Windows-1252 can hold and one
// that it cannot. Their frames are those of a plain sample file the header probe keeps.
namespace NonLatinSongs {

inline const QString kLatinArtist = QStringLiteral("\u00C7elik");            // Çelik
inline const QString kLatinTitle = QStringLiteral("R\u00FCzgar");            // Rüzgar
inline const QString kCjkArtist = QStringLiteral("\u5B87\u591A\u7530");      // 宇多田
inline const QString kCjkTitle = QStringLiteral("\u6771\u4EAC\u306E\u591C"); // 東京の夜

inline QList<SampleLibrary::SampleFile> files() {
    const QList<SampleLibrary::SampleFile> plan = SampleLibrary::plan(60);
    const auto plain = std::find_if(plan.begin(), plan.end(), [](const auto& file) {
        return file.wrapping == SampleLibrary::Wrapping::None && file.size >= 60000 &&
               file.frame.bitrate() >= 128;
    });
    QList<SampleLibrary::SampleFile> songs;
    for (const auto& [artist, title] :
         {std::pair{kLatinArtist, kLatinTitle}, std::pair{kCjkArtist, kCjkTitle}}) {
        SampleLibrary::SampleFile song = *plain;
        song.artist = artist;
        song.title = title;
        song.path = QStringLiteral("World/%1 - %2.mp3").arg(artist, title);
        songs.append(song);
    }
    return songs;
}

} // namespace NonLatinSongs
