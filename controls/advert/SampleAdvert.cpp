// The sample ad library shipped with the program: it shows the banner pictures of the
// folder "ads" beside it in turn and reports each one as shown. It fetches nothing.

#include "platform/AdvertAbi.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <dlfcn.h>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr std::chrono::seconds kRotation{6};
constexpr uint32_t kNoConnect = 1;

struct Callback {
    AdCallback function = nullptr;
    void* userData = nullptr;
    void call() const {
        if (function)
            function(userData);
    }
};

struct Banner {
    std::vector<QImage> pictures;
    std::atomic<size_t> current{0};
    uint32_t options = 0;
    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
    Callback repaint, network, recorded;
    std::thread rotation;

    void rotate() {
        std::unique_lock<std::mutex> held(lock);
        if (!(options & kNoConnect))
            network.call();
        while (!wake.wait_for(held, kRotation, [this] { return stopping; })) {
            if (pictures.size() > 1)
                current = (current + 1) % pictures.size();
            repaint.call();
            recorded.call();
        }
    }
};

Banner* bannerOf(AdContext* context) {
    return context ? reinterpret_cast<Banner*>(context->reserved) : nullptr;
}

QString ownFolder() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&ownFolder), &info) || !info.dli_fname)
        return QString();
    return QFileInfo(QFile::decodeName(info.dli_fname)).absolutePath();
}

std::vector<QImage> loadPictures() {
    std::vector<QImage> pictures;
    const QDir ads(ownFolder() + QStringLiteral("/ads"));
    const QStringList names = ads.entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        QImage picture(ads.filePath(name));
        if (!picture.isNull())
            pictures.push_back(picture.convertToFormat(QImage::Format_RGB888));
    }
    return pictures;
}

void setCallback(AdContext* context, Callback Banner::*which, AdCallback function, void* userData) {
    if (Banner* banner = bannerOf(context)) {
        std::lock_guard<std::mutex> held(banner->lock);
        (banner->*which) = {function, userData};
    }
}

} // namespace

extern "C" {

int32_t adStartup(AdContext* context, void*, int32_t, int32_t, int32_t,
                  uint32_t options) __asm__("_Startup");
int32_t adPaint(AdContext* context, AdSurface* surface, int32_t x, int32_t y) __asm__("_Paint");
int32_t adOnClick(AdContext* context) __asm__("_OnClick");
int32_t adSetCallback(AdContext* context, AdCallback callback,
                      void* userData) __asm__("_SetCallback");
int32_t adSetNetworkCallback(AdContext* context, AdCallback callback,
                             void* userData) __asm__("_SetNetworkCallback");
int32_t adSetAdRecordedCallback(AdContext* context, AdCallback callback,
                                void* userData) __asm__("_SetAdRecordedCallback");
int32_t adSetBandwidthThrottle(AdContext* context, int32_t value) __asm__("_SetBandwidthThrottle");
int32_t adSetMinimumAdDisplayTime(AdContext* context,
                                  int32_t value) __asm__("_SetMinimumAdDisplayTime");
int32_t adIsConnectOkay(AdContext* context, int32_t* okay) __asm__("_IsConnectOkay");
int32_t adRetryConnect(AdContext* context) __asm__("_RetryConnect");
int32_t adSetNetworkState(AdContext* context, int32_t up) __asm__("_SetNetworkState");
int32_t adSetProxy(AdContext* context, const char* host, int32_t port,
                   const char* empty) __asm__("_SetProxy");
int32_t adShutdown(AdContext* context) __asm__("_Shutdown");
int32_t adDebugTriggerEvent(AdContext* context) __asm__("_debugTriggerEvent");

__attribute__((visibility("default"))) int32_t adStartup(AdContext* context, void*, int32_t,
                                                         int32_t, int32_t, uint32_t options) {
    if (!context || bannerOf(context))
        return 0;
    auto* banner = new Banner;
    banner->options = options;
    banner->pictures = loadPictures();
    context->reserved = reinterpret_cast<uintptr_t>(banner);
    banner->rotation = std::thread([banner] { banner->rotate(); });
    return 1;
}

__attribute__((visibility("default"))) int32_t adPaint(AdContext* context, AdSurface* surface,
                                                       int32_t x, int32_t y) {
    if (!surface || !surface->pixels || surface->width <= 0 || surface->height <= 0)
        return 0;
    QImage target(surface->pixels, surface->width, surface->height, surface->stride,
                  QImage::Format_RGB888);
    QPainter painter(&target);
    const Banner* banner = bannerOf(context);
    if (!banner || banner->pictures.empty()) {
        painter.fillRect(target.rect(), QColor(0x1D, 0x2B, 0x4A));
        return 1;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QImage& picture = banner->pictures[banner->current % banner->pictures.size()];
    painter.drawImage(QRect(x, y, surface->width, surface->height), picture);
    return 1;
}

__attribute__((visibility("default"))) int32_t adOnClick(AdContext* context) {
    // A click moves on to the next picture at once.
    if (Banner* banner = bannerOf(context); banner && !banner->pictures.empty()) {
        banner->current = (banner->current + 1) % banner->pictures.size();
        std::lock_guard<std::mutex> held(banner->lock);
        banner->repaint.call();
    }
    return 1;
}

__attribute__((visibility("default"))) int32_t adSetCallback(AdContext* context,
                                                             AdCallback callback, void* data) {
    setCallback(context, &Banner::repaint, callback, data);
    return 1;
}

__attribute__((visibility("default"))) int32_t
adSetNetworkCallback(AdContext* context, AdCallback callback, void* data) {
    setCallback(context, &Banner::network, callback, data);
    return 1;
}

__attribute__((visibility("default"))) int32_t
adSetAdRecordedCallback(AdContext* context, AdCallback callback, void* data) {
    setCallback(context, &Banner::recorded, callback, data);
    return 1;
}

__attribute__((visibility("default"))) int32_t adSetBandwidthThrottle(AdContext*, int32_t) {
    return 1;
}

__attribute__((visibility("default"))) int32_t adSetMinimumAdDisplayTime(AdContext*, int32_t) {
    return 1;
}

__attribute__((visibility("default"))) int32_t adIsConnectOkay(AdContext* context, int32_t* okay) {
    if (okay)
        *okay = bannerOf(context) ? 1 : 0;
    return 1;
}

__attribute__((visibility("default"))) int32_t adRetryConnect(AdContext*) {
    return 1;
}

__attribute__((visibility("default"))) int32_t adSetNetworkState(AdContext*, int32_t) {
    return 1;
}

__attribute__((visibility("default"))) int32_t adSetProxy(AdContext*, const char*, int32_t,
                                                          const char*) {
    return 1; // the pictures are local: a proxy changes nothing
}

__attribute__((visibility("default"))) int32_t adShutdown(AdContext* context) {
    Banner* banner = bannerOf(context);
    if (!banner)
        return 0;
    {
        std::lock_guard<std::mutex> held(banner->lock);
        banner->stopping = true;
    }
    banner->wake.notify_all();
    banner->rotation.join();
    context->reserved = 0;
    delete banner;
    return 1;
}

__attribute__((visibility("default"))) int32_t adDebugTriggerEvent(AdContext* context) {
    if (Banner* banner = bannerOf(context)) {
        std::lock_guard<std::mutex> held(banner->lock);
        banner->recorded.call();
    }
    return 1;
}

} // extern "C"
