// The time to show 10,000 rows in the hit list: rows added one at a time in caption order,
// as header probes report them, with the window's event loop running between them, until
// the list has painted. The peer is Qt's item-based QTreeWidget sorted by its first column,
// fed the same rows the same way.
#include "app/SearchPage.h"
#include "search/HitListModel.h"
#include "search/HostListModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QTreeView>
#include <QTreeWidget>
#include <cstdio>

namespace {

constexpr int kRows = 10000;
constexpr int kEventsEvery = 100; // rows between two turns of the event loop

QList<SearchHit> makeHits() {
    QList<SearchHit> hits;
    quint32 state = 2026;
    for (int i = 0; i < kRows; ++i) {
        state = state * 1664525u + 1013904223u; // rows in no particular order
        SearchHit hit;
        hit.caption = "Artist " + QByteArray::number(state % 997) + " - Title " +
                      QByteArray::number(state % 10007) + ".mp3";
        hit.image = static_cast<int>(state % 3);
        hit.size = QByteArray::number(30000 + state % 9000000);
        hit.info = hit.image == qmUnknown ? QByteArray("N/A") : QByteArray("128kb/s 44kHz Stereo");
        hits.append(hit);
    }
    return hits;
}

// Lets the list lay out and paint what it has.
void paint(QAbstractItemView& view) {
    QApplication::processEvents();
    view.viewport()->repaint();
}

double showInHitList(const QList<SearchHit>& hits) {
    HitListModel hitList;
    HostListModel hostList;
    QItemSelectionModel hitSelection(&hitList);
    QItemSelectionModel hostSelection(&hostList);
    TSearchPage page;
    page.resize(1000, 700);
    page.layoutPage();
    page.showLists(hostSelection, hitSelection);
    page.show();
    hitList.setSorted(true);
    paint(*page.SearchListview);

    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < hits.size(); ++i) {
        hitList.addRow(hits[i]);
        if (i % kEventsEvery == 0)
            QApplication::processEvents();
    }
    paint(*page.SearchListview);
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (hitList.count() != kRows)
        std::fprintf(stderr, "hit list: %d rows instead of %d\n", hitList.count(), kRows);
    return seconds;
}

double showInTreeWidget(const QList<SearchHit>& hits) {
    QTreeWidget list;
    list.setRootIsDecorated(false);
    list.setUniformRowHeights(true);
    list.setHeaderLabels(
        {QStringLiteral("MP3 File"), QStringLiteral("Size"), QStringLiteral("File Info")});
    list.setSortingEnabled(true);
    list.sortByColumn(0, Qt::AscendingOrder);
    list.resize(800, 600);
    list.show();
    paint(list);

    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < hits.size(); ++i) {
        const SearchHit& hit = hits[i];
        list.addTopLevelItem(
            new QTreeWidgetItem({QString::fromLatin1(hit.caption), QString::fromLatin1(hit.size),
                                 QString::fromLatin1(hit.info)}));
        if (i % kEventsEvery == 0)
            QApplication::processEvents();
    }
    paint(list);
    return clock.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QList<SearchHit> hits = makeHits();
    const double ours = showInHitList(hits);
    const double peer = showInTreeWidget(hits);
    std::printf("10000 rows, sorted by caption, shown:\n");
    std::printf("  hit list (model and view)  %.3f s\n", ours);
    std::printf("  QTreeWidget, sorted        %.3f s\n", peer);
    std::printf("  ratio                      %.2f (target: hit list under 1 s)\n", ours / peer);
    return 0;
}
