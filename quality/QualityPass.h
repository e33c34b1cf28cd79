#pragma once

#include "core/FrameHeader.h"

#include <QByteArray>

// The transcode check as every reader of quality runs it: over the bytes at hand (the
// crawler's head of a remote file, a whole local file), against the rate and lowpass the
// file's own first frame names.
namespace QualityPass {

// Seconds of music the check wants; a head holding less is read further when it can be.
constexpr double kJudgedSeconds = 3.0;

// The bytes that hold kJudgedSeconds at a rate in kbit/s.
qint64 bytesForJudging(int bitrate);

// audio: the file's bytes from its start (an ID3v2 tag may lead), whole or its head; frame:
// what TMpeg3Head read from them. Fills the verdict, the cutoff and the source rate of
// frame.quality; leaves a frame without quality as it is.
void judgeAudio(const QByteArray& audio, FrameHeader& frame);

} // namespace QualityPass
