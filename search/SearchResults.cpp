#include "search/SearchResults.h"

#include "core/HitRecords.h"
#include "core/HitText.h"
#include "download/HeaderProbes.h"
#include "platform/Errors.h"
#include "platform/Platform.h"
#include "platform/SettingsFile.h"
#include "search/HitRows.h"

#include <algorithm>

namespace {

const QString kCaption = QStringLiteral("Pellmar");

} // namespace

SearchResults::SearchResults(SettingsFile& ini, Platform& platform)
    : m_ini(ini), m_platform(platform), m_hitSelection(&m_hitList), m_hostSelection(&m_hostList) {}

void SearchResults::clear() {
    m_httpStore.clear();
    m_httpNames.clear();
    m_smbStore.clear();
    m_ftpStore.clear();
    m_hostList.clear();
    m_hostList.addFixedRows();
    m_hostSelection.clearSelection();
    m_hostSelection.setCurrentIndex(m_hostList.index(HostListModel::SmbRow, 0),
                                    QItemSelectionModel::NoUpdate);
    m_hostView = HostView::Http;
    m_hitList.clear();
    m_hitList.setSorted(true); // the hit list shows the HTTP hits, sorted by caption
}

bool SearchResults::isListed(const QByteArray& name) const {
    return m_hitList.hasCaption(name) || m_httpNames.contains(name);
}

void SearchResults::addHttpHit(const ProbedHit& hit) {
    if (m_hostSelection.isRowSelected(HostListModel::HttpRow, QModelIndex()))
        m_hitList.addRow(MakeHitRow(m_ini, hit.name, hit.size, hit.stereo, hit.sampleRate,
                                    hit.bitrate, hit.rateMode));
    m_hostList.addFiles(HostListModel::HttpRow, 1);
    m_httpStore.append(hit.record());
    m_httpNames.insert(hit.name);
}

int SearchResults::setSmbHits(QList<QByteArray> records) {
    m_smbStore = std::move(records);
    if (m_hostSelection.currentIndex().row() == HostListModel::SmbRow)
        HostListViewClick();
    const int count = static_cast<int>(m_smbStore.size());
    m_hostList.setFiles(HostListModel::SmbRow, count);
    return count;
}

int SearchResults::setFtpHits(QList<QByteArray> records) {
    m_ftpStore = std::move(records);
    const int count = static_cast<int>(m_ftpStore.size());
    if (count > 0)
        m_hostList.appendFtpRow(count);
    return count;
}

// ---- browsing

int SearchResults::focusedHitRow() const {
    const QModelIndex current = m_hitSelection.currentIndex();
    return current.isValid() ? current.row() : -1;
}

void SearchResults::HostListViewClick() {
    if (m_hostList.count() == 0)
        return;
    m_hitList.clear();
    const QModelIndex focused = m_hostSelection.currentIndex();
    if (!focused.isValid())
        return;
    switch (focused.row()) {
    case HostListModel::HttpRow:
        listHttpHits();
        break;
    case HostListModel::SmbRow:
        listSmbHits();
        break;
    case HostListModel::FtpRow:
        listFtpHits();
        break;
    default:
        break;
    }
}

// Makes the rows of a store's records and adds them in one batch. A row that cannot be made
// stops the listing there: the rows before it stay.
template <typename MakeRow>
void SearchResults::listRecords(const QList<QByteArray>& store, MakeRow makeRow) {
    QList<SearchHit> rows;
    rows.reserve(store.size());
    try {
        for (const QByteArray& line : store)
            rows.append(makeRow(line));
    } catch (const PellmarError&) {
        m_hitList.addRows(rows);
        throw;
    }
    m_hitList.addRows(rows);
}

void SearchResults::listHttpHits() {
    m_hostView = HostView::Http;
    // Sorted even while the store is empty: the hits that arrive later take their places.
    m_hitList.setSorted(true);
    HitRowMaker rows(m_ini);
    listRecords(m_httpStore, [&](const QByteArray& line) {
        const HttpHitRecord record = HttpHitRecord::fromLine(line);
        return rows.make(record.name, record.size, record.stereo, record.sampleRate, record.bitrate,
                         record.rateMode);
    });
}

void SearchResults::listSmbHits() {
    m_hostView = HostView::Smb;
    if (!m_smbStore.isEmpty())
        m_hitList.setSorted(false);
    HitRowMaker rows(m_ini);
    listRecords(m_smbStore, [&](const QByteArray& line) {
        const ListingRecord record = ListingRecord::fromLine(line);
        bool plain = false;
        const qint64 size = record.sizeText().toLongLong(&plain);
        return rows.make(record.name, plain ? size : 0, false, 0, 0);
    });
}

void SearchResults::listFtpHits() {
    m_hostView = HostView::Ftp;
    m_hitList.setSorted(false);
    listRecords(m_ftpStore, [](const QByteArray& line) {
        const ListingRecord record = ListingRecord::fromLine(line);
        return SearchHit{record.name, qmUnknown, record.sizeText(), QByteArray()};
    });
}

// ---- copying

void SearchResults::CopyPathToClipboard1Click() {
    if (m_hostView == HostView::Smb) {
        m_platform.messages.show(kCaption, QStringLiteral("Function not available for SMB files"),
                                 MessageIcon::None, MessageButtons::Ok);
        return;
    }
    const int row = focusedHitRow();
    if (row < 0)
        return;
    if (m_hostView == HostView::Ftp) {
        if (row >= m_ftpStore.size())
            throwListIndexError(row);
        m_platform.clipboard.setText(
            HitText::toUnicode(ListingRecord::fromLine(m_ftpStore[row]).host));
        return;
    }
    const QByteArray caption = m_hitList.hit(row).caption;
    const auto last = std::find_if(m_httpStore.crbegin(), m_httpStore.crend(),
                                   [&](const QByteArray& line) { return line.contains(caption); });
    if (last != m_httpStore.crend())
        m_platform.clipboard.setText(HitText::toUnicode(HttpHitRecord::fromLine(*last).url));
}

void SearchResults::CopyFTPPathClick() {
    const QModelIndexList selected = m_hostSelection.selectedIndexes();
    if (m_hostList.count() <= 1 || selected.isEmpty() || selected.first().row() <= 1)
        return;
    const QByteArray caption = m_hostList.entry(selected.first().row()).caption;
    const auto last = std::find_if(m_ftpStore.crbegin(), m_ftpStore.crend(),
                                   [&](const QByteArray& line) { return line.contains(caption); });
    if (last != m_ftpStore.crend())
        m_platform.clipboard.setText(QStringLiteral("ftp://") +
                                     HitText::toUnicode(ListingRecord::fromLine(*last).host));
}
