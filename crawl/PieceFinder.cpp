#include "crawl/PieceFinder.h"

#include <algorithm>
#include <numeric>

namespace {

quint64 edgeKey(int node, unsigned char byte) {
    return (quint64(node) << 8) | byte;
}

} // namespace

// Sorted pieces share their common prefixes with the one before, so the trie grows along
// one path at a time; the fail links follow level by level.
PieceFinder::PieceFinder(const QList<QByteArray>& pieces) {
    std::vector<int> parent{-1}, depth{0};
    std::vector<unsigned char> byte{0};
    std::vector<std::pair<quint64, int>> edges;
    m_piece.push_back(-1);
    std::vector<int> path{0}; // the previous piece's nodes, by depth
    QByteArray previous;
    for (int id = 0; id < pieces.size(); ++id) {
        const QByteArray& piece = pieces[id];
        const auto common =
            std::mismatch(piece.begin(), piece.end(), previous.begin(), previous.end());
        const qsizetype shared = common.first - piece.begin();
        path.resize(size_t(shared) + 1);
        int node = path.back();
        for (qsizetype d = shared; d < piece.size(); ++d) {
            const int added = int(parent.size());
            const auto b = static_cast<unsigned char>(piece[d]);
            parent.push_back(node);
            depth.push_back(int(d) + 1);
            byte.push_back(b);
            m_piece.push_back(-1);
            edges.emplace_back(edgeKey(node, b), added);
            node = added;
            path.push_back(node);
        }
        m_piece[size_t(node)] = id;
        previous = piece;
    }
    std::sort(edges.begin(), edges.end());
    for (const auto& [key, child] : edges) {
        m_edgeKeys.push_back(key);
        m_edgeChild.push_back(child);
    }
    std::vector<int> order(parent.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return depth[a] < depth[b]; });
    m_fail.assign(parent.size(), 0);
    m_output.assign(parent.size(), -1);
    for (const int node : order) {
        if (parent[node] <= 0)
            continue; // the root and its children fail to the root
        m_fail[node] = step(m_fail[parent[node]], byte[node]);
        const int fail = m_fail[node];
        m_output[node] = m_piece[fail] >= 0 ? fail : m_output[fail];
    }
}

int PieceFinder::child(int node, unsigned char byte) const {
    const quint64 key = edgeKey(node, byte);
    const auto it = std::lower_bound(m_edgeKeys.begin(), m_edgeKeys.end(), key);
    if (it == m_edgeKeys.end() || *it != key)
        return -1;
    return m_edgeChild[size_t(it - m_edgeKeys.begin())];
}

int PieceFinder::step(int node, unsigned char byte) const {
    for (;;) {
        const int next = child(node, byte);
        if (next >= 0)
            return next;
        if (node == 0)
            return 0;
        node = m_fail[size_t(node)];
    }
}
