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
        const Keys keys = keysOf(files[place]);
        const QList<int> found = matching(keys);
        int group = found.isEmpty() ? -1 : found.first();
        if (group < 0) {
            group = static_cast<int>(m_groups.size());
            m_groups.append(Group());
        }
        add(group, files[place], keys, static_cast<int>(place));
    }
    for (Group& group : m_groups)
        rank(group);
    m_order.resize(m_groups.size());
    std::iota(m_order.begin(), m_order.end(), 0);
    std::stable_sort(m_order.begin(), m_order.end(), [this](int a, int b) {
        return m_groups[a].song.relevance < m_groups[b].song.relevance;
    });
}

SongGroups::Keys SongGroups::keysOf(const FoundFile& file) {
    Keys keys{tagKey(file), {cleanedName(file.file.path)}, durationOf(file)};
    const QString tagged = cleanedName(file.file.displayName());
    if (!keys.names.contains(tagged))
        keys.names.append(tagged);
    return keys;
}

bool SongGroups::matches(const Group& group, const Keys& keys) {
    if (keys.durationSeconds > 0 && group.durationSeconds > 0 &&
        std::abs(keys.durationSeconds - group.durationSeconds) > kDurationSlack)
        return false;
    if (!keys.tags.isEmpty() && !group.tags.isEmpty())
        return keys.tags == group.tags;
    return std::any_of(keys.names.begin(), keys.names.end(),
                       [&](const QString& name) { return group.names.contains(name); });
}

QList<int> SongGroups::matching(const Keys& keys) const {
    QList<int> candidates = m_byTags.value(keys.tags);
    for (const QString& name : keys.names)
        candidates += m_byName.value(name);
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    QList<int> found;
    for (const int group : candidates)
        if (matches(m_groups[group], keys))
            found.append(group);
    return found;
}

void SongGroups::add(int index, const FoundFile& file, const Keys& keys, int place) {
    Group& group = m_groups[index];
    if (group.tags.isEmpty() && !keys.tags.isEmpty()) {
        group.tags = keys.tags;
        m_byTags[keys.tags].append(index);
    }
    for (const QString& name : keys.names) {
        if (!group.names.contains(name)) {
            group.names.append(name);
            m_byName[name].append(index);
        }
    }
    if (group.durationSeconds <= 0)
        group.durationSeconds = keys.durationSeconds;
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
    for (const int group : m_order)
        songs.append(m_groups[group].song);
    return songs;
}

QList<FoundFile> SongGroups::bestFirst() const {
    QList<FoundFile> files;
    for (const int group : m_order)
        files.append(m_groups[group].song.sources);
    return files;
}

void SongGroups::markLibrary(const QList<FoundFile>& library) {
    QList<QList<FoundFile>> copies(m_groups.size());
    for (qsizetype group = 0; group < m_groups.size(); ++group)
        for (const FoundFile& source : m_groups[group].song.sources)
            if (source.fromLibrary)
                copies[group].append(source);
    for (const FoundFile& file : library)
        for (const int group : matching(keysOf(file)))
            copies[group].append(file);
    for (qsizetype group = 0; group < m_groups.size(); ++group)
        markHad(m_groups[group].song, copies[group]);
}

void SongGroups::markHad(Song& song, const QList<FoundFile>& copies) {
    const auto crawled = std::find_if(song.sources.begin(), song.sources.end(),
                                      [](const FoundFile& f) { return !f.fromLibrary; });
    // A song only the library holds is had whatever its quality.
    const int crawledBitrate = crawled == song.sources.end() ? -1 : qualityOf(*crawled).bitrate;
    for (const FoundFile& copy : copies) {
        const ShownQuality quality = copy.shownQuality();
        const bool good = quality.known && quality.quality.verdict != Verdict::Transcoded &&
                          quality.bitrate >= crawledBitrate;
        if (crawledBitrate >= 0 && !good)
            continue;
        song.inLibrary = true;
        song.libraryBitrate = std::max(song.libraryBitrate, quality.known ? quality.bitrate : 0);
    }
}
