#pragma once

#include <QByteArray>
#include <QtGlobal>

// How a file spends its bits: one rate for every frame, an average it aims at, or a rate
// that follows the music.
enum class RateMode { Cbr, Abr, Vbr };

// Whether the music reaches as high as the file's own rate would keep, or was made from a
// lower-rate file.
enum class Verdict { Unknown, Genuine, Transcoded };

// The quality of an MP3 file as every reader shows it: the probe, the crawler, the index,
// the pages and pellmar-cli. Filled from the first frame (its information header: Xing or
// Info, VBRI, the LAME extension), from the frames at hand when there is none, and, where the
// audio was decoded, from its spectrum.
struct AudioQuality {
    // The reading that filled this: entries kept from an older reading (0) are read again.
    static constexpr int kCurrentVersion = 1;
    int version = 0;

    RateMode mode = RateMode::Cbr;
    int bitrate = 0;            // kbit/s: the frames' own for CBR, the average for ABR and VBR
    bool estimated = false;     // VBR without an information header: from the frames at hand
    double durationSeconds = 0; // 0 when unknown

    // The first frame's information header; empty and 0 when it has none.
    QByteArray infoTag; // "Xing", "Info" or "VBRI"
    qint64 frames = 0;  // audio frames after the information frame
    qint64 bytes = 0;   // the stream's bytes, information frame included
    QByteArray encoder; // e.g. "LAME3.100"
    int vbrMethod = 0;  // LAME: 1 and 8 CBR, 2 and 9 ABR, 3 to 6 VBR
    int lowpassHz = 0;  // LAME: the encoder's lowpass
    int abrBitrate = 0; // LAME ABR: the rate asked for (255 means 255 or more)
    int preset = 0;     // LAME: the preset number, 0 when none

    // Frames read one after another from the first, when there is no information header.
    int scannedFrames = 0;
    qint64 scannedBytes = 0;
    bool ratesVary = false;

    // From the decoded audio; Unknown until it was judged.
    Verdict verdict = Verdict::Unknown;
    int cutoffHz = 0;      // where the music's spectrum ends
    int sourceBitrate = 0; // kbit/s a transcode sounds like

    bool isVariable() const { return mode != RateMode::Cbr; }
};

// "CBR", "ABR", "VBR"
QByteArray rateModeName(RateMode mode);
// "genuine", "transcoded", "unknown"
QByteArray verdictName(Verdict verdict);
// The names back; Cbr and Unknown for any other text.
RateMode rateModeFromName(const QByteArray& name);
Verdict verdictFromName(const QByteArray& name);
