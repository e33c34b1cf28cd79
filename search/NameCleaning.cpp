#include "search/NameCleaning.h"

#include "core/HitText.h"
#include "platform/Cp1252.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

using namespace std::string_view_literals;

constexpr std::array kLinkJunk = {
    ":"sv,        "*"sv,      "?"sv,       "&nbsp;"sv,  "&amp;"sv, "- [hold shift to download]"sv,
    "&Agrave;"sv, "&luml;"sv, "&Aring;"sv, "&raquo;"sv, "\""sv,    ".mp3"sv,
    "&quot;"sv,   "/"sv,
};

constexpr std::array kRefusedPieces = {
    "ttp://"sv,    "Font Size"sv,   "/1"sv,       "../"sv,      "\xAC"sv, "\xB7"sv,
    "\xBD"sv,      "\xC1"sv,        "\xB9\xBE"sv, "\xF7"sv,     "//"sv,   "quality"sv,
    "Font Face"sv, "Onmouseover"sv, "/a"sv,       "Img Src="sv,
};

constexpr std::array kNameJunk = {
    "Mono - Excerpt - "sv,
    "img src=\""sv,
    "alt=\""sv,
    "http://"sv,
    "Http://"sv,
    "HTTP://"sv,
    "www."sv,
    "WWW."sv,
    "Stereo - Excerpt - "sv,
    "Name="sv,
    "name="sv,
};

bool isAsciiLower(char c) {
    return c >= 'a' && c <= 'z';
}

bool isAsciiUpper(char c) {
    return c >= 'A' && c <= 'Z';
}

char toAsciiUpper(char c) {
    return isAsciiLower(c) ? char(c - 'a' + 'A') : c;
}

// Deleting the first occurrence again and again until none is left, in one pass: each
// character goes onto the result, and whenever the result ends with the entry, the entry
// comes off again. Occurrences all have the same length, so the one that ends first is
// also the one that starts first, and what lies before a removal never holds the entry.
QByteArray removeAll(const QByteArray& text, std::string_view entry) {
    QByteArray result;
    result.reserve(text.size());
    const auto size = qsizetype(entry.size());
    for (const char c : text) {
        result.append(c);
        if (result.size() >= size && c == entry.back() &&
            std::string_view(result.constData() + result.size() - size, entry.size()) == entry)
            result.chop(size);
    }
    return result;
}

template <size_t N>
QByteArray removeEntries(QByteArray text, const std::array<std::string_view, N>& table) {
    for (const std::string_view entry : table)
        text = removeAll(text, entry);
    return text;
}

QByteArray spacedDashes(const QByteArray& text) {
    QByteArray result;
    result.reserve(text.size() + text.size() / 4);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '-') {
            result.append(c);
            continue;
        }
        if (!result.isEmpty() && result.back() != ' ')
            result.append(' ');
        result.append('-');
        if (i + 1 < text.size() && text[i + 1] != ' ')
            result.append(' ');
    }
    return result;
}

} // namespace

QByteArray CleanLinkText(const QByteArray& text) {
    return removeEntries(text, kLinkJunk);
}

bool IsAcceptableName(const QByteArray& name) {
    const std::string_view view(name.constData(), size_t(name.size()));
    return std::none_of(kRefusedPieces.begin(), kRefusedPieces.end(),
                        [&](std::string_view piece) { return view.find(piece) != view.npos; });
}

QByteArray NormalizeName(const QByteArray& name) {
    QByteArray text = name;
    for (char& c : text) {
        if (isAsciiUpper(c))
            c = char(c - 'A' + 'a');
    }
    if (!text.isEmpty())
        text[0] = toAsciiUpper(text[0]);
    text.replace('_', ' ');
    text = spacedDashes(text);
    for (qsizetype i = 1; i < text.size(); ++i) {
        if (text[i - 1] == ' ')
            text[i] = toAsciiUpper(text[i]);
    }
    return removeEntries(text, kNameJunk);
}

QByteArray TrimBlanks(const QByteArray& text) {
    const auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && isBlank(text[start]))
        ++start;
    while (end > start && isBlank(text[end - 1]))
        --end;
    return text.mid(start, end - start);
}

QByteArray PrepareDisplayName(const QByteArray& rawLinkText) {
    const QByteArray cleaned = TrimBlanks(CleanLinkText(rawLinkText));
    if (cleaned.isEmpty())
        return {};
    const QByteArray name = NormalizeName(cleaned);
    return IsAcceptableName(name) ? name : QByteArray();
}

QByteArray PrepareUtf8DisplayName(const QByteArray& rawLinkText) {
    const QString text = QString::fromUtf8(rawLinkText);
    const QByteArray hitText = HitText::fromUnicode(text);
    if (!HitText::isUtf8(hitText))
        return PrepareDisplayName(hitText);
    // The cleaning deletes and changes ASCII only, which never occurs inside a UTF-8 sequence;
    // the refused Windows-1252 characters are looked for among the characters, since their
    // codes are also the bytes inside UTF-8 sequences.
    const QByteArray cleaned = TrimBlanks(CleanLinkText(text.toUtf8()));
    if (cleaned.isEmpty())
        return {};
    const QString name = QString::fromUtf8(NormalizeName(cleaned));
    return IsAcceptableName(Cp1252::fromUnicode(name)) ? HitText::fromUnicode(name) : QByteArray();
}
