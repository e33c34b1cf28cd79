#include "net/HttpReply.h"
#include "net/ChunkedDecoder.h"
#include "net/HttpLineBuffer.h"
#include "net/ResolveUrl.h"

#include <QList>
#include <gtest/gtest.h>

using HttpReply::LineStatus;

namespace {

struct Parsed {
    QList<QByteArray> lines; // header lines up to the empty one
    QByteArray body;         // what follows the header
};

// Feeds the parts into one line buffer as the socket would, taking lines after each read.
Parsed FeedInParts(const QList<QByteArray>& parts) {
    THttpLineBuffer buffer;
    Parsed parsed;
    bool inBody = false;
    for (const QByteArray& part : parts) {
        for (qsizetype taken = 0; taken < part.size();) {
            if (inBody) {
                parsed.body += part.mid(taken);
                break;
            }
            taken += buffer.Append(part.constData() + taken, int(part.size() - taken));
            QByteArray line;
            while (!inBody && buffer.TakeLine(line) == LineStatus::Line) {
                if (line.isEmpty())
                    inBody = true;
                else
                    parsed.lines << line;
            }
            if (inBody)
                parsed.body += buffer.TakeAll();
        }
    }
    return parsed;
}

} // namespace

TEST(HttpReply, ReplySplitAtEveryByteGivesTheSameLinesAndBody) {
    const QByteArray reply = "HTTP/1.1 206 Partial\r\nContent-Type: Audio/MPEG\n"
                             "Content-Length: 7\r\nX-Odd:\r\n\r\nab\r\ncd\n";
    const QList<QByteArray> lines{"HTTP/1.1 206 Partial", "Content-Type: Audio/MPEG",
                                  "Content-Length: 7", "X-Odd:"};
    for (int cut = 0; cut <= reply.size(); ++cut) {
        const Parsed parsed = FeedInParts({reply.left(cut), reply.mid(cut)});
        EXPECT_EQ(parsed.lines, lines) << cut;
        EXPECT_EQ(parsed.body, "ab\r\ncd\n") << cut;
    }
    // One byte at a time.
    QList<QByteArray> bytes;
    for (char c : reply)
        bytes << QByteArray(1, c);
    EXPECT_EQ(FeedInParts(bytes).lines, lines);
}

TEST(HttpReply, NextLineNeedsALineFeedAndRefusesAZeroByteBeforeIt) {
    struct Row {
        QByteArray data;
        LineStatus status;
        int length;
        int consumed;
    };
    const Row rows[] = {
        {"abc\r\nrest", LineStatus::Line, 3, 5},
        {"abc\nrest", LineStatus::Line, 3, 4},
        {"\r\n", LineStatus::Line, 0, 2},
        {"\n", LineStatus::Line, 0, 1},
        {"a\rb\n", LineStatus::Line, 3, 4},
        {"abc\r", LineStatus::NeedMore, 0, 0},
        {"", LineStatus::NeedMore, 0, 0},
        {QByteArray("a\0b\n", 4), LineStatus::HasZero, 0, 0},
        {QByteArray("ab\n\0", 4), LineStatus::Line, 2, 3},
        {QByteArray(16, 'x'), LineStatus::TooLong, 0, 0},
    };
    for (const Row& row : rows) {
        const HttpReply::LineCut cut =
            HttpReply::NextLine(row.data.constData(), int(row.data.size()), 16);
        EXPECT_EQ(cut.status, row.status) << row.data.constData();
        EXPECT_EQ(cut.length, row.length) << row.data.constData();
        EXPECT_EQ(cut.consumed, row.consumed) << row.data.constData();
    }
}

TEST(HttpReply, FullLineBufferWithoutLineFeedIsTooLongAndNeverGrows) {
    THttpLineBuffer buffer(8);
    EXPECT_EQ(buffer.Append("abcdefghij", 10), 8);
    EXPECT_EQ(buffer.FreeSize(), 0);
    QByteArray line;
    EXPECT_EQ(buffer.TakeLine(line), LineStatus::TooLong);
    EXPECT_EQ(buffer.Fill(), 8);
}

TEST(HttpReply, HeaderLinesAreStatusFieldsOrOther) {
    using HttpReply::HeaderLine;
    struct Row {
        QByteArray line;
        HeaderLine::Kind kind;
        QByteArray name;
        QByteArray value;
    };
    const Row rows[] = {
        {"HTTP/1.0 404 Not Found", HeaderLine::Status, "404", "Not Found"},
        {"HTTP/1.1 200", HeaderLine::Status, "200", ""},
        {"HTTP/1.2 200 OK", HeaderLine::Status, "200", "OK"},
        {"HTTP/2 200 OK", HeaderLine::Other, "", ""},
        {"HTTP/1.0 abc", HeaderLine::Other, "", ""},
        {"HTTP/1.1 20 OK", HeaderLine::Other, "", ""},
        {"HTTP/1.1 200OK", HeaderLine::Other, "", ""},
        {"ICY 200 OK", HeaderLine::Other, "", ""},
        {"Content-Type: Audio/MPEG", HeaderLine::Field, "content-type", "Audio/MPEG"},
        {"Content-Type:text/plain", HeaderLine::Field, "content-type", "text/plain"},
        {"Content-Length:\t 123 \t", HeaderLine::Field, "content-length", "123"},
        {"Location: http://h:81/x", HeaderLine::Field, "location", "http://h:81/x"},
        {"X-Odd:", HeaderLine::Field, "x-odd", ""},
        {"no colon here", HeaderLine::Other, "", ""},
    };
    for (const Row& row : rows) {
        const HeaderLine parsed = HttpReply::ParseHeaderLine(row.line);
        EXPECT_EQ(parsed.kind, row.kind) << row.line.constData();
        EXPECT_EQ(parsed.name, row.name) << row.line.constData();
        EXPECT_EQ(parsed.value, row.value) << row.line.constData();
    }
    EXPECT_TRUE(HttpReply::IsHeaderlessStart("<html><body>"));
    EXPECT_FALSE(HttpReply::IsHeaderlessStart("<htm"));
}

TEST(HttpReply, ContentLengthIsDigitsOnly) {
    const QList<std::pair<QByteArray, qint64>> rows = {
        {"123", 123},
        {" 7 ", 7},
        {"0", 0},
        {"5000000000", 5000000000LL},
        {"+5", -1},
        {"-5", -1},
        {"abc", -1},
        {"", -1},
        {"1 2", -1},
        {"12x", -1},
        {"12345678901234567890", -1},
    };
    for (const auto& [value, length] : rows)
        EXPECT_EQ(HttpReply::ContentLengthValue(value), length) << value.constData();
}

TEST(HttpReply, RequestTargetEscapesOnlyControlBlankAndHighBytes) {
    EXPECT_EQ(HttpReply::EncodeRequestTarget("/my song.mp3?q=a b"), "/my%20song.mp3?q=a%20b");
    EXPECT_EQ(HttpReply::EncodeRequestTarget("/a%20b/%E9?x=1&y=~!"), "/a%20b/%E9?x=1&y=~!");
    EXPECT_EQ(HttpReply::EncodeRequestTarget(QByteArray("/\x01\x7f\xe9\xff\t", 6)),
              "/%01%7F%E9%FF%09");
    EXPECT_EQ(HttpReply::EncodeRequestTarget("http://h:8080/x y"), "http://h:8080/x%20y");
}

TEST(ResolveUrl, LinksResolveAgainstTheDocumentAsBrowsersDo) {
    const QByteArray base = "http://h:8080/dir/sub/page?q=1";
    const QList<std::pair<QByteArray, QByteArray>> rows = {
        {"file.mp3", "http://h:8080/dir/sub/file.mp3"},
        {"./file.mp3", "http://h:8080/dir/sub/file.mp3"},
        {"../x.mp3", "http://h:8080/dir/x.mp3"},
        {"../../../../x.mp3", "http://h:8080/x.mp3"},
        {"..", "http://h:8080/dir/"},
        {"/abs/x.mp3", "http://h:8080/abs/x.mp3"},
        {"//other/x.mp3", "http://other/x.mp3"},
        {"//other:81", "http://other:81/"},
        {"http://other/x.mp3", "http://other/x.mp3"},
        {"http://other:81/a/./b/../c", "http://other:81/a/c"},
        {"HTTP://other", "http://other/"},
        {"http:x.mp3", "http://h:8080/dir/sub/x.mp3"},
        {"?q=2", "http://h:8080/dir/sub/page?q=2"},
        {"", "http://h:8080/dir/sub/page?q=1"},
        {"#part", "http://h:8080/dir/sub/page?q=1"},
        {"  x.mp3#part ", "http://h:8080/dir/sub/x.mp3"},
        {"a b.mp3?x=%20", "http://h:8080/dir/sub/a b.mp3?x=%20"},
        {"ftp://f.example/pub", "ftp://f.example/pub"},
    };
    for (const auto& [link, expected] : rows)
        EXPECT_EQ(ResolveUrl(base, link), expected) << link.constData();
    EXPECT_EQ(ResolveUrl("http://h", "x.mp3"), "http://h/x.mp3");
}

namespace {

struct Decoded {
    ChunkedDecoder::Status status;
    QByteArray data;
    QByteArray error;
};

Decoded Dechunk(const QList<QByteArray>& parts) {
    ChunkedDecoder decoder;
    Decoded decoded{ChunkedDecoder::Status::NeedMore, {}, {}};
    for (const QByteArray& part : parts)
        decoded.status = decoder.Feed(part.constData(), part.size(), decoded.data);
    decoded.error = decoder.Error();
    return decoded;
}

} // namespace

TEST(ChunkedDecoder, BodySplitAtEveryByteGivesTheSameData) {
    QByteArray big(0x1A, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i * 37);
    const QByteArray body =
        "5;name=value\r\nhello\r\n1a \r\n" + big + "\r\n0\r\nX-Trailer: a\r\n\r\nnot the body";
    const QByteArray data = "hello" + big;
    for (int cut = 0; cut <= body.size(); ++cut) {
        const Decoded decoded = Dechunk({body.left(cut), body.mid(cut)});
        EXPECT_EQ(decoded.status, ChunkedDecoder::Status::Done) << cut;
        EXPECT_EQ(decoded.data, data) << cut;
    }
    QList<QByteArray> bytes;
    for (char c : body)
        bytes << QByteArray(1, c);
    EXPECT_EQ(Dechunk(bytes).data, data);
    EXPECT_EQ(Dechunk({"3\nabc\n0\n\n"}).data, "abc"); // bare line feeds
}

TEST(ChunkedDecoder, BrokenFramingFailsWithItsReason) {
    using Status = ChunkedDecoder::Status;
    QByteArray trailerFlood = "0\r\n";
    while (trailerFlood.size() <= HttpReply::kMaxHeaderBytes)
        trailerFlood += "X-Flood: " + QByteArray(200, 'a') + "\r\n";
    struct Row {
        QByteArray body;
        Status status;
        QByteArray data;
        QByteArray error;
    };
    const Row rows[] = {
        {"5\r\nhel", Status::NeedMore, "hel", ""},
        {"zz\r\n", Status::Failed, "", "bad chunk size line"},
        {"\r\n", Status::Failed, "", "bad chunk size line"},
        {"-1\r\n", Status::Failed, "", "bad chunk size line"},
        {" 5\r\nhello\r\n", Status::Failed, "", "bad chunk size line"},
        {QByteArray("5\0\r\nhello\r\n", 11), Status::Failed, "", "bad chunk size line"},
        {"1000000000000000\r\n", Status::Failed, "", "bad chunk size line"},
        {"5\r\nhelloX\r\n", Status::Failed, "hello", "chunk data not followed by a line end"},
        {QByteArray(8191, '0'), Status::NeedMore, "", ""},
        {QByteArray(8192, '1'), Status::Failed, "", "chunk size line too long"},
        {QByteArray(8191, '0') + "\r\n", Status::Failed, "", "chunk size line too long"},
        {"0\r\n" + QByteArray(9000, 'a'), Status::Failed, "", "chunk trailer line too long"},
        {trailerFlood, Status::Failed, "", "chunk trailer too large"},
    };
    for (const Row& row : rows) {
        const Decoded decoded = Dechunk({row.body});
        EXPECT_EQ(decoded.status, row.status) << row.body.left(40).constData();
        EXPECT_EQ(decoded.data, row.data) << row.body.left(40).constData();
        EXPECT_EQ(decoded.error, row.error) << row.body.left(40).constData();
    }
}
