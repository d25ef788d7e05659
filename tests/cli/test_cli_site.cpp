// What corvane-cli says about the site: devices waited for after a restart, an upgrade or a
// network change (--wait, --expect-version), addresses two devices answer with, devices
// outside the tool's subnets, and a /22 of 1,000 devices. Each row starts its own simulated
// devices in the test network (scripts/testnet run --large) and runs the real program.
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "tests/cli/cli_run.h"
#include "tests/support/devsim_harness.h"

using corvane::test::Devsim;
using corvane::test::TestNetwork;

class TestCliSite : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (!TestNetwork::active()) {
            QSKIP("needs the simulated devices of the test network");
        }
        QVERIFY(QDir(dir_.path()).mkpath("update_app_tx"));
        image_ = dir_.filePath("update_app_tx/image.bin");
        QVERIFY(corvane::test::writeImage(image_, 300000));
    }

    void rows_data() {
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("out");       // regex; for --json on Qt's compact rewrite
        QTest::addColumn<QString>("err");       // regex; empty: nothing may be written
        QTest::addColumn<QStringList>("sent");  // "address=codes" the devices received

        QTest::newRow("reboot: one never back, one back late")
            << QStringList{"ip=198.51.100.10,restart=never", "ip=198.51.100.11,restart=7"}
            << QStringList{"reboot", "--wait", "14", "198.51.100.10", "198.51.100.11"} << 1
            << "^198\\.51\\.100\\.10: restarting\n198\\.51\\.100\\.11: restarting\n"
               "198\\.51\\.100\\.11: back after \\d+\\.\\d s\n$"
            << "^corvane-cli: 198\\.51\\.100\\.10: wait: not back within 14 s\n$"
            << QStringList{"198.51.100.10=1002", "198.51.100.11=1002"};
        QTest::newRow("upgrade to the version expected")
            << QStringList{"ip=198.51.100.20,fw-version=V4.0.0_20261201"}
            << QStringList{"upgrade", "--json",  "--wait",  "30",           "--expect-version",
                           "V4.",     "--image", "{image}", "198.51.100.20"}
            << 0
            << "^\\[\\{\"address\":\"198\\.51\\.100\\.20\",\"bytes\":300000,\"kind\":\"TX\","
               "\"ok\":true,\"wait\":\\{\"address\":\"198\\.51\\.100\\.20\",\"back\":true,"
               "\"seconds\":[\\d.]+,\"version\":\"V4\\.0\\.0_20261201\","
               "\"versionBefore\":\"V3[^\"]+\"\\}\\}\\]$"
            << "" << QStringList{"198.51.100.20="};
        QTest::newRow("upgrade that left the version as it was")
            << QStringList{"ip=198.51.100.21"}
            << QStringList{"upgrade", "--wait",  "30",      "--expect-version",
                           "V4.",     "--image", "{image}", "198.51.100.21"}
            << 1
            << "\n198\\.51\\.100\\.21: back with the same version V3\\S+ after [\\d.]+ s\n"
               "upgraded 0 of 1 device; failed: 198\\.51\\.100\\.21\n$"
            << "^corvane-cli: 198\\.51\\.100\\.21: version: back with version V3\\S+, which "
               "does not start with V4\\.\n$"
            << QStringList{"198.51.100.21="};
        QTest::newRow("net: back at the new address")
            << QStringList{"ip=198.51.100.30"}
            << QStringList{"net", "198.51.100.30", "--ip", "198.51.100.130", "--wait", "30"} << 0
            << "^198\\.51\\.100\\.30: restarting as 198\\.51\\.100\\.130 [^\n]*\n"
               "198\\.51\\.100\\.30: back at 198\\.51\\.100\\.130 after [\\d.]+ s\n$"
            << "" << QStringList{"198.51.100.30=1008,1002"};
        QTest::newRow("assign: each back at its new address")
            << QStringList{"ip=198.51.100.60", "ip=198.51.100.61"}
            << QStringList{"assign", "--from",        "198.51.100.160", "--wait",
                           "30",     "198.51.100.60", "198.51.100.61"}
            << 0
            << "\n198\\.51\\.100\\.60: back at 198\\.51\\.100\\.160 after [\\d.]+ s\n"
               "198\\.51\\.100\\.61: back at 198\\.51\\.100\\.161 after [\\d.]+ s\n$"
            << "" << QStringList{"198.51.100.60=1008,1002", "198.51.100.61=1008,1002"};

        const QStringList pair{"ip=198.51.100.40", "ip=198.51.100.41,report-ip=198.51.100.40"};
        QTest::newRow("scan: two devices with one address")
            << pair << QStringList{"scan"} << 1
            << "STATUS\n198\\.51\\.100\\.40 [^\n]* conflict\n198\\.51\\.100\\.40 [^\n]* "
               "conflict\n$"
            << "" << QStringList{};
        QTest::newRow("reboot --wait refuses the shared address")
            << pair << QStringList{"reboot", "--wait", "5", "198.51.100.40"} << 1 << "^$"
            << "^corvane-cli: 198\\.51\\.100\\.40: conflict: 2 devices answered the sweep with "
               "this address \\(MAC 02:43:56:33:64:2[89], 02:43:56:33:64:2[89]\\); the command "
               "could reach either, so nothing was sent\n$"
            << QStringList{"198.51.100.40=", "198.51.100.41="};
        QTest::newRow("backup reads nothing from the shared address")
            << pair << QStringList{"backup"} << 1
            << "\"step\":\\s+\"conflict\"[\\s\\S]*\"step\":\\s+\"conflict\""
            << "^(corvane-cli: 198\\.51\\.100\\.40: conflict: another device answered the sweep "
               "with this address; its settings could be either's, so nothing was read\n){2}$"
            << QStringList{"198.51.100.40=", "198.51.100.41="};
        QTest::newRow("scan: a device outside the tool's subnets")
            << QStringList{"ip=198.51.100.50", "ip=203.0.113.50"} << QStringList{"scan", "--json"}
            << 0
            << "\"address\":\"198\\.51\\.100\\.50\",[^}]*\"status\":\"ok\",[^}]*\\},"
               "\\{\"address\":\"203\\.0\\.113\\.50\",[^}]*\"status\":\"other-subnet\","
            << "" << QStringList{};
        if (!TestNetwork::largeAddresses().isEmpty()) {
            QTest::newRow("scan: 1,000 devices on a /22")
                << QStringList{"--fleet=1000",
                               "--addresses=" + TestNetwork::largeAddresses().join(' ')}
                << QStringList{"scan", "-q"} << 0 << "^(198\\.18\\.[0-3]\\.\\d+\n){1000}$"
                << "" << QStringList{};
        }
    }

    void rows() {
        QFETCH(QStringList, devices);
        QFETCH(QStringList, args);
        QFETCH(int, exit);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(QStringList, sent);
        args.replaceInStrings("{image}", image_);
        Devsim sim;
        for (const QString& d : devices) {
            if (d.startsWith("--")) {
                sim.arg(d);
            } else {
                sim.device(d);
            }
        }
        QVERIFY2(sim.start(Devsim::Where::DeviceHost, 60000), qPrintable(sim.errorString()));

        // Generous: the longest row waits 14 s for a device that never comes back.
        const corvane::test::CliRun run = corvane::test::runCli(args, 120000);
        QVERIFY2(run.exit != -1, "corvane-cli did not end within 120 s");
        const QString problem =
            corvane::test::streamProblem(run, args.contains("--json"), out, err);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(run.exit, exit);
        QStringList addresses;
        for (const QString& s : sent) {
            addresses << s.section('=', 0, 0);
        }
        QCOMPARE(corvane::test::receivedCodes(sim.records("http-in"), addresses), sent);
    }

private:
    QTemporaryDir dir_;
    QString image_;
};

QTEST_GUILESS_MAIN(TestCliSite)
#include "test_cli_site.moc"
