// The fading button's blend: 33 steps over a 1920 x 1080 24-bit image with the word blend,
// against Qt's raster engine drawing the target over the start image at the same opacities.
//
//   fade_blend [RUNS]
#include "controls/HarmFade.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstdio>
#include <random>

namespace {

QImage noise(unsigned seed) {
    QImage image(1920, 1080, QImage::Format_RGB888);
    std::mt19937 random(seed);
    for (qsizetype i = 0; i < image.sizeInBytes(); ++i)
        image.bits()[i] = static_cast<uchar>(random());
    return image;
}

template <typename Step> double bestMs(int runs, Step step) {
    double best = 1e30;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        for (int w = 0; w <= 32; ++w)
            step(w);
        best = std::min(best, clock.nsecsElapsed() / 1e6);
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const QImage work = noise(1);
    const QImage target = noise(2);
    QImage display = work.copy();

    const double ours = bestMs(runs, [&](int w) {
        THarmFade::blend(display.bits(), work.constBits(), target.constBits(),
                         display.sizeInBytes(), w);
    });
    const double peer = bestMs(runs, [&](int w) {
        display = work.copy();
        QPainter painter(&display);
        painter.setOpacity(w / 32.0);
        painter.drawImage(0, 0, target);
    });
    std::printf("33 blend steps, 1920x1080 RGB888, best of %d\n", runs);
    std::printf("  word blend:          %8.2f ms\n", ours);
    std::printf("  QPainter opacity:    %8.2f ms\n", peer);
    std::printf("  ratio (peer/ours):   %8.2f\n", peer / ours);
    return 0;
}
