// Saves a picture of the main window, for the documentation: no search, no local service.
//   corvane-window-shot zh|en OUT.png
//   corvane-window-shot panel OUT.png              (rows ticked, upgrade panel open)
//   corvane-window-shot progress OUT.png           (an upgrade under way; inside the test
//                                                   network, the device in the device host)
//   corvane-window-shot batch OUT_DIR              (a batch of eight past failures, its rows'
//                                                   states and its end message; the same)
// The English table with rows, inside scripts/testnet run: simulated devices of every kind in
// the device host, a search, the language switched to Chinese and back with the rows.
//   corvane-window-shot en-table OUT.png
// The context menu and the windows the row actions open, inside scripts/testnet run:
//   corvane-window-shot row-actions OUT_DIR
// The table after a reboot and an upgrade with every status, inside scripts/testnet run:
//   corvane-window-shot site OUT.png
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QTextStream>

#include "app/base_frame.h"
#include "app/platform_look.h"
#include "tests/support/devsim_harness.h"
#include "tests/support/window_rows.h"
#include "tools/screenshots/row_action_shots.h"
#include "tools/screenshots/shot_support.h"
#include "tools/screenshots/site_shots.h"
#include "tools/screenshots/upgrade_shots.h"

namespace {

// Devices of every kind the table knows, and two it only shows.
const QStringList kTableFleet{
    "ip=198.51.100.21,type=1102,version=V3.2.7_20240508",
    "ip=198.51.100.22,type=1102,version=V3.2.6_20231120",
    "ip=198.51.100.23,type=1200,version=V4.0.1_20240611",
    "ip=198.51.100.31,type=307,version=V2.8.3_20240402",
    "ip=198.51.100.32,type=307,version=V2.8.1_20231017",
    "ip=198.51.100.41,type=2000,version=V1.5.0_20240301",
    "ip=198.51.100.51,type=4242,version=V0.9.0_20240115",
    "ip=198.51.100.61,type=0,version=V0.1.0_20230901",
};

// A search with devices of every kind, then a switch to Chinese and back to English; each
// switch with rows searches again. False (with a message) when the table is not as expected.
bool fillTable(Base_Frame& window, corvane::test::Devsim& sim) {
    QTextStream err(stderr);
    using corvane::test::Devsim;
    if (!corvane::test::TestNetwork::active()) {
        err << "en-table searches: run it through scripts/testnet run\n";
        return false;
    }
    for (const QString& device : kTableFleet) {
        sim.device(device);
    }
    if (!sim.start(Devsim::Where::DeviceHost)) {
        err << "simulator: " << sim.errorString() << "\n";
        return false;
    }
    auto* language = window.findChild<QCheckBox*>(QStringLiteral("checkBox"));
    auto* table = window.findChild<QTableWidget*>(QStringLiteral("tableWidget"));
    language->click();
    window.findChild<QPushButton*>(QStringLiteral("search"))->click();
    idleWithin(window, 30000);
    settle(300);
    language->click();
    idleWithin(window, 30000);
    settle(300);
    language->click();
    idleWithin(window, 30000);
    settle(300);
    if (table->rowCount() != kTableFleet.size() || !table->horizontalHeader()->isVisible()) {
        err << "table: " << table->rowCount() << " rows, header "
            << (table->horizontalHeader()->isVisible() ? "shown" : "hidden") << "\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() == 3 && args[1] == "batch") {
        adaptLookToPlatform();
        return shootBatch(args[2]);
    }
    if (args.size() == 3 && (args[1] == "panel" || args[1] == "progress")) {
        adaptLookToPlatform();
        return args[1] == "panel" ? shootUpgradePanel(args[2]) : shootUpgradeProgress(args[2]);
    }
    if (args.size() == 3 && args[1] == "row-actions") {
        adaptLookToPlatform();
        return shootRowActions(args[2]);
    }
    if (args.size() == 3 && args[1] == "site") {
        adaptLookToPlatform();
        return shootSiteStatuses(args[2]);
    }
    if (args.size() != 3 || (args[1] != "zh" && args[1] != "en" && args[1] != "en-table")) {
        QTextStream(stderr) << "usage: corvane-window-shot zh|en|en-table|panel OUT.png\n"
                               "       corvane-window-shot progress OUT.png\n"
                               "       corvane-window-shot batch OUT_DIR\n"
                               "       corvane-window-shot row-actions OUT_DIR\n"
                               "       corvane-window-shot site OUT.png\n";
        return 2;
    }
    adaptLookToPlatform();

    Base_Frame window;
    window.show();
    if (args[1] == "en") {
        // The operator's click: the language switch runs as it would.
        window.findChild<QCheckBox*>(QStringLiteral("checkBox"))->click();
    }
    // Serves until the picture is taken.
    corvane::test::Devsim sim;
    if (args[1] == "en-table") {
        settle(300);
        if (!fillTable(window, sim)) {
            return 1;
        }
    }
    settle(500);
    return savePicture(window.grab(), args[2]) ? 0 : 1;
}
