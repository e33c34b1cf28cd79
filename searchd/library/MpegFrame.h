#pragma once

#include <QByteArray>

enum class MpegVersion { Mpeg1, Mpeg2, Mpeg25 };
enum class ChannelMode { Stereo = 0, JointStereo = 1, DualChannel = 2, Mono = 3 };

// One MPEG audio Layer III frame format, written from the tables of ISO/IEC 11172-3 and
// ISO/IEC 13818-3 (MPEG-2.5 uses the MPEG-2 bitrates at half the sample rates).
struct MpegFrame {
    MpegVersion version = MpegVersion::Mpeg1;
    int bitrateIndex = 9;    // 1-14; 0 is free format, 15 is forbidden
    int sampleRateIndex = 0; // 0-2; 3 is reserved
    ChannelMode mode = ChannelMode::Stereo;

    int bitrate() const;    // kbit/s; 0 for free format and index 15
    int sampleRate() const; // Hz; 0 for the reserved index

    // The four header bytes: sync, version, Layer III, no CRC, bitrate, sample rate, no
    // padding, channel mode, "original" set.
    QByteArray header() const;

    // Bytes of one frame. A free-format frame is as long as a 128 kbit/s one (MPEG-1) or a
    // 64 kbit/s one (MPEG-2 and 2.5); a reserved sample rate counts as the first rate.
    int length() const;

    // A frame of silence: the header, then zero side information and no main data.
    QByteArray silentFrame() const;
};
