// The restart of several devices without a window, against simulated devices on loopback
// (127.0.0.175-179, commands on port 8175): who is asked in what order, who counts as
// restarting, silent or refusing, the pause after each device, what the batch reports of each
// and where a cancel stops it.
#include <QElapsedTimer>
#include <QtTest>

#include <atomic>

#include "maintenance/batch.h"
#include "tests/support/devsim_harness.h"

using corvane::maintenance::kRebootPauseMs;
using corvane::maintenance::RebootEvents;
using corvane::maintenance::RebootReply;
using corvane::test::Devsim;
using corvane::test::DevsimRecord;

class TestRebootDevices : public QObject {
    Q_OBJECT

private slots:
    void rebootInTurn() {
        Devsim sim;
        sim.device("ip=127.0.0.175,type=1102")
            .device("ip=127.0.0.176,type=307,http=size,http-size=29")
            .device("ip=127.0.0.178,type=307,http=size,http-size=30")
            // A refusal of some 70 bytes: long enough to pass for a confirmation by length.
            .device("ip=127.0.0.180,type=2000,http=bad-request,http-status=200")
            .args({"--no-udp", "--http-port=8175", "--restart-seconds=0"});
        QVERIFY2(sim.start(Devsim::Where::Here), qPrintable(sim.errorString()));

        // 177 has no device: refused at once, and still followed by the pause.
        const QStringList addresses{"127.0.0.175:8175", "127.0.0.176:8175", "127.0.0.177:8175",
                                    "127.0.0.178:8175", "127.0.0.180:8175"};
        const QVector<RebootReply> replies{RebootReply::Confirmed, RebootReply::Silent,
                                           RebootReply::Silent, RebootReply::Confirmed,
                                           RebootReply::Refused};
        QStringList events;
        RebootEvents log;
        log.started = [&events](int i) { events << QStringLiteral("started %1").arg(i); };
        log.outcome = [&events](int i, RebootReply reply) {
            events << QStringLiteral("outcome %1: %2").arg(i).arg(int(reply));
        };
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(corvane::maintenance::reboot_devices(addresses, log), replies);
        QVERIFY2(timer.elapsed() >= addresses.size() * kRebootPauseMs,
                 qPrintable(QString::number(timer.elapsed())));
        QStringList expected;
        for (int i = 0; i < replies.size(); ++i) {
            expected << QStringLiteral("started %1").arg(i)
                     << QStringLiteral("outcome %1: %2").arg(i).arg(int(replies[i]));
        }
        QCOMPARE(events, expected);

        const QList<DevsimRecord> requests = sim.records("http-in");
        QStringList asked;
        for (int i = 0; i < requests.size(); ++i) {
            QCOMPARE(requests.at(i).code, 1002);
            asked << requests.at(i).device;
            // The log's clock counts in milliseconds, coarser on some systems.
            const qint64 gap =
                i == 0 ? kRebootPauseMs : requests.at(i - 1).time.msecsTo(requests.at(i).time);
            QVERIFY2(gap >= kRebootPauseMs - 20, qPrintable(QString::number(gap)));
        }
        QCOMPARE(asked, QStringList({"127.0.0.175", "127.0.0.176", "127.0.0.178", "127.0.0.180"}));

        // A cancel set while a device is asked stops the batch before the next one.
        std::atomic<bool> cancel{false};
        RebootEvents stop;
        stop.outcome = [&cancel](int, RebootReply) { cancel = true; };
        QCOMPARE(corvane::maintenance::reboot_devices({"127.0.0.180:8175", "127.0.0.178:8175"},
                                                      stop, &cancel),
                 QVector<RebootReply>{RebootReply::Refused});
        QCOMPARE(sim.records("http-in").size(), requests.size() + 1);
        QCOMPARE(sim.stop(), 0);
    }
};

QTEST_GUILESS_MAIN(TestRebootDevices)
#include "test_reboot_devices.moc"
