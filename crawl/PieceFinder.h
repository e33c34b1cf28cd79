#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <vector>

// Finds every place where any of a set of byte strings occurs in a text, in one pass over the
// text whatever the number of strings (an Aho-Corasick automaton). Built once, read by any
// number of threads.
class PieceFinder {
public:
    PieceFinder() = default;
    // pieces: distinct, non-empty, sorted; a piece's id is its index.
    explicit PieceFinder(const QList<QByteArray>& pieces);

    // Calls found(id, end) for each occurrence, end being the index after its last byte,
    // in the order of end.
    template <typename Found> void scan(QByteArrayView text, Found found) const {
        if (m_fail.empty())
            return;
        int node = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            node = step(node, static_cast<unsigned char>(text[i]));
            for (int at = m_piece[node] >= 0 ? node : m_output[node]; at >= 0; at = m_output[at])
                found(m_piece[at], i + 1);
        }
    }

private:
    int child(int node, unsigned char byte) const; // -1 when none
    int step(int node, unsigned char byte) const;

    std::vector<quint64> m_edgeKeys; // sorted: (node << 8) | byte
    std::vector<int> m_edgeChild;    // beside m_edgeKeys
    std::vector<int> m_fail;         // the longest proper suffix that is a node
    std::vector<int> m_piece;        // the piece ending at the node, -1 when none
    std::vector<int> m_output;       // the next node down the fail chain ending a piece, or -1
};
