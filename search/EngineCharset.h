#pragma once

#include <QByteArray>

// How an engine's answer is read. Every engine speaks Windows-1252; our own service agrees on
// UTF-8 when the query address of the data file carries "charset=utf-8": the words then go
// as percent-escaped UTF-8, and an answer whose Content-Type says "charset=utf-8" is read as
// UTF-8. Both ends must say so: an old service that ignores the parameter answers in
// Windows-1252, and that is how its answer is read.
enum class EngineCharset { Windows1252, Utf8 };

// Utf8 when the query of url holds the parameter charset=utf-8 (any letter case).
EngineCharset RequestedCharset(const QByteArray& url);

// How the answer to a request for url is read: Utf8 only when the request asked for it and
// the answer's Content-Type says charset=utf-8.
EngineCharset AnswerCharset(const QByteArray& url, const QByteArray& contentType);
