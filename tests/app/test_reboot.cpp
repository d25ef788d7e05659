// The reboot button against simulated devices in the test network: which devices are sent
// the restart command, in what order, which rows leave the table, what the operator is told,
// and when the button comes back.
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QPushButton>
#include <QtTest>

#include "tests/support/devsim_harness.h"
#include "tests/support/shown_messages.h"
#include "tests/support/window_rows.h"

using corvane::OperatorMessages;
using corvane::test::Devsim;
using corvane::test::DevsimRecord;
using corvane::test::TestNetwork;

using Ticks = QList<QPair<int, Qt::CheckState>>;

namespace {

const QString kNet = QStringLiteral("198.51.100.");

QList<DeviceRow> transmitters(const QList<int>& hosts) {
    QList<DeviceRow> rows;
    for (int host : hosts) {
        rows << DeviceRow{kNet + QString::number(host), 1102};
    }
    return rows;
}

QStringList addresses(const QList<int>& hosts) {
    QStringList list;
    for (int host : hosts) {
        list << kNet + QString::number(host);
    }
    return list;
}

}  // namespace

class TestReboot : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void reboot_data();
    void reboot();

private:
    Devsim sim_;
};

void TestReboot::initTestCase() {
    QVERIFY2(TestNetwork::active(), "run through scripts/testnet");
    for (int host = 70; host <= 74; ++host) {
        sim_.device(QStringLiteral("ip=198.51.100.%1,type=1102").arg(host));
    }
    sim_.device("ip=198.51.100.75,type=1102,http=hang");
    sim_.device("ip=198.51.100.76,type=1102,http=bad-request,http-status=200");
    // Rebooted devices are back at once for the next case.
    sim_.arg("--restart-seconds=0");
    QVERIFY2(sim_.start(), qPrintable(sim_.errorString()));
}

void TestReboot::init() {
    OperatorMessages::reset();
    OperatorMessages::setUnattended(true);
}

void TestReboot::cleanupTestCase() {
    OperatorMessages::reset();
    QCOMPARE(sim_.stop(), 0);
}

void TestReboot::reboot_data() {
    QTest::addColumn<QList<DeviceRow>>("devices");
    QTest::addColumn<Ticks>("ticks");
    QTest::addColumn<QStringList>("requests");   // addresses sent the command, in order
    QTest::addColumn<QStringList>("remaining");  // rows left, top to bottom
    QTest::addColumn<QList<int>>("stillTicked");
    QTest::addColumn<QString>("message");  // empty: no message at all

    const QList<DeviceRow> five = transmitters({70, 71, 72, 73, 74});
    QTest::newRow("rows 1 and 3 of five")
        << five << Ticks{{1, Qt::Checked}, {3, Qt::Checked}} << addresses({71, 73})
        << addresses({70, 72, 74}) << QList<int>{} << QStringLiteral("设备重启成功！");
    QTest::newRow("partially checked counts as ticked")
        << five << Ticks{{2, Qt::PartiallyChecked}} << addresses({72})
        << addresses({70, 71, 73, 74}) << QList<int>{} << QStringLiteral("设备重启成功！");
    QTest::newRow("no ticked row") << five << Ticks{} << QStringList{}
                                   << addresses({70, 71, 72, 73, 74}) << QList<int>{} << QString();
    // A device that never answers (hanging, or a host that drops everything) keeps its row
    // and its tick, and is named.
    QList<DeviceRow> mixed = transmitters({70, 71, 75});
    mixed << DeviceRow{TestNetwork::silentAddress(), 1102};
    QTest::newRow("silent devices stay ticked and are named")
        << mixed << Ticks{{0, Qt::Checked}, {1, Qt::Checked}, {2, Qt::Checked}, {3, Qt::Checked}}
        << addresses({70, 71, 75}) << QStringList{TestNetwork::silentAddress(), kNet + "75"}
        << QList<int>{0, 1}
        << QStringLiteral("已重启 2 台设备，以下 2 台设备没有应答：\n%1\n198.51.100.75")
               .arg(TestNetwork::silentAddress());
    // A device that refuses is named apart, and keeps its row and tick too.
    QTest::newRow("refusing device stays ticked and is named")
        << transmitters({70, 76}) << Ticks{{0, Qt::Checked}, {1, Qt::Checked}}
        << addresses({70, 76}) << addresses({76}) << QList<int>{0}
        << QStringLiteral("已重启 1 台设备，以下 1 台设备拒绝重启：\n198.51.100.76");
    // Which reply counts as an answer (29 bytes or 30, a refusal) is test_reboot_devices' table.
}

void TestReboot::reboot() {
    QFETCH(QList<DeviceRow>, devices);
    QFETCH(Ticks, ticks);
    QFETCH(QStringList, requests);
    QFETCH(QStringList, remaining);
    QFETCH(QList<int>, stillTicked);
    QFETCH(QString, message);

    Base_Frame window;
    window.show();
    showRows(window, devices);
    for (const auto& t : ticks) {
        tick(window, t.first, t.second);
    }
    const int before = sim_.records("http-in").size();

    QPushButton* button = window.findChild<QPushButton*>("reboot");
    QVERIFY(button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
    QElapsedTimer sinceClick;
    sinceClick.start();
    QVERIFY(!button->isEnabled());
    QVERIFY(idleWithin(window));

    QStringList sent;
    for (const DevsimRecord& r : sim_.records("http-in").mid(before)) {
        QCOMPARE(r.code, 1002);
        QCOMPARE(QJsonDocument::fromJson(r.body()).object(), QJsonObject({{"ProtocolCode", 1002}}));
        sent << r.device;
    }
    QCOMPARE(sent, requests);
    QCOMPARE(rowAddresses(window), remaining);
    for (int row = 0; row < remaining.size(); ++row) {
        QCOMPARE(tickOf(window, row) != Qt::Unchecked, stillTicked.contains(row));
    }

    QCOMPARE(shownTexts(), message.isEmpty() ? QStringList{} : QStringList{notice(message)});

    // The button comes back half a second after the action, not at once (a coarse timer may
    // fire a little early, and it started shortly before the click returned).
    QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 5000);
    QVERIFY2(sinceClick.elapsed() >= 400, qPrintable(QString::number(sinceClick.elapsed())));
}

QTEST_MAIN(TestReboot)
#include "test_reboot.moc"
