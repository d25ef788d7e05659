#include "tools/screenshots/upgrade_shots.h"

#include <QCheckBox>
#include <QChildEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextStream>

#include "messages/operator_messages.h"
#include "tests/support/devsim_harness.h"
#include "tests/support/window_rows.h"
#include "tools/screenshots/shot_support.h"

namespace {

const QString kDevice = QStringLiteral("198.51.100.20");

// Starts the simulator in the device host of the test network with `devices`.
bool startDevices(corvane::test::Devsim& sim, const QStringList& devices) {
    sim.arg(QStringLiteral("--no-udp"));
    for (const QString& d : devices) {
        sim.device(d);
    }
    if (!sim.start(corvane::test::Devsim::Where::DeviceHost)) {
        QTextStream(stderr) << "run inside scripts/testnet: " << sim.errorString() << "\n";
        return false;
    }
    return true;
}

// The window as an installer sees it before pressing the panel's upgrade button.
void prepare(Base_Frame& window, const QString& image) {
    window.show();
    showRows(window, {{kDevice, 1102},
                      {"198.51.100.21", 1102},
                      {"198.51.100.22", 1102},
                      {"198.51.100.30", 307},
                      {"198.51.100.31", 307},
                      {"198.51.100.40", 2000}});
    tick(window, 0);
    tick(window, 1);
    openUpgradePanel(window, image);
    settle(500);
}

// Grabs the window once, from inside the upgrade, when the bar passes 45 %.
class GrabAtProgress : public QObject {
public:
    GrabAtProgress(QWidget* window, QString out) : window_(window), out_(std::move(out)) {
        window->installEventFilter(this);
    }
    bool saved = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::ChildPolished) {
            return false;
        }
        auto* bar = qobject_cast<QProgressBar*>(static_cast<QChildEvent*>(event)->child());
        if (bar != nullptr) {
            connect(bar, &QProgressBar::valueChanged, this, [this](int value) {
                if (value >= 45 && !saved) {
                    saved = savePicture(window_->grab(), out_);
                }
            });
        }
        return false;
    }

private:
    QWidget* window_;
    QString out_;
};

}  // namespace

int shootUpgradePanel(const QString& out) {
    Base_Frame window;
    prepare(window, QStringLiteral("D:/firmware/update_app_tx_V3.3.0_20250214.bin"));
    return savePicture(window.grab(), out) ? 0 : 1;
}

int shootUpgradeProgress(const QString& out) {
    QTemporaryDir dir;
    corvane::test::Devsim device;
    if (!dir.isValid() || !startDevices(device, {QStringLiteral("ip=") + kDevice})) {
        return 2;
    }
    // A 64 MiB image: long enough to stream in several dozen pieces.
    const QString image = dir.filePath(QStringLiteral("update_app_tx_V3.3.0_20250214.bin"));
    QFile file(image);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(64 << 20)) {
        QTextStream(stderr) << "progress: no simulated device or no image\n";
        return 1;
    }
    file.close();

    corvane::OperatorMessages::setUnattended(true);
    Base_Frame window;
    prepare(window, image);
    GrabAtProgress grab(&window, out);
    window.findChild<QPushButton*>(QStringLiteral("file_update"))->click();
    idleWithin(window, 60000);
    return grab.saved ? 0 : 1;
}

int shootBatch(const QString& out_dir) {
    // Eight transmitters: the fourth takes its image slowly, three fail in different ways.
    const QStringList devices{
        "ip=198.51.100.20",
        "ip=198.51.100.21",
        "ip=198.51.100.22,fw=start-refuse",
        "ip=198.51.100.23,fw=slow,fw-rate=4194304",
        "ip=198.51.100.24",
        "ip=198.51.100.25,fw=absent",
        "ip=198.51.100.26,fw=finish-refuse",
        "ip=198.51.100.27",
    };
    QTemporaryDir dir;
    corvane::test::Devsim sim;
    if (!dir.isValid() || !startDevices(sim, devices)) {
        return 2;
    }
    const QString image = dir.filePath(QStringLiteral("update_app_tx_V3.3.0_20250214.bin"));
    QFile file(image);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(16 << 20)) {
        return 1;
    }
    file.close();

    corvane::OperatorMessages::setUnattended(true);
    Base_Frame window;
    window.show();
    QList<DeviceRow> rows;
    for (const QString& d : devices) {
        rows << DeviceRow{d.section(QLatin1Char(','), 0, 0).mid(3), 1102};
    }
    rows << DeviceRow{QStringLiteral("198.51.100.30"), 307} << DeviceRow{"198.51.100.40", 2000};
    showRows(window, rows);
    for (int row = 0; row < devices.size(); ++row) {
        tick(window, row);
    }
    openUpgradePanel(window, image);
    window.findChild<QCheckBox*>(QStringLiteral("continue_past_failures"))->setChecked(true);
    settle(300);
    window.findChild<QPushButton*>(QStringLiteral("file_update"))->click();

    // The fourth row half-way: the three before it done, the rest waiting.
    QTableWidget* table = tableOf(window);
    bool under_way = false;
    QElapsedTimer clock;
    clock.start();
    while (window.busy() && clock.elapsed() < 60000) {
        QTest::qWait(10);
        const QString state = table->item(3, 3)->text();
        if (!under_way && state.endsWith(QLatin1Char('%')) && state.chopped(1).toInt() >= 45) {
            settle(50);
            under_way = savePicture(window.grab(), out_dir + "/batch-under-way.png");
        }
    }
    idleWithin(window, 60000);
    sim.stop();

    // The end message as the operator sees it: the box the last notice would have shown.
    QString message;
    for (const auto& shown : corvane::OperatorMessages::takeShown()) {
        message = shown.text;
    }
    QMessageBox box(QMessageBox::Information, QStringLiteral("提示"), message, QMessageBox::Ok,
                    &window);
    box.show();
    settle(300);
    const bool ended = savePicture(box.grab(), out_dir + "/batch-failures.png");
    return under_way && ended ? 0 : 1;
}
