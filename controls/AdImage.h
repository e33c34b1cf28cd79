#pragma once

#include "controls/AdvertAbi.h"

#include <QImage>
#include <QWidget>
#include <functional>
#include <optional>
#include <set>

class IMessageBoxes;

enum TAdImageSize {
    ads150x40,
    ADS468x60,
    ads300x50,
    ads70x70,
    ads50x200,
    ADS392x72,
    ADS234x60,
    ADS125x125,
    ADS120x90,
    ADS120x60,
    ADS88x31,
    ADS120x240
};

enum TAdOption { adoNoConnect, adoNoDialOnDemand, adoDelayedStartup, adoAll };
using TAdOptionSet = std::set<TAdOption>;

// The advertising banner: a control drawn by the ad library "advert.dll" of the program
// folder. The control loads the library, starts it with the program's identity, forwards
// paint and click to it and relays its notices as events. A function the library lacks is
// reported once and never called.
class TAdImage : public QWidget {
    Q_OBJECT

public:
    using TCallbackEvent = std::function<void(TAdImage* Sender)>;

    explicit TAdImage(IMessageBoxes& messages, QWidget* parent = nullptr);
    ~TAdImage() override;

    // Called once the properties are set: starts the library when AutoLoad is on.
    void Loaded();
    bool Start();
    // Tells a started library the proxy: a host (at most 1024 characters) or none.
    bool SetProxy(const std::optional<QByteArray>& host, int port, const QByteArray& empty);

    bool AutoLoad() const { return m_autoLoad; }
    void setAutoLoad(bool autoLoad) { m_autoLoad = autoLoad; }
    TAdOptionSet Options() const;
    void setOptions(const TAdOptionSet& options);
    quint32 optionWord() const { return m_optionWord; }
    int ProgramID() const { return m_programId; }
    void setProgramID(int id) { m_programId = id; }
    int BandwidthThrottle() const { return m_bandwidthThrottle; }
    void setBandwidthThrottle(int throttle);
    int MinimumAdDisplayTime() const { return m_minimumAdDisplayTime; }
    void setMinimumAdDisplayTime(int milliseconds);
    bool NetworkIsUp() const;
    void setNetworkIsUp(bool up);
    TAdImageSize Size() const { return m_size; }
    void setSize(TAdImageSize size);

    bool started() const { return m_started; }

    TCallbackEvent OnNetworkRequest;
    TCallbackEvent OnAdCounted;
    TCallbackEvent OnClick;

    // Runs a click: the OnClick handler first, then the library's.
    void click();

    static QSize pixels(TAdImageSize size);
    // The standard size a requested width and height snap to.
    static TAdImageSize nearestSize(int width, int height);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void loadLibrary();
    void* lookUp(const char* name, const char* reportedName);
    void assertionFailed(const QString& text);
    void runOnGuiThread(const std::function<void()>& work);
    void fire(const TCallbackEvent& event);
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
    bool m_autoLoad = true;
    quint32 m_optionWord = 0;
    int m_programId = 0;
    int m_bandwidthThrottle = 2147483647;
    int m_minimumAdDisplayTime = 0;
    TAdImageSize m_size = ADS468x60;
    QImage m_surface;
    uint32_t m_slot = 0;
    AdContext m_context{&m_slot, 0};
};
