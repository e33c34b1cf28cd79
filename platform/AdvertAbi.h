#pragma once

// What the banner host and an ad library ("advert.dll", an ELF shared object under that
// name) agree on. Every export takes the host's context block first and uses the C calling
// convention; where a result counts, only its low 16 bits do, and non-zero means success.

// An ad library may be written in C, so this header stays C.
#include <stdint.h> // NOLINT(modernize-deprecated-headers)

#ifdef __cplusplus
extern "C" {
#endif

// The context block the host owns: the library may keep its state there, the host never
// reads it. slot points to a word of the host that is zero at start.
struct AdContext {
    uint32_t* slot;
    uintptr_t reserved;
};

// The surface a paint draws into: width x height pixels of three bytes each, red, green and
// blue in that order, rows stride bytes apart (stride is a multiple of 4).
struct AdSurface {
    int32_t width;
    int32_t height;
    int32_t stride;
    uint8_t* pixels;
};

typedef void (*AdCallback)(void* userData);

typedef int32_t (*AdStartupFn)(struct AdContext*, void* module, int32_t reserved, int32_t programId,
                               int32_t sizeOrdinal, uint32_t options);
typedef int32_t (*AdPaintFn)(struct AdContext*, struct AdSurface* surface, int32_t x, int32_t y);
typedef int32_t (*AdPlainFn)(struct AdContext*);
typedef int32_t (*AdSetCallbackFn)(struct AdContext*, AdCallback callback, void* userData);
typedef int32_t (*AdSetValueFn)(struct AdContext*, int32_t value);
typedef int32_t (*AdIsConnectOkayFn)(struct AdContext*, int32_t* okay);
typedef int32_t (*AdSetProxyFn)(struct AdContext*, const char* host, int32_t port,
                                const char* empty);

#ifdef __cplusplus
}
#endif
