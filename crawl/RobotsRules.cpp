#include "crawl/RobotsRules.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace {

struct Group {
    QList<QByteArray> agents; // lower case
    QList<QByteArray> lines;  // "allow:PATTERN", "disallow:PATTERN", "crawl-delay:VALUE"
};

// Percent escapes in upper case, and the bytes that are no URL characters escaped, so that
// a pattern and a path written either way compare equal.
QByteArray normalised(QByteArrayView text) {
    static const char kHex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text.at(i));
        if (c == '%' && i + 2 < text.size() && std::isxdigit(text.at(i + 1)) &&
            std::isxdigit(text.at(i + 2))) {
            out += '%';
            out += char(std::toupper(text.at(i + 1)));
            out += char(std::toupper(text.at(i + 2)));
            i += 2;
        } else if (c <= 0x20 || c >= 0x7F) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += char(c);
        }
    }
    return out;
}

QList<Group> groups(const QByteArray& body) {
    QList<Group> out;
    bool lastWasAgent = false;
    const QByteArray text = body.left(RobotsRules::kMaxBytes);
    const qsizetype end =
        body.size() > RobotsRules::kMaxBytes ? text.lastIndexOf('\n') + 1 : text.size();
    qsizetype start = 0;
    // A UTF-8 byte order mark may open the file.
    if (text.startsWith("\xEF\xBB\xBF"))
        start = 3;
    while (start < end) {
        qsizetype lineEnd = text.indexOf('\n', start);
        if (lineEnd < 0 || lineEnd > end)
            lineEnd = end;
        QByteArray line = text.mid(start, lineEnd - start);
        start = lineEnd + 1;
        const qsizetype hash = line.indexOf('#');
        if (hash >= 0)
            line.truncate(hash);
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray key = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (key == "user-agent") {
            if (!lastWasAgent || out.isEmpty())
                out.append(Group());
            out.last().agents.append(value.toLower());
            lastWasAgent = true;
        } else if (key == "allow" || key == "disallow" || key == "crawl-delay") {
            if (!out.isEmpty())
                out.last().lines.append(key + ':' + value);
            lastWasAgent = false;
        }
    }
    return out;
}

// The product token of an agent text: "pellmar" of "Pellmar/3.2".
QByteArray productToken(const QByteArray& agent) {
    return agent.split('/').first().trimmed().toLower();
}

} // namespace

RobotsRules RobotsRules::parse(const QByteArray& body, const QByteArray& agent) {
    const QList<Group> all = groups(body);
    const QByteArray token = productToken(agent);
    QList<QByteArray> lines;
    for (const bool specific : {true, false}) {
        for (const Group& group : all) {
            for (const QByteArray& name : group.agents) {
                if (specific ? !token.isEmpty() && productToken(name) == token : name == "*") {
                    lines += group.lines;
                    break;
                }
            }
        }
        if (!lines.isEmpty())
            break;
    }
    RobotsRules rules;
    QList<QList<QByteArray>> patterns; // per rule, its pieces
    for (const QByteArray& line : lines) {
        const qsizetype colon = line.indexOf(':');
        const QByteArray key = line.left(colon);
        const QByteArray value = line.mid(colon + 1);
        if (key == "crawl-delay") {
            bool ok = false;
            const double seconds = value.toDouble(&ok);
            if (ok && seconds > 0 && rules.m_crawlDelay == 0)
                rules.m_crawlDelay = int(std::ceil(qMin(seconds, double(kMaxCrawlDelay))));
        } else if (!value.isEmpty()) { // "Disallow:" with no path allows everything
            Rule rule;
            QByteArray pattern = normalised(value);
            rule.length = pattern.size();
            rule.anchored = pattern.endsWith('$');
            if (rule.anchored)
                pattern.chop(1);
            rule.allow = key == "allow";
            rules.m_rules.push_back(rule);
            patterns.append(pattern.split('*'));
        }
    }
    rules.compile(patterns);
    return rules;
}

// Numbers the distinct pieces, builds their finder, and files each rule under the piece the
// fewest rules share, so that a path wakes only the rules that may match it.
void RobotsRules::compile(const QList<QList<QByteArray>>& patterns) {
    QList<QByteArray> distinct;
    for (const QList<QByteArray>& pieces : patterns)
        for (const QByteArray& piece : pieces)
            if (!piece.isEmpty())
                distinct.append(piece);
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    const auto idOf = [&](const QByteArray& piece) {
        if (piece.isEmpty())
            return -1;
        return int(std::lower_bound(distinct.begin(), distinct.end(), piece) - distinct.begin());
    };
    std::vector<int> users(size_t(distinct.size()), 0);
    for (size_t r = 0; r < m_rules.size(); ++r) {
        for (const QByteArray& piece : patterns[qsizetype(r)])
            m_rules[r].pieces.push_back(idOf(piece));
        std::vector<int> ids = m_rules[r].pieces;
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        for (int id : ids)
            if (id >= 0)
                ++users[size_t(id)];
    }
    for (const QByteArray& piece : distinct)
        m_pieceLength.push_back(piece.size());
    m_rulesByKey.resize(size_t(distinct.size()));
    for (size_t r = 0; r < m_rules.size(); ++r) {
        int key = -1;
        for (int id : m_rules[r].pieces)
            if (id >= 0 && (key < 0 || users[size_t(id)] < users[size_t(key)] ||
                            (users[size_t(id)] == users[size_t(key)] &&
                             m_pieceLength[size_t(id)] > m_pieceLength[size_t(key)])))
                key = id;
        if (key < 0)
            m_keyless.push_back(int(r));
        else
            m_rulesByKey[size_t(key)].push_back(int(r));
    }
    m_finder = PieceFinder(distinct);
}

// Where the first occurrence of the piece at or after at starts; -1 when none. An empty
// piece occurs everywhere.
qsizetype RobotsRules::startFrom(int piece, qsizetype at, const Ends& ends, qsizetype size) const {
    if (piece < 0)
        return at <= size ? at : -1;
    const auto found = ends.find(piece);
    if (found == ends.end())
        return -1;
    const qsizetype length = m_pieceLength[size_t(piece)];
    const auto end = std::lower_bound(found->second.begin(), found->second.end(), at + length);
    return end == found->second.end() ? -1 : *end - length;
}

// Whether the pattern matches the start of the path (all of it when anchored). With '*' as
// the only wildcard, taking each piece at its first place after the one before is as good as
// any other choice.
bool RobotsRules::matches(const Rule& rule, const Ends& ends, qsizetype size) const {
    const auto lengthOf = [&](int piece) { return piece < 0 ? 0 : m_pieceLength[size_t(piece)]; };
    if (startFrom(rule.pieces.front(), 0, ends, size) != 0)
        return false;
    qsizetype at = lengthOf(rule.pieces.front());
    if (rule.pieces.size() == 1)
        return !rule.anchored || size == at;
    for (size_t i = 1; i + 1 < rule.pieces.size(); ++i) {
        const qsizetype found = startFrom(rule.pieces[i], at, ends, size);
        if (found < 0)
            return false;
        at = found + lengthOf(rule.pieces[i]);
    }
    const int last = rule.pieces.back();
    if (!rule.anchored)
        return startFrom(last, at, ends, size) >= 0;
    const qsizetype lastStart = size - lengthOf(last);
    if (lastStart < at)
        return false;
    return last < 0 || (ends.count(last) && ends.at(last).back() == size);
}

bool RobotsRules::allows(const QByteArray& path) const {
    if (path == "/robots.txt")
        return true;
    const QByteArray wanted = normalised(path.isEmpty() ? QByteArray("/") : path);
    Ends ends;
    m_finder.scan(wanted, [&](int piece, qsizetype end) { ends[piece].push_back(end); });
    qsizetype bestLength = -1;
    bool allowed = true;
    const auto consider = [&](int index) {
        const Rule& rule = m_rules[size_t(index)];
        if (rule.length < bestLength || (rule.length == bestLength && !rule.allow))
            return;
        if (!matches(rule, ends, wanted.size()))
            return;
        bestLength = rule.length;
        allowed = rule.allow;
    };
    for (const auto& [piece, where] : ends)
        for (int index : m_rulesByKey[size_t(piece)])
            consider(index);
    for (int index : m_keyless)
        consider(index);
    return allowed;
}
