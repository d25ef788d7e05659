// The window during its batches, against simulated devices in the test network: the event loop
// keeps turning, each ticked row's status follows its device, cancel stops after the device
// being loaded, and closing the window during an upgrade asks first.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "tests/support/devsim_harness.h"
#include "tests/support/shown_messages.h"
#include "tests/support/window_rows.h"

using corvane::OperatorMessages;
using corvane::test::Devsim;
using corvane::test::TestNetwork;

namespace {

const QString kNet = QStringLiteral("198.51.100.");
// Reboot: 30 transmitters, the four from .134 on never answer.
constexpr int kRebootFirst = 110;
constexpr int kRebootCount = 30;
constexpr int kSilentFrom = 134;
constexpr int kSilentTo = 137;
// Upgrade: .150 takes its image slowly (2 MiB at 512 KiB/s), .151 refuses the start, .152-.153
// take it at once.
const QString kSlow = kNet + "150";
const QString kRefusing = kNet + "151";
const QString kQuick = kNet + "152";
const QString kQuick2 = kNet + "153";
constexpr qint64 kImageBytes = 2 << 20;

// The longest time between two turns of the window's event loop while it runs: a 20 ms timer
// of the test that notes each gap between its ticks.
class LoopWatch : public QObject {
public:
    LoopWatch() {
        timer_.setInterval(20);
        connect(&timer_, &QTimer::timeout, this,
                [this] { longest = qMax(longest, since_.restart()); });
        since_.start();
        timer_.start();
    }
    qint64 longest = 0;

private:
    QTimer timer_;
    QElapsedTimer since_;
};

// Every status each row took, by address, as the cells change; a run of percentages is kept
// as one "%".
class StatusWatch : public QObject {
public:
    explicit StatusWatch(QTableWidget* table) {
        connect(table->model(), &QAbstractItemModel::dataChanged, this,
                [this, table](const QModelIndex& from, const QModelIndex& to) {
                    for (int row = from.row(); row <= to.row(); ++row) {
                        if (from.column() > 3 || to.column() < 3 ||
                            table->item(row, 1) == nullptr || table->item(row, 3) == nullptr) {
                            continue;
                        }
                        QString text = table->item(row, 3)->text();
                        if (text.endsWith(QLatin1Char('%'))) {
                            text = QStringLiteral("%");
                        }
                        QStringList& seen = states[table->item(row, 1)->text()];
                        if (seen.isEmpty() || seen.last() != text) {
                            seen << text;
                        }
                    }
                });
    }
    QMap<QString, QStringList> states;
};

QList<DeviceRow> transmitters(const QStringList& addresses) {
    QList<DeviceRow> rows;
    for (const QString& a : addresses) {
        rows << DeviceRow{a, 1102};
    }
    return rows;
}

}  // namespace

class TestBatchAlive : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void batches_data();
    void batches();
    void stops_data();
    void stops();

private:
    // Shows `devices`, ticks them all, opens the panel with the image chosen and the box
    // "continue past failures" set to `goOn`; the upgrade button is then to be pressed.
    void preparePanel(Base_Frame& window, const QStringList& devices, bool goOn);

    Devsim sim_;
    QTemporaryDir dir_;
    QString image_;
};

void TestBatchAlive::initTestCase() {
    QVERIFY2(TestNetwork::active(), "run through scripts/testnet");
    QVERIFY(dir_.isValid());
    for (int host = kRebootFirst; host < kRebootFirst + kRebootCount; ++host) {
        const bool silent = host >= kSilentFrom && host <= kSilentTo;
        sim_.device(QStringLiteral("ip=%1%2,type=1102%3")
                        .arg(kNet)
                        .arg(host)
                        .arg(silent ? ",http=hang" : ""));
    }
    sim_.device("ip=" + kSlow + ",type=1102,fw=slow,fw-rate=524288")
        .device("ip=" + kRefusing + ",type=1102,fw=start-refuse")
        .device("ip=" + kQuick + ",type=1102")
        .device("ip=" + kQuick2 + ",type=1102")
        .arg("--restart-seconds=0");
    QVERIFY2(sim_.start(), qPrintable(sim_.errorString()));
    image_ = dir_.filePath("update_app_tx_3.3.0.bin");
    QVERIFY(corvane::test::writeImage(image_, kImageBytes));
}

void TestBatchAlive::init() {
    OperatorMessages::reset();
    OperatorMessages::setUnattended(true);
}

void TestBatchAlive::cleanupTestCase() {
    OperatorMessages::reset();
    QCOMPARE(sim_.stop(), 0);
}

void TestBatchAlive::preparePanel(Base_Frame& window, const QStringList& devices, bool goOn) {
    showRows(window, transmitters(devices));
    for (int row = 0; row < devices.size(); ++row) {
        tick(window, row);
    }
    QTest::mouseClick(window.findChild<QPushButton*>("update"), Qt::LeftButton);
    OperatorMessages::queueFileName(image_);
    QTest::mouseClick(window.findChild<QPushButton*>("file_path"), Qt::LeftButton);
    window.findChild<QCheckBox*>("continue_past_failures")->setChecked(goOn);
}

// Each batch in full: the loop's longest gap, each row's statuses in order, and the end
// message. Without "continue past failures" a failure's box shows while the batch waits.
void TestBatchAlive::batches_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<bool>("goOn");
    QTest::addColumn<QStringList>("states");  // "address: state, state, ..." per device
    QTest::addColumn<QStringList>("messages");

    QStringList reboot;
    QStringList rebootStates;
    QStringList silent;
    for (int host = kRebootFirst; host < kRebootFirst + kRebootCount; ++host) {
        const QString address = kNet + QString::number(host);
        const bool quiet = host >= kSilentFrom && host <= kSilentTo;
        reboot << address;
        rebootStates << address + (quiet ? ": 等待, 正在重启, 无应答" : ": 等待, 正在重启, 已重启");
        if (quiet) {
            silent << address;
        }
    }
    QTest::newRow("reboot of 30, four silent")
        << "reboot" << reboot << false << rebootStates
        << QStringList{notice(QStringLiteral("已重启 26 台设备，以下 4 台设备没有应答：\n") +
                              silent.join('\n'))};

    const QStringList upgrade{kSlow, kRefusing, kQuick};
    const QStringList upgradeStates{kSlow + ": 等待, %, 已升级", kRefusing + ": 等待, 网络连接失败",
                                    kQuick + ": 等待, %, 已升级"};
    QTest::newRow("slow upgrade, a failure boxed")
        << "file_update" << upgrade << false << upgradeStates
        << QStringList{"file:|", "about:升级失败2|" + kRefusing + " 网络连接失败|parent",
                       notice("已升级 2 台设备，等待重启；以下 1 台设备升级失败：\n" + kRefusing)};
    QTest::newRow("slow upgrade, past failures")
        << "file_update" << upgrade << true << upgradeStates
        << QStringList{"file:|", notice("已升级 2 台设备，等待重启；以下 1 台设备升级失败：\n" +
                                        kRefusing + " 网络连接失败")};
}

void TestBatchAlive::batches() {
    QFETCH(QString, button);
    QFETCH(QStringList, devices);
    QFETCH(bool, goOn);
    QFETCH(QStringList, states);
    QFETCH(QStringList, messages);

    Base_Frame window;
    window.show();
    if (button == QLatin1String("reboot")) {
        showRows(window, transmitters(devices));
        for (int row = 0; row < devices.size(); ++row) {
            tick(window, row);
        }
    } else {
        preparePanel(window, devices, goOn);
    }
    StatusWatch statuses(tableOf(window));
    LoopWatch loop;
    QTest::mouseClick(window.findChild<QPushButton*>(qPrintable(button)), Qt::LeftButton);
    QVERIFY(window.busy());
    // While it runs, nothing starts a second action and the rows take no ticks.
    QVERIFY(!window.findChild<QPushButton*>("search")->isEnabled());
    QVERIFY(!window.findChild<QCheckBox*>("checkBox")->isEnabled());
    QTest::mouseClick(tableOf(window)->viewport(), Qt::LeftButton, {},
                      tableOf(window)->visualItemRect(tableOf(window)->item(0, 0)).center());
    QCOMPARE(tickOf(window, 0), Qt::Checked);
    QVERIFY(idleWithin(window));

    qInfo("longest gap of the event loop: %lld ms", loop.longest);
    QVERIFY2(loop.longest < 1000, qPrintable(QString::number(loop.longest)));
    QStringList seen;
    for (const QString& address : devices) {
        seen << address + ": " + statuses.states.value(address).join(", ");
    }
    QCOMPARE(seen, states);
    QCOMPARE(shownTexts(), messages);
    QVERIFY(window.findChild<QPushButton*>("search")->isEnabled());
}

// Stopping an upgrade while the slow device is loaded: the panel's cancel, and closing the
// window with the answer No (nothing stops) or Yes (it closes when the device is done). The
// device being loaded always gets its whole image; the others are not tried.
void TestBatchAlive::stops_data() {
    QTest::addColumn<QString>("how");  // "cancel", "close no", "close yes"
    QTest::addColumn<QStringList>("upgraded");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("open");  // the window is still shown at the end

    const QString question =
        QStringLiteral("question:提示|正在升级设备，现在退出会中断升级，确定退出吗？|parent");
    QTest::newRow("cancel") << "cancel" << QStringList{kSlow}
                            << QStringList{"file:|", notice("升级已取消，2 台设备未升级；已升级 1 "
                                                            "台设备，等待重启")}
                            << true;
    QTest::newRow("close, answered No")
        << "close no" << QStringList{kSlow, kQuick, kQuick2}
        << QStringList{"file:|", question, notice("升级成功，等待重启")} << true;
    QTest::newRow("close, answered Yes")
        << "close yes" << QStringList{kSlow} << QStringList{"file:|", question} << false;
}

void TestBatchAlive::stops() {
    QFETCH(QString, how);
    QFETCH(QStringList, upgraded);
    QFETCH(QStringList, messages);
    QFETCH(bool, open);

    const QStringList devices{kSlow, kQuick, kQuick2};
    Base_Frame window;
    window.show();
    preparePanel(window, devices, false);
    const int images = sim_.records("fw-image").size();
    const int accepted = sim_.records("fw-accept").size();
    QTest::mouseClick(window.findChild<QPushButton*>("file_update"), Qt::LeftButton);
    // The slow device is being loaded.
    QTRY_VERIFY_WITH_TIMEOUT(tableOf(window)->item(0, 3)->text().endsWith('%'), 10000);
    if (how == QLatin1String("cancel")) {
        QTest::mouseClick(window.findChild<QPushButton*>("file_cacle"), Qt::LeftButton);
    } else {
        OperatorMessages::queueAnswer(how.endsWith("yes") ? QMessageBox::Yes : QMessageBox::No);
        QVERIFY(!window.close());
    }
    QVERIFY(window.busy());
    QVERIFY(idleWithin(window));
    QTRY_COMPARE_WITH_TIMEOUT(window.isVisible(), open, 5000);

    QCOMPARE(shownTexts(), messages);
    QStringList loaded;
    for (const auto& record : sim_.records("fw-image").mid(images)) {
        QCOMPARE(qint64(record.raw.value("received").toDouble()), kImageBytes);
        loaded << record.device;
    }
    QCOMPARE(loaded, upgraded);
    QCOMPARE(sim_.records("fw-accept").size() - accepted, upgraded.size());
    if (open) {
        // The rows not tried show what they showed before.
        QCOMPARE(rowAddresses(window), QStringList(devices.mid(upgraded.size())));
        for (int row = 0; row < rowAddresses(window).size(); ++row) {
            QCOMPARE(tableOf(window)->item(row, 3)->text(), QStringLiteral("OK"));
        }
    }
}

QTEST_MAIN(TestBatchAlive)
#include "test_batch_alive.moc"
