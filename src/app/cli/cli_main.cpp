// velda-cli: the library from the command line, for scripts, nightly jobs and many clients at once.
#include "app/cli/CliArgs.h"
#include "app/cli/CliRun.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("VELDA"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.0"));
    return velda::cli::Run(velda::cli::ParseArgs(QCoreApplication::arguments().mid(1)));
}
