// An ad library for the banner tests: every call is written to a log that the test reads
// through fakeLog(). Built twice: complete, and with FAKE_ADVERT_INCOMPLETE without some
// exports (calling one of those would crash the test).

#include "platform/AdvertAbi.h"

#include <string>
#include <thread>

#define EXPORT(name) __asm__(name)

namespace {

std::string g_log;
int32_t g_startupResult = 1;
int32_t g_connectResult = 1;
int32_t g_connectValue = 1;
AdCallback g_callbacks[3] = {};
void* g_userData[3] = {};

void note(const std::string& line) {
    g_log += line + "\n";
}

std::string number(long long value) {
    return std::to_string(value);
}

int32_t setCallback(int which, const char* name, AdCallback callback, void* data) {
    g_callbacks[which] = callback;
    g_userData[which] = data;
    note(std::string(name) + (callback ? " set" : " null"));
    return 1;
}

} // namespace

extern "C" {

int32_t adStartup(AdContext*, void*, int32_t, int32_t, int32_t, uint32_t) EXPORT("_Startup");
int32_t adSetCallback(AdContext*, AdCallback, void*) EXPORT("_SetCallback");
int32_t adSetNetworkCallback(AdContext*, AdCallback, void*) EXPORT("_SetNetworkCallback");
int32_t adSetAdRecordedCallback(AdContext*, AdCallback, void*) EXPORT("_SetAdRecordedCallback");
int32_t adSetBandwidthThrottle(AdContext*, int32_t) EXPORT("_SetBandwidthThrottle");
int32_t adSetMinimumAdDisplayTime(AdContext*, int32_t) EXPORT("_SetMinimumAdDisplayTime");
int32_t adRetryConnect(AdContext*) EXPORT("_RetryConnect");
int32_t adDebugTriggerEvent(AdContext*) EXPORT("_debugTriggerEvent");
const char* fakeLog() EXPORT("fakeLog");
void fakeSetStartupResult(int32_t result) EXPORT("fakeSetStartupResult");
void fakeSetConnect(int32_t result, int32_t value) EXPORT("fakeSetConnect");
void fakeFire(int which) EXPORT("fakeFire");
void fakeFireFromThread(int which) EXPORT("fakeFireFromThread");

int32_t adStartup(AdContext* context, void* module, int32_t zero, int32_t programId, int32_t size,
                  uint32_t options) {
    note("_Startup " + std::string(module ? "module" : "null") + " " + number(zero) + " " +
         number(programId) + " " + number(size) + " " + number(options) +
         (context && context->slot && *context->slot == 0 && context->reserved == 0
              ? " fresh-context"
              : " bad-context"));
    return g_startupResult;
}

int32_t adSetCallback(AdContext*, AdCallback callback, void* data) {
    return setCallback(0, "_SetCallback", callback, data);
}
int32_t adSetNetworkCallback(AdContext*, AdCallback callback, void* data) {
    return setCallback(1, "_SetNetworkCallback", callback, data);
}
int32_t adSetAdRecordedCallback(AdContext*, AdCallback callback, void* data) {
    return setCallback(2, "_SetAdRecordedCallback", callback, data);
}
int32_t adSetBandwidthThrottle(AdContext*, int32_t value) {
    note("_SetBandwidthThrottle " + number(value));
    return 1;
}
int32_t adSetMinimumAdDisplayTime(AdContext*, int32_t value) {
    note("_SetMinimumAdDisplayTime " + number(value));
    return 1;
}
int32_t adRetryConnect(AdContext*) {
    note("_RetryConnect");
    return 1;
}
int32_t adDebugTriggerEvent(AdContext*) {
    note("_debugTriggerEvent");
    return 1;
}

#ifndef FAKE_ADVERT_INCOMPLETE
int32_t adPaint(AdContext*, AdSurface*, int32_t, int32_t) EXPORT("_Paint");
int32_t adOnClick(AdContext*) EXPORT("_OnClick");
int32_t adIsConnectOkay(AdContext*, int32_t*) EXPORT("_IsConnectOkay");
int32_t adSetNetworkState(AdContext*, int32_t) EXPORT("_SetNetworkState");
int32_t adSetProxy(AdContext*, const char*, int32_t, const char*) EXPORT("_SetProxy");
int32_t adShutdown(AdContext*) EXPORT("_Shutdown");

int32_t adPaint(AdContext*, AdSurface* surface, int32_t x, int32_t y) {
    note("_Paint " + number(surface->width) + "x" + number(surface->height) + " stride " +
         number(surface->stride) + " at " + number(x) + "," + number(y));
    // A red pixel at the top left and a blue one at the bottom right.
    uint8_t* first = surface->pixels;
    first[0] = 255, first[1] = 0, first[2] = 0;
    uint8_t* last =
        surface->pixels + (surface->height - 1) * surface->stride + (surface->width - 1) * 3;
    last[0] = 0, last[1] = 0, last[2] = 255;
    return 1;
}
int32_t adOnClick(AdContext*) {
    note("_OnClick");
    return 1;
}
int32_t adIsConnectOkay(AdContext*, int32_t* okay) {
    note("_IsConnectOkay");
    *okay = g_connectValue;
    return g_connectResult;
}
int32_t adSetNetworkState(AdContext*, int32_t up) {
    note("_SetNetworkState " + number(up));
    return 1;
}
int32_t adSetProxy(AdContext*, const char* host, int32_t port, const char* empty) {
    note("_SetProxy " + (host ? "[" + std::string(host) + "]" : std::string("null")) + " " +
         number(port) + " [" + std::string(empty ? empty : "null") + "]");
    return 1;
}
int32_t adShutdown(AdContext*) {
    note("_Shutdown");
    return 1;
}
#endif

const char* fakeLog() {
    return g_log.c_str();
}
void fakeSetStartupResult(int32_t result) {
    g_startupResult = result;
}
void fakeSetConnect(int32_t result, int32_t value) {
    g_connectResult = result;
    g_connectValue = value;
}
void fakeFire(int which) {
    if (g_callbacks[which])
        g_callbacks[which](g_userData[which]);
}
void fakeFireFromThread(int which) {
    std::thread([which] { fakeFire(which); }).join();
}

} // extern "C"
