#pragma once

#include <QString>

class IClipboard {
public:
    virtual ~IClipboard() = default;
    virtual void setText(const QString& text) = 0;
    virtual QString text() const = 0;
};
