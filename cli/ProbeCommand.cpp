#include "cli/Commands.h"
#include "core/Mpeg3Head.h"
#include "core/UserOptions.h"
#include "platform/ProgramFolder.h"
#include "platform/SettingsFile.h"
#include "quality/QualityPass.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <cstdio>

// pellmar-cli probe [--json] FILE...: reads each whole file as the search's probe reads its
// head (past an ID3v2 tag when "SkipId3Tags" of the program folder's settings is on), with
// the information header of its first frame, and judges its decoded audio for a transcode.
// Plain: one line per file, TAB-separated: the file, "ok" or the error text, bitrate (the
// average for ABR and VBR), sample rate, channel mode, rate mode, verdict. --json: one
// object per line. Exit code 0 when every file read well, 1 otherwise, 2 without files.

namespace {

struct Probe {
    QString path;
    QByteArray error; // empty when the header read well
    FrameHeader frame;
};

Probe probeFile(TMpeg3Head& head, const QString& path) {
    Probe probe{path, {}, {}};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        probe.error = QStringLiteral("Cannot open file %1").arg(path).toLocal8Bit();
        return probe;
    }
    const QByteArray bytes = file.readAll();
    const bool ok = head.ReadFrameHeader(bytes);
    probe.frame = head.header();
    if (!ok) {
        probe.error = probe.frame.error;
        return probe;
    }
    QualityPass::judgeAudio(bytes, probe.frame);
    return probe;
}

QByteArray plainLine(const Probe& probe) {
    QList<QByteArray> fields = {probe.path.toLocal8Bit()};
    if (!probe.error.isEmpty() && probe.frame.bitrate.isEmpty()) {
        fields << probe.error << QByteArray() << QByteArray() << QByteArray() << QByteArray()
               << QByteArray();
    } else {
        const FrameHeader& h = probe.frame;
        const bool ok = probe.error.isEmpty();
        fields << (ok ? QByteArray("ok") : probe.error)
               << (ok ? QByteArray::number(h.quality.bitrate) : h.bitrate) << h.sampleRate << h.mode
               << (ok ? rateModeName(h.quality.mode) : QByteArray())
               << (ok ? verdictName(h.quality.verdict) : QByteArray());
    }
    return fields.join('\t') + '\n';
}

QByteArray jsonLine(const Probe& probe) {
    QJsonObject object{{QStringLiteral("file"), probe.path},
                       {QStringLiteral("ok"), probe.error.isEmpty()}};
    if (!probe.error.isEmpty()) {
        object.insert(QStringLiteral("error"), QString::fromLatin1(probe.error));
    } else {
        const FrameHeader& h = probe.frame;
        const AudioQuality& q = h.quality;
        object.insert(QStringLiteral("bitrate"), q.bitrate);
        object.insert(QStringLiteral("mode"), QString::fromLatin1(rateModeName(q.mode)));
        object.insert(QStringLiteral("estimated"), q.estimated);
        object.insert(QStringLiteral("sampleRate"), h.sampleRateHz());
        object.insert(QStringLiteral("channelMode"), QString::fromLatin1(h.mode));
        object.insert(QStringLiteral("durationSeconds"),
                      std::round(q.durationSeconds * 1000) / 1000);
        object.insert(QStringLiteral("encoder"), QString::fromLatin1(q.encoder));
        object.insert(QStringLiteral("lowpassHz"), q.lowpassHz);
        object.insert(QStringLiteral("cutoffHz"), q.cutoffHz);
        object.insert(QStringLiteral("verdict"), QString::fromLatin1(verdictName(q.verdict)));
        object.insert(QStringLiteral("sourceBitrate"), q.sourceBitrate);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

int runProbeCommand(const QStringList& args) {
    QStringList files = args;
    const bool json = files.removeAll(QStringLiteral("--json")) > 0;
    if (files.isEmpty()) {
        std::fputs("usage: pellmar-cli probe [--json] FILE...\n", stderr);
        return 2;
    }
    const SettingsFile ini(ProgramFolder::file(QStringLiteral("Pellmar.ini")));
    TMpeg3Head head(UserOptions::SkipId3Tags(ini));
    bool allRead = true;
    for (const QString& path : files) {
        const Probe probe = probeFile(head, path);
        const QByteArray line = json ? jsonLine(probe) : plainLine(probe);
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        allRead = probe.error.isEmpty() && allRead;
    }
    return allRead ? 0 : 1;
}
