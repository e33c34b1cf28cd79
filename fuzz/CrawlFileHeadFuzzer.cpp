// Arbitrary bytes as a remote file's head and tail: the head reader never reads past them,
// asks for a bounded amount, and gives texts without control characters.
#include "crawl/FileHeadReader.h"

#include <cstdint>
#include <cstdlib>

namespace {

void checkText(const QString& text) {
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const qint64 wanted = FileHeadReader::bytesWanted(bytes);
    if (wanted < FileHead::kFirstRead || wanted > FileHead::kMaxRead)
        std::abort();
    const FileHead head = FileHeadReader::read(bytes, bytes.size() + 1000, bytes.right(128));
    if (head.hasQuality() != head.frame.error.isEmpty() || head.frame.headerOffset < 0 ||
        head.frame.headerOffset > bytes.size())
        std::abort();
    checkText(head.artist);
    checkText(head.title);
    return 0;
}
