// Saves a picture of the main window, for the documentation: no search, no local service.
//   corvane-window-shot zh|en OUT.png
//   corvane-window-shot panel OUT.png              (rows ticked, upgrade panel open)
//   corvane-window-shot progress OUT.png DEVSIM    (an upgrade under way; inside the test
//                                                   network, the device in the device host)
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTextStream>

#include "base_frame.h"
#include "platform_look.h"
#include "upgrade_shots.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() >= 3 && (args[1] == "panel" || args[1] == "progress")) {
        adaptLookToPlatform();
        return args[1] == "panel" ? shootUpgradePanel(args[2])
                                  : shootUpgradeProgress(args[2], args.value(3));
    }
    if (args.size() != 3 || (args[1] != "zh" && args[1] != "en")) {
        QTextStream(stderr) << "usage: corvane-window-shot zh|en|panel OUT.png\n"
                               "       corvane-window-shot progress OUT.png DEVSIM\n";
        return 2;
    }
    adaptLookToPlatform();

    Base_Frame window;
    window.show();
    if (args[1] == "en") {
        // The operator's click: the language switch runs as it would.
        window.findChild<QCheckBox*>(QStringLiteral("checkBox"))->click();
    }
    // Let the window map and paint before grabbing.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    if (!window.grab().save(args[2])) {
        QTextStream(stderr) << "cannot write " << args[2] << "\n";
        return 1;
    }
    return 0;
}
