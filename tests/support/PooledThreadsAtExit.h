#pragma once

#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <string>
#include <thread>

// Qt's global thread pool (the raster painter fills large areas with it) stops its threads
// in its static destructor, after main. They are detached and may still be ending when the
// leak checker runs, which would then report their thread data as lost. Called first thing
// in main, this registers an exit handler that runs after the pool's destructor and waits,
// for a few seconds at most, until no pooled thread is left.
namespace PooledThreads {

inline bool anyLeft() {
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks)
        return false;
    bool found = false;
    while (const dirent* entry = readdir(tasks)) {
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string name;
        if (std::getline(comm, name) && name == "Thread (pooled)")
            found = true;
    }
    closedir(tasks);
    return found;
}

inline void waitForThemAtExit() {
    std::atexit([] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (anyLeft() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
}

} // namespace PooledThreads
