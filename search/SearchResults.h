#pragma once

#include "search/HitListModel.h"
#include "search/HostListModel.h"

#include <QByteArray>
#include <QItemSelectionModel>
#include <QList>
#include <QSet>

class SettingsFile;
struct Platform;
struct ProbedHit;

// Which store the hit list shows.
enum class HostView { Http, Smb, Ftp };

// What one search found: the three hit stores, complete, and the hit and host lists that
// show them. A click on a host row fills the hit list from that row's store; the two
// clipboard commands copy from the stores. The lists' selection and focused (current) row
// live here too, and the window's views share them.
class SearchResults {
public:
    SearchResults(SettingsFile& ini, Platform& platform);

    HitListModel& hitList() { return m_hitList; }
    HostListModel& hostList() { return m_hostList; }
    QItemSelectionModel& hitSelection() { return m_hitSelection; }
    QItemSelectionModel& hostSelection() { return m_hostSelection; }
    HostView hostView() const { return m_hostView; }

    const QList<QByteArray>& HttpHitStore() const { return m_httpStore; }
    const QList<QByteArray>& FtpHitStore() const { return m_ftpStore; }
    const QList<QByteArray>& SmbHitStore() const { return m_smbStore; }

    // Empties the stores and both lists for a new search: the two fixed host rows, "SMB
    // Links" focused, the hit list sorted for the HTTP hits.
    void clear();
    // True when the hit list shows the name, or the HTTP store holds it.
    bool isListed(const QByteArray& name) const;
    // A kept HTTP hit: into the store, counted on its host row, and listed while the "HTTP
    // Links" row is selected. Throws PellmarError when a quality setting is no integer;
    // then nothing is stored.
    void addHttpHit(const ProbedHit& hit);
    // The SMB and FTP stores, each set once a search. Both return the number of records.
    // The SMB hits are listed at once while their row is focused; the FTP row is appended
    // only when there is an FTP hit.
    int setSmbHits(QList<QByteArray> records);
    int setFtpHits(QList<QByteArray> records);

    // Fills the hit list from the store of the host list's focused row.
    void HostListViewClick();
    // The hit list's "Copy Path To Clipboard" and the host list's "Copy To Clipboard".
    void CopyPathToClipboard1Click();
    void CopyFTPPathClick();

private:
    template <typename MakeRow> void listRecords(const QList<QByteArray>& store, MakeRow makeRow);
    void listHttpHits();
    void listSmbHits();
    void listFtpHits();
    int focusedHitRow() const;

    SettingsFile& m_ini;
    Platform& m_platform;
    HitListModel m_hitList;
    HostListModel m_hostList;
    QItemSelectionModel m_hitSelection;
    QItemSelectionModel m_hostSelection;
    HostView m_hostView = HostView::Http;
    QList<QByteArray> m_httpStore;
    QSet<QByteArray> m_httpNames; // the names in the HTTP store
    QList<QByteArray> m_ftpStore;
    QList<QByteArray> m_smbStore;
};
