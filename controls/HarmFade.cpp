#include "controls/HarmFade.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QThread>
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr quint32 kEvenBytes = 0x00FF00FF;
constexpr quint32 kOddBytes = 0xFF00FF00;

QImage blankImage(QSize size, const QColor& background) {
    QImage image(size, QImage::Format_RGB888);
    image.fill(background);
    return image;
}

} // namespace

THarmFade::THarmFade(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    resize(75, 75);
    Reset();
}

THarmFade::~THarmFade() = default;

// ---- properties ------------------------------------------------------------------------------

void THarmFade::setPicFrom(const QImage& picture) {
    m_picFrom = picture;
    if (!m_swapped)
        changed();
}

void THarmFade::setPicTo(const QImage& picture) {
    m_picTo = picture;
    if (!m_swapped)
        changed();
}

void THarmFade::setColorFrom(const QColor& color) {
    if (color == m_colorFrom)
        return;
    m_colorFrom = color;
    changed();
}

void THarmFade::setColorTo(const QColor& color) {
    if (color == m_colorTo)
        return;
    m_colorTo = color;
    changed();
}

void THarmFade::setStretchToFit(bool stretch) {
    if (stretch == m_stretchToFit)
        return;
    m_stretchToFit = stretch;
    changed();
}

void THarmFade::setDisolvRate(int rate) {
    const qint64 pixels = qint64(width()) * height();
    m_disolvRate = static_cast<int>(std::max<qint64>(1, std::min<qint64>(rate, pixels)));
}

void THarmFade::setBlendRate(int rate) {
    m_blendRate = std::clamp(rate, 1, 255);
}

void THarmFade::changed() {
    Reset();
    update();
}

// ---- building the images -----------------------------------------------------------------------

void THarmFade::renderStretched(QImage& image, const QImage& picture,
                                const QColor& background) const {
    image.fill(background);
    if (picture.isNull() || image.isNull())
        return;
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(image.rect(), picture);
}

void THarmFade::renderUnscaled(QImage& image, const QImage& picture,
                               const QColor& background) const {
    image.fill(background);
    if (picture.isNull() || image.isNull())
        return;
    QPainter painter(&image);
    painter.drawImage(0, 0, picture);
}

// After a reverse run the pictures, colours and StretchToFit go back to what they were.
void THarmFade::exchangeBack() {
    std::swap(m_colorFrom, m_colorTo);
    std::swap(m_picFrom, m_picTo);
    m_swapped = false;
    m_stretchToFit = m_savedStretch;
}

void THarmFade::Reset() {
    if (m_swapped)
        exchangeBack();
    QSize size = this->size();
    if (!m_stretchToFit) {
        if (!m_picFrom.isNull())
            size = m_picFrom.size();
        else if (!m_picTo.isNull())
            size = m_picTo.size();
        if (size != this->size()) {
            m_inReset = true;
            resize(size);
            m_inReset = false;
        }
    }
    // The images take the size asked for even if the widget's own limits refused it: the
    // blend and the dissolve rely on three images of one size.
    m_display = blankImage(size, m_colorFrom);
    m_target = blankImage(size, m_colorTo);
    if (m_stretchToFit) {
        renderStretched(m_display, m_picFrom, m_colorFrom);
        renderStretched(m_target, m_picTo, m_colorTo);
    } else {
        if (!m_picFrom.isNull())
            renderUnscaled(m_display, m_picFrom, m_colorFrom);
        if (!m_picFrom.isNull() || m_picTo.isNull())
            renderStretched(m_target, m_picTo, m_colorTo); // PicTo scaled to PicFrom's size
        else
            renderUnscaled(m_target, m_picTo, m_colorTo);
    }
    m_work = QImage(size, QImage::Format_RGB888);
    update();
    fire(OnReset);
}

// ---- transitions -------------------------------------------------------------------------------

void THarmFade::blend(uchar* display, const uchar* work, const uchar* target, qsizetype bytes,
                      int weight) {
    if (weight <= 0)
        return;
    const quint32 keep = 32 - weight;
    const quint32 take = static_cast<quint32>(weight);
    uchar* __restrict out = display;
    const uchar* __restrict from = work;
    const uchar* __restrict to = target;
    const qsizetype words = bytes / 4;
    for (qsizetype i = 0; i < words; ++i) {
        quint32 a, b;
        std::memcpy(&a, from + i * 4, 4);
        std::memcpy(&b, to + i * 4, 4);
        // Two bytes share a word with room for the products: 255 * 32 needs 13 bits.
        const quint32 even =
            ((((a & kEvenBytes) * keep + (b & kEvenBytes) * take)) >> 5) & kEvenBytes;
        const quint32 odd =
            ((((a & kOddBytes) >> 8) * keep + ((b & kOddBytes) >> 8) * take) << 3) & kOddBytes;
        const quint32 mixed = even | odd;
        std::memcpy(out + i * 4, &mixed, 4);
    }
}

// Repaints at once and lets input through when asked; false when a handler run in between
// destroyed the control.
bool THarmFade::stepDone() {
    repaint();
    if (!m_processMsgs)
        return true;
    QPointer<THarmFade> self(this);
    QCoreApplication::processEvents();
    return !self.isNull();
}

bool THarmFade::blendLoop() {
    m_work = m_display.copy();
    for (int i = 0; i <= m_blendRate; ++i) {
        const qsizetype bytes =
            std::min({m_display.sizeInBytes(), m_work.sizeInBytes(), m_target.sizeInBytes()});
        blend(m_display.bits(), m_work.constBits(), m_target.constBits(), bytes,
              i * 32 / m_blendRate);
        if (!stepDone())
            return false;
    }
    return true;
}

void THarmFade::FadeIn() {
    Reset();
    if (m_blendRate < 1)
        throw EHarmFade(QStringLiteral("BlendRate must be between 0 and 256"));
    fire(OnBegin);
    if (!blendLoop())
        return;
    if (m_autoReverse) {
        QThread::msleep(static_cast<unsigned long>(std::max(0, m_swapDelay)) * 1000);
        if (m_swapOnReverse)
            Dissolve();
        else
            FadeOut();
    }
    fire(OnEnd);
}

// Shows the former PicTo with the pictures and colours exchanged, until the next Reset.
void THarmFade::beginReverse() {
    m_savedStretch = m_stretchToFit;
    m_stretchToFit = true;
    std::swap(m_colorFrom, m_colorTo);
    std::swap(m_picFrom, m_picTo);
    Reset();
    m_swapped = true;
}

void THarmFade::FadeOut() {
    beginReverse();
    if (!blendLoop())
        return;
    Reset();
}

void THarmFade::Dissolve() {
    beginReverse();
    const int columns = m_display.width();
    const int rows = m_display.height();
    const qsizetype n = qsizetype(columns) * rows;
    std::vector<std::pair<int, int>> pixels;
    pixels.reserve(static_cast<size_t>(n));
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column)
            pixels.emplace_back(row, column);
    m_random.seed(static_cast<unsigned>(QDateTime::currentMSecsSinceEpoch()));
    if (n > 0) {
        std::uniform_int_distribution<qsizetype> draw(0, n - 1);
        for (qsizetype j = 0; j < n; ++j)
            std::swap(pixels[size_t(j)], pixels[size_t(draw(m_random))]);
    }

    // A handler run between steps may have rebuilt the images at another size.
    auto copyPixels = [&](qsizetype first, qsizetype end) {
        if (m_display.size() != QSize(columns, rows) || m_target.size() != m_display.size())
            return;
        for (qsizetype e = first; e < end; ++e) {
            const auto [row, column] = pixels[size_t(e)];
            std::memcpy(m_display.scanLine(row) + column * 3,
                        m_target.constScanLine(row) + column * 3, 3);
        }
    };
    const qsizetype batch = std::max<qsizetype>(1, n / std::max(1, m_disolvRate));
    const qsizetype batches = n / batch;
    for (qsizetype k = 0; k < batches; ++k) {
        copyPixels(k * batch, k * batch + batch);
        if (!stepDone())
            return;
    }
    copyPixels(batch * batches, n);
    repaint();
    Reset();
}

// ---- events ------------------------------------------------------------------------------------

void THarmFade::fire(const TNotifyEvent& event) {
    if (event)
        event(this);
}

void THarmFade::click() {
    fire(OnClick);
}

void THarmFade::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, m_display);
}

void THarmFade::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!m_inReset)
        changed();
}

void THarmFade::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    changed();
}

void THarmFade::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    fire(OnMouseEnter);
}

void THarmFade::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    fire(OnMouseLeave);
}

void THarmFade::mouseReleaseEvent(QMouseEvent* event) {
    QWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        click();
}
