#pragma once

#include "net/HostLookup.h"
#include "support/EventLoopWait.h"
#include "support/ScriptedServer.h"

// Waits, positively, until nothing outside this thread's event loop can still raise an
// event: the server has served and closed every connection it accepted and none waits to be
// accepted, and no name lookup is in flight. Then delivers what that left pending. After it
// returns true, what the test counts is final, and a test can show that something did not
// happen without waiting on the clock.
inline bool Settle(const ScriptedServer& server) {
    if (!WaitFor([&] { return server.idle() && HostLookup::InFlight() == 0; }))
        return false;
    DeliverPending();
    return true;
}

// The same with no server: only name lookups.
inline bool Settle() {
    if (!WaitFor([] { return HostLookup::InFlight() == 0; }))
        return false;
    DeliverPending();
    return true;
}
