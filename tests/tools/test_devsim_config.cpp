// How the simulator understands its devices: key=value texts, the JSON file, fleets,
// and the command line as a whole.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "devsim_config.h"
#include "tests/support/devsim_harness.h"

using namespace devsim;

class TestDevsimConfig : public QObject {
    Q_OBJECT
private slots:
    void deviceText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("check");  // "field=value" read back, or the error's key

        QTest::newRow("ip and type") << "ip=198.51.100.10,type=307" << true << "type=307";
        QTest::newRow("any kind number") << "ip=198.51.100.10,type=4242" << true << "type=4242";
        QTest::newRow("mac upper-cased")
            << "ip=1.2.3.4,mac=0a:0b:0c:0d:0e:0f" << true << "mac=0A:0B:0C:0D:0E:0F";
        QTest::newRow("udp twice") << "ip=1.2.3.4,udp=twice" << true << "udp=twice";
        QTest::newRow("udp late is a delay")
            << "ip=1.2.3.4,udp=late,udp-delay=250" << true << "udp-delay=250";
        QTest::newRow("http size") << "ip=1.2.3.4,http=size,http-size=30" << true << "http-size=30";
        QTest::newRow("http-only list")
            << "ip=1.2.3.4,http=empty,http-only=1008/1002" << true << "http-only=1008/1002";
        QTest::newRow("keys ignore case") << "IP=1.2.3.4,Type=2000" << true << "type=2000";
        QTest::newRow("bad ip") << "ip=198.51.100.256" << false << "ip";
        QTest::newRow("ip with leading zero") << "ip=198.51.100.010" << false << "ip";
        QTest::newRow("bad mac") << "ip=1.2.3.4,mac=00:11:22:33:44" << false << "mac";
        QTest::newRow("type negative") << "ip=1.2.3.4,type=-1" << false << "type";
        QTest::newRow("type too big") << "ip=1.2.3.4,type=4294967296" << false << "type";
        QTest::newRow("unknown udp mode") << "ip=1.2.3.4,udp=sometimes" << false << "udp";
        QTest::newRow("unknown http mode") << "ip=1.2.3.4,http=teapot" << false << "http";
        QTest::newRow("status out of range")
            << "ip=1.2.3.4,http-status=99" << false << "http-status";
        QTest::newRow("piece of zero bytes") << "ip=1.2.3.4,http-piece=0" << false << "http-piece";
        QTest::newRow("unknown key") << "ip=1.2.3.4,colour=red" << false << "colour";
        QTest::newRow("no equals") << "ip=1.2.3.4,twice" << false << "twice";
        QTest::newRow("two streams") << "ip=1.2.3.4,streams=2" << true << "streams=2";
        QTest::newRow("five streams") << "ip=1.2.3.4,streams=5" << false << "streams";
        QTest::newRow("stream values and omissions")
            << "ip=1.2.3.4,stream1=bitrate:20480/ImageSize:23;FrameRate:omit" << true
            << "stream1=BitRate:20480/ImageSize:23/FrameRate:omit";
        QTest::newRow("stream member unknown")
            << "ip=1.2.3.4,stream0=Colour:1" << false << "Colour";
        QTest::newRow("stream value not a number")
            << "ip=1.2.3.4,stream0=BitRate:fast" << false << "stream0";
        QTest::newRow("no fifth stream") << "ip=1.2.3.4,stream4=BitRate:128" << false << "stream4";
        QTest::newRow("restart seconds") << "ip=1.2.3.4,restart=20" << true << "restart=20";
        QTest::newRow("restart never") << "ip=1.2.3.4,restart=Never" << true << "restart=never";
        QTest::newRow("restart past an hour") << "ip=1.2.3.4,restart=3601" << false << "restart";
        QTest::newRow("reported address")
            << "ip=1.2.3.4,report-ip=1.2.3.5" << true << "report-ip=1.2.3.5";
        QTest::newRow("reported address not dotted")
            << "ip=1.2.3.4,report-ip=1.2.3" << false << "report-ip";
        QTest::newRow("finish delay")
            << "ip=1.2.3.4,fw-finish-delay=2000" << true << "fw-finish-delay=2000";
        QTest::newRow("finish delay negative")
            << "ip=1.2.3.4,fw-finish-delay=-1" << false << "fw-finish-delay";
    }
    void deviceText() {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(QString, check);
        DeviceProfile profile;
        QString error;
        QCOMPARE(applyDeviceText(profile, text, &error), ok);
        if (!ok) {
            QVERIFY2(error.contains(check), qPrintable(error));
            return;
        }
        const QString key = check.section('=', 0, 0);
        const QString want = check.section('=', 1);
        QString got;
        if (key == "type")
            got = QString::number(profile.type);
        if (key == "mac")
            got = profile.mac;
        if (key == "udp")
            got = udpModeName(profile.udp);
        if (key == "udp-delay")
            got = QString::number(profile.udpDelayMs);
        if (key == "http-size")
            got = QString::number(profile.httpSize);
        if (key == "streams")
            got = QString::number(profile.streamCount);
        if (key == "stream1")
            got = streamFaultText(profile, 1);
        if (key == "restart")
            got = restartSecondsValue(profile.restartSeconds).toVariant().toString();
        if (key == "report-ip")
            got = profile.reportIp;
        if (key == "fw-finish-delay")
            got = QString::number(profile.firmwareFinishDelayMs);
        if (key == "http-only") {
            QStringList codes;
            for (int c : profile.httpOnly)
                codes << QString::number(c);
            got = codes.join('/');
        }
        QCOMPARE(got, want);
    }

    void httpOnlyLimitsTheFault() {
        DeviceProfile profile;
        QVERIFY(applyDeviceText(profile, "ip=1.2.3.4,http=empty,http-only=1002", nullptr));
        QVERIFY(profile.httpFaultApplies(1002));
        QVERIFY(!profile.httpFaultApplies(1008));
        DeviceProfile all;
        QVERIFY(all.httpFaultApplies(1008));
    }

    void completionFillsTheBlanks() {
        DeviceProfile profile;
        QVERIFY(applyDeviceText(profile, "ip=203.0.113.77,type=307", nullptr));
        completeDevice(profile, 2);
        QCOMPARE(profile.mac, QStringLiteral("02:43:56:00:71:4D"));
        QCOMPARE(profile.gateway, QStringLiteral("203.0.113.1"));
        QCOMPARE(profile.name, QStringLiteral("RX-077"));
        QCOMPARE(profile.uptimeSeconds, qint64(3600 + 2 * 437));
        // The tool keeps these in fixed fields: version under 24, MAC 17 characters.
        QVERIFY(profile.version.size() < 24);
        QCOMPARE(profile.mac.size(), 17);
    }

    void addressLists_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("last");
        QTest::newRow("spaces") << "198.51.100.10 198.51.100.11" << 2 << "198.51.100.11";
        QTest::newRow("commas") << "198.51.100.10,203.0.113.5" << 2 << "203.0.113.5";
        QTest::newRow("range") << "198.51.100.10-254" << 245 << "198.51.100.254";
        QTest::newRow("two ranges")
            << "198.51.100.10-254 203.0.113.10-254" << 490 << "203.0.113.254";
        QTest::newRow("one-address range") << "10.0.0.7-7" << 1 << "10.0.0.7";
        QTest::newRow("backwards") << "198.51.100.20-10" << -1 << "";
        QTest::newRow("past 255") << "198.51.100.20-256" << -1 << "";
        QTest::newRow("not an address") << "devicehost" << -1 << "";
    }
    void addressLists() {
        QFETCH(QString, text);
        QFETCH(int, count);
        QFETCH(QString, last);
        QStringList out;
        QString error;
        const bool ok = expandAddressList(text, &out, &error);
        QCOMPARE(ok, count >= 0);
        if (!ok)
            return;
        QCOMPARE(out.size(), count);
        QCOMPARE(out.last(), last);
    }

    void fleetCyclesKindsAndSkipsTakenAddresses() {
        QStringList addresses;
        QVERIFY(expandAddressList("198.51.100.10-15", &addresses, nullptr));
        QList<DeviceProfile> fleet;
        QString error;
        QVERIFY(makeFleet(5, addresses, {"198.51.100.11"}, "udp=twice", &fleet, &error));
        QCOMPARE(fleet.size(), 5);
        QCOMPARE(fleet.at(0).ip, QStringLiteral("198.51.100.10"));
        QCOMPARE(fleet.at(1).ip, QStringLiteral("198.51.100.12"));
        const quint32 kinds[] = {1102, 307, 1200, 2000, 1102};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(fleet.at(i).type, kinds[i]);
            QCOMPARE(fleet.at(i).udp, UdpMode::Twice);
        }
        QList<DeviceProfile> typed;
        QVERIFY(makeFleet(3, addresses, {}, "type=307", &typed, &error));
        for (const DeviceProfile& d : typed)
            QCOMPARE(d.type, 307u);
        QList<DeviceProfile> tooMany;
        QVERIFY(!makeFleet(6, addresses, {"198.51.100.11"}, "", &tooMany, &error));
        QVERIFY(error.contains("only 5 free"));
    }

    void configFile() {
        const QByteArray text = R"({
            "httpPort": 8080, "udp": false, "restartSeconds": 1, "log": "x.jsonl",
            "imageHash": false,
            "defaults": {"version": "V9", "udp-delay": 20},
            "devices": [
                {"ip": "198.51.100.10", "type": 1102},
                {"ip": "198.51.100.11", "type": 307, "http": "size", "http-size": 30,
                 "http-only": [1008, 1002], "udp-delay": 0}
            ],
            "fleet": {"count": 2, "addresses": "198.51.100.10-13"}
        })";
        SimConfig config;
        QString error;
        QVERIFY2(parseConfigJson(text, &config, &error), qPrintable(error));
        QCOMPARE(config.httpPort, 8080);
        QCOMPARE(config.udp, false);
        QCOMPARE(config.imageHash, false);
        QCOMPARE(config.restartSeconds, 1);
        QCOMPARE(config.logPath, QStringLiteral("x.jsonl"));
        QCOMPARE(config.devices.size(), 4);
        QCOMPARE(config.devices.at(0).version, QStringLiteral("V9"));
        QCOMPARE(config.devices.at(0).udpDelayMs, 20);
        QCOMPARE(config.devices.at(1).udpDelayMs, 0);  // the device overrides the default
        QCOMPARE(config.devices.at(1).http, HttpMode::Size);
        QCOMPARE(config.devices.at(1).httpOnly, (QList<int>{1008, 1002}));
        // The fleet takes the addresses the listed devices left free.
        QCOMPARE(config.devices.at(2).ip, QStringLiteral("198.51.100.12"));
        QCOMPARE(config.devices.at(3).ip, QStringLiteral("198.51.100.13"));
        QCOMPARE(config.devices.at(3).version, QStringLiteral("V9"));
        QVERIFY(validateConfig(config, &error));
    }

    void fleetAddressesAsArray() {
        SimConfig config;
        QString error;
        QVERIFY2(parseConfigJson(
                     R"({"fleet":{"count":3,"addresses":["203.0.113.10-11","198.51.100.9"]}})",
                     &config, &error),
                 qPrintable(error));
        QCOMPARE(config.devices.size(), 3);
        QCOMPARE(config.devices.at(1).ip, QStringLiteral("203.0.113.11"));
        QCOMPARE(config.devices.at(2).ip, QStringLiteral("198.51.100.9"));
    }

    void badConfigFiles_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("not json") << QByteArray("{devices:[]}") << "config:";
        QTest::newRow("array") << QByteArray("[]") << "not an object";
        QTest::newRow("unknown member") << QByteArray(R"({"device":[]})") << "unknown member";
        QTest::newRow("port text") << QByteArray(R"({"httpPort":"80"})") << "httpPort";
        QTest::newRow("port fraction") << QByteArray(R"({"httpPort":80.5})") << "httpPort";
        QTest::newRow("udp number") << QByteArray(R"({"udp":1})") << "udp";
        QTest::newRow("restart true")
            << QByteArray(R"({"restartSeconds":true})") << "restartSeconds";
        QTest::newRow("hash text") << QByteArray(R"({"imageHash":"no"})") << "imageHash";
        QTest::newRow("device without ip")
            << QByteArray(R"({"devices":[{"type":307}]})") << "has no ip";
        QTest::newRow("device bad key")
            << QByteArray(R"({"devices":[{"ip":"1.2.3.4","udp":"loud"}]})") << "devices[0]";
        QTest::newRow("device nested object")
            << QByteArray(R"({"devices":[{"ip":"1.2.3.4","type":{"x":1}}]})") << "type";
        QTest::newRow("fleet without count")
            << QByteArray(R"({"fleet":{"addresses":"1.2.3.4"}})") << "count";
    }
    void badConfigFiles() {
        QFETCH(QByteArray, text);
        QFETCH(QString, message);
        SimConfig config;
        QString error;
        QVERIFY(!parseConfigJson(text, &config, &error));
        QVERIFY2(error.contains(message), qPrintable(error));
    }

    void validation_data() {
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<QString>("message");
        QTest::newRow("none") << QStringList{} << "no devices";
        QTest::newRow("same ip") << QStringList{"ip=1.2.3.4", "ip=1.2.3.4,type=307"}
                                 << "used twice";
        QTest::newRow("same mac") << QStringList{"ip=1.2.3.4,mac=02:00:00:00:00:01",
                                                 "ip=1.2.3.5,mac=02:00:00:00:00:01"}
                                  << "used twice";
        QTest::newRow("fine") << QStringList{"ip=1.2.3.4", "ip=1.2.3.5"} << "";
    }
    void validation() {
        QFETCH(QStringList, devices);
        QFETCH(QString, message);
        SimConfig config;
        for (int i = 0; i < devices.size(); ++i) {
            DeviceProfile d;
            QVERIFY(applyDeviceText(d, devices.at(i), nullptr));
            completeDevice(d, i);
            config.devices << d;
        }
        QString error;
        QCOMPARE(validateConfig(config, &error), message.isEmpty());
        QVERIFY2(error.contains(message), qPrintable(error));
    }

    // The whole command line, through the program itself.
    void commandLine() {
        QTemporaryDir dir;
        QFile file(dir.filePath("devices.json"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(R"({"devices":[{"ip":"198.51.100.10","type":307,"restart":"never"}],)"
                   R"("restartSeconds":9})");
        file.close();
        QProcess p;
        p.start(corvane::test::Devsim::binaryPath(),
                {"--config", file.fileName(), "--device", "ip=198.51.100.20,udp=twice",
                 "--defaults", "version=V7", "--fleet", "2", "--addresses",
                 "198.51.100.10 198.51.100.30-40", "--http-port", "8081", "--no-udp",
                 "--restart-seconds", "never", "--no-image-hash", "--print-config"});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        const QJsonObject all = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
        QCOMPARE(all.value("httpPort").toInt(), 8081);
        QCOMPARE(all.value("udp").toBool(), false);
        QCOMPARE(all.value("imageHash").toBool(), false);
        // The option beats the file.
        QCOMPARE(all.value("restartSeconds").toString(), QStringLiteral("never"));
        const QJsonArray devices = all.value("devices").toArray();
        QCOMPARE(devices.size(), 4);
        QCOMPARE(devices.at(0).toObject().value("type").toInt(), 307);
        QCOMPARE(devices.at(0).toObject().value("restart").toString(), QStringLiteral("never"));
        QCOMPARE(devices.at(1).toObject().value("restart").toInt(), -1);
        QCOMPARE(devices.at(1).toObject().value("udp").toString(), QStringLiteral("twice"));
        QCOMPARE(devices.at(1).toObject().value("version").toString(), QStringLiteral("V7"));
        QCOMPARE(devices.at(2).toObject().value("ip").toString(), QStringLiteral("198.51.100.30"));
        QCOMPARE(devices.at(3).toObject().value("ip").toString(), QStringLiteral("198.51.100.31"));
    }

    void commandLineErrors_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("no devices") << QStringList{} << "no devices";
        QTest::newRow("bad device") << QStringList{"--device", "ip=1.2.3"} << "--device";
        QTest::newRow("device without ip") << QStringList{"--device", "type=307"} << "no ip";
        QTest::newRow("bad port") << QStringList{"--device", "ip=1.2.3.4", "--http-port", "0"}
                                  << "--http-port";
        QTest::newRow("bad restart time")
            << QStringList{"--device", "ip=1.2.3.4", "--restart-seconds", "soon"}
            << "--restart-seconds";
        QTest::newRow("missing file")
            << QStringList{"--config", "/nonexistent/devsim.json"} << "cannot read";
        QTest::newRow("stray argument")
            << QStringList{"--device", "ip=1.2.3.4", "extra"} << "unexpected argument";
        QTest::newRow("fleet without addresses")
            << QStringList{"--fleet", "3", "--addresses", ""} << "only 0 free";
    }
    void commandLineErrors() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QProcess p;
        p.start(corvane::test::Devsim::binaryPath(), arguments << "--print-config");
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        QVERIFY2(err.contains(message), qPrintable(err));
    }
};

QTEST_GUILESS_MAIN(TestDevsimConfig)
#include "test_devsim_config.moc"
