// The upgrade panel and its batch against simulated devices in the test network: every
// failure a device or the network can cause, the local file problems, successful upgrades
// with their progress, and the panel's states.
#include <QFrame>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include "tests/support/devsim_harness.h"
#include "tests/support/shown_messages.h"
#include "tests/support/window_rows.h"

using corvane::OperatorMessages;
using corvane::test::Devsim;
using corvane::test::DevsimRecord;
using corvane::test::fileSha256;
using corvane::test::TestNetwork;
using corvane::test::writeImage;

namespace {

const QString kGood = QStringLiteral("198.51.100.60");
const QString kDone = notice(QStringLiteral("升级成功，等待重启"));

// The devices, with the fault each one has on port 6000.
const QStringList kDevices{
    "ip=198.51.100.30,fw=absent",
    "ip=198.51.100.31,fw=start-refuse",
    "ip=198.51.100.32,fw=start-mute",
    "ip=198.51.100.33,fw=slow,fw-rate=16384",
    "ip=198.51.100.34,fw=drop,fw-drop=100000",
    "ip=198.51.100.35,fw=finish-refuse",
    "ip=198.51.100.36,fw=finish-mute",
    "ip=198.51.100.37,fw=finish-late,fw-delay=1500",
    "ip=198.51.100.40",
    "ip=198.51.100.41",
    "ip=198.51.100.42,type=307",
    "ip=198.51.100.43,type=307",
    "ip=198.51.100.44,type=2000",
    "ip=198.51.100.60",
};

// Records what the window's progress bar reads: its value when it is first shown (polished)
// and every value it takes afterwards, each also handed to `changed` as the attempt runs.
class ProgressWatch : public QObject {
public:
    explicit ProgressWatch(QWidget* window, std::function<void(int)> changed = {})
        : changed_(std::move(changed)) {
        window->installEventFilter(this);
    }
    QList<int> values;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::ChildPolished) {
            auto* bar = qobject_cast<QProgressBar*>(static_cast<QChildEvent*>(event)->child());
            if (bar != nullptr && values.isEmpty()) {
                values << bar->value();
                connect(bar, &QProgressBar::valueChanged, this, [this](int v) {
                    values << v;
                    if (changed_) {
                        changed_(v);
                    }
                });
            }
        }
        return false;
    }

private:
    std::function<void(int)> changed_;
};

}  // namespace

class TestUpgradePanel : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void deviceFailures_data();
    void deviceFailures();
    void localProblems_data();
    void localProblems();
    void successes_data();
    void successes();
    void panelStates();

private:
    // Chooses `path` through the file dialog and presses the panel's upgrade button.
    void runBatch(Base_Frame& window, const QString& path);
    bool closedByTool(const QString& ip);

    Devsim sim_;
    QTemporaryDir dir_;
    QString image_;  // 16 MiB, a transmitter's image name
    QByteArray imageSha_;
};

void TestUpgradePanel::initTestCase() {
    QVERIFY2(TestNetwork::active(), "run through scripts/testnet");
    QVERIFY(dir_.isValid());
    for (const QString& d : kDevices) {
        sim_.device(d);
    }
    sim_.arg("--restart-seconds=0");
    QVERIFY2(sim_.start(), qPrintable(sim_.errorString()));
    image_ = dir_.filePath("update_app_tx_3.3.0.bin");
    QVERIFY(writeImage(image_, 16 << 20));
    imageSha_ = fileSha256(image_);
}

void TestUpgradePanel::init() {
    OperatorMessages::reset();
    OperatorMessages::setUnattended(true);
}

void TestUpgradePanel::cleanupTestCase() {
    OperatorMessages::reset();
    QCOMPARE(sim_.stop(), 0);
}

void TestUpgradePanel::runBatch(Base_Frame& window, const QString& path) {
    QTest::mouseClick(window.findChild<QPushButton*>("update"), Qt::LeftButton);
    OperatorMessages::queueFileName(path);
    QTest::mouseClick(window.findChild<QPushButton*>("file_path"), Qt::LeftButton);
    QTest::mouseClick(window.findChild<QPushButton*>("file_update"), Qt::LeftButton);
    QVERIFY(idleWithin(window, 300000));
}

bool TestUpgradePanel::closedByTool(const QString& ip) {
    return sim_.waitForRecord(
        "fw-close",
        [&ip](const DevsimRecord& r) {
            return r.device == ip && r.raw.value("by").toString() == QLatin1String("peer");
        },
        10000);
}

void TestUpgradePanel::deviceFailures_data() {
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");  // %1: the address
    QTest::addColumn<bool>("connects");
    QTest::addColumn<bool>("closeSeen");  // the device sees the tool close

    const QString network = QStringLiteral("%1 网络连接失败");
    const QString upgrade = QStringLiteral("%1 程序升级失败");
    auto row = [](const char* name, const QString& ip, const char* title, const QString& text,
                  bool connects, bool closeSeen) {
        QTest::newRow(name) << ip << QString(title) << text << connects << closeSeen;
    };
    row("nothing listens", "198.51.100.30", "升级失败", network, false, false);
    row("no connection within 6 s", TestNetwork::silentAddress(), "升级失败", network, false,
        false);
    row("start refused", "198.51.100.31", "升级失败2", network, true, true);
    row("start never answered", "198.51.100.32", "升级失败1", network, true, true);
    // A slow or cut reader may take long to see the close: the kernel still holds what was
    // queued for it.
    row("piece not taken within 20 s", "198.51.100.33", "升级失败3", network, true, false);
    row("connection cut while streaming", "198.51.100.34", "升级失败3", network, true, false);
    row("finish refused", "198.51.100.35", "升级失败6", upgrade, true, true);
    row("finish never answered", "198.51.100.36", "升级失败5", upgrade, true, true);
}

void TestUpgradePanel::deviceFailures() {
    QFETCH(QString, ip);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(bool, connects);
    QFETCH(bool, closeSeen);

    Base_Frame window;
    window.show();
    // Rows 0 and 2 ticked, row 0 failing: the next ticked device is still tried, the unticked
    // one never, and only the upgraded row leaves.
    const QString skipped = QStringLiteral("198.51.100.41");
    showRows(window, {{ip, 1102}, {skipped, 1102}, {kGood, 1102}});
    QCOMPARE(rowAddresses(window), QStringList({ip, skipped, kGood}));
    tick(window, 0);
    tick(window, 2);
    const int images = sim_.records("fw-image").size();
    const int accepted = sim_.records("fw-accept").size();
    runBatch(window, image_);

    // The summary names the device that failed; it stays ticked.
    QCOMPARE(
        shownTexts(),
        (QStringList{
            "file:|", "about:" + title + '|' + text.arg(ip) + "|parent",
            notice(QStringLiteral("已升级 1 台设备，等待重启；以下 1 台设备升级失败：\n") + ip)}));
    QCOMPARE(rowAddresses(window), QStringList({ip, skipped}));
    QCOMPARE(tickOf(window, 0), Qt::Checked);
    QCOMPARE(tickOf(window, 1), Qt::Unchecked);
    QCOMPARE(window.findChild<QTcpSocket*>()->state(), QAbstractSocket::UnconnectedState);
    // Both attempts showed their progress in the same bar.
    QCOMPARE(window.findChildren<QProgressBar*>().size(), 1);
    QVERIFY(window.findChild<QFrame*>("update_widget")->isHidden());
    QVERIFY(window.findChild<QPushButton*>("update")->isEnabled());

    const QList<DevsimRecord> good = sim_.records("fw-image", kGood, images);
    QCOMPARE(good.size(), 1);
    QCOMPARE(good.first().raw.value("sha256").toString().toLatin1(), imageSha_);
    QCOMPARE(qint64(good.first().raw.value("received").toDouble()), qint64(16 << 20));
    QVERIFY(sim_.records("fw-accept", skipped, accepted).isEmpty());
    QCOMPARE(!sim_.records("fw-accept", ip, accepted).isEmpty(), connects);
    // The tool ends every connection it gave up on.
    if (closeSeen) {
        QVERIFY(closedByTool(ip));
    }
}

void TestUpgradePanel::localProblems_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QList<DeviceRow>>("devices");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("connects");
    QTest::addColumn<bool>("grows");  // the file grows once a piece of it went out

    const QList<DeviceRow> transmitters{{"198.51.100.40", 1102}, {"198.51.100.41", 1102}};
    QTest::newRow("name does not fit the type")
        << image_ << QList<DeviceRow>{{"198.51.100.42", 307}, {"198.51.100.43", 307}}
        << "文件名格式错误" << false << false;
    QTest::newRow("missing file") << dir_.filePath("update_app_tx_none.bin") << transmitters
                                  << "本地文件不存在" << false << false;

    const QString huge = dir_.filePath("update_app_tx_huge.bin");
    QFile sparse(huge);
    if (sparse.open(QIODevice::WriteOnly)) {
        sparse.resize(qint64(1) << 31);  // sparse: no disk blocks
    }
    QTest::newRow("2^31 bytes") << huge << transmitters << "升级文件过大" << false << false;

    // A truncated download must not reach a device.
    const QString empty = dir_.filePath("update_app_tx_empty.bin");
    writeImage(empty, 0);
    QTest::newRow("empty file") << empty << transmitters << "升级文件为空" << false << false;
    const QString growing = dir_.filePath("update_app_tx_growing.bin");
    writeImage(growing, 3000000);
    QTest::newRow("size changes while sent")
        << growing << transmitters << "读取本地升级源文件失败" << true << true;
}

void TestUpgradePanel::localProblems() {
    QFETCH(QString, path);
    QFETCH(QList<DeviceRow>, devices);
    QFETCH(QString, text);
    QFETCH(bool, connects);
    QFETCH(bool, grows);

    Base_Frame window;
    window.show();
    ProgressWatch watch(&window, [&path, grows](int value) {
        QFile file(path);
        if (grows && value > 0 && value < 100 && file.open(QIODevice::Append)) {
            file.write(QByteArray(1000, 'x'));
        }
    });
    showRows(window, devices);
    tick(window, 0);
    tick(window, 1);
    const int accepted = sim_.records("fw-accept").size();

    window.findChild<QLineEdit*>("file_pathname")->setText(path);
    QCOMPARE(window.update_device(0), 3);
    QCOMPARE(window.findChild<QTcpSocket*>()->state(), QAbstractSocket::UnconnectedState);
    const QString error = QStringLiteral("错误|") + text;
    QCOMPARE(shownTexts(), QStringList{error});
    if (connects) {
        QVERIFY(closedByTool(devices[0].first));
    }

    // In a batch the problem is reported for each ticked device, and nothing succeeds.
    runBatch(window, path);
    QCOMPARE(shownTexts(),
             (QStringList{"file:|", error, error,
                          notice(QStringLiteral("没有设备升级成功；以下 2 台设备升级失败：\n") +
                                 devices[0].first + '\n' + devices[1].first)}));
    QCOMPARE(rowAddresses(window).size(), 2);
    QCOMPARE(tickOf(window, 0), Qt::Checked);
    QCOMPARE(tickOf(window, 1), Qt::Checked);
    QCOMPARE(sim_.records("fw-accept").size() - accepted, connects ? 3 : 0);
}

void TestUpgradePanel::successes_data() {
    QTest::addColumn<QString>("ip");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("name");  // relative to the temporary folder
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QList<int>>("progress");

    // 0 before the first piece, then after each piece, 100 after the last.
    QTest::newRow("TX, three pieces") << "198.51.100.40" << 1102 << "update_app_tx_1.bin"
                                      << qint64(3000000) << QList<int>{0, 34, 69, 100};
    QTest::newRow("RX") << "198.51.100.42" << 307 << "update_app_application-vwc.bin"
                        << qint64(5000) << QList<int>{0, 100};
    QTest::newRow("KVM_RX") << "198.51.100.44" << 2000 << "update_app_application-kvm_rx.bin"
                            << qint64(2097089) << QList<int>{0, 49, 99, 100};
    QTest::newRow("finish answered after 1.5 s")
        << "198.51.100.37" << 1102 << "update_app_tx_2.bin" << qint64(70000) << QList<int>{0, 100};
}

void TestUpgradePanel::successes() {
    QFETCH(QString, ip);
    QFETCH(int, type);
    QFETCH(QString, name);
    QFETCH(qint64, size);
    QFETCH(QList<int>, progress);

    const QString path = dir_.filePath(name);
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QVERIFY(writeImage(path, size));

    Base_Frame window;
    window.show();
    ProgressWatch watch(&window);
    showRows(window, {{ip, type}, {kGood, 1102}});
    tick(window, rowOf(window, ip));
    const int images = sim_.records("fw-image").size();
    runBatch(window, path);

    QCOMPARE(shownTexts(), (QStringList{"file:|", kDone}));
    QCOMPARE(rowAddresses(window), QStringList{kGood});

    const QList<DevsimRecord> image = sim_.records("fw-image", ip, images);
    QCOMPARE(image.size(), 1);
    QCOMPARE(qint64(image.first().raw.value("received").toDouble()), size);
    QCOMPARE(image.first().raw.value("sha256").toString().toLatin1(), fileSha256(path));
    QCOMPARE(window.findChild<QTcpSocket*>()->state(), QAbstractSocket::UnconnectedState);

    QCOMPARE(watch.values, progress);
    const QList<QProgressBar*> bars = window.findChildren<QProgressBar*>();
    QCOMPARE(bars.size(), 1);
    QVERIFY(bars.first()->isHidden());
}

void TestUpgradePanel::panelStates() {
    Base_Frame window;
    window.show();
    auto* panel = window.findChild<QFrame*>("update_widget");
    auto* update = window.findChild<QPushButton*>("update");
    auto* start = window.findChild<QPushButton*>("file_update");
    auto* path = window.findChild<QLineEdit*>("file_pathname");
    QVERIFY(panel->isHidden());
    QVERIFY(!start->isEnabled());
    showRows(window, {{"198.51.100.40", 1102}, {"198.51.100.41", 1102}});
    const int accepted = sim_.records("fw-accept").size();

    QTest::mouseClick(update, Qt::LeftButton);
    QVERIFY(panel->isVisible());
    QVERIFY(!update->isEnabled());
    QTest::mouseClick(window.findChild<QPushButton*>("file_cacle"), Qt::LeftButton);
    QVERIFY(panel->isHidden());
    QVERIFY(update->isEnabled());

    // A cancelled file dialog empties the path and still offers the upgrade.
    QTest::mouseClick(update, Qt::LeftButton);
    path->setText("left over");
    OperatorMessages::queueFileName(QString());
    QTest::mouseClick(window.findChild<QPushButton*>("file_path"), Qt::LeftButton);
    QCOMPARE(path->text(), QString());
    QVERIFY(start->isEnabled());
    OperatorMessages::queueFileName(image_);
    QTest::mouseClick(window.findChild<QPushButton*>("file_path"), Qt::LeftButton);
    QCOMPARE(path->text(), image_);
    QTest::mouseClick(window.findChild<QPushButton*>("file_cacle"), Qt::LeftButton);
    QTest::mouseClick(update, Qt::LeftButton);
    QCOMPARE(path->text(), image_);
    QVERIFY(start->isEnabled());

    // No ticked row: nobody is contacted.
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(shownTexts(),
             (QStringList{"file:|", "file:|", notice(QStringLiteral("请选择升级的设备"))}));
    QVERIFY(panel->isHidden());
    QVERIFY(update->isEnabled());
    QCOMPARE(sim_.records("fw-accept").size(), accepted);
    QCOMPARE(rowAddresses(window).size(), 2);
}

QTEST_MAIN(TestUpgradePanel)
#include "test_upgrade_panel.moc"
