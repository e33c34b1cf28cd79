#pragma once

#include "core/AudioQuality.h"

#include <QByteArray>
#include <QtGlobal>

// What the frame-header reader found at the start of an MP3 file. The texts are what the
// probe and the hit list show (Windows-1252); the numbers are the decoded header fields
// they come from. `quality` holds what the whole first frame and the frames after it tell.
struct FrameHeader {
    enum Version { Mpeg1 = 0, Mpeg2 = 1, Mpeg25 = 2 };

    QByteArray error;      // empty after a successful read, else the reason
    QByteArray sampleRate; // Hz, for example "44100"
    QByteArray bitrate;    // kbit/s of the first frame, for example "128"; "0" for free format
                           // and index 15
    QByteArray mode;       // "Stereo", "Joint Stereo", "Dual Channel" or "Mono"

    int version = Mpeg1;
    int lsf = 0;             // low sampling frequency: 1 for MPEG-2 and MPEG-2.5
    int layer = 0;           // 1 to 3; 4 for the unsupported layer bits 00
    int protection = 1;      // 0 when a CRC follows the header
    int bitrateIndex = 0;    // 0 to 15
    int sampleRateIndex = 0; // into 44100, 48000, 32000, 22050, 24000, 16000, 11025, 12000, 8000
    int padding = 0;
    int modeIndex = 0;   // 0 Stereo, 1 Joint Stereo, 2 Dual Channel, 3 Mono
    qint64 fileSize = 0; // bytes from the frame header to the end of the file
    qint64 headerOffset =
        0; // where the frame header starts: 0, 70 in a RIFF file, or past an ID3v2 tag

    AudioQuality quality;

    // The numbers of a 32-bit header, most significant byte first; no texts, no checks.
    static FrameHeader fromBits(quint32 bits);

    int bitrateKbps() const; // 0 for free format, index 15 and layer 4
    int sampleRateHz() const;
    int samplesPerFrame() const; // 384, 576 or 1152
    // Bytes of this frame, header included; 0 when the header does not tell (free format,
    // index 15, layer 4).
    int frameLength() const;
    // Bytes between the header (and its CRC) and the main data of a Layer III frame.
    int sideInfoLength() const;

    // Mode, average bitrate and duration in `quality` from its information header or its
    // scanned frames and from fileSize. Called again when the file's real size is learnt.
    void settleQuality();
};
