#pragma once

#include "platform/AdvertAbi.h"

#include <QByteArray>
#include <QObject>
#include <optional>

class IMessageBoxes;

// The ad library "advert.dll" of the program folder: loaded, its exports looked up by name,
// started with the program's identity and told the values of its host. A missing library or
// function is reported once at loading, and a function that was not found is never called.
// The library's three notices arrive as signals on this object's thread, also when the library
// calls from a thread of its own. The banner widget draws what the library paints.
class AdvertLibrary : public QObject {
    Q_OBJECT

public:
    // What "_Startup" and the calls after it are given.
    struct StartValues {
        int programId = 0;
        int sizeOrdinal = 1;
        quint32 optionWord = 0;
        int bandwidthThrottle = 2147483647;
        int minimumAdDisplayTime = 0;
    };

    explicit AdvertLibrary(IMessageBoxes& messages, QObject* parent = nullptr);
    // Shuts a started library down and unloads it.
    ~AdvertLibrary() override;
    AdvertLibrary(const AdvertLibrary&) = delete;
    AdvertLibrary& operator=(const AdvertLibrary&) = delete;

    // Starts the library, registers the callbacks and passes the throttle and display time;
    // the result is that of the display time. Starting a started library does nothing.
    bool start(const StartValues& values);
    bool started() const { return m_started; }

    // These reach a started library only.
    void setBandwidthThrottle(int throttle);
    void setMinimumAdDisplayTime(int milliseconds);
    bool isConnectOkay() const;
    void setNetworkState(bool up);
    // A host (at most 1024 characters are passed) or none.
    bool setProxy(const std::optional<QByteArray>& host, int port, const QByteArray& empty);

    // These reach the library whether it started or not.
    void paint(AdSurface& surface);
    void click();

signals:
    void repaintRequested();
    void networkRequested();
    void adRecorded();

private:
    void load();
    void* lookUp(const char* name, const char* reportedName);
    void assertionFailed(const QString& text);
    // Emits on this object's thread: at once there, queued from any other.
    void notify(void (AdvertLibrary::*signal)());
    static void repaintCallback(void* userData);
    static void networkCallback(void* userData);
    static void adRecordedCallback(void* userData);

    IMessageBoxes& m_messages;
    void* m_module = nullptr;
    AdStartupFn m_startup = nullptr;
    AdPaintFn m_paint = nullptr;
    AdPlainFn m_onClick = nullptr;
    AdSetCallbackFn m_setCallback = nullptr;
    AdSetCallbackFn m_setNetworkCallback = nullptr;
    AdSetCallbackFn m_setAdRecordedCallback = nullptr;
    AdSetValueFn m_setBandwidthThrottle = nullptr;
    AdSetValueFn m_setMinimumAdDisplayTime = nullptr;
    AdIsConnectOkayFn m_isConnectOkay = nullptr;
    AdPlainFn m_retryConnect = nullptr;
    AdSetValueFn m_setNetworkState = nullptr;
    AdSetProxyFn m_setProxy = nullptr;
    AdPlainFn m_shutdown = nullptr;
    AdPlainFn m_debugTriggerEvent = nullptr;

    bool m_started = false;
    // The context block whose address starts every call; the library may keep state in it.
    uint32_t m_slot = 0;
    AdContext m_context{&m_slot, 0};
};
