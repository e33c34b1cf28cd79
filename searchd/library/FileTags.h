#pragma once

#include <QString>

// Artist and title of a library file: from its tags when it has both, otherwise from a file
// name of the form "Artist - Title.mp3", otherwise the bare name as the title.
struct FileTags {
    QString artist;
    QString title;

    static FileTags read(const QString& absolutePath);
    static FileTags fromFileName(const QString& fileName);
};
