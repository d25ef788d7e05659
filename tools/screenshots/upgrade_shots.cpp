#include "tools/screenshots/upgrade_shots.h"

#include <QChildEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>

#include "messages/operator_messages.h"
#include "tests/support/window_rows.h"
#include "tools/screenshots/shot_support.h"

namespace {

const QString kDevice = QStringLiteral("198.51.100.20");

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
    window.findChild<QPushButton*>(QStringLiteral("update"))->click();
    window.findChild<QLineEdit*>(QStringLiteral("file_pathname"))->setText(image);
    window.findChild<QPushButton*>(QStringLiteral("file_update"))->setEnabled(true);
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

int shootUpgradeProgress(const QString& out, const QString& devsim) {
    const QString netns = qEnvironmentVariable("CORVANE_DEVICE_NETNS");
    QTemporaryDir dir;
    if (netns.isEmpty() || devsim.isEmpty() || !dir.isValid()) {
        QTextStream(stderr) << "progress: run inside scripts/testnet with the simulator's path\n";
        return 2;
    }
    const QString ready = dir.filePath(QStringLiteral("ready"));
    QProcess device;
    device.start(QStringLiteral("ip"),
                 {QStringLiteral("netns"), QStringLiteral("exec"), netns, devsim,
                  QStringLiteral("--no-udp"), QStringLiteral("--ready-file"), ready,
                  QStringLiteral("--device"), QStringLiteral("ip=") + kDevice});
    QElapsedTimer clock;
    clock.start();
    while (!QFileInfo::exists(ready) && clock.elapsed() < 10000) {
        device.waitForFinished(50);
    }
    // A 64 MiB image: long enough to stream in several dozen pieces.
    const QString image = dir.filePath(QStringLiteral("update_app_tx_V3.3.0_20250214.bin"));
    QFile file(image);
    if (!QFileInfo::exists(ready) || !file.open(QIODevice::WriteOnly) || !file.resize(64 << 20)) {
        QTextStream(stderr) << "progress: no simulated device or no image\n";
        return 1;
    }
    file.close();

    corvane::OperatorMessages::setUnattended(true);
    Base_Frame window;
    prepare(window, image);
    GrabAtProgress grab(&window, out);
    window.findChild<QPushButton*>(QStringLiteral("file_update"))->click();
    device.terminate();
    device.waitForFinished(5000);
    return grab.saved ? 0 : 1;
}
