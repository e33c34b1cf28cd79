// The quality pass over MP3 files: the frame-header reader and the transcode check on the
// first 64 KiB of each file of the test corpus (made here with lame), against ffprobe run
// once on each whole file, as a user would. Prints files per second per core (CPU time)
// and per second of wall time for both, from the same run.
//
//   quality_pass [ROUNDS]
#include "core/Mpeg3Head.h"
#include "quality/QualityPass.h"
#include "support/Mp3Corpus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>

namespace {

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + now.tv_nsec / 1e9;
}

double childrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Head {
    QString path;
    QByteArray bytes;
    qint64 fileSize = 0;
};

void report(const char* what, int files, double cpuSeconds, double wallSeconds) {
    std::printf("%-42s %6d files  %9.1f files/s per core  %9.1f files/s wall\n", what, files,
                files / cpuSeconds, files / wallSeconds);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const Mp3Corpus::Corpus corpus(2609);
    if (!corpus.ok()) {
        std::fprintf(stderr, "corpus: %s\n", qPrintable(corpus.error()));
        return 1;
    }
    QList<Head> heads;
    for (const Mp3Corpus::Corpus::File& file : corpus.files()) {
        QFile mp3(file.path);
        if (!mp3.open(QIODevice::ReadOnly))
            return 1;
        const QByteArray bytes = mp3.read(64 * 1024);
        heads.append({file.path, bytes, mp3.size()});
    }

    int judged = 0, transcoded = 0;
    QElapsedTimer wall;
    wall.start();
    const double cpuStart = threadCpuSeconds();
    for (int round = 0; round < rounds; ++round)
        for (const Head& head : heads) {
            // As the crawler does: the head's first frame and information header, the file's
            // size from the listing, then the spectrum.
            TMpeg3Head reader(true);
            reader.ReadFrameHeader(head.bytes);
            FrameHeader frame = reader.header();
            frame.fileSize = head.fileSize - frame.headerOffset;
            frame.settleQuality();
            QualityPass::judgeAudio(head.bytes, frame);
            transcoded += frame.quality.verdict == Verdict::Transcoded;
            ++judged;
        }
    const double passCpu = threadCpuSeconds() - cpuStart;
    const double passWall = wall.nsecsElapsed() / 1e9;

    int probed = 0;
    wall.restart();
    const double childStart = childrenCpuSeconds();
    for (int round = 0; round < rounds; ++round)
        for (const Head& head : heads)
            probed += Mp3Corpus::ffprobeFigures(head.path).ok;
    const double probeCpu = childrenCpuSeconds() - childStart;
    const double probeWall = wall.nsecsElapsed() / 1e9;

    std::printf("%d corpus files, %d rounds; %d judged transcoded a round\n", int(heads.size()),
                rounds, transcoded / rounds);
    report("header + transcode check, first 64 KiB", judged, passCpu, passWall);
    report("ffprobe, one process a file", probed, probeCpu, probeWall);
    std::printf("quality pass / ffprobe, per core: %.1fx\n",
                (judged / passCpu) / (probed / probeCpu));
    return 0;
}
