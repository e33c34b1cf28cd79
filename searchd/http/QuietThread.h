#pragma once

#include <csignal>
#include <pthread.h>
#include <thread>
#include <utility>

// Starts a thread with every signal blocked, as a new thread takes its creator's mask: a
// stop signal must reach the thread that waits for it, not end the process on a helper.
template <typename Function> std::thread quietThread(Function&& function) {
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    struct Restore {
        const sigset_t& mask;
        ~Restore() { pthread_sigmask(SIG_SETMASK, &mask, nullptr); }
    } restore{before};
    return std::thread(std::forward<Function>(function));
}
