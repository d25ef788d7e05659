// The restart of several devices without a window, against simulated devices on loopback
// (127.0.0.174-179, commands on port 8174): who is asked in what order, who counts as
// answered, and the pause after each device.
#include <QElapsedTimer>
#include <QtTest>

#include "devsim_harness.h"
#include "maintenance/reboot.h"

using corvane::maintenance::kRebootPauseMs;
using corvane::test::Devsim;
using corvane::test::DevsimRecord;

class TestRebootDevices : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        for (int host : {174, 175, 176}) {
            sim_.device(QStringLiteral("ip=127.0.0.%1,type=1102").arg(host));
        }
        sim_.device("ip=127.0.0.177,type=307,http=size,http-size=29");
        sim_.device("ip=127.0.0.178,type=307,http=size,http-size=30");
        sim_.args({"--no-udp", "--http-port=8174", "--restart-seconds=0"});
        QVERIFY2(sim_.start(Devsim::Where::Here), qPrintable(sim_.errorString()));
    }
    void cleanupTestCase() { QCOMPARE(sim_.stop(), 0); }

    void reboot_data() {
        QTest::addColumn<QList<int>>("hosts");
        QTest::addColumn<QVector<bool>>("answered");
        QTest::newRow("three devices")
            << QList<int>{174, 175, 176} << QVector<bool>{true, true, true};
        // 179 has no device: refused at once, and still followed by the pause.
        QTest::newRow("29 bytes, nobody, 30 bytes")
            << QList<int>{177, 179, 178} << QVector<bool>{false, false, true};
    }
    void reboot() {
        QFETCH(QList<int>, hosts);
        QFETCH(QVector<bool>, answered);
        QStringList addresses;
        QStringList expected;
        for (int host : hosts) {
            addresses << QStringLiteral("127.0.0.%1:8174").arg(host);
            if (host != 179) {
                expected << QStringLiteral("127.0.0.%1").arg(host);
            }
        }
        const int before = sim_.records("http-in").size();
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(corvane::maintenance::reboot_devices(addresses), answered);
        QVERIFY2(timer.elapsed() >= hosts.size() * kRebootPauseMs,
                 qPrintable(QString::number(timer.elapsed())));

        const QList<DevsimRecord> requests = sim_.records("http-in").mid(before);
        QStringList asked;
        for (int i = 0; i < requests.size(); ++i) {
            QCOMPARE(requests.at(i).code, 1002);
            asked << requests.at(i).device;
            // The log's clock counts in milliseconds, coarser on some systems.
            const qint64 gap =
                i == 0 ? kRebootPauseMs : requests.at(i - 1).time.msecsTo(requests.at(i).time);
            QVERIFY2(gap >= kRebootPauseMs - 20, qPrintable(QString::number(gap)));
        }
        QCOMPARE(asked, expected);
    }

private:
    Devsim sim_;
};

QTEST_GUILESS_MAIN(TestRebootDevices)
#include "test_reboot_devices.moc"
