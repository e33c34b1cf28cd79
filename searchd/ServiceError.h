#pragma once

#include <QString>
#include <stdexcept>

// A failure of the service that ends what it was doing: a database that cannot be opened,
// a library that cannot be read, a port that cannot be bound.
class ServiceError : public std::runtime_error {
public:
    explicit ServiceError(const QString& message) : std::runtime_error(message.toStdString()) {}
};

// The index cannot be reached for now (its database server is down, the connection broke).
// Answers that need it fail with 503 meanwhile; the engine reconnects by itself.
class IndexUnavailable : public ServiceError {
public:
    using ServiceError::ServiceError;
};
