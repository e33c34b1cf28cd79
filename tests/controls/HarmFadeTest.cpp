#include "controls/HarmFade.h"
#include "support/TestSeed.h"

#include <QCoreApplication>
#include <QPainter>
#include <QWindow>
#include <gtest/gtest.h>
#include <random>

namespace {

// Keeps a copy of the display image of every paint.
class RecordingFade : public THarmFade {
public:
    QList<QImage> painted;

protected:
    void paintEvent(QPaintEvent* event) override {
        painted.append(displayImage().copy());
        THarmFade::paintEvent(event);
    }
};

QImage solid(int width, int height, const QColor& color) {
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(color);
    return image;
}

QRgb pixel(const QImage& image) {
    return image.pixel(0, 0) & 0xFFFFFF;
}

// A shown control of the given size; paints run at once only while it is shown.
std::unique_ptr<RecordingFade> shownFade(int width, int height) {
    auto fade = std::make_unique<RecordingFade>();
    fade->resize(width, height);
    fade->show();
    while (!fade->windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();
    fade->Reset();
    fade->painted.clear();
    return fade;
}

int changedPixels(const QImage& before, const QImage& after) {
    int changed = 0;
    for (int y = 0; y < after.height(); ++y)
        for (int x = 0; x < after.width(); ++x)
            changed += before.pixel(x, y) != after.pixel(x, y);
    return changed;
}

} // namespace

TEST(HarmFadeTest, BlendIsThePerByteFormulaOnRandomImages) {
    const TestSeed seed(7);
    std::mt19937 random(seed.value());
    std::uniform_int_distribution<int> byte(0, 255);
    QByteArray work(4096, 0), target(4096, 0);
    for (qsizetype i = 0; i < work.size(); ++i) {
        work[i] = static_cast<char>(byte(random));
        target[i] = static_cast<char>(byte(random));
    }
    for (int weight = 0; weight <= 32; ++weight) {
        QByteArray display(4096, '\x5A');
        THarmFade::blend(reinterpret_cast<uchar*>(display.data()),
                         reinterpret_cast<const uchar*>(work.constData()),
                         reinterpret_cast<const uchar*>(target.constData()), display.size(),
                         weight);
        for (qsizetype i = 0; i < display.size(); ++i) {
            const int from = static_cast<uchar>(work[i]), to = static_cast<uchar>(target[i]);
            const int expected = weight == 0 ? 0x5A : (from * (32 - weight) + to * weight) / 32;
            ASSERT_EQ(static_cast<uchar>(display[i]), expected)
                << "weight " << weight << " byte " << i;
        }
    }
}

TEST(HarmFadeTest, FadeInPaintsOneStepPerWeight) {
    const QColor from(200, 16, 90), to(40, 250, 7);
    for (int rate : {1, 32}) {
        auto fade = shownFade(13, 7); // 39-byte rows padded to 40
        fade->setColorFrom(from);
        fade->setColorTo(to);
        fade->setBlendRate(rate);
        fade->painted.clear();
        fade->FadeIn();
        ASSERT_EQ(fade->painted.size(), rate + 1) << rate;
        for (int i = 0; i <= rate; ++i) {
            const int w = i * 32 / rate;
            auto mix = [w](int a, int b) { return (a * (32 - w) + b * w) / 32; };
            const QImage& step = fade->painted[i];
            EXPECT_EQ(step, solid(13, 7, QColor(mix(200, 40), mix(16, 250), mix(90, 7))))
                << "rate " << rate << " step " << i;
        }
        EXPECT_EQ(fade->displayImage(), solid(13, 7, to));
    }
}

TEST(HarmFadeTest, DissolveCopiesEqualBatchesThenTheRest) {
    struct Row {
        int width, height, rate;
        int batches, batchSize, rest;
    };
    for (const Row& row : {Row{10, 10, 125, 100, 1, 0}, Row{10, 10, 7, 7, 14, 2},
                           Row{5, 3, 4, 5, 3, 0}, Row{1, 1, 125, 1, 1, 0}}) {
        auto fade = shownFade(row.width, row.height);
        fade->setDisolvRate(row.rate);
        fade->Dissolve();
        ASSERT_EQ(fade->painted.size(), row.batches + 1) << row.width << "x" << row.rate;
        QImage before = solid(row.width, row.height, Qt::white); // the former PicTo
        for (int i = 0; i < fade->painted.size(); ++i) {
            EXPECT_EQ(changedPixels(before, fade->painted[i]),
                      i < row.batches ? row.batchSize : row.rest);
            before = fade->painted[i];
        }
        EXPECT_EQ(fade->displayImage(), solid(row.width, row.height, Qt::black));
    }
}

TEST(HarmFadeTest, RatesAreClamped) {
    struct Row {
        int blend, storedBlend, disolv, storedDisolv;
    };
    for (const Row& row : {Row{0, 1, 0, 1}, Row{300, 255, 10000, 5625}, Row{-4, 1, -1, 1},
                           Row{255, 255, 5625, 5625}, Row{256, 255, 125, 125}}) {
        THarmFade fade; // 75 x 75 pixels
        fade.setBlendRate(row.blend);
        fade.setDisolvRate(row.disolv);
        EXPECT_EQ(fade.BlendRate(), row.storedBlend) << row.blend;
        EXPECT_EQ(fade.DisolvRate(), row.storedDisolv) << row.disolv;
    }
}

TEST(HarmFadeTest, UnstretchedControlTakesThePictureSize) {
    auto fade = shownFade(50, 50);
    fade->setStretchToFit(false);
    fade->setPicTo(solid(12, 9, Qt::red));
    EXPECT_EQ(fade->size(), QSize(12, 9));
    fade->setPicFrom(solid(30, 20, Qt::green));
    EXPECT_EQ(fade->size(), QSize(30, 20));
    fade->setBlendRate(1);
    fade->FadeIn();
    EXPECT_EQ(fade->displayImage(), solid(30, 20, Qt::red)); // PicTo stretched to PicFrom's size
}

TEST(HarmFadeTest, FadeOutLeavesPicturesColoursAndStretchAsTheyWere) {
    QImage rest = solid(8, 8, Qt::blue);
    QPainter(&rest).fillRect(0, 0, 4, 8, Qt::yellow);
    const QImage hover = solid(4, 4, Qt::red);
    auto fade = shownFade(8, 8);
    fade->setBlendRate(1);
    fade->setPicFrom(rest);
    fade->setPicTo(hover);
    fade->setColorFrom(QColor(1, 2, 3));
    fade->setColorTo(QColor(4, 5, 6));
    fade->setStretchToFit(false);
    fade->FadeIn();
    fade->painted.clear();
    fade->FadeOut();

    EXPECT_EQ(fade->PicFrom(), rest);
    EXPECT_EQ(fade->PicTo(), hover);
    EXPECT_EQ(fade->ColorFrom(), QColor(1, 2, 3));
    EXPECT_EQ(fade->ColorTo(), QColor(4, 5, 6));
    EXPECT_FALSE(fade->StretchToFit());
    ASSERT_EQ(fade->painted.size(), 2);
    EXPECT_EQ(fade->painted[0], solid(8, 8, Qt::red));
    EXPECT_EQ(fade->painted[1].convertToFormat(QImage::Format_RGB32),
              rest.convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(fade->displayImage().convertToFormat(QImage::Format_RGB32),
              rest.convertToFormat(QImage::Format_RGB32));
}

TEST(HarmFadeTest, EventsOfTheTransitions) {
    THarmFade fade;
    QStringList log;
    fade.OnBegin = [&](THarmFade*) { log << QStringLiteral("begin"); };
    fade.OnEnd = [&](THarmFade*) { log << QStringLiteral("end"); };
    fade.OnReset = [&](THarmFade*) { log << QStringLiteral("reset"); };
    fade.FadeIn();
    fade.FadeOut();
    fade.Dissolve();
    EXPECT_EQ(log, QStringList({"reset", "begin", "end", "reset", "reset", "reset", "reset"}));
}

TEST(HarmFadeTest, TransparentPictureLiesOverTheBackground) {
    QImage icon(2, 2, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    auto fade = shownFade(2, 2);
    fade->setColorFrom(QColor(9, 99, 199));
    fade->setPicFrom(icon);
    EXPECT_EQ(pixel(fade->displayImage()), QColor(9, 99, 199).rgb() & 0xFFFFFF);
}
