#include "searchd/library/FileTags.h"

#include <QFile>
#include <QFileInfo>
#include <taglib/fileref.h>
#include <taglib/tag.h>
#include <taglib/tdebuglistener.h>

namespace {

// TagLib reports every odd file on stderr; a library of odd files is normal here.
class QuietTagLib : public TagLib::DebugListener {
public:
    void printMessage(const TagLib::String&) override {}
};

void silenceTagLib() {
    static QuietTagLib listener;
    static const bool installed = (TagLib::setDebugListener(&listener), true);
    (void)installed;
}

QString toQString(const TagLib::String& text) {
    return QString::fromStdWString(text.toWString()).trimmed();
}

} // namespace

FileTags FileTags::read(const QString& absolutePath) {
    silenceTagLib();
    const TagLib::FileRef file(QFile::encodeName(absolutePath).constData(), false);
    if (!file.isNull() && file.tag()) {
        FileTags tags{toQString(file.tag()->artist()), toQString(file.tag()->title())};
        if (!tags.artist.isEmpty() && !tags.title.isEmpty())
            return tags;
    }
    return fromFileName(QFileInfo(absolutePath).fileName());
}

FileTags FileTags::fromFileName(const QString& fileName) {
    QString base = fileName;
    if (base.endsWith(QLatin1String(".mp3"), Qt::CaseInsensitive))
        base.chop(4);
    const qsizetype dash = base.indexOf(QLatin1String(" - "));
    if (dash <= 0)
        return {QString(), base.trimmed()};
    return {base.left(dash).trimmed(), base.mid(dash + 3).trimmed()};
}
