#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <gtest/gtest.h>

// The seed of a test's random input. By default each test uses its own fixed seed, so every
// run sees the same input; PELLMAR_TEST_SEED=n makes every test use n instead, to try other
// input or to repeat a failure. While a TestSeed lives, every failure message names the seed
// and how to repeat the run.
class TestSeed {
public:
    explicit TestSeed(quint32 fixed, const char* file = __builtin_FILE(),
                      int line = __builtin_LINE())
        : m_value(fromEnvironment(fixed)),
          m_trace(file, line,
                  "random input from seed " + std::to_string(m_value) +
                      " (PELLMAR_TEST_SEED=" + std::to_string(m_value) + " repeats it)") {}

    quint32 value() const { return m_value; }

    // The seed PELLMAR_TEST_SEED names, or fixed when it is unset or no number.
    static quint32 fromEnvironment(quint32 fixed) {
        bool ok = false;
        const quint32 value = qgetenv("PELLMAR_TEST_SEED").toUInt(&ok);
        return ok ? value : fixed;
    }

private:
    quint32 m_value;
    testing::ScopedTrace m_trace;
};
