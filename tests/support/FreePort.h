#pragma once

#include "platform/LoopbackPorts.h"

// A port nothing listens on: bound, never listening.
struct ClosedPort {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    unsigned short port = 0;
    ClosedPort() : port(BindAnyLoopbackPort(fd)) {}
    ~ClosedPort() { ::close(fd); }
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
};
