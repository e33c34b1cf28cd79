#include "net/ChunkedDecoder.h"

#include "core/TextHelpers.h"
#include "net/HttpReply.h"

#include <algorithm>
#include <cstring>

namespace {

// Sizes up to 15 hex digits: far beyond any file, and never beyond 64 bits.
constexpr int kMaxSizeDigits = 15;

} // namespace

ChunkedDecoder::Status ChunkedDecoder::Feed(const char* data, qint64 size, QByteArray& out) {
    qint64 at = 0;
    while (at < size && m_status == Status::NeedMore) {
        if (m_part == Part::Data) {
            const qint64 count = std::min(m_left, size - at);
            out.append(data + at, count);
            at += count;
            m_left -= count;
            if (m_left == 0)
                m_part = Part::DataEnd;
            continue;
        }
        bool complete = false;
        at += TakeLine(data + at, size - at, complete);
        if (!complete)
            continue;
        if (m_part == Part::SizeLine)
            EndSizeLine();
        else if (m_part == Part::DataEnd)
            EndDataLine();
        else
            EndTrailerLine();
        m_line.clear();
    }
    return m_status;
}

// Gathers line bytes up to a line feed; returns how many were taken.
qint64 ChunkedDecoder::TakeLine(const char* data, qint64 size, bool& complete) {
    const auto* lf = static_cast<const char*>(std::memchr(data, '\n', size_t(size)));
    const qint64 length = lf ? qint64(lf - data) : size;
    if (m_line.size() + length >= HttpReply::kMaxLineLength) {
        Fail(m_part == Part::Trailer ? "chunk trailer line too long" : "chunk size line too long");
        return size;
    }
    m_line.append(data, length);
    complete = lf != nullptr;
    if (complete && m_line.endsWith('\r'))
        m_line.chop(1);
    return complete ? length + 1 : length;
}

// Hex digits, then nothing, blanks or a ";" with extensions, which are not used.
void ChunkedDecoder::EndSizeLine() {
    qint64 value = 0;
    qsizetype at = 0;
    while (at < m_line.size() && HexDigitValue(m_line[at]) >= 0 && at < kMaxSizeDigits)
        value = value * 16 + HexDigitValue(m_line[at++]);
    while (at < m_line.size() && (m_line[at] == ' ' || m_line[at] == '\t'))
        ++at;
    if (at == 0 || (at < m_line.size() && m_line[at] != ';')) {
        Fail("bad chunk size line");
        return;
    }
    m_left = value;
    m_part = value > 0 ? Part::Data : Part::Trailer;
}

void ChunkedDecoder::EndDataLine() {
    if (!m_line.isEmpty()) {
        Fail("chunk data not followed by a line end");
        return;
    }
    m_part = Part::SizeLine;
}

// The trailer's fields are not used; its empty line ends the body.
void ChunkedDecoder::EndTrailerLine() {
    if (m_line.isEmpty()) {
        m_status = Status::Done;
        return;
    }
    m_trailerBytes += m_line.size() + 2;
    if (m_trailerBytes > HttpReply::kMaxHeaderBytes)
        Fail("chunk trailer too large");
}

void ChunkedDecoder::Fail(const QByteArray& reason) {
    m_status = Status::Failed;
    m_error = reason;
}
