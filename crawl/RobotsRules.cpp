#include "crawl/RobotsRules.h"

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

// An agent line names this crawler when it is the start of the agent's product token.
bool namesAgent(const QByteArray& line, const QByteArray& agent) {
    return !line.isEmpty() && line != "*" && agent.startsWith(line.split('/').first().trimmed());
}

} // namespace

RobotsRules RobotsRules::parse(const QByteArray& body, const QByteArray& agent) {
    const QList<Group> all = groups(body);
    const QByteArray token = agent.toLower();
    QList<QByteArray> lines;
    for (const bool specific : {true, false}) {
        for (const Group& group : all) {
            for (const QByteArray& name : group.agents) {
                if (specific ? namesAgent(name, token) : name == "*") {
                    lines += group.lines;
                    break;
                }
            }
        }
        if (!lines.isEmpty())
            break;
    }
    RobotsRules rules;
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
            rule.pieces = pattern.split('*');
            rule.allow = key == "allow";
            rules.m_rules.append(rule);
        }
    }
    return rules;
}

// Whether the pattern matches the start of the path (all of it when anchored). With '*' as
// the only wildcard, taking each piece at its first place after the one before is as good as
// any other choice, so one pass over the path does.
bool RobotsRules::Rule::matches(const QByteArray& path) const {
    if (!path.startsWith(pieces.first()))
        return false;
    if (pieces.size() == 1)
        return !anchored || path.size() == pieces.first().size();
    qsizetype at = pieces.first().size();
    for (qsizetype i = 1; i + 1 < pieces.size(); ++i) {
        const qsizetype found = path.indexOf(pieces.at(i), at);
        if (found < 0)
            return false;
        at = found + pieces.at(i).size();
    }
    const QByteArray& last = pieces.last();
    if (anchored)
        return path.size() - last.size() >= at && path.endsWith(last);
    return path.indexOf(last, at) >= 0;
}

bool RobotsRules::allows(const QByteArray& path) const {
    if (path == "/robots.txt")
        return true;
    const QByteArray wanted = normalised(path.isEmpty() ? QByteArray("/") : path);
    qsizetype bestLength = -1;
    bool allowed = true;
    for (const Rule& rule : m_rules) {
        const qsizetype length = rule.length;
        if (length < bestLength || !rule.matches(wanted))
            continue;
        if (length > bestLength || rule.allow) {
            bestLength = length;
            allowed = rule.allow;
        }
    }
    return allowed;
}
