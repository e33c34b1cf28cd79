#include "download/SmbResumeList.h"

#include "download/ExternalHandoff.h"
#include "platform/MessageBoxes.h"
#include "platform/Shell.h"

#include <QFile>
#include <QList>
#include <QSaveFile>
#include <algorithm>

namespace {

QList<QByteArray> loadLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast(); // the last line end ends no further line
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

void saveLines(const QString& path, const QList<QByteArray>& lines) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    for (const QByteArray& line : lines)
        file.write(line + "\r\n");
    file.commit();
}

} // namespace

void ResumeSmbDownloads(const QString& programFolder, IMessageBoxes& messages, IShell& shell) {
    const QString path = programFolder + QStringLiteral("/download.dat");
    QList<QByteArray> lines = loadLines(path);
    QList<ExternalHandoff::Launch> resumes;
    for (QByteArray& line : lines) {
        if (line.isEmpty())
            continue;
        // The fetch program writes local file names: UTF-8 on this system.
        const qsizetype tab = line.indexOf('\t');
        const QString source = QString::fromUtf8(tab < 0 ? line : line.left(tab));
        const QString target = tab < 0 ? QString() : QString::fromUtf8(line.mid(tab + 1));
        const MessageResult answer =
            messages.show(QStringLiteral("Confirm"),
                          QStringLiteral("Continue to download file: ") + target + QLatin1Char('?'),
                          MessageIcon::Question, MessageButtons::YesNo);
        if (answer == MessageResult::Yes)
            resumes.append(ExternalHandoff::SmbResume(source, target, programFolder));
        else
            line.clear();
    }
    if (std::all_of(lines.cbegin(), lines.cend(), [](const QByteArray& l) { return l.isEmpty(); }))
        lines.clear();
    saveLines(path, lines);
    for (const ExternalHandoff::Launch& resume : resumes)
        shell.launch(resume.program, resume.args);
}
