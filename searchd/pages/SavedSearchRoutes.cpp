#include "searchd/pages/SavedSearchRoutes.h"

#include "searchd/http/QueryText.h"
#include "searchd/index/ServiceIndex.h"
#include "searchd/pages/BrowserPages.h"
#include "searchd/pages/SavedSearchPages.h"
#include "searchd/pages/SavedSearchRunner.h"
#include "searchd/pages/ServiceRoutes.h"

#include <QJsonDocument>

namespace {

ServiceAnswer textAnswer(int status, const QString& message) {
    ServiceAnswer answer;
    answer.status = status;
    answer.body = message.toUtf8() + '\n';
    return answer;
}

ServiceAnswer jsonAnswer(int status, const QByteArray& body) {
    ServiceAnswer answer;
    answer.status = status;
    answer.contentType = "application/json";
    answer.body = body;
    return answer;
}

ServiceAnswer seeOther(const QByteArray& location) {
    ServiceAnswer answer = textAnswer(303, QString());
    answer.headers.append(std::pair<QByteArray, QByteArray>("Location", location));
    return answer;
}

ServiceAnswer notAllowed(const QByteArray& allowed) {
    ServiceAnswer answer =
        textAnswer(405, QStringLiteral("Allowed here: %1").arg(QLatin1StringView(allowed)));
    answer.headers.append(std::pair<QByteArray, QByteArray>("Allow", allowed));
    return answer;
}

QList<ListedSearch> listed(ServiceIndex& index) {
    QList<ListedSearch> list;
    for (const SavedSearch& search : index.savedSearches())
        list.append({search, index.newSavedMatches(search.id)});
    return list;
}

bool isNumber(const QByteArray& text) {
    return !text.isEmpty() && text.size() < 19 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The search a save asks for, or why it cannot be saved.
std::optional<SavedSearch> searchOf(const QHash<QByteArray, QString>& form, QString* problem) {
    SavedSearch search;
    search.words = form.value("q").trimmed();
    search.kind = form.value("kind", QStringLiteral("all"));
    const QString bitrate = form.value("minbitrate").trimmed();
    bool ok = true;
    search.minBitrate = bitrate.isEmpty() ? 0 : bitrate.toInt(&ok);
    const QString genuine = form.value("genuine");
    search.genuineOnly = genuine == QLatin1String("1");
    if (!form.contains("q"))
        *problem = QStringLiteral("Missing parameter: q");
    else if (search.words.size() > SavedSearchRoutes::kMaxWordsLength)
        *problem = QStringLiteral("The words are too long (at most %1 characters)")
                       .arg(SavedSearchRoutes::kMaxWordsLength);
    else if (QueryText::searchWords(search.words).size() > ServiceRoutes::kMaxWords)
        *problem =
            QStringLiteral("Too many search words (at most %1)").arg(ServiceRoutes::kMaxWords);
    else if (search.sameness().isEmpty())
        *problem = QStringLiteral("No words to search for");
    else if (!FileFilter::ofKind(search.kind, 0, false))
        *problem = QStringLiteral("Bad kind: all, library, http, ftp or smb");
    else if (!ok || search.minBitrate < 0 || search.minBitrate > 1000)
        *problem = QStringLiteral("Bad minimum bitrate: a number from 0 to 1000");
    else if (!genuine.isEmpty() && genuine != QLatin1String("0") && !search.genuineOnly)
        *problem = QStringLiteral("Bad parameter: genuine must be 1 or 0");
    return problem->isEmpty() ? std::optional<SavedSearch>(search) : std::nullopt;
}

} // namespace

SavedSearchRoutes::SavedSearchRoutes(ServiceIndex& index, SavedSearchRunner& runner)
    : m_index(index), m_runner(runner) {}

ServiceAnswer SavedSearchRoutes::answer(const QByteArray& method, const QByteArray& path,
                                        const QHash<QByteArray, QString>& form) {
    const bool reads = method == "GET" || method == "HEAD";
    if (path == "/saved") {
        if (!reads)
            return notAllowed("GET, HEAD");
        ServiceAnswer answer;
        answer.contentType = "text/html; charset=utf-8";
        answer.body = SavedSearchPages::html(listed(m_index), form.value("said"));
        answer.headers.emplaceBack("Content-Security-Policy", BrowserPages::securityPolicy());
        answer.headers.emplaceBack("X-Frame-Options", "DENY");
        return answer;
    }
    if (path == "/api/saved") {
        if (reads)
            return jsonAnswer(200, SavedSearchPages::listJson(listed(m_index)));
        return method == "POST" ? save(form) : notAllowed("GET, HEAD, POST");
    }
    if (path.startsWith("/api/saved/"))
        return change(method, path.mid(qstrlen("/api/saved/")), form);
    return textAnswer(404, QStringLiteral("Not found"));
}

ServiceAnswer SavedSearchRoutes::save(const QHash<QByteArray, QString>& form) {
    QString problem;
    std::optional<SavedSearch> search = searchOf(form, &problem);
    if (!search)
        return textAnswer(400, problem);
    const bool backToPage = form.value("then") == QLatin1String("saved");
    const SavedSearchStore::Added added = m_index.addSavedSearch(*search);
    if (added == SavedSearchStore::Added::Duplicate)
        return backToPage ? seeOther("/saved?said=duplicate")
                          : textAnswer(409, QStringLiteral("This search is saved already"));
    if (added == SavedSearchStore::Added::Full)
        return backToPage ? seeOther("/saved?said=full")
                          : textAnswer(409, QStringLiteral("At most %1 searches are saved")
                                                .arg(SavedSearchStore::kMaxSearches));
    // The first run learns what the search finds already: only later files are new.
    m_runner.run(*search);
    if (backToPage)
        return seeOther("/saved?said=saved");
    const SavedSearch ran = m_index.savedSearch(search->id).value_or(*search);
    ServiceAnswer answer = jsonAnswer(
        201, QJsonDocument(SavedSearchPages::searchJson({ran, {}})).toJson(QJsonDocument::Compact));
    answer.headers.append(std::pair<QByteArray, QByteArray>(
        "Location", "/api/saved/" + QByteArray::number(search->id)));
    return answer;
}

// "ID/seen" or "ID/delete".
ServiceAnswer SavedSearchRoutes::change(const QByteArray& method, const QByteArray& idAndAction,
                                        const QHash<QByteArray, QString>& form) {
    const QList<QByteArray> parts = idAndAction.split('/');
    if (parts.size() != 2 || !isNumber(parts[0]) || (parts[1] != "seen" && parts[1] != "delete"))
        return textAnswer(404, QStringLiteral("Not found"));
    if (method != "POST")
        return notAllowed("POST");
    const qint64 id = parts[0].toLongLong();
    const bool seen = parts[1] == "seen";
    if (!(seen ? m_index.markSavedSeen(id) : m_index.removeSavedSearch(id)))
        return textAnswer(404, QStringLiteral("No such saved search"));
    if (form.value("then") == QLatin1String("saved"))
        return seeOther("/saved");
    return textAnswer(200, seen ? QStringLiteral("The new files are marked seen")
                                : QStringLiteral("The saved search is deleted"));
}
