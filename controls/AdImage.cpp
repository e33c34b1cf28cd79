#include "controls/AdImage.h"

#include "platform/MessageBoxes.h"
#include "platform/ProgramFolder.h"

#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QThread>
#include <array>
#include <dlfcn.h>

namespace {

constexpr quint32 kAllOptions = 0xFFFFFFFF;
constexpr int kMaxProxyHost = 1024;

bool succeeded(int32_t result) {
    return (static_cast<uint32_t>(result) & 0xFFFF) != 0;
}

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
    : QWidget(parent), m_messages(messages) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(pixels(ADS468x60));
    loadLibrary();
}

TAdImage::~TAdImage() {
    if (m_started && m_shutdown)
        m_shutdown(&m_context);
    if (m_module)
        dlclose(m_module);
}

// ---- the library ----------------------------------------------------------------------------

void TAdImage::assertionFailed(const QString& text) {
    m_messages.show(QStringLiteral("Assertion Failed"), text, MessageIcon::None,
                    MessageButtons::Ok);
}

void TAdImage::loadLibrary() {
    // Only the program folder's own library, never one found along a search path.
    const QByteArray path = QFile::encodeName(ProgramFolder::file(QStringLiteral("advert.dll")));
    m_module = dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!m_module) {
        // Without a library every look-up would fail too; one message says it all.
        assertionFailed(QStringLiteral("Couldn't load advert.dll"));
        return;
    }
    m_startup = reinterpret_cast<AdStartupFn>(lookUp("_Startup", nullptr));
    m_paint = reinterpret_cast<AdPaintFn>(lookUp("_Paint", nullptr));
    m_onClick = reinterpret_cast<AdPlainFn>(lookUp("_OnClick", nullptr));
    m_setCallback = reinterpret_cast<AdSetCallbackFn>(lookUp("_SetCallback", nullptr));
    m_setNetworkCallback =
        reinterpret_cast<AdSetCallbackFn>(lookUp("_SetNetworkCallback", nullptr));
    m_setAdRecordedCallback =
        reinterpret_cast<AdSetCallbackFn>(lookUp("_SetAdRecordedCallback", nullptr));
    m_setBandwidthThrottle =
        reinterpret_cast<AdSetValueFn>(lookUp("_SetBandwidthThrottle", nullptr));
    m_setMinimumAdDisplayTime =
        reinterpret_cast<AdSetValueFn>(lookUp("_SetMinimumAdDisplayTime", nullptr));
    m_isConnectOkay = reinterpret_cast<AdIsConnectOkayFn>(lookUp("_IsConnectOkay", nullptr));
    m_retryConnect = reinterpret_cast<AdPlainFn>(lookUp("_RetryConnect", nullptr));
    m_setNetworkState =
        reinterpret_cast<AdSetValueFn>(lookUp("_SetNetworkState", "_AdSetNetworkState"));
    m_setProxy = reinterpret_cast<AdSetProxyFn>(lookUp("_SetProxy", nullptr));
    m_shutdown = reinterpret_cast<AdPlainFn>(lookUp("_Shutdown", nullptr));
    m_debugTriggerEvent = reinterpret_cast<AdPlainFn>(lookUp("_debugTriggerEvent", nullptr));
}

void* TAdImage::lookUp(const char* name, const char* reportedName) {
    void* address = dlsym(m_module, name);
    if (!address)
        assertionFailed(QStringLiteral("Couldn't find address of ") +
                        QString::fromLatin1(reportedName ? reportedName : name));
    return address;
}

void TAdImage::Loaded() {
    if (m_autoLoad)
        Start();
}

bool TAdImage::Start() {
    if (m_started)
        return true;
    if (!m_startup || !succeeded(m_startup(&m_context, m_module, 0, m_programId,
                                           static_cast<int32_t>(m_size), m_optionWord)))
        return false;
    m_started = true;
    update();
    if (m_setCallback)
        m_setCallback(&m_context, &TAdImage::repaintCallback, this);
    if (m_setNetworkCallback)
        m_setNetworkCallback(&m_context, &TAdImage::networkCallback, this);
    if (m_setAdRecordedCallback)
        m_setAdRecordedCallback(&m_context, &TAdImage::adRecordedCallback, this);
    if (m_setBandwidthThrottle)
        m_setBandwidthThrottle(&m_context, m_bandwidthThrottle);
    if (!m_setMinimumAdDisplayTime)
        return false;
    return succeeded(m_setMinimumAdDisplayTime(&m_context, m_minimumAdDisplayTime));
}

bool TAdImage::SetProxy(const std::optional<QByteArray>& host, int port, const QByteArray& empty) {
    if (!m_started || !m_setProxy)
        return false;
    const QByteArray text = host ? host->left(kMaxProxyHost) : QByteArray();
    return succeeded(
        m_setProxy(&m_context, host ? text.constData() : nullptr, port, empty.constData()));
}

// ---- callbacks: the library may call from a thread of its own ----------------------------------

void TAdImage::runOnGuiThread(const std::function<void()>& work) {
    if (QThread::currentThread() == thread())
        work();
    else
        QMetaObject::invokeMethod(this, work, Qt::QueuedConnection);
}

void TAdImage::fire(const TCallbackEvent& event) {
    if (event)
        event(this);
}

void TAdImage::repaintCallback(void* userData) {
    auto* self = static_cast<TAdImage*>(userData);
    self->runOnGuiThread([self] { self->update(); });
}

void TAdImage::networkCallback(void* userData) {
    auto* self = static_cast<TAdImage*>(userData);
    self->runOnGuiThread([self] { self->fire(self->OnNetworkRequest); });
}

void TAdImage::adRecordedCallback(void* userData) {
    auto* self = static_cast<TAdImage*>(userData);
    self->runOnGuiThread([self] { self->fire(self->OnAdCounted); });
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
    if (m_started && m_setBandwidthThrottle)
        m_setBandwidthThrottle(&m_context, throttle);
}

void TAdImage::setMinimumAdDisplayTime(int milliseconds) {
    m_minimumAdDisplayTime = milliseconds;
    if (m_started && m_setMinimumAdDisplayTime)
        m_setMinimumAdDisplayTime(&m_context, milliseconds);
}

bool TAdImage::NetworkIsUp() const {
    if (!m_started || !m_isConnectOkay)
        return false;
    int32_t okay = 0;
    AdContext* context = const_cast<AdContext*>(&m_context);
    return succeeded(m_isConnectOkay(context, &okay)) && okay != 0;
}

void TAdImage::setNetworkIsUp(bool up) {
    if (m_started && m_setNetworkState)
        m_setNetworkState(&m_context, up ? -1 : 0);
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
    if (m_paint && !m_surface.isNull()) {
        AdSurface surface{m_surface.width(), m_surface.height(),
                          static_cast<int32_t>(m_surface.bytesPerLine()), m_surface.bits()};
        m_paint(&m_context, &surface, 0, 0);
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
    if (m_onClick)
        m_onClick(&m_context);
}

void TAdImage::mouseReleaseEvent(QMouseEvent* event) {
    QWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        click();
}
