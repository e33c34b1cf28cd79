#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

class SavedSearchRunner;
class ServiceIndex;
struct ServiceAnswer;

// The requests about saved searches: POST /api/saved saves one (and runs it once, to learn
// what is there already), GET /api/saved lists them with their new files, POST
// /api/saved/ID/seen and /api/saved/ID/delete, and the page /saved. A form's POST carries
// then=saved and is sent back to the page.
class SavedSearchRoutes {
public:
    SavedSearchRoutes(ServiceIndex& index, SavedSearchRunner& runner);

    // path is "/saved" or starts with "/api/saved"; form holds the query's values.
    ServiceAnswer answer(const QByteArray& method, const QByteArray& path,
                         const QHash<QByteArray, QString>& form);

    static constexpr int kMaxWordsLength = 1000; // characters of a saved search's words

private:
    ServiceAnswer save(const QHash<QByteArray, QString>& form);
    ServiceAnswer change(const QByteArray& method, const QByteArray& idAndAction,
                         const QHash<QByteArray, QString>& form);

    ServiceIndex& m_index;
    SavedSearchRunner& m_runner;
};
