#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QIcon>
#include <QPixmap>
#include <QStringList>

#include "app/base_frame.h"
#include "app/platform_look.h"
#include "command/http_server.h"

namespace {

// Answers --help and --version when they are asked for; returns otherwise. Only a core
// application object is made for them, so they print and exit on a machine without a display,
// and neither the window nor the service on port 80 is ever started.
void answerInformationOptions(int& argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Finds networked AV and KVM extenders, changes their settings, reboots them and loads "
        "their firmware. Without options it opens its window; Qt's own options (-platform, "
        "-style, ...) are taken as usual."));
    // One-dash words are Qt's options and are read whole, never as a bundle of -h and -v
    // ("-reverse" holds a v).
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // Not addHelpOption(): its --help-all lists Qt's options as a core application knows them,
    // without the window's (-platform, -style).
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    // Any other argument goes to the application object alone, which ignores what it does not
    // know, so an unknown word opens the window.
    parser.parse(arguments);
    if (!parser.isSet(help) && !parser.isSet(version)) {
        return;
    }
    QCoreApplication information(argc, argv);
    if (parser.isSet(help)) {
        parser.showHelp();  // exits
    }
    parser.showVersion();  // exits
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
    answerInformationOptions(argc, argv);

    QApplication application(argc, argv);
    adaptLookToPlatform();

    // Runs in a thread of its own for the life of the process; a port that cannot be bound
    // is reported on standard output by the service and the window opens all the same.
    start_http_service(80);

#ifndef Q_OS_WIN
    // Windows takes the icon group IDI_ICON1 from the executable; elsewhere the window shows
    // the same picture from the resource tree (a bitmap, whatever its name says).
    QApplication::setWindowIcon(QIcon(QPixmap(QStringLiteral(":/toolico.ico"), "BMP")));
#endif

    Base_Frame window;
    window.show();
    return application.exec();
}
