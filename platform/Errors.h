#pragma once

#include <QString>
#include <optional>
#include <stdexcept>

// Errors that stop a handler and reach the application's general error box. The message
// is the text the user sees.
class PellmarError : public std::runtime_error {
public:
    explicit PellmarError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    QString message() const { return m_message; }

private:
    QString m_message;
};

// Text that should have been an integer: "'%s' is not a valid integer value".
class EConvertError : public PellmarError {
public:
    using PellmarError::PellmarError;
};

// An index past the end of a list: "List index out of bounds (%d)".
class EListError : public PellmarError {
public:
    using PellmarError::PellmarError;
};

// A file that could not be opened: "Cannot open file %s".
class EFOpenError : public PellmarError {
public:
    using PellmarError::PellmarError;
};

// The settings file refused a write: "Unable to write to %s".
class EIniFileException : public PellmarError {
public:
    using PellmarError::PellmarError;
};

// Strict integer conversion: optional blanks and sign, decimal digits or '$' and hex
// digits, nothing after them, within 32 bits. Throws EConvertError otherwise.
int StrToInt(const QString& text);

// The same rules without the error: nothing when the text is not an integer.
std::optional<int> TryStrToInt(const QString& text);

// "List index out of bounds (%d)" for index.
[[noreturn]] void throwListIndexError(qsizetype index);
