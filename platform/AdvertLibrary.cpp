#include "platform/AdvertLibrary.h"

#include "platform/MessageBoxes.h"
#include "platform/ProgramFolder.h"

#include <QFile>
#include <QThread>
#include <dlfcn.h>

namespace {

constexpr int kMaxProxyHost = 1024;

// Only the low 16 bits of a result count.
bool succeeded(int32_t result) {
    return (static_cast<uint32_t>(result) & 0xFFFF) != 0;
}

} // namespace

AdvertLibrary::AdvertLibrary(IMessageBoxes& messages, QObject* parent)
    : QObject(parent), m_messages(messages) {
    load();
}

AdvertLibrary::~AdvertLibrary() {
    if (m_started && m_shutdown)
        m_shutdown(&m_context);
    if (m_module)
        dlclose(m_module);
}

void AdvertLibrary::assertionFailed(const QString& text) {
    m_messages.show(QStringLiteral("Assertion Failed"), text, MessageIcon::None,
                    MessageButtons::Ok);
}

void AdvertLibrary::load() {
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

void* AdvertLibrary::lookUp(const char* name, const char* reportedName) {
    void* address = dlsym(m_module, name);
    if (!address)
        assertionFailed(QStringLiteral("Couldn't find address of ") +
                        QString::fromLatin1(reportedName ? reportedName : name));
    return address;
}

bool AdvertLibrary::start(const StartValues& values) {
    if (m_started)
        return true;
    if (!m_startup || !succeeded(m_startup(&m_context, m_module, 0, values.programId,
                                           values.sizeOrdinal, values.optionWord)))
        return false;
    m_started = true;
    if (m_setCallback)
        m_setCallback(&m_context, &AdvertLibrary::repaintCallback, this);
    if (m_setNetworkCallback)
        m_setNetworkCallback(&m_context, &AdvertLibrary::networkCallback, this);
    if (m_setAdRecordedCallback)
        m_setAdRecordedCallback(&m_context, &AdvertLibrary::adRecordedCallback, this);
    if (m_setBandwidthThrottle)
        m_setBandwidthThrottle(&m_context, values.bandwidthThrottle);
    if (!m_setMinimumAdDisplayTime)
        return false;
    return succeeded(m_setMinimumAdDisplayTime(&m_context, values.minimumAdDisplayTime));
}

void AdvertLibrary::setBandwidthThrottle(int throttle) {
    if (m_started && m_setBandwidthThrottle)
        m_setBandwidthThrottle(&m_context, throttle);
}

void AdvertLibrary::setMinimumAdDisplayTime(int milliseconds) {
    if (m_started && m_setMinimumAdDisplayTime)
        m_setMinimumAdDisplayTime(&m_context, milliseconds);
}

bool AdvertLibrary::isConnectOkay() const {
    if (!m_started || !m_isConnectOkay)
        return false;
    int32_t okay = 0;
    auto* context = const_cast<AdContext*>(&m_context);
    return succeeded(m_isConnectOkay(context, &okay)) && okay != 0;
}

void AdvertLibrary::setNetworkState(bool up) {
    if (m_started && m_setNetworkState)
        m_setNetworkState(&m_context, up ? -1 : 0);
}

bool AdvertLibrary::setProxy(const std::optional<QByteArray>& host, int port,
                             const QByteArray& empty) {
    if (!m_started || !m_setProxy)
        return false;
    const QByteArray text = host ? host->left(kMaxProxyHost) : QByteArray();
    return succeeded(
        m_setProxy(&m_context, host ? text.constData() : nullptr, port, empty.constData()));
}

void AdvertLibrary::paint(AdSurface& surface) {
    if (m_paint)
        m_paint(&m_context, &surface, 0, 0);
}

void AdvertLibrary::click() {
    if (m_onClick)
        m_onClick(&m_context);
}

// ---- callbacks: the library may call from a thread of its own ----------------------------------

void AdvertLibrary::notify(void (AdvertLibrary::*signal)()) {
    if (QThread::currentThread() == thread())
        (this->*signal)();
    else
        QMetaObject::invokeMethod(this, signal, Qt::QueuedConnection);
}

void AdvertLibrary::repaintCallback(void* userData) {
    static_cast<AdvertLibrary*>(userData)->notify(&AdvertLibrary::repaintRequested);
}

void AdvertLibrary::networkCallback(void* userData) {
    static_cast<AdvertLibrary*>(userData)->notify(&AdvertLibrary::networkRequested);
}

void AdvertLibrary::adRecordedCallback(void* userData) {
    static_cast<AdvertLibrary*>(userData)->notify(&AdvertLibrary::adRecorded);
}
