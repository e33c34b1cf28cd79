#include "platform/SettingsFile.h"

#include "platform/Cp1252.h"
#include "platform/Errors.h"

#include <QFile>
#include <QSaveFile>
#include <optional>

namespace {

QByteArray trimmed(QByteArrayView text) {
    return text.trimmed().toByteArray();
}

// "[name]" with optional blanks around; the name between the brackets.
std::optional<QByteArray> sectionName(const QByteArray& line) {
    const QByteArray text = trimmed(line);
    if (!text.startsWith('['))
        return std::nullopt;
    const qsizetype close = text.indexOf(']');
    if (close < 0)
        return std::nullopt;
    return trimmed(QByteArrayView(text).sliced(1, close - 1));
}

struct KeyLine {
    QByteArray name;
    QByteArray value;
};

std::optional<KeyLine> keyLine(const QByteArray& line) {
    const qsizetype eq = line.indexOf('=');
    if (eq < 0)
        return std::nullopt;
    KeyLine entry{trimmed(QByteArrayView(line).first(eq)),
                  trimmed(QByteArrayView(line).sliced(eq + 1))};
    if (entry.name.isEmpty())
        return std::nullopt;
    return entry;
}

bool sameName(const QByteArray& a, const QString& b) {
    return Cp1252::toUnicode(a).compare(b, Qt::CaseInsensitive) == 0;
}

// Where a section's lines lie: the header line and one past its last key line.
struct SectionSpan {
    qsizetype header = -1;
    qsizetype endOfKeys = -1;
};

SectionSpan findSection(const QList<QByteArray>& lines, const QString& section) {
    SectionSpan span;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto name = sectionName(lines[i]);
        if (span.header >= 0) {
            if (name)
                break;
            if (!trimmed(lines[i]).isEmpty())
                span.endOfKeys = i + 1;
        } else if (name && sameName(*name, section)) {
            span.header = i;
            span.endOfKeys = i + 1;
        }
    }
    return span;
}

qsizetype findKey(const QList<QByteArray>& lines, const SectionSpan& span, const QString& key) {
    for (qsizetype i = span.header + 1; i < span.endOfKeys; ++i) {
        const auto entry = keyLine(lines[i]);
        if (entry && sameName(entry->name, key))
            return i;
    }
    return -1;
}

// A value in matching quotes is read without them.
QByteArray unquoted(const QByteArray& value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.sliced(1, value.size() - 2);
    return value;
}

} // namespace

SettingsFile::SettingsFile(const QString& fileName) : m_fileName(fileName) {}

std::optional<QList<QByteArray>> SettingsFile::loadLines() const {
    QFile file(m_fileName);
    if (!file.exists())
        return QList<QByteArray>();
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    QList<QByteArray> lines = content.split('\n');
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    return lines;
}

void SettingsFile::refuseWrite() const {
    throw EIniFileException(QStringLiteral("Unable to write to %1").arg(m_fileName));
}

void SettingsFile::saveLines(const QList<QByteArray>& lines) {
    QByteArray content;
    for (const QByteArray& line : lines)
        content += line + "\r\n";
    QSaveFile file(m_fileName);
    const bool written =
        file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit();
    if (!written)
        refuseWrite();
}

QString SettingsFile::readString(const QString& section, const QString& key,
                                 const QString& defaultValue) const {
    // A file that cannot be read reads as missing: reads never fail.
    const QList<QByteArray> lines = loadLines().value_or(QList<QByteArray>());
    const SectionSpan span = findSection(lines, section);
    const qsizetype at = span.header < 0 ? -1 : findKey(lines, span, key);
    if (at < 0)
        return defaultValue.left(kMaxValueLength);
    const QByteArray value = unquoted(keyLine(lines[at])->value);
    return Cp1252::toUnicode(value.left(kMaxValueLength));
}

int SettingsFile::readInteger(const QString& section, const QString& key, int defaultValue) const {
    QString text = readString(section, key, QString());
    if (text.size() > 2 && text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        text = QLatin1Char('$') + text.mid(2);
    return TryStrToInt(text).value_or(defaultValue);
}

bool SettingsFile::readBool(const QString& section, const QString& key, bool defaultValue) const {
    return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void SettingsFile::writeString(const QString& section, const QString& key, const QString& value) {
    // Writing without the existing lines would replace every other setting with this one.
    std::optional<QList<QByteArray>> loaded = loadLines();
    if (!loaded)
        refuseWrite();
    QList<QByteArray>& lines = *loaded;
    const QByteArray encodedKey = Cp1252::fromUnicode(key);
    // A value cannot hold a line break in this format.
    QByteArray encodedValue = Cp1252::fromUnicode(value);
    encodedValue.replace('\r', ' ').replace('\n', ' ');

    const SectionSpan span = findSection(lines, section);
    if (span.header < 0) {
        if (!lines.isEmpty() && !trimmed(lines.back()).isEmpty())
            lines.append(QByteArray());
        lines.append('[' + Cp1252::fromUnicode(section) + ']');
        lines.append(encodedKey + '=' + encodedValue);
    } else if (const qsizetype at = findKey(lines, span, key); at >= 0) {
        // The existing line keeps its place and its spelling of the key.
        lines[at] = keyLine(lines[at])->name + '=' + encodedValue;
    } else {
        lines.insert(span.endOfKeys, encodedKey + '=' + encodedValue);
    }
    saveLines(lines);
}

void SettingsFile::writeInteger(const QString& section, const QString& key, int value) {
    writeString(section, key, QString::number(value));
}

void SettingsFile::writeBool(const QString& section, const QString& key, bool value) {
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}
