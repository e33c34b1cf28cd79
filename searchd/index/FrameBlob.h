#pragma once

#include "core/FrameHeader.h"

#include <QByteArray>

// A crawled file's frame header as one blob in the index, so that a kept file comes back
// exactly as it was read, whichever engine keeps it.
QByteArray packFrame(const FrameHeader& frame);
// A blob that cannot be read gives a header whose error says so.
FrameHeader unpackFrame(const QByteArray& bytes);
