#pragma once

#include <QByteArray>

// Takes the chunked transfer coding off a reply body (RFC 9112, section 7.1): the body comes
// in pieces cut anywhere, the data of its chunks is appended to the output, and the last
// chunk with its trailer ends it. A chunk-size line and each trailer line may be as long as
// a header line; the trailer as a whole as long as a header.
class ChunkedDecoder {
public:
    enum class Status { NeedMore, Done, Failed };

    // Decodes size bytes and appends the data they carry to out. Bytes after the end of the
    // body are not taken. Once Failed, Error() says why and nothing more is taken.
    Status Feed(const char* data, qint64 size, QByteArray& out);
    Status State() const { return m_status; }
    const QByteArray& Error() const { return m_error; }

private:
    enum class Part { SizeLine, Data, DataEnd, Trailer };

    qint64 TakeLine(const char* data, qint64 size, bool& complete);
    void EndSizeLine();
    void EndDataLine();
    void EndTrailerLine();
    void Fail(const QByteArray& reason);

    Part m_part = Part::SizeLine;
    Status m_status = Status::NeedMore;
    qint64 m_left = 0; // data bytes of the current chunk still to come
    QByteArray m_line; // the line being gathered, without its line feed
    qint64 m_trailerBytes = 0;
    QByteArray m_error;
};
