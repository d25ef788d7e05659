// corvane-cli: the terminal front end. No window and no display: a core application only,
// for the sockets of the sweep and the upgrade.
#include <QCoreApplication>

#include "cli/command_line.h"
#include "cli/output.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    corvane::cli::useByteStreams();
    corvane::cli::installMessageFilter();
    return corvane::cli::run(QCoreApplication::arguments().mid(1));
}
