#include "tools/screenshots/site_shots.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>

#include "messages/operator_messages.h"
#include "tests/support/devsim_harness.h"
#include "tests/support/window_rows.h"
#include "tools/screenshots/shot_support.h"

namespace {

// .20 and .21 are rebooted (.21 stays away), .22 and .23 upgraded (.22 to another version),
// .24 and .25 answer with one address, 203.0.113.10 lies outside the tool's subnet.
const QStringList kSite{
    "ip=198.51.100.20,version=V3.2.7_20240508",
    "ip=198.51.100.21,version=V3.2.7_20240508,restart=never",
    "ip=198.51.100.22,version=V3.2.6_20231120,fw-version=V3.3.0_20250214",
    "ip=198.51.100.23,version=V3.3.0_20250214",
    "ip=198.51.100.24,type=307,version=V2.8.3_20240402",
    "ip=198.51.100.25,type=307,version=V2.8.3_20240402,report-ip=198.51.100.24",
    "ip=198.51.100.26,type=307,version=V2.8.1_20231017",
    "ip=203.0.113.10,type=2000,version=V1.5.0_20240301",
};

void tickAll(Base_Frame& window, const QStringList& addresses) {
    for (const QString& address : addresses) {
        tick(window, rowOf(window, address));
    }
}

}  // namespace

int shootSiteStatuses(const QString& out) {
    QTextStream err(stderr);
    if (!corvane::test::TestNetwork::active()) {
        err << "site: run it through scripts/testnet run\n";
        return 2;
    }
    corvane::test::Devsim sim;
    for (const QString& device : kSite) {
        sim.device(device);
    }
    sim.arg(QStringLiteral("--restart-seconds=2"));
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("update_app_tx_V3.3.0_20250214.bin"));
    if (!dir.isValid() || !corvane::test::writeImage(image, 1 << 20) || !sim.start()) {
        err << "site: no image or no simulator: " << sim.errorString() << "\n";
        return 2;
    }

    corvane::OperatorMessages::setUnattended(true);
    Base_Frame window;
    window.setWatchTiming(1000, 12000);
    window.resize(1400, 520);
    window.show();
    window.findChild<QPushButton*>(QStringLiteral("search"))->click();
    idleWithin(window, 30000);
    tickAll(window, {"198.51.100.20", "198.51.100.21"});
    window.findChild<QPushButton*>(QStringLiteral("reboot"))->click();
    idleWithin(window, 30000);
    tickAll(window, {"198.51.100.22", "198.51.100.23"});
    openUpgradePanel(window, image);
    window.findChild<QPushButton*>(QStringLiteral("file_update"))->click();
    idleWithin(window, 60000);
    for (int waited = 0; window.watching() && waited < 60000; waited += 100) {
        settle(100);
    }
    idleWithin(window, 30000);
    corvane::OperatorMessages::takeShown();
    settle(500);
    const int rows = tableOf(window)->rowCount();
    if (window.watching() || rows != kSite.size()) {
        err << "site: " << rows << " rows, watch " << (window.watching() ? "still on" : "ended")
            << "\n";
        return 1;
    }
    return savePicture(window.grab(), out) ? 0 : 1;
}
