#include "download/RetryPolicy.h"

#include "core/UserOptions.h"
#include "net/HttpReply.h"

#include <algorithm>

RetryPolicy RetryPolicy::fromOptions(const SettingsFile& ini) {
    return RetryPolicy(UserOptions::RetryCount(ini), UserOptions::StallSeconds(ini));
}

bool RetryPolicy::isPassingStatus(int status) {
    switch (status) {
    case 408:
    case 429:
    case 500:
    case 502:
    case 503:
    case 504:
        return true;
    default:
        return false;
    }
}

int RetryPolicy::waitSeconds(int fruitless, std::optional<int> retryAfter) {
    if (retryAfter)
        return std::clamp(*retryAfter, 0, kMaxWaitSeconds);
    const int doublings = std::clamp(fruitless - 1, 0, 6); // 2^6 is past the cap already
    return std::min(1 << doublings, kMaxWaitSeconds);
}

std::optional<int> RetryPolicy::retryAfterSeconds(const QList<QByteArray>& headerLines) {
    const QByteArray value = HttpReply::FieldValue(headerLines, "retry-after");
    if (value.isEmpty() ||
        !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return value.size() > 9 ? kMaxWaitSeconds : std::min(value.toInt(), kMaxWaitSeconds);
}

QString RetryPolicy::waitText(int retry, int retryCount, int secondsLeft) {
    return QStringLiteral("Retrying (%1 of %2) in %3 s")
        .arg(retry)
        .arg(retryCount)
        .arg(secondsLeft);
}
