#include "searchd/index/IndexTypes.h"

QString IndexedFile::displayName() const {
    if (!artist.isEmpty() && !title.isEmpty())
        return artist + QLatin1String(" - ") + title + QLatin1String(".mp3");
    return path.section(QLatin1Char('/'), -1);
}

QString IndexedSource::shownUrl(const QUrl& url) {
    return url.toString(QUrl::RemoveUserInfo | QUrl::FullyEncoded);
}
