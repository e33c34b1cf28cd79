#include "cli/Commands.h"
#include "net/TlsSession.h"
#include "platform/ProgramFolder.h"
#include "platform/ResourceLimits.h"

#include <QCoreApplication>
#include <cstdio>
#include <functional>
#include <map>

namespace {

void printUsage() {
    std::fputs(
        "usage: pellmar-cli [--cacert FILE] [--insecure] COMMAND [ARGS]\n"
        "  --cacert FILE   trust the CA certificates in FILE for https, besides the system's\n"
        "  --insecure      do not check https certificates (experts only)\n"
        "commands:\n"
        "  datafile -o FILE LINES.txt   write a data file from nine plain lines\n"
        "  datafile --decode FILE       print the nine plain lines of a data file\n"
        "  get URL [-o FILE] [--proxy HOST[:PORT]]   fetch one URL\n"
        "  download [--continue] URL [URL...] -o FILE   download one file as the download\n"
        "         windows do; more URLs: other sources of the same file, best first, each\n"
        "         taking over (continuing the same bytes, else afresh) when one fails\n"
        "  probe [--json] FILE...       read each file's quality: rate, mode, transcode verdict\n"
        "  search TEXT [--sources http,ftp,smb] [--leech]   search and list the hits\n"
        "         [--save DIR [--marks 0|01|012]]   then save them into DIR\n"
        "  saved                        list the service's saved searches and their new files\n",
        stderr);
}

// Takes the TLS options out of the arguments, wherever they stand; false when --cacert
// lacks its file.
bool TakeTlsOptions(QStringList& args) {
    for (qsizetype i = 0; i < args.size();) {
        if (args[i] == QLatin1String("--insecure")) {
            args.removeAt(i);
            TlsTrust::SetSkipVerification(true);
            std::fputs("pellmar-cli: warning: --insecure: https certificates are not checked; "
                       "anyone on the way can read and change the transfer\n",
                       stderr);
        } else if (args[i] == QLatin1String("--cacert")) {
            if (i + 1 >= args.size())
                return false;
            TlsTrust::SetCommandLineCaFile(args[i + 1]);
            args.remove(i, 2);
        } else {
            ++i;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    RaiseFileDescriptorLimit();
    QStringList args = app.arguments().mid(1);
    if (!TakeTlsOptions(args) || args.isEmpty()) {
        printUsage();
        return 2;
    }
    const std::map<QString, std::function<int(const QStringList&)>> commands = {
        {QStringLiteral("datafile"), runDataFileCommand},
        {QStringLiteral("get"), runGetCommand},
        {QStringLiteral("download"), runDownloadCommand},
        {QStringLiteral("probe"), runProbeCommand},
        {QStringLiteral("search"), runSearchCommand},
        {QStringLiteral("saved"), runSavedCommand},
    };
    const QString name = args.takeFirst();
    const auto command = commands.find(name);
    if (command == commands.end()) {
        printUsage();
        return 2;
    }
    // The commands that work in the program folder find it as the program leaves it.
    if (name != QStringLiteral("datafile") && name != QStringLiteral("get")) {
        const QString problem = ProgramFolder::prepare();
        if (!problem.isEmpty())
            std::fprintf(stderr, "pellmar-cli: %s\n", problem.toLocal8Bit().constData());
    }
    return command->second(args);
}
