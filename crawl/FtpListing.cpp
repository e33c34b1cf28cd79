#include "crawl/FtpListing.h"

#include "crawl/SafeNames.h"

#include <optional>

namespace {

const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                               "jul", "aug", "sep", "oct", "nov", "dec"};

// Calls take(line) for each line of the body without its CR LF, until take answers false.
template <typename Take> void forEachLine(const QByteArray& body, Take take) {
    qsizetype start = 0;
    while (start < body.size()) {
        qsizetype end = body.indexOf('\n', start);
        if (end < 0)
            end = body.size();
        QByteArrayView line = QByteArrayView(body).sliced(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        if (!take(line))
            return;
        start = end + 1;
    }
}

bool isDigits(QByteArrayView word) {
    if (word.isEmpty())
        return false;
    for (const char c : word) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

int number(QByteArrayView digits) {
    return isDigits(digits) && digits.size() <= 9 ? digits.toInt() : -1;
}

qint64 byteCount(QByteArrayView digits) {
    return isDigits(digits) && digits.size() <= 18 ? digits.toLongLong() : -1;
}

// The words of a line with where each starts, so that a name can run to the line's end.
struct Word {
    QByteArrayView text;
    qsizetype start = 0;
};

QList<Word> words(QByteArrayView line, int count) {
    QList<Word> out;
    qsizetype i = 0;
    while (out.size() < count) {
        while (i < line.size() && (line.at(i) == ' ' || line.at(i) == '\t'))
            ++i;
        if (i >= line.size())
            break;
        const qsizetype start = i;
        while (i < line.size() && line.at(i) != ' ' && line.at(i) != '\t')
            ++i;
        out.append({line.sliced(start, i - start), start});
    }
    return out;
}

int monthNumber(QByteArrayView name) {
    for (int i = 0; i < 12; ++i) {
        if (name.size() == 3 && QByteArray(name.data(), 3).toLower() == kMonths[i])
            return i + 1;
    }
    return 0;
}

// MLSD's "YYYYMMDDHHMMSS[.sss]", UTC.
QDateTime mlsdTime(QByteArrayView value) {
    if (value.size() < 14 || !isDigits(value.first(14)))
        return {};
    const QDate date(number(value.sliced(0, 4)), number(value.sliced(4, 2)),
                     number(value.sliced(6, 2)));
    const QTime time(number(value.sliced(8, 2)), number(value.sliced(10, 2)),
                     number(value.sliced(12, 2)));
    return date.isValid() && time.isValid() ? QDateTime(date, time, Qt::UTC) : QDateTime();
}

std::optional<RemoteEntry> mlsdEntry(QByteArrayView line) {
    const qsizetype space = line.indexOf(' ');
    if (space < 0)
        return std::nullopt;
    RemoteEntry entry;
    QByteArray type, linkTarget;
    for (const QByteArray& fact : line.first(space).toByteArray().split(';')) {
        const qsizetype equals = fact.indexOf('=');
        if (equals < 0)
            continue;
        const QByteArray name = fact.left(equals).toLower();
        const QByteArray value = fact.mid(equals + 1);
        if (name == "type") {
            type = value.toLower();
            // A link, as proftpd ("OS.unix=symlink") and others ("OS.unix=slink:target")
            // show it: walked as LIST's links are.
            if (type.startsWith("os.unix=slink:"))
                linkTarget = value.mid(14);
            if (type == "os.unix=symlink" || !linkTarget.isEmpty())
                type = "link";
        } else if (name == "size")
            entry.size = byteCount(value);
        else if (name == "modify")
            entry.modified = mlsdTime(value);
    }
    if (type != "file" && type != "dir" && type != "link")
        return std::nullopt;
    entry.folder = type == "dir";
    if (entry.folder)
        entry.size = -1;
    const QByteArrayView bytes = line.sliced(space + 1);
    if (SafeNames::isDots(bytes))
        return std::nullopt;
    entry.name = SafeNames::fromUtf8(bytes).value_or(QString()); // empty: counted as left out
    if (type == "link") {
        // Without a target the link is taken for a folder of its own name; a loop back up
        // is still found by its listing.
        entry.linkTarget = linkTarget.isEmpty() ? entry.name : QString::fromUtf8(linkTarget);
        entry.size = -1; // the size of the link, not of what it leads to
    }
    return entry;
}

// "drwxr-xr-x 2 user group 4096 Jan 1 12:00 name", with or without the group, the date's
// last word a time (within the year before now) or a year.
std::optional<RemoteEntry> unixEntry(QByteArrayView line, const QDateTime& now) {
    const char kind = line.isEmpty() ? 0 : line.at(0);
    if (kind != '-' && kind != 'd' && kind != 'l')
        return std::nullopt;
    const QList<Word> parts = words(line, 9);
    // The date is the first month name after the size, followed by a day and a time or year.
    for (qsizetype i = 2; i + 2 < parts.size(); ++i) {
        const int month = monthNumber(parts[i].text);
        const int day = number(parts[i + 1].text);
        if (!month || day < 1 || day > 31 || !isDigits(parts[i - 1].text))
            continue;
        const QByteArrayView last = parts[i + 2].text;
        QDateTime modified;
        if (last.size() == 5 && last.at(2) == ':') {
            const QTime time(number(last.first(2)), number(last.sliced(3)));
            int year = now.date().year();
            QDateTime guess(QDate(year, month, day), time, Qt::UTC);
            if (guess > now.addDays(1))
                guess = QDateTime(QDate(year - 1, month, day), time, Qt::UTC);
            modified = guess;
        } else if (isDigits(last) && last.size() == 4) {
            modified = QDateTime(QDate(number(last), month, day), QTime(0, 0), Qt::UTC);
        } else {
            continue;
        }
        const qsizetype nameStart = parts[i + 2].start + last.size() + 1;
        if (nameStart >= line.size())
            return std::nullopt;
        QByteArrayView name = line.sliced(nameStart);
        RemoteEntry entry;
        entry.folder = kind == 'd';
        entry.size = entry.folder ? -1 : byteCount(parts[i - 1].text);
        entry.modified = modified;
        if (kind == 'l') {
            const qsizetype arrow = name.indexOf(" -> ");
            if (arrow >= 0) {
                entry.linkTarget = QString::fromUtf8(name.sliced(arrow + 4));
                name = name.first(arrow);
            }
            entry.size = -1; // the size of the link, not of what it leads to
        }
        if (SafeNames::isDots(name))
            return std::nullopt;
        entry.name = SafeNames::fromUtf8(name).value_or(QString()); // empty: left out
        return entry;
    }
    return std::nullopt;
}

// "01-02-24  10:00AM       <DIR>          name" or "...  1234 name" (month-day-year).
std::optional<RemoteEntry> dosEntry(QByteArrayView line) {
    const QList<Word> parts = words(line, 3);
    if (parts.size() < 3)
        return std::nullopt;
    const QList<QByteArray> date = parts[0].text.toByteArray().split('-');
    const QByteArrayView clock = parts[1].text;
    if (date.size() != 3 || clock.size() != 7 || clock.at(2) != ':')
        return std::nullopt;
    int year = number(date[2]);
    if (date[2].size() == 2)
        year += year < 70 ? 2000 : 1900;
    int hour = number(clock.first(2));
    const QByteArray half = clock.sliced(5).toByteArray().toUpper();
    if (hour < 1 || hour > 12 || (half != "AM" && half != "PM"))
        return std::nullopt;
    hour = hour % 12 + (half == "PM" ? 12 : 0);
    const QDate day(year, number(date[0]), number(date[1]));
    const QTime time(hour, number(clock.sliced(3, 2)));
    if (!day.isValid() || !time.isValid())
        return std::nullopt;
    RemoteEntry entry;
    entry.modified = QDateTime(day, time, Qt::UTC);
    entry.folder = parts[2].text == "<DIR>";
    if (!entry.folder) {
        entry.size = byteCount(parts[2].text);
        if (entry.size < 0)
            return std::nullopt;
    }
    // The name column starts after the blanks that pad the size column.
    qsizetype i = parts[2].start + parts[2].text.size();
    while (i < line.size() && line.at(i) == ' ')
        ++i;
    const QByteArrayView name = line.sliced(i);
    if (SafeNames::isDots(name))
        return std::nullopt;
    entry.name = SafeNames::fromUtf8(name).value_or(QString()); // empty: left out
    return entry;
}

} // namespace

namespace FtpListing {

ListingRead readMlsd(const QByteArray& body) {
    ListingCollector collector;
    forEachLine(body, [&](QByteArrayView line) {
        const std::optional<RemoteEntry> entry = mlsdEntry(line);
        return !entry || collector.add(*entry);
    });
    return collector.result();
}

ListingRead readList(const QByteArray& body) {
    return readList(body, QDateTime::currentDateTimeUtc());
}

ListingRead readList(const QByteArray& body, const QDateTime& now) {
    ListingCollector collector;
    forEachLine(body, [&](QByteArrayView line) {
        if (line.size() < 10) // shorter than any listing line
            return true;
        std::optional<RemoteEntry> entry = unixEntry(line, now);
        if (!entry)
            entry = dosEntry(line);
        return !entry || collector.add(*entry);
    });
    return collector.result();
}

} // namespace FtpListing
