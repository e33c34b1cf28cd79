#pragma once

#include <QByteArrayView>

// What a "Range" request header asks of a file of a given size. One range is served as a
// part ("bytes=first-last", "bytes=first-" or the suffix "bytes=-count"); a header that is
// not of that form (several ranges, another unit, bad numbers) is ignored and the whole
// file is sent, as HTTP allows. A range that starts past the end cannot be served.
struct ByteRange {
    enum class Kind { Whole, Part, Unsatisfiable };

    Kind kind = Kind::Whole;
    qint64 first = 0;
    qint64 length = 0;

    static ByteRange parse(QByteArrayView header, qint64 size);
};
