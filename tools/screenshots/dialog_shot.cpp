// Saves a picture of one configuration window, for the documentation: made by the main window
// as the program makes it, in the language chosen through its language box; nothing is sent.
//   corvane-dialog-shot network|rx-audio|tx-audio zh|en OUT.png
#include <QApplication>
#include <QCheckBox>
#include <QTextStream>

#include "app/base_frame.h"
#include "app/platform_look.h"
#include "dialogs/network_set.h"
#include "dialogs/set_audio.h"
#include "dialogs/set_audio_tx.h"
#include "tools/screenshots/shot_support.h"

namespace {

template <typename T>
T* made() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* t = qobject_cast<T*>(w)) {
            return t;
        }
    }
    return nullptr;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    const QStringList windows{"network", "rx-audio", "tx-audio"};
    if (args.size() != 4 || !windows.contains(args[1]) || (args[2] != "zh" && args[2] != "en")) {
        QTextStream(stderr)
            << "usage: corvane-dialog-shot network|rx-audio|tx-audio zh|en OUT.png\n";
        return 2;
    }
    adaptLookToPlatform();

    Base_Frame main;
    if (args[2] == "en") {
        main.findChild<QCheckBox*>(QStringLiteral("checkBox"))->click();
    }
    QWidget* window = nullptr;
    if (args[1] == "network") {
        // What a double-click on a simulated device's row hands over.
        neb::CJsonObject row;
        row.PutString("setIp", "198.51.100.20");
        row.PutString("setMask", "255.255.255.0");
        row.PutString("setGateway", "198.51.100.1");
        row.PutString("setMac", "02:43:56:33:64:14");
        made<Network_Set>()->set_network_info(row, 0);
        window = made<Network_Set>();
    } else if (args[1] == "rx-audio") {
        window = made<Set_Audio>();
    } else {
        window = made<Set_audio_tx>();
    }
    window->show();
    settle(500);
    return savePicture(window->grab(), args[3]) ? 0 : 1;
}
