#pragma once

#include <QByteArray>
#include <QString>

// Artist and title from the tags of an MP3 file's bytes: the text frames of an ID3v2.2,
// v2.3 or v2.4 tag at the start (TP1/TT2, TPE1/TIT2) and the ID3v1 tag in the last 128
// bytes. Reads only the bytes given; a tag cut short yields the frames that are whole.
// Texts lose control characters and the blanks at either end.
struct Id3Tags {
    QString artist;
    QString title;

    static Id3Tags fromId3v2(const QByteArray& head);
    static Id3Tags fromId3v1(const QByteArray& tail);
};
