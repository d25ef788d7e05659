// corvane-cli for a whole site, the real program in the test network with a router: devices
// on this side and behind the router, found by broadcast and by unicast; a site's settings
// kept, compared and put back; an upgrade of several devices at a time.
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include "tests/cli/cli_run.h"
#include "tests/support/devsim_harness.h"

using corvane::test::Devsim;
using corvane::test::DevsimRecord;
using corvane::test::TestNetwork;

namespace {

using Run = corvane::test::CliRun;

// Generous: the slowest row sweeps twice and reads a dozen devices.
Run cli(const QStringList& args) {
    return corvane::test::runCli(args, 90000);
}

const QString kTx = QStringLiteral("198.51.100.10");
const QString kRx = QStringLiteral("198.51.100.11");
const QString kKvm = QStringLiteral("198.51.100.12");
const QString kSpare = QStringLiteral("198.51.100.13");   // a transmitter not in the backup
const QString kUnread = QStringLiteral("198.51.100.14");  // refuses the audio read
const QString kFarTx = QStringLiteral("198.19.1.10");
const QString kFarRx = QStringLiteral("198.19.1.11");
// The site of the backup: both far devices by range, three near ones by target.
const QStringList kSite{"--range",  "198.19.1.0/24", "--target", "198.51.100.10,198.51.100.11",
                        "--target", "198.51.100.12"};

}  // namespace

class TestCliSiteRouter : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void backupReadsBack();
    void commands_data();
    void commands();
    void parallelUpgradeWithOneFailing();

private:
    // The ProtocolCodes each device received since the counts in `from`, "address=c,c,...".
    QStringList received(const QList<int>& from, const QStringList& devices) const;
    QList<int> counts(const QString& kind) const;

    Devsim near_;
    Devsim far_;
    QTemporaryDir dir_;
};

void TestCliSiteRouter::initTestCase() {
    QVERIFY2(TestNetwork::active() && !TestNetwork::farNetns().isEmpty(),
             "runs in the test network with --router");
    near_.arg("--restart-seconds=1")
        .device("ip=198.51.100.10,type=1102,stream0=EncodeMode:2/BitRate:8192/ImageSize:25")
        .device("ip=198.51.100.11,type=307")
        .device("ip=198.51.100.12,type=2000")
        .device("ip=198.51.100.13,type=1102")
        .device("ip=198.51.100.14,type=307,http=bad-request,http-only=1034");
    // Nine transmitters to upgrade, installing for a while; the fourth refuses its image.
    for (int i = 20; i <= 28; ++i) {
        near_.device(QStringLiteral("ip=198.51.100.%1,type=1102,fw-finish-delay=1500%2")
                         .arg(i)
                         .arg(i == 23 ? ",fw=finish-refuse" : ""));
    }
    far_.device("ip=198.19.1.10,type=1102").device("ip=198.19.1.11,type=307");
    QVERIFY2(near_.start(Devsim::Where::DeviceHost), qPrintable(near_.errorString()));
    QVERIFY2(far_.start(Devsim::Where::FarHost), qPrintable(far_.errorString()));
    QVERIFY(QDir(dir_.path()).mkpath("update_app_tx"));
    QVERIFY(corvane::test::writeImage(dir_.filePath("update_app_tx/image.bin"), 3 << 20));
    QFile damaged(dir_.filePath("damaged.json"));
    QVERIFY(damaged.open(QIODevice::WriteOnly) && damaged.write("{\"format\":\"corvane-site-") > 0);
}

void TestCliSiteRouter::cleanupTestCase() {
    QCOMPARE(near_.stop(), 0);
    QCOMPARE(far_.stop(), 0);
}

QList<int> TestCliSiteRouter::counts(const QString& kind) const {
    return {near_.records(kind).size(), far_.records(kind).size()};
}

QStringList TestCliSiteRouter::received(const QList<int>& from, const QStringList& devices) const {
    return corvane::test::receivedCodes(
        near_.records("http-in").mid(from[0]) + far_.records("http-in").mid(from[1]), devices);
}

// The backup of a mixed site, near and far, read back member by member.
void TestCliSiteRouter::backupReadsBack() {
    const QString file = dir_.filePath("site.json");
    const Run run = cli(QStringList{"backup", "--out", file} + kSite);
    QCOMPARE(run.err, QByteArray());
    QCOMPARE(run.exit, 0);
    QVERIFY2(run.out.endsWith("wrote 5 devices to " + file.toUtf8() + "\n"), run.out);
    QFile read(file);
    QVERIFY(read.open(QIODevice::ReadOnly));
    const QJsonObject site = QJsonDocument::fromJson(read.readAll()).object();
    QCOMPARE(site["format"].toString(), QString("corvane-site-settings"));
    QCOMPARE(site["version"].toInt(), 1);
    QVERIFY(site["tool"].toString().startsWith("corvane-cli "));
    QVERIFY(QDateTime::fromString(site["written"].toString(), Qt::ISODate).isValid());
    QMap<QString, QJsonObject> byAddress;
    for (const QJsonValue& d : site["devices"].toArray()) {
        byAddress[d["address"].toString()] = d.toObject();
    }
    QCOMPARE(byAddress.keys(), (QStringList{kFarTx, kFarRx, kTx, kRx, kKvm}));
    const QJsonObject tx = byAddress[kTx];
    QCOMPARE(tx["mac"].toString(), QString("02:43:56:33:64:0A"));
    QCOMPARE(tx["kind"].toString(), QString("TX"));
    QCOMPARE(tx["type"].toInt(), 1102);
    QCOMPARE(tx["firmware"].toString(), QString("V3.2.7_20240508"));
    QCOMPARE(tx["mask"].toString(), QString("255.255.255.0"));
    QCOMPARE(tx["gateway"].toString(), QString("198.51.100.1"));
    const QJsonObject settings = tx["settings"].toObject();
    QCOMPARE(settings["streams"].toArray().size(), 4);
    const QJsonObject main = settings["streams"].toArray()[0].toObject();
    QCOMPARE(main["EncodeMode"].toInt(), 2);
    QCOMPARE(main["BitRate"].toInt(), 8192);
    QCOMPARE(main["ImageSize"].toInt(), 25);
    QCOMPARE(settings["customSize"].toObject(), (QJsonObject{{"width", 1920}, {"height", 1080}}));
    QCOMPARE(settings["audioIn"].toInt(-1), 0);
    QCOMPARE(byAddress[kRx]["settings"].toObject(), (QJsonObject{{"audioOut", 2}}));
    QCOMPARE(byAddress[kKvm]["settings"].toObject(), (QJsonObject{{"audioOut", 2}}));
    QCOMPARE(byAddress[kFarRx]["gateway"].toString(), QString("198.19.1.1"));
    QCOMPARE(byAddress[kFarTx]["settings"].toObject()["streams"].toArray().size(), 4);

    // A version this tool does not know, written beside it for the rows below.
    QString text = QString::fromUtf8(QJsonDocument(site).toJson());
    text.replace("\"version\": 1", "\"version\": 2");
    QFile future(dir_.filePath("future.json"));
    QVERIFY(future.open(QIODevice::WriteOnly) && future.write(text.toUtf8()) > 0);
}

void TestCliSiteRouter::commands_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exit");
    QTest::addColumn<QString>("out");         // regex on stdout
    QTest::addColumn<QString>("err");         // regex on stderr; empty: nothing may be written
    QTest::addColumn<QStringList>("probed");  // the devices that got a discovery probe
    QTest::addColumn<QStringList>("sent");    // "address=codes" the devices received
    QTest::addColumn<QString>("bodies");      // regex on the requests' bodies; empty: any

    const QStringList none;
    // The probes of a sweep of the kept site.
    const QStringList siteProbed{kTx, kRx, kKvm, kFarTx, kFarRx, "far-unbound"};
    const QString site = "{dir}/site.json";

    // The broadcast does not cross the router; the unicast probe does, to the addresses named
    // and to no other.
    QTest::newRow("broadcast stays on this side")
        << QStringList{"scan", "-q"} << 0 << "^198\\.51\\.100\\.10\n(?!.*198\\.19)"
        << "" << QStringList{"near-broadcast"} << QStringList{} << QString();
    // Behind the router, in none of the tool's subnets: marked as the broadcast marks them.
    QTest::newRow("range behind the router")
        << QStringList{"scan", "--csv", "--range", "198.19.1.0/24", "--rate", "5000"} << 0
        << "^address,kind,version,mask,gateway,mac,uptime,status\n"
           "198\\.19\\.1\\.10,TX,[^\n]*,other-subnet\n198\\.19\\.1\\.11,RX,[^\n]*,other-subnet\n$"
        << "" << QStringList{kFarTx, kFarRx, "far-unbound"} << QStringList{} << QString();
    QTest::newRow("targets on both sides")
        << QStringList{"scan", "--csv", "--target", kFarRx, kRx} << 0
        << "^address,[^\n]*\n198\\.19\\.1\\.11,RX,[^\n]*,other-subnet\n"
           "198\\.51\\.100\\.11,RX,[^\n]*,ok\n$"
        << "" << QStringList{kFarRx, kRx} << QStringList{} << QString();
    QTest::newRow("range over a /16 refused")
        << QStringList{"scan", "--range", "198.18.0.0/16", "--range", "198.19.1.0/24"} << 2 << "^$"
        << "more than 65536 addresses" << none << QStringList{} << QString();
    QTest::newRow("range with host bits refused")
        << QStringList{"upgrade", "--image", "{image}", "--range", "198.19.1.10/24", kFarTx} << 2
        << "^$"
        << "198\\.19\\.1\\.10/24 has host bits set" << none << QStringList{} << QString();
    QTest::newRow("broadcast target refused")
        << QStringList{"backup", "--target", "255.255.255.255"} << 2 << "^$"
        << "no device address" << none << QStringList{} << QString();

    QTest::newRow("diff of the site as kept")
        << (QStringList{"diff", site} + kSite) << 0 << "^$"
        << "" << siteProbed
        << QStringList{kTx + "=1022,3129,3052", kRx + "=1034", kFarTx + "=1022,3052"} << QString();
    QTest::newRow("stream 2 changed")
        << QStringList{"video", kTx, "--stream", "2", "--bitrate", "512"} << 0 << ""
        << "" << none << QStringList{kTx + "=1022,3129,1024,1022,3129"} << QString();
    QTest::newRow("audio output changed")
        << QStringList{"audio", kFarRx, "--output", "jack"} << 0 << ""
        << "" << none << QStringList{kFarRx + "=1034,1036,1034"} << QString();
    // The spare is new to the file, the far transmitter is left out of the sweep.
    QTest::newRow("diff lists each change")
        << QStringList{"diff",     site,
                       "--range",  "198.51.100.12/31",
                       "--target", "198.51.100.10,198.51.100.11," + kFarRx}
        << 1
        << "^- 02:43:56:13:01:0A 198\\.19\\.1\\.10\n"
           "~ 02:43:56:33:64:0A 198\\.51\\.100\\.10 stream 2 BitRate: \\d+ -> 512\n"
           "~ 02:43:56:13:01:0B 198\\.19\\.1\\.11 audio-out: 2 -> 1\n"
           "\\+ 02:43:56:33:64:0D 198\\.51\\.100\\.13\n$"
        << "" << QStringList{kTx, kRx, kKvm, kSpare, kFarRx} << QStringList{kFarTx + "="}
        << QString();
    QTest::newRow("dry run sends only reads")
        << (QStringList{"restore", site, "--dry-run"} + kSite) << 0
        << "198\\.51\\.100\\.10: would write stream 2 BitRate: 512 -> \\d+\n"
        << "" << siteProbed << QStringList{kTx + "=1022,3129,3052", kFarRx + "=1034"} << QString();
    QTest::newRow("restore writes what changed")
        << (QStringList{"restore", site} + kSite) << 0
        << "198\\.51\\.100\\.10: wrote stream 2\n.*198\\.19\\.1\\.11: wrote audio-out\n"
        << "" << siteProbed
        << QStringList{kTx + "=1022,3129,3052,1024,1022,3129", kRx + "=1034", kKvm + "=1034",
                       kFarTx + "=1022,3052", kFarRx + "=1034,1036,1034"}
        << QString();
    QTest::newRow("diff after the restore") << (QStringList{"diff", site} + kSite) << 0 << "^$"
                                            << "" << siteProbed << QStringList{} << QString();
    // The spare takes the settings of the kept transmitter: stream 1 with its custom size.
    QTest::newRow("restore onto a replacement")
        << QStringList{"restore", site,   "--from-mac", "02:43:56:33:64:0a",
                       "--to",    kSpare, "--target",   kSpare}
        << 0 << "^198\\.51\\.100\\.13: wrote stream 1\n$"
        << "" << QStringList{kSpare}
        << QStringList{kSpare + "=1022,3052,3131,1024,1022,3129", kTx + "="} << QString();
    // The network window's check: the kept address answered the sweep from another device.
    QTest::newRow("network onto a replacement, its address taken")
        << QStringList{"restore", site,        "--from-mac", "02:43:56:33:64:0A", "--to",
                       kSpare,    "--network", "--target",   kSpare + "," + kTx}
        << 1 << "^$"
        << "^corvane-cli: 198\\.51\\.100\\.13: network: 198\\.51\\.100\\.10 answered the "
           "sweep from another device; nothing was sent\n$"
        << QStringList{kSpare, kTx} << QStringList{kSpare + "=1022,3129,3052", kTx + "="}
        << QString();
    // The replacement takes the far transmitter's streams and address, and keeps its own MAC.
    QTest::newRow("network onto a replacement, its MAC kept")
        << QStringList{"restore",   site,       "--from-mac", "02:43:56:13:01:0A", "--to", kSpare,
                       "--network", "--target", kSpare}
        << 0
        << "^198\\.51\\.100\\.13: wrote stream 1\n198\\.51\\.100\\.13: wrote network "
           ".*restarting\n$"
        << "" << QStringList{kSpare} << QStringList{kSpare + "=1022,3129,3052,1024,1022,1008,1002"}
        << "\"IP\":\\s*\"198\\.19\\.1\\.10\".*\"MacAddr\":\\s*\"02:43:56:33:64:0D\"";
    QTest::newRow("damaged file refused")
        << QStringList{"restore", "{dir}/damaged.json"} << 2 << "^$"
        << "damaged\\.json' is refused: not a JSON object" << none
        << QStringList{kTx + "=", kFarTx + "="} << QString();
    QTest::newRow("future version refused")
        << QStringList{"restore", "{dir}/future.json", "--network"} << 2 << "^$"
        << "future\\.json' is refused: format version 2; this tool reads only 1" << none
        << QStringList{kTx + "=", kFarTx + "="} << QString();
    QTest::newRow("future version refused by diff")
        << QStringList{"diff", "{dir}/future.json"} << 2 << "^$"
        << "format version 2" << none << QStringList{} << QString();
    // A device whose settings cannot be read is kept with its failure, and a diff that cannot
    // read it does not say that nothing changed.
    QTest::newRow("backup with a device that cannot be read")
        << QStringList{"backup", "--out", "{dir}/part.json", "--target", kUnread + "," + kRx} << 1
        << "^198\\.51\\.100\\.11: 02:43:56:33:64:0B RX kept\nwrote 2 devices to "
        << "^corvane-cli: 198\\.51\\.100\\.14: audio-out: no audio output setting in the "
           "reply\n$"
        << QStringList{kRx, kUnread} << QStringList{kUnread + "=1034", kRx + "=1034"} << QString();
    QTest::newRow("diff of a device that cannot be read")
        << QStringList{"diff", "{dir}/part.json", "--target", kUnread + "," + kRx} << 1 << "^$"
        << "^corvane-cli: 198\\.51\\.100\\.14: audio-out: no audio output setting in the "
           "reply\n$"
        << QStringList{kRx, kUnread} << QStringList{kUnread + "=1034", kRx + "=1034"} << QString();
    // The sweeps of the wait go where the first one went: the far device is found again.
    QTest::newRow("reboot waited for behind the router")
        << QStringList{"reboot", "--wait", "60", "--target", kFarRx, kFarRx} << 0
        << "^198\\.19\\.1\\.11: restarting\n198\\.19\\.1\\.11: back after [0-9.]+ s\n$"
        << "" << QStringList{kFarRx} << QStringList{kFarRx + "=1002"} << QString();
    QTest::newRow("reboot sweep options without wait refused")
        << QStringList{"reboot", "--range", "198.19.1.0/24", kFarRx} << 2 << "^$"
        << "--range, --target and --rate go with --wait" << none << QStringList{kFarRx + "="}
        << QString();
}

void TestCliSiteRouter::commands() {
    QFETCH(QStringList, args);
    QFETCH(int, exit);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QStringList, probed);
    QFETCH(QStringList, sent);
    QFETCH(QString, bodies);
    args.replaceInStrings("{dir}", dir_.path());
    args.replaceInStrings("{image}", dir_.filePath("update_app_tx/image.bin"));
    QStringList devices;
    for (const QString& s : sent) {
        devices << s.section('=', 0, 0);
    }
    const QList<int> http = counts("http-in");
    const QList<int> udp = counts("udp-in");
    const Run run = cli(args);
    const QString problem = corvane::test::streamProblem(
        run, false, out, err, QRegularExpression::DotMatchesEverythingOption);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(run.exit, exit);
    QCOMPARE(received(http, devices), sent);
    QByteArray sentBodies;
    for (const DevsimRecord& r : near_.records("http-in").mid(http[0])) {
        sentBodies += r.body();
    }
    QVERIFY2(QRegularExpression(bodies, QRegularExpression::DotMatchesEverythingOption)
                 .match(QString::fromUtf8(sentBodies))
                 .hasMatch(),
             sentBodies.constData());
    // Where the probes landed: a device's own socket, or the simulator's wildcard socket of
    // either side, for the broadcast or for a unicast probe to an address no device holds.
    QStringList got;
    auto landed = [&got](const QList<DevsimRecord>& records, const QString& side) {
        for (const DevsimRecord& r : records) {
            const QString label = r.device != "*"                          ? r.device
                                  : r.local.startsWith("255.255.255.255:") ? side + "-broadcast"
                                                                           : side + "-unbound";
            if (!got.contains(label)) {
                got << label;
            }
        }
    };
    landed(near_.records("udp-in").mid(udp[0]), "near");
    landed(far_.records("udp-in").mid(udp[1]), "far");
    got.sort();
    probed.sort();
    QCOMPARE(got, probed);
}

// Eight devices at a time: each has its own connection, all eight are connected before the
// first has its image confirmed (the devices take 1.5 s to install), the ninth only when one
// is done; the refused image fails that device alone.
void TestCliSiteRouter::parallelUpgradeWithOneFailing() {
    QStringList devices;
    for (int i = 20; i <= 28; ++i) {
        devices << QStringLiteral("198.51.100.%1").arg(i);
    }
    const int from = near_.records().size();
    const Run run = cli(QStringList{"upgrade", "--parallel", "8", "--kind", "tx", "--image",
                                    dir_.filePath("update_app_tx/image.bin")} +
                        devices);
    QCOMPARE(run.exit, 1);
    QVERIFY2(run.out.endsWith("upgraded 8 of 9 devices; failed: 198.51.100.23\n"), run.out);
    QCOMPARE(run.err, QByteArray("corvane-cli: 198.51.100.23: finish: the image was not "
                                 "confirmed (no OK in the reply)\n"));
    for (const QString& d : devices) {
        // Each device's own progress lines and result.
        QVERIFY2(run.out.contains(d.toUtf8() + ": 100%"), qPrintable(d));
        QCOMPARE(run.out.contains(d.toUtf8() + ": upgraded (3145728 bytes in "), d != devices[3]);
    }
    const QList<DevsimRecord> records = near_.records().mid(from);
    QStringList accepted;
    QSet<QString> finished;  // devices whose finish command came
    int firstReply = -1;     // connections made before the first finish was answered
    for (const DevsimRecord& r : records) {
        if (r.kind == "fw-accept") {
            accepted << r.device;
        } else if (r.kind == "fw-image") {
            finished << r.device;
        } else if (r.kind == "fw-out" && finished.contains(r.device) && firstReply < 0) {
            firstReply = accepted.size();
        }
    }
    QCOMPARE(accepted.size(), 9);
    QCOMPARE(firstReply, 8);
    QCOMPARE(QSet<QString>(accepted.begin(), accepted.begin() + 8),
             QSet<QString>(devices.begin(), devices.begin() + 8));
    QCOMPARE(accepted.last(), devices.last());
}

QTEST_GUILESS_MAIN(TestCliSiteRouter)
#include "test_cli_site_router.moc"
