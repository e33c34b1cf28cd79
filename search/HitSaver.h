#pragma once

#include "download/SaveActions.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <vector>

class DownloadJob;
class QProcess;
class SettingsFile;
namespace ExternalHandoff {
struct Launch;
}

// Saves the hits of a finished search into one folder, without dialogs: the HTTP hits whose
// quality mark is chosen go through download jobs (redirects, broken links, the minimum size),
// every FTP and SMB hit through the same outside programs and argument vectors as the window,
// whose exit status then says whether the file came. A few hits are saved at once; results
// are reported in the hits' order all the same. Names that are taken get " (2)", " (3)" ...
// and nothing that exists is ever written over.
class HitSaver : public QObject {
    Q_OBJECT

public:
    // How one hit ended.
    struct Result {
        QByteArray kind; // "http", "ftp" or "smb"
        QByteArray caption;
        QString file;    // the target; empty when no name could be made
        QString problem; // empty: saved
    };

    // Enough to keep a link busy with small files without starting dozens of outside
    // programs against one server.
    static constexpr int kDefaultParallel = 4;

    // marks: the quality marks (0 good, 1 unknown, 2 below) of the HTTP hits to save.
    HitSaver(const SettingsFile& ini, QString programFolder, QString targetFolder, QSet<int> marks,
             int parallel = kDefaultParallel, QObject* parent = nullptr);
    ~HitSaver() override;

    // Picks the hits and starts saving, once; finished() follows from the event loop, also
    // when no hit was chosen. Throws the settings' conversion error for a quality setting that is
    // not an integer.
    void start(const HitStores& stores);
    int failures() const { return m_failures; }

signals:
    // One per chosen hit, in the order HTTP, FTP, SMB and within each in store order.
    void saved(const HitSaver::Result& result);
    void finished();

private:
    struct Item;

    void chooseHits(const HitStores& stores);
    void addItem(HitKind kind, const QByteArray& kindName, const QByteArray& caption,
                 qsizetype index, const QByteArray& url);
    void startMore();
    void begin(Item& item);
    void beginDownload(Item& item);
    void beginProgram(Item& item, const ExternalHandoff::Launch& launch);
    void downloadEnded(Item& item, DownloadJob* job, const QString& message);
    void programEnded(Item& item, QProcess* process);
    QString sizeProblem(const Item& item, const QString& program) const;
    void done(Item& item, const QString& problem);
    void reportInOrder();

    const SettingsFile& m_ini;
    QString m_programFolder;
    QString m_targetFolder;
    QSet<int> m_marks;
    int m_parallel;
    HitStores m_stores;
    std::vector<Item> m_items;
    QSet<QString> m_taken;
    size_t m_next = 0;     // the first hit not started
    size_t m_reported = 0; // the first hit not reported
    int m_running = 0;
    int m_failures = 0;
    bool m_finished = false;
};
