#include "core/SecondEngineMarkers.h"

#include "core/TextHelpers.h"

namespace SecondEngineMarkers {

namespace {

template <size_t N> QByteArray descramble(const char (&scrambled)[N]) {
    return DescrambleText(QByteArrayView(scrambled, N - 1));
}

} // namespace

QByteArray noResultsMarker() {
    return descramble(kNoResultsScrambled);
}

QByteArray pagingMarker() {
    return descramble(kPagingScrambled);
}

QByteArray resultsMarker() {
    return descramble(kResultsScrambled);
}

} // namespace SecondEngineMarkers
