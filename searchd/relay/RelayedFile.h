#pragma once

#include <QtGlobal>
#include <cstddef>
#include <functional>

// Takes the next piece of an answer's body; false when the client is gone.
using BodyWriter = std::function<bool(const char* data, size_t size)>;

// One file of a source with a login, opened on its server for the relay: its size is known
// before the answer starts, and its bytes go out piece by piece, never all held at once.
class RelayedFile {
public:
    virtual ~RelayedFile() = default;

    virtual qint64 size() const = 0;

    // Sends length bytes from offset through write; false when the source or the client
    // fails before the last of them went out.
    virtual bool send(qint64 offset, qint64 length, const BodyWriter& write) = 0;
};
