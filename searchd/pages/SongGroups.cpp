#include "searchd/pages/SongGroups.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

constexpr int kMaxTrackDigits = 3;

int verdictRank(Verdict verdict) {
    switch (verdict) {
    case Verdict::Genuine:
        return 0;
    case Verdict::Unknown:
        return 1;
    case Verdict::Transcoded:
        return 2;
    }
    return 1;
}

// What ranks a source: its verdict and bitrate, unknown (and 0) when its head was not read.
ShownQuality qualityOf(const FoundFile& file) {
    ShownQuality shown = file.shownQuality();
    if (!shown.known)
        shown = ShownQuality();
    return shown;
}

double durationOf(const FoundFile& file) {
    return qualityOf(file).quality.durationSeconds;
}

QString withoutBlanks(const QString& text) {
    QString out;
    for (const QChar c : text)
        if (!c.isSpace())
            out += c;
    return out.toCaseFolded();
}

// The file's own name without folder and extension.
QString baseName(const QString& path) {
    QString name = path.section(QLatin1Char('/'), -1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0)
        name.truncate(dot);
    return name;
}

bool isTrackNumber(const QString& word) {
    if (word.isEmpty() || word.size() > kMaxTrackDigits)
        return false;
    return std::all_of(word.begin(), word.end(), [](QChar c) { return c.isDigit(); });
}

// The name's words: runs of letters and digits.
QStringList wordsOf(const QString& name) {
    QStringList words;
    QString word;
    for (const QChar c : name) {
        if (c.isLetterOrNumber()) {
            word += c;
        } else if (!word.isEmpty()) {
            words.append(word);
            word.clear();
        }
    }
    if (!word.isEmpty())
        words.append(word);
    return words;
}

// The name without a leading track number: "01 - Artist - Title" is "Artist - Title".
QString withoutTrackNumber(const QString& name) {
    const QStringList words = wordsOf(name);
    if (words.size() < 2 || !isTrackNumber(words.first()))
        return name;
    const qsizetype after = name.indexOf(words.first()) + words.first().size();
    qsizetype start = after;
    while (start < name.size() && !name.at(start).isLetterOrNumber())
        ++start;
    return name.mid(start);
}

} // namespace

QString SongGroups::cleanedName(const QString& path) {
    return wordsOf(withoutTrackNumber(baseName(path))).join(QString()).toCaseFolded();
}

QString SongGroups::tagKey(const FoundFile& file) {
    const QString artist = withoutBlanks(file.file.artist);
    const QString title = withoutBlanks(file.file.title);
    if (artist.isEmpty() || title.isEmpty())
        return {};
    return artist + QChar(0x1F) + title;
}

bool SongGroups::betterSource(const FoundFile& a, const FoundFile& b) {
    const ShownQuality qa = qualityOf(a);
    const ShownQuality qb = qualityOf(b);
    const int ra = verdictRank(qa.quality.verdict);
    const int rb = verdictRank(qb.quality.verdict);
    if (ra != rb)
        return ra < rb;
    return qa.bitrate > qb.bitrate;
}

SongGroups::SongGroups(const QList<FoundFile>& files) {
    for (qsizetype place = 0; place < files.size(); ++place) {
        const FoundFile& file = files[place];
        const auto group = std::find_if(m_groups.begin(), m_groups.end(),
                                        [&](const Group& g) { return matches(g, file); });
        if (group != m_groups.end()) {
            add(*group, file, static_cast<int>(place));
        } else {
            m_groups.append(Group());
            add(m_groups.last(), file, static_cast<int>(place));
        }
    }
    for (Group& group : m_groups)
        rank(group);
    std::stable_sort(m_groups.begin(), m_groups.end(), [](const Group& a, const Group& b) {
        return a.song.relevance < b.song.relevance;
    });
}

bool SongGroups::matches(const Group& group, const FoundFile& file) {
    const double duration = durationOf(file);
    if (duration > 0 && group.durationSeconds > 0 &&
        std::abs(duration - group.durationSeconds) > kDurationSlack)
        return false;
    const QString tags = tagKey(file);
    if (!tags.isEmpty() && !group.tags.isEmpty())
        return tags == group.tags;
    return group.names.contains(cleanedName(file.file.path));
}

void SongGroups::add(Group& group, const FoundFile& file, int place) {
    if (group.tags.isEmpty())
        group.tags = tagKey(file);
    // A tagged file also goes by the name it would have as "Artist - Title.mp3".
    for (const QString& path : {file.file.path, file.file.displayName()}) {
        const QString name = cleanedName(path);
        if (!group.names.contains(name))
            group.names.append(name);
    }
    if (group.durationSeconds <= 0)
        group.durationSeconds = durationOf(file);
    group.song.sources.append(file);
    group.places.append(place);
}

void SongGroups::rank(Group& group) {
    Song& song = group.song;
    QList<int> order(song.sources.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return betterSource(song.sources[a], song.sources[b]); });
    QList<FoundFile> ranked;
    for (const int i : order)
        ranked.append(song.sources[i]);
    song.sources = ranked;
    song.relevance = group.places[order.first()];

    for (const FoundFile& source : song.sources) {
        if (song.durationSeconds <= 0)
            song.durationSeconds = durationOf(source);
        if (song.title.isEmpty() && !tagKey(source).isEmpty()) {
            song.artist = source.file.artist.trimmed();
            song.title = source.file.title.trimmed();
        }
    }
    if (song.title.isEmpty()) {
        // "Artist - Title" as most shared files are named; the whole name otherwise.
        const QString name = withoutTrackNumber(baseName(song.sources.first().file.path));
        const qsizetype dash = name.indexOf(QLatin1String(" - "));
        song.artist = dash > 0 ? name.left(dash).trimmed() : QString();
        song.title = dash > 0 ? name.mid(dash + 3).trimmed() : name.trimmed();
    }
}

QList<Song> SongGroups::songs() const {
    QList<Song> songs;
    for (const Group& group : m_groups)
        songs.append(group.song);
    return songs;
}

QList<FoundFile> SongGroups::bestFirst() const {
    QList<FoundFile> files;
    for (const Group& group : m_groups)
        files.append(group.song.sources);
    return files;
}

void SongGroups::markLibrary(const QList<FoundFile>& library) {
    for (Group& group : m_groups) {
        Song& song = group.song;
        QList<FoundFile> copies;
        int crawledBitrate = -1; // no crawled source
        for (const FoundFile& source : song.sources) {
            if (source.fromLibrary)
                copies.append(source);
            else if (crawledBitrate < 0)
                crawledBitrate = qualityOf(source).bitrate; // the best one's
        }
        for (const FoundFile& file : library)
            if (matches(group, file))
                copies.append(file);
        for (const FoundFile& copy : copies) {
            const ShownQuality quality = copy.shownQuality();
            const bool good = quality.known && quality.quality.verdict != Verdict::Transcoded &&
                              quality.bitrate >= crawledBitrate;
            if (crawledBitrate >= 0 && !good)
                continue;
            song.inLibrary = true;
            song.libraryBitrate =
                std::max(song.libraryBitrate, quality.known ? quality.bitrate : 0);
        }
    }
}
