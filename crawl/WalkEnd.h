#pragma once

#include <QString>

// How a walk of one source ended, for the crawl that started it.
enum class WalkEnd {
    Running,
    Finished,    // finishCrawl: the source's lease is released as done
    Abandoned,   // abandonCrawl (the server went away, the service stops, ...)
    IndexFailed, // a sink call threw: nothing more was written, the walk is tried again
    Lost,        // another crawler took the source's lease over: nothing more was written
};

struct WalkResult {
    WalkEnd end = WalkEnd::Running;
    QString reason; // IndexFailed: what the index said
};
