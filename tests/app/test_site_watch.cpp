// What the window shows of the site after a batch, against simulated devices in the test network:
// devices that left (a reboot, an upgrade, a network change) are looked for in the background
// and return with what came back, or as display-only rows that did not; the status column tells
// address conflicts and devices outside the tool's subnets.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QtTest>

#include "messages/operator_messages.h"
#include "tests/support/devsim_harness.h"
#include "tests/support/find_widget.h"
#include "tests/support/window_rows.h"

using corvane::OperatorMessages;
using corvane::test::Devsim;
using corvane::test::TestNetwork;

namespace {

const QString kNet = QStringLiteral("198.51.100.");
// The watch looks every second and gives up after 20 s; the late device is away for 6 s.
constexpr int kIntervalMs = 1000;
constexpr int kLimitMs = 20000;

QWidget* openWindow() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && !qobject_cast<Base_Frame*>(w) && !qobject_cast<QMenu*>(w)) {
            return w;
        }
    }
    return nullptr;
}

// The window a double-click on the row opens; null for none.
QWidget* doubleClickRow(Base_Frame& window, int row) {
    QTableWidget* table = tableOf(window);
    table->scrollToItem(table->item(row, 1));
    const QPoint pos = table->visualItemRect(table->item(row, 1)).center();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, pos);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, pos);
    return openWindow();
}

bool doubleClickOpens(Base_Frame& window, int row) {
    QWidget* shown = doubleClickRow(window, row);
    if (shown != nullptr) {
        shown->hide();
    }
    return shown != nullptr;
}

// Each row as "address status use": use t for a tick box, n when only the double-click opens
// the network window, - for neither; sorted. A row that did not come back must be red.
QStringList rowsSeen(Base_Frame& window) {
    QTableWidget* table = tableOf(window);
    QStringList seen;
    for (int row = 0; row < table->rowCount(); ++row) {
        const bool ticks = (table->item(row, 0)->flags() & Qt::ItemIsUserCheckable) != 0;
        const QString use = ticks ? "t" : doubleClickOpens(window, row) ? "n" : "-";
        const QTableWidgetItem* status = table->item(row, 3);
        const bool red = status->foreground().color() == Qt::red;
        seen << QStringLiteral("%1 %2 %3%4")
                    .arg(table->item(row, 1)->text(), status->text(), use, red ? " red" : "");
    }
    seen.sort();
    return seen;
}

}  // namespace

class TestSiteWatch : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void watch_data();
    void watch();

private:
    QTemporaryDir dir_;
    QString image_;
};

void TestSiteWatch::initTestCase() {
    QVERIFY2(TestNetwork::active(), "run through scripts/testnet");
    QVERIFY(dir_.isValid());
    image_ = dir_.filePath("update_app_tx_V9.0.0_20261201.bin");
    QVERIFY(corvane::test::writeImage(image_, 300000));
}

void TestSiteWatch::init() {
    while (QWidget* left = openWindow()) {
        left->hide();  // by a case that failed
    }
    OperatorMessages::reset();
    OperatorMessages::setUnattended(true);
}

void TestSiteWatch::watch_data() {
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QString>("action");       // reboot, upgrade, net (to targets[1]), none
    QTest::addColumn<QStringList>("targets");  // the addresses ticked (net: from, to)
    QTest::addColumn<bool>("search");          // the operator searches before the watch's own sweep
    QTest::addColumn<QStringList>("rows");     // rowsSeen at the end
    QTest::newRow("reboot: one never back, one back late")
        << QStringList{"ip=198.51.100.90,restart=never", "ip=198.51.100.91,restart=6",
                       "ip=198.51.100.92"}
        << "reboot" << QStringList{kNet + "90", kNet + "91"} << false
        << QStringList{"198.51.100.90 未恢复 - red", "198.51.100.91 已恢复 t",
                       "198.51.100.92 OK t"};
    QTest::newRow("upgrade: another version and the same")
        << QStringList{"ip=198.51.100.93,fw-version=V9.0.0_20261201", "ip=198.51.100.94"}
        << "upgrade" << QStringList{kNet + "93", kNet + "94"} << false
        << QStringList{"198.51.100.93 已升级 t", "198.51.100.94 版本未变 t"};
    QTest::newRow("network change: back at the new address")
        << QStringList{"ip=198.51.100.95"} << "net" << QStringList{kNet + "95", kNet + "195"}
        << false << QStringList{"198.51.100.195 已恢复 t"};
    QTest::newRow("two devices with one address, one outside the tool's subnets")
        << QStringList{"ip=198.51.100.96", "ip=198.51.100.97,report-ip=198.51.100.96",
                       "ip=203.0.113.10"}
        << "none" << QStringList{} << false
        << QStringList{"198.51.100.96 地址冲突 n", "198.51.100.96 地址冲突 n",
                       "203.0.113.10 其他网段 t"};
    QTest::newRow("reboot: found by the operator's search")
        << QStringList{"ip=198.51.100.89"} << "reboot" << QStringList{kNet + "89"} << true
        << QStringList{"198.51.100.89 已恢复 t"};
}

// The operator's search during the wait counts: the watch's own sweep would come too late.
void TestSiteWatch::watch() {
    QFETCH(QStringList, devices);
    QFETCH(QString, action);
    QFETCH(QStringList, targets);
    QFETCH(bool, search);
    QFETCH(QStringList, rows);

    Devsim sim;
    for (const QString& d : devices) {
        sim.device(d);
    }
    sim.arg("--restart-seconds=1");
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));

    Base_Frame window;
    window.setWatchTiming(search ? 3 * kLimitMs : kIntervalMs, kLimitMs);
    window.resize(1400, 800);
    window.show();
    widget<QAbstractButton>(window, "search")->click();
    QVERIFY(idleWithin(window));
    QCOMPARE(rowAddresses(window).size(), devices.size());

    if (action == "net") {
        QWidget* shown = doubleClickRow(window, rowOf(window, targets[0]));
        QVERIFY(shown != nullptr);
        widget<QLineEdit>(*shown, "ipEdit")->setText(targets[1]);
        widget<QAbstractButton>(*shown, "define")->click();
    } else if (action != "none") {
        for (const QString& address : targets) {
            tick(window, rowOf(window, address));
        }
        if (action == "reboot") {
            widget<QAbstractButton>(window, "reboot")->click();
        } else {
            widget<QAbstractButton>(window, "update")->click();
            OperatorMessages::queueFileName(image_);
            widget<QAbstractButton>(window, "file_path")->click();
            widget<QAbstractButton>(window, "file_update")->click();
        }
    }
    QVERIFY(idleWithin(window));
    QElapsedTimer wait;
    wait.start();
    if (action != "none") {
        // The rows left, and the watch goes on while the window is free.
        for (const QString& address : action == "net" ? targets.mid(0, 1) : targets) {
            QVERIFY(!rowAddresses(window).contains(address));
        }
        QVERIFY(window.watching());
    }
    for (QDeadlineTimer until(kLimitMs); search && window.watching() && !until.hasExpired();) {
        QTest::qWait(500);
        widget<QAbstractButton>(window, "search")->click();
        QVERIFY(idleWithin(window));
    }
    // When each device that left is back in the table: the figure the report gives.
    QMap<QString, QString> back;
    while (window.watching() && wait.elapsed() < kLimitMs + 30000) {
        QTest::qWait(50);
        for (int row = 0; row < tableOf(window)->rowCount(); ++row) {
            const QString address = tableOf(window)->item(row, 1)->text();
            if (targets.contains(address) && !back.contains(address)) {
                back.insert(address, QStringLiteral("%1 after %2 ms")
                                         .arg(tableOf(window)->item(row, 3)->text())
                                         .arg(wait.elapsed()));
            }
        }
    }
    QVERIFY2(!window.watching(), "the watch did not end");
    for (auto it = back.cbegin(); it != back.cend(); ++it) {
        qInfo("%s: %s", qPrintable(it.key()), qPrintable(it.value()));
    }
    qInfo("the watch ended after %lld ms", wait.elapsed());
    QVERIFY(idleWithin(window));
    QCOMPARE(rowsSeen(window), rows);
    QCOMPARE(sim.stop(), 0);
}

QTEST_MAIN(TestSiteWatch)
#include "test_site_watch.moc"
