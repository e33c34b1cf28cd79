#include "searchd/http/RequestLog.h"

#include <QByteArray>
#include <QList>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

QByteArray readAll(int fd) {
    QByteArray bytes;
    char buffer[65536];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, n);
    return bytes;
}

} // namespace

// Nobody reads the pipe until every line has been added: adding never waits for the
// output, and the lines beyond the limit are counted instead of held.
TEST(RequestLog, AnUnreadLogNeverHoldsTheCallerAndSaysWhatItLeftOut) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    FILE* out = fdopen(ends[1], "w");
    const std::string filler(1000, 'x');
    constexpr int kLines = 1000; // a megabyte: far more than the pipe and the limit hold
    auto* log = new RequestLog(out, 100 * 1000);
    for (int i = 0; i < kLines; ++i)
        log->add(std::to_string(i) + ' ' + filler + '\n');
    std::thread reader; // the pipe is read only now, while the log writes
    QByteArray received;
    reader = std::thread([&] { received = readAll(ends[0]); });
    log->flush();
    delete log;
    std::fclose(out);
    reader.join();
    ::close(ends[0]);

    int written = 0;
    int leftOut = 0;
    int expectedNext = 0;
    for (const QByteArray& line : received.split('\n')) {
        if (line.isEmpty())
            continue;
        if (line.startsWith("pellmar-searchd: ")) {
            leftOut += line.split(' ')[1].toInt();
            EXPECT_TRUE(line.endsWith(" log lines left out: the log was not read fast enough"));
            continue;
        }
        const int number = line.split(' ')[0].toInt();
        EXPECT_GE(number, expectedNext); // in order, none twice
        EXPECT_EQ(line.split(' ')[1].toStdString(), filler);
        expectedNext = number + 1;
        ++written;
    }
    EXPECT_EQ(written + leftOut, kLines);
    EXPECT_GT(leftOut, 0);
}
