#pragma once

#include "core/FrameHeader.h"

#include <QByteArray>

// The information header that encoders write into the first frame of a file (a frame
// without audio): Xing or Info with LAME's extension, or Fraunhofer's VBRI; and, for files
// without one, the frames that follow each other from the first. Pure functions over the
// bytes at hand; hostile bytes read as "no header".
namespace InfoFrame {

// frame: the file's bytes from the first frame header on, the whole frame or less.
// Fills the information-header fields of header.quality; leaves them empty when the frame
// holds none.
void read(const QByteArray& frame, FrameHeader& header);

// bytes: the file's bytes from the first frame header on. Walks the frames that follow
// each other (same version, layer and sample rate) and records their count, their bytes
// and whether their rates vary in header.quality.
void scan(const QByteArray& bytes, FrameHeader& header);

} // namespace InfoFrame
