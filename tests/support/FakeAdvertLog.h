#pragma once

#include <QFile>
#include <QString>
#include <dlfcn.h>

// The test's view of the test ad library (tests/controls/FakeAdvert.cpp) that a banner
// loaded from the program folder: its call log and its switches.
class FakeAdvertLog {
public:
    explicit FakeAdvertLog(const QString& path)
        : m_handle(dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_NOLOAD)) {}
    ~FakeAdvertLog() {
        if (m_handle)
            dlclose(m_handle);
    }
    FakeAdvertLog(const FakeAdvertLog&) = delete;
    FakeAdvertLog& operator=(const FakeAdvertLog&) = delete;

    bool loaded() const { return m_handle != nullptr; }
    QString log() const { return QString::fromLatin1(call<const char* (*)()>("fakeLog")()); }
    void setStartupResult(int result) const { call<void (*)(int)>("fakeSetStartupResult")(result); }
    void setConnect(int result, int value) const {
        call<void (*)(int, int)>("fakeSetConnect")(result, value);
    }
    // Runs a registered callback: 0 repaint, 1 network request, 2 ad recorded.
    void fire(int which) const { call<void (*)(int)>("fakeFire")(which); }
    void fireFromThread(int which) const { call<void (*)(int)>("fakeFireFromThread")(which); }

private:
    template <typename F> F call(const char* name) const {
        return reinterpret_cast<F>(dlsym(m_handle, name));
    }
    void* m_handle;
};
