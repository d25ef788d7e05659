// Saves a picture of the video parameters window with one tab in front, for the
// documentation: the form filled from a made-up read, no network.
//   corvane-video-shot zh|en 1|2|3|4 OUT.png
#include <QApplication>
#include <QTabWidget>
#include <QTextStream>
#include <QTranslator>

#include "app/platform_look.h"
#include "dialogs/video_parameters.h"
#include "tools/screenshots/shot_support.h"

namespace video = corvane::video;

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    const int tab = args.size() == 4 ? args[2].toInt() : 0;
    if (args.size() != 4 || (args[1] != "zh" && args[1] != "en") || tab < 1 || tab > 4) {
        QTextStream(stderr) << "usage: corvane-video-shot zh|en 1|2|3|4 OUT.png\n";
        return 2;
    }
    adaptLookToPlatform();

    Video_Parameters window;
    QTranslator english;
    if (args[1] == "en") {
        // As the language switch does it: the window follows the installed catalogue.
        english.load(QStringLiteral(":/en.qm"));
        QCoreApplication::installTranslator(&english);
        QCoreApplication::processEvents();
    }

    // A transmitter as it might answer: full HD main stream, smaller sub-streams.
    video::VideoRead read;
    read.streams.answered = read.streams.readable = true;
    read.streams.listed = video::kStreamCount;
    read.streams.streams = {{
        {0, 0, 8192, 0, 30, 60, 22, 1, 60, 2, 20408},
        {0, 1, 4096, 0, 30, 60, 20, 0, 60, 1, 20408},
        {0, 2, 1024, 1, 25, 60, 7, 0, 50, 1, 20408},
        {1, 3, 512, 1, 15, 30, 2, 0, 30, 0, 4096},
    }};
    window.show_read("192.168.1.120", read);
    window.findChild<QTabWidget*>(QStringLiteral("tabWidget"))->setCurrentIndex(tab - 1);
    window.show();

    settle(500);
    return savePicture(window.grab(), args[3]) ? 0 : 1;
}
