// velda-cli: the library from the command line, for scripts, nightly jobs and many clients at once.
#include "app/cli/CliArgs.h"
#include "app/cli/CliRun.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

// Scripts read stderr for the Chinese messages: the Qt drivers' own warnings (a statement the
// database driver could not free after a refused transaction, say) say nothing a user can act on
// and would stand first. VELDA_DEBUG brings them back.
void QuietMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg)
        return;
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("VELDA_DEBUG"))
        qInstallMessageHandler(QuietMessages);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("VELDA"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.0"));
    return velda::cli::Run(velda::cli::ParseArgs(QCoreApplication::arguments().mid(1)));
}
