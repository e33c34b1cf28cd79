#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

class SettingsFile;

// When a broken internal download is tried again and how long it waits first: up to
// "RetryCount" more tries (0: none). Tries that bring nothing of the file wait 1, 2, 4, 8 ...
// seconds in a row and never more than a minute, or what the server's Retry-After asks
// within that minute; after a try that brought part of the file the next starts at once.
// A try that receives nothing for "StallSeconds" (0: never) counts as broken.
class RetryPolicy {
public:
    static constexpr int kMaxWaitSeconds = 60;

    RetryPolicy(int retryCount, int stallSeconds)
        : m_retryCount(retryCount), m_stallSeconds(stallSeconds) {}
    static RetryPolicy fromOptions(const SettingsFile& ini);

    int retryCount() const { return m_retryCount; }
    int stallSeconds() const { return m_stallSeconds; }
    bool mayRetry(int retriesDone) const { return retriesDone < m_retryCount; }

    // Server answers that may pass: 408, 429, 500, 502, 503, 504.
    static bool isPassingStatus(int status);
    // The wait after the fruitless-th try in a row that brought nothing (1 for the first).
    static int waitSeconds(int fruitless, std::optional<int> retryAfter);
    // A Retry-After in seconds among the reply's header lines, at most a minute; none for a
    // date or junk.
    static std::optional<int> retryAfterSeconds(const QList<QByteArray>& headerLines);
    // "Retrying (2 of 5) in 4 s"
    static QString waitText(int retry, int retryCount, int secondsLeft);

private:
    int m_retryCount;
    int m_stallSeconds;
};
