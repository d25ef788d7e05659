#include <QApplication>
#include <QIcon>
#include <QPixmap>

#include "base_frame.h"
#include "http_server.h"
#include "platform_look.h"

int main(int argc, char* argv[]) {
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
