#include "net/HttpReply.h"
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

TEST(HttpReply, NextLineNeedsALineFeedSeenBeforeAnyZeroByte) {
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
        {QByteArray("a\0b\n", 4), LineStatus::NeedMore, 0, 0},
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
        {"HTTP/2 200 OK", HeaderLine::Other, "", ""},
        {"Content-Type: Audio/MPEG", HeaderLine::Field, "content-type", "Audio/MPEG"},
        {"Content-Type:text/plain", HeaderLine::Field, "content-type", "ext/plain"},
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
