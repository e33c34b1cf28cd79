#include "searchd/index/IndexWords.h"

#include "searchd/LibraryFolder.h"

#include <utility>

namespace {

// The text decomposed, its nonspacing marks dropped and folded to lower case.
QString plain(const QString& text) {
    const QString decomposed = text.normalized(QString::NormalizationForm_D);
    QString out;
    out.reserve(decomposed.size());
    for (const QChar c : decomposed)
        if (c.category() != QChar::Mark_NonSpacing)
            out.append(c);
    return out.toCaseFolded();
}

// Cuts a word to at most kMaxLength units without splitting a surrogate pair.
QString bounded(QString word) {
    if (word.size() <= IndexWords::kMaxLength)
        return word;
    int length = IndexWords::kMaxLength;
    if (word.at(length - 1).isHighSurrogate())
        --length;
    return word.left(length);
}

} // namespace

QStringList IndexWords::of(const QString& text) {
    const QString folded = plain(text);
    QStringList words;
    QString word;
    for (qsizetype i = 0; i < folded.size(); ++i) {
        const QChar c = folded.at(i);
        const bool pair =
            c.isHighSurrogate() && i + 1 < folded.size() && folded.at(i + 1).isLowSurrogate();
        const bool part = pair
                              ? QChar::isLetterOrNumber(QChar::surrogateToUcs4(c, folded.at(i + 1)))
                              : c.isLetterOrNumber();
        if (part) {
            word.append(c);
            if (pair)
                word.append(folded.at(++i));
            continue;
        }
        if (pair)
            ++i;
        if (!word.isEmpty())
            words.append(bounded(std::exchange(word, QString())));
    }
    if (!word.isEmpty())
        words.append(bounded(word));
    return words;
}

QString IndexWords::ofFile(const QString& path, const QString& artist, const QString& title) {
    QString name = path;
    if (LibraryFolder::isMp3Name(name))
        name.chop(4);
    return (of(name) + of(artist) + of(title)).join(QLatin1Char(' '));
}

QStringList IndexWords::ofQuery(const QStringList& words) {
    QStringList out;
    for (const QString& word : words)
        for (const QString& part : of(word))
            if (!out.contains(part))
                out.append(part);
    return out;
}
