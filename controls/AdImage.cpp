#include "controls/AdImage.h"

#include <QMouseEvent>
#include <QPainter>
#include <array>

namespace {

constexpr quint32 kAllOptions = 0xFFFFFFFF;

quint32 optionBit(TAdOption option) {
    switch (option) {
    case adoNoConnect:
        return 1;
    case adoNoDialOnDemand:
        return 2;
    case adoDelayedStartup:
        return 4;
    case adoAll:
        return kAllOptions;
    }
    return 0;
}

} // namespace

TAdImage::TAdImage(IMessageBoxes& messages, QWidget* parent)
    : QWidget(parent), m_library(messages) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(pixels(ADS468x60));
    connect(&m_library, &AdvertLibrary::repaintRequested, this, [this] { update(); });
    connect(&m_library, &AdvertLibrary::networkRequested, this, [this] { fire(OnNetworkRequest); });
    connect(&m_library, &AdvertLibrary::adRecorded, this, [this] { fire(OnAdCounted); });
}

TAdImage::~TAdImage() = default;

void TAdImage::Loaded() {
    if (m_autoLoad)
        Start();
}

bool TAdImage::Start() {
    if (started())
        return true;
    const bool result = m_library.start({m_programId, static_cast<int>(m_size), m_optionWord,
                                         m_bandwidthThrottle, m_minimumAdDisplayTime});
    if (started())
        update();
    return result;
}

bool TAdImage::SetProxy(const std::optional<QByteArray>& host, int port, const QByteArray& empty) {
    return m_library.setProxy(host, port, empty);
}

void TAdImage::fire(const TCallbackEvent& event) {
    if (event)
        event(this);
}

// ---- properties
// -----------------------------------------------------------------------------------

TAdOptionSet TAdImage::Options() const {
    TAdOptionSet options;
    for (TAdOption option : {adoNoConnect, adoNoDialOnDemand, adoDelayedStartup, adoAll}) {
        if ((m_optionWord & optionBit(option)) == optionBit(option))
            options.insert(option);
    }
    return options;
}

void TAdImage::setOptions(const TAdOptionSet& options) {
    m_optionWord = 0;
    for (TAdOption option : options)
        m_optionWord |= optionBit(option);
}

void TAdImage::setBandwidthThrottle(int throttle) {
    m_bandwidthThrottle = throttle;
    m_library.setBandwidthThrottle(throttle);
}

void TAdImage::setMinimumAdDisplayTime(int milliseconds) {
    m_minimumAdDisplayTime = milliseconds;
    m_library.setMinimumAdDisplayTime(milliseconds);
}

bool TAdImage::NetworkIsUp() const {
    return m_library.isConnectOkay();
}

void TAdImage::setNetworkIsUp(bool up) {
    m_library.setNetworkState(up);
}

void TAdImage::setSize(TAdImageSize size) {
    m_size = size;
    resize(pixels(size));
}

QSize TAdImage::pixels(TAdImageSize size) {
    static const std::array<QSize, 12> table = {QSize(150, 40), QSize(468, 60),  QSize(300, 50),
                                                QSize(70, 70),  QSize(50, 200),  QSize(392, 72),
                                                QSize(234, 60), QSize(125, 125), QSize(120, 90),
                                                QSize(120, 60), QSize(88, 31),   QSize(120, 240)};
    return table[static_cast<size_t>(size)];
}

TAdImageSize TAdImage::nearestSize(int width, int height) {
    if (width < 60)
        return ads50x200;
    if (width <= 78)
        return ads70x70;
    if (width <= 103)
        return ADS88x31;
    if (width <= 134) {
        if (height < 75)
            return ADS120x60;
        if (height <= 107)
            return ADS120x90;
        // 182 lies between the square and the tall banner; the square is nearer.
        return height <= 182 ? ADS125x125 : ADS120x240;
    }
    if (width <= 191)
        return ads150x40;
    if (width <= 266)
        return ADS234x60;
    if (width <= 345)
        return ads300x50;
    if (width <= 429)
        return ADS392x72;
    return ADS468x60;
}

// ---- painting and input
// --------------------------------------------------------------------------

void TAdImage::paintEvent(QPaintEvent*) {
    if (m_surface.size() != size()) {
        m_surface = QImage(size(), QImage::Format_RGB888);
        m_surface.fill(QColor(0xF4, 0xF4, 0xF4));
    }
    if (!m_surface.isNull()) {
        AdSurface surface{m_surface.width(), m_surface.height(),
                          static_cast<int32_t>(m_surface.bytesPerLine()), m_surface.bits()};
        m_library.paint(surface);
    }
    QPainter painter(this);
    painter.drawImage(0, 0, m_surface);
}

void TAdImage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const TAdImageSize nearest = nearestSize(width(), height());
    if (size() != pixels(nearest) || nearest != m_size)
        setSize(nearest);
}

void TAdImage::click() {
    fire(OnClick);
    m_library.click();
}

void TAdImage::mouseReleaseEvent(QMouseEvent* event) {
    QWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        click();
}
