#pragma once

#include "crawl/CrawlTypes.h"

#include <QDateTime>
#include <QString>
#include <chrono>

// Who walks which source when several crawlers share one index. A crawler walks a source
// only under a lease it holds in the index; a lease that is not renewed runs out, so the
// sources of a crawler that died pass to the others once their leases end.
class SourceLeases {
public:
    enum class Claim {
        Taken,         // the lease is the caller's now
        HeldElsewhere, // another holder's lease still runs: try again later
        DoneSince,     // a walk of the source finished at or after the given time: nothing to do
    };

    virtual ~SourceLeases() = default;

    // The index's own clock, the same for every crawler of one index (UTC).
    virtual QDateTime leaseClock() = 0;

    // Takes the source for holder for length from now, unless another holder's lease still
    // runs or a walk of the source was released as done at or after doneSince.
    virtual Claim claimSource(const CrawlSource& source, const QString& holder,
                              std::chrono::seconds length, const QDateTime& doneSince) = 0;

    // Extends holder's lease to length from now; false when the source is no longer
    // holder's (the lease ran out and another crawler took it).
    virtual bool renewSource(const CrawlSource& source, const QString& holder,
                             std::chrono::seconds length) = 0;

    // Gives the source up. done: its walk finished, which claims with an earlier doneSince
    // see as DoneSince. Does nothing when the source is not holder's.
    virtual void releaseSource(const CrawlSource& source, const QString& holder, bool done) = 0;
};
