#pragma once

#include <array>
#include <cstddef>

// The sources whose end decides that a search is done: the two HTTP engines and the header
// probes. The FTP and SMB searches take no part; they end by the time limit or an abort.
enum class SearchSource { Engine1 = 0, Engine2 = 1, Probes = 2 };

// The done flag of each such source. All three start cleared and are kept between
// searches; a search is done once all three are set.
class CompletionFlags {
public:
    void set(SearchSource source) { m_done[index(source)] = true; }
    void clear(SearchSource source) { m_done[index(source)] = false; }
    bool isSet(SearchSource source) const { return m_done[index(source)]; }
    bool allSet() const { return m_done[0] && m_done[1] && m_done[2]; }

private:
    static std::size_t index(SearchSource source) { return static_cast<std::size_t>(source); }

    std::array<bool, 3> m_done = {false, false, false};
};
