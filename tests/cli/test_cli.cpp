// corvane-cli as a script runs it: the real program against simulated devices inside the test
// network and the silent host. Each row checks the exit status, the lines on both streams (the
// JSON read back by Qt's parser), and which commands each device received. Outside the test
// network (a Windows build under wine) only the rows that need no device run.
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#ifndef Q_OS_WIN
#include <csignal>
#endif

#include "tests/cli/cli_run.h"
#include "tests/support/devsim_harness.h"

using corvane::test::Devsim;
using corvane::test::DevsimRecord;
using corvane::test::TestNetwork;

namespace {

const QStringList kDevices{
    "ip=198.51.100.10,type=1102,stream3=EncodeMode:1/ImageSize:2/Profile:0/FrameRate:15/"
    "MaxFrameRate:30",
    "ip=198.51.100.11,type=307",
    "ip=198.51.100.12,type=2000,http=bad-request,http-status=200,http-only=1008/1002",
    "ip=198.51.100.14,type=1102,http=hang",
    "ip=198.51.100.15,type=1102,http=slow,http-piece=1,http-interval=300",
    "ip=198.51.100.16,type=307,http=size,http-size=30,http-only=1036",
    "ip=198.51.100.20,type=1102",
    "ip=198.51.100.21,type=1102,fw=start-refuse",
    "ip=198.51.100.22,type=1102",
    "ip=198.51.100.23,type=1102,fw=start-mute",
    // Out of every sweep, so that only the upgrade row sees it.
    "ip=198.51.100.24,type=1102,udp=silent,fw=drop,fw-drop=200000",
    // Takes an image slowly (about 4 s), out of every sweep: the Ctrl-C rows stop during it.
    "ip=198.51.100.25,type=1102,udp=silent,fw=slow,fw-rate=1048576",
    "ip=198.51.100.26,type=1102,udp=silent,fw=slow,fw-rate=1048576",
    "ip=198.51.100.30,type=307",
    "ip=198.51.100.31,type=307",
    "ip=198.51.100.40,type=2000",
    "ip=198.51.100.41,type=2000",
    "ip=198.51.100.50,type=307",
    "ip=198.51.100.60,type=1102,stream3=Profile:omit",
};
// Read from a configuration file: a comma, quotation marks, an escape sequence and a
// right-to-left override; then versions a spreadsheet would take for formulas.
const char kOddDevices[] =
    "{\"devices\":[{\"ip\":\"198.51.100.13\",\"type\":1200,"
    "\"version\":\"V9,\\\"b\\\"\\u001b[31m\\u202ex\"},"
    "{\"ip\":\"198.51.100.42\",\"type\":2000,\"version\":\"=1+1\"},"
    "{\"ip\":\"198.51.100.43\",\"type\":2000,\"version\":\"+1\"},"
    "{\"ip\":\"198.51.100.44\",\"type\":2000,\"version\":\"-1\"},"
    "{\"ip\":\"198.51.100.45\",\"type\":2000,\"version\":\"@SUM(A1)\\u2066\"}]}";

using Run = corvane::test::CliRun;

// Generous: the slowest row waits out two silent devices and a sweep.
Run cli(const QStringList& args) {
    return corvane::test::runCli(args, 60000);
}

QString lines(const QStringList& addresses) {
    return QStringLiteral("^") + QRegularExpression::escape(addresses.join('\n')) + "\n$";
}

}  // namespace

class TestCli : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void commands_data();
    void commands();
    void upgradeOfThreeWithTheMiddleFailing();
    void interrupted_data();
    void interrupted();

private:
    // The ProtocolCodes each device received since `from` records, as "address=c,c,...".
    QStringList received(int from, const QStringList& devices) const;

    Devsim sim_;
    QTemporaryDir dir_;
    QString image_;
    QString empty_;  // an image of no bytes, named for the transmitters
};

void TestCli::initTestCase() {
    if (!TestNetwork::active()) {
        return;
    }
    QFile config(dir_.filePath("devices.json"));
    QVERIFY(config.open(QIODevice::WriteOnly) && config.write(kOddDevices) > 0);
    config.close();
    // A folder named for the transmitters' image, with a file of three and a half pieces.
    QVERIFY(QDir(dir_.path()).mkpath("update_app_tx"));
    image_ = dir_.filePath("update_app_tx/image.bin");
    QFile image(image_);
    QVERIFY(image.open(QIODevice::WriteOnly));
    for (int i = 0; i < 3670; ++i) {
        image.write(
            QCryptographicHash::hash(QByteArray::number(i), QCryptographicHash::Md5).repeated(64));
    }
    image.close();
    empty_ = dir_.filePath("update_app_tx/empty.bin");
    QFile empty(empty_);
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();

    sim_.arg("--config=" + config.fileName()).arg("--restart-seconds=1");
    for (const QString& device : kDevices) {
        sim_.device(device);
    }
    QVERIFY2(sim_.start(), qPrintable(sim_.errorString()));
}

void TestCli::cleanupTestCase() {
    if (TestNetwork::active()) {
        QCOMPARE(sim_.stop(), 0);
    }
}

QStringList TestCli::received(int from, const QStringList& devices) const {
    return corvane::test::receivedCodes(sim_.records("http-in").mid(from), devices);
}

void TestCli::commands_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exit");
    QTest::addColumn<QString>("out");       // regex on stdout; for --json on Qt's compact rewrite
    QTest::addColumn<QString>("err");       // regex on stderr; empty: nothing may be written
    QTest::addColumn<QStringList>("sent");  // "address=codes" the devices received

    const QString silent = TestNetwork::silentAddress();
    const QString tx = QStringLiteral("198.51.100.10");
    const QString rx = QStringLiteral("198.51.100.11");
    QTest::newRow("version") << QStringList{"--version"} << 0 << "^corvane-cli 2\\.1\n$"
                             << "" << QStringList{};
    QTest::newRow("help lists every command")
        << QStringList{"help"} << 0
        << "\n  scan .*\n  reboot .*\n  net .*\n  assign .*\n  audio .*\n  audio-in .*\n"
           "  video .*\n  upgrade .*"
        << "" << QStringList{};
    QTest::newRow("help of a command")
        << QStringList{"video", "--help"} << 0 << "(?s)^Usage: corvane-cli video .*--fps N"
        << "" << QStringList{};
    // The sweep options' paragraph is put into the help of every command that sweeps, beside
    // the wait's.
    QTest::newRow("help of a sweeping command")
        << QStringList{"upgrade", "--help"} << 0
        << "(?s)\n  --parallel N [^\n]*\n  --range CIDR .*\n  --rate N [^\n]*\n"
           "  --wait SECONDS .*\n  --expect-version PREFIX .*\n  --json "
        << "" << QStringList{};
    QTest::newRow("no command") << QStringList{} << 2 << "^$"
                                << "no command given" << QStringList{};
    QTest::newRow("unknown command") << QStringList{"frob"} << 2 << "^$"
                                     << "'frob' is not a command" << QStringList{};
    QTest::newRow("unknown option")
        << QStringList{"scan", "--frob"} << 2 << "^$"
        << "^corvane-cli: scan: Unknown option 'frob'; see" << QStringList{};
    QTest::newRow("not an address") << QStringList{"audio-in", "198.51.100"} << 2 << "^$"
                                    << "'198.51.100' is not a dotted IPv4 address" << QStringList{};
    QTest::newRow("timeout under the silence rule")
        << QStringList{"reboot", "--timeout", "1", "198.51.100.60"} << 2 << "^$"
        << "--timeout takes seconds from 1.5" << QStringList{"198.51.100.60="};
    // The path comes back whole: the arguments and the messages are Unicode on every system.
    QTest::newRow("upgrade without an image file")
        << QStringList{"upgrade", "--image", "/nonexistent/固件/update_app_tx", "198.51.100.20"}
        << 2 << "^$"
        << "'/nonexistent/固件/update_app_tx' is not a file; see '[^']*'\n$" << QStringList{};
    QTest::newRow("expect-version without wait")
        << QStringList{"upgrade",
                       "--kind",
                       "tx",
                       "--expect-version",
                       "V4",
                       "--image",
                       QCoreApplication::applicationFilePath(),
                       "198.51.100.20"}
        << 2 << "^$"
        << "--expect-version needs --wait" << QStringList{"198.51.100.20="};
    if (!TestNetwork::active()) {
        return;
    }

    // Transmitters (1200 among them), receivers, KVM receivers, each by address.
    QTest::newRow("scan groups and orders")
        << QStringList{"scan", "-q"} << 0
        << lines({"198.51.100.10", "198.51.100.13", "198.51.100.14", "198.51.100.15",
                  "198.51.100.20", "198.51.100.21", "198.51.100.22", "198.51.100.23",
                  "198.51.100.60", "198.51.100.11", "198.51.100.16", "198.51.100.30",
                  "198.51.100.31", "198.51.100.50", "198.51.100.12", "198.51.100.40",
                  "198.51.100.41", "198.51.100.42", "198.51.100.43", "198.51.100.44",
                  "198.51.100.45"})
        << "" << QStringList{};
    QTest::newRow("scan table keeps escapes off the terminal")
        << QStringList{"scan", "--kind", "TX", "--version-prefix", "V9"} << 0
        << "^ADDRESS +KIND +VERSION .*\n198\\.51\\.100\\.13  TX +V9,\"b\"\\?\\[31m\\?x +255"
        << "" << QStringList{};
    QTest::newRow("scan csv filtered and quoted")
        << QStringList{"scan", "--csv", "--version-prefix", "V9"} << 0
        << "^address,kind,version,mask,gateway,mac,uptime,status\n"
           "198\\.51\\.100\\.13,TX,\"V9,\"\"b\"\"\\?\\[31m\\?x\",255\\."
           "255\\.255\\.0,[^,]+,[^,]+,[^,\n]+,ok\n$"
        << "" << QStringList{};
    QTest::newRow("scan csv formulas kept as text")
        << QStringList{"scan", "--csv", "--kind", "kvm_rx"} << 0
        << "\n198\\.51\\.100\\.42,KVM_RX,'=1\\+1,[^\n]*\n198\\.51\\.100\\.43,KVM_RX,'\\+1,"
           "[^\n]*\n198\\.51\\.100\\.44,KVM_RX,'-1,[^\n]*\n198\\.51\\.100\\.45,KVM_RX,"
           "'@SUM\\(A1\\)\\?,[^\n]*\n$"
        << "" << QStringList{};
    QTest::newRow("scan json")
        << QStringList{"scan", "--json", "--kind", "kvm_rx"} << 0
        << "^\\[\\{\"address\":\"198\\.51\\.100\\.12\",[^}]*\"kind\":\"KVM_RX\",[^}]*"
           "\"type\":2000,[^}]*\\},\\{\"address\":\"198\\.51\\.100\\.40\"[^]]*41[^]]*\\]$"
        << "" << QStringList{};
    QTest::newRow("scan json exact")
        << QStringList{"scan", "--json", "--version-prefix", "V9"} << 0
        << "\"type\":1200,.*\"version\":\"V9,\\\\\"b\\\\\"\\\\u001b\\[31m\u202ex\""
        << "" << QStringList{};

    QTest::newRow("audio-in read")
        << QStringList{"audio-in", tx} << 0 << "^198\\.51\\.100\\.10: input=hdmi\n$"
        << "" << QStringList{tx + "=3052"};
    // Leading zeros are decimal: the request and the line go to 198.51.100.10.
    QTest::newRow("address with leading zeros")
        << QStringList{"audio-in", "198.051.100.010"} << 0 << "^198\\.51\\.100\\.10: input=hdmi\n$"
        << "" << QStringList{tx + "=3052"};
    QTest::newRow("audio-in written and read back")
        << QStringList{"audio-in", tx, "--input", "jack", "--json"} << 0
        << "^\\[\\{\"address\":\"198\\.51\\.100\\.10\",\"input\":\"jack\",\"ok\":true\\}\\]$"
        << "" << QStringList{tx + "=3052,3054,3052"};
    QTest::newRow("audio written and read back")
        << QStringList{"audio", rx, "--display", "2", "--output", "jack"} << 0
        << "^198\\.51\\.100\\.11: display=2 output=jack\n$"
        << "" << QStringList{rx + "=1034,1036,1034"};
    QTest::newRow("audio write not accepted")
        << QStringList{"audio", "198.51.100.16", "--output", "hdmi"} << 1 << "^$"
        << "^corvane-cli: 198\\.51\\.100\\.16: write: not accepted \\(a reply of 30 bytes; 31"
        << QStringList{"198.51.100.16=1034,1036"};
    QTest::newRow("audio of a transmitter")
        << QStringList{"audio", tx} << 1 << "^$"
        << "198\\.51\\.100\\.10: read: the reply holds no audio output"
        << QStringList{tx + "=1034"};
    QTest::newRow("silent host, then a device")
        << QStringList{"audio-in", silent, tx} << 1 << "^198\\.51\\.100\\.10: input=jack\n$"
        << "^corvane-cli: 198\\.51\\.100\\.3: read: no answer\n$" << QStringList{tx + "=3052"};
    QTest::newRow("device that never answers")
        << QStringList{"audio-in", "198.51.100.14", "--json"} << 1
        << "\"error\":\"no answer\",\"ok\":false,\"step\":\"read\""
        << "14: read: no answer" << QStringList{"198.51.100.14=3052"};
    // A reply of one byte each 300 ms would take some 20 s; the bound ends it.
    QTest::newRow("slow device bounded by --timeout")
        << QStringList{"audio-in", "198.51.100.15", "--timeout", "2"} << 1 << "^$"
        << "15: read: no answer" << QStringList{"198.51.100.15=3052"};

    QTest::newRow("video stream shown")
        << QStringList{"video", tx, "--stream", "4"} << 0
        << "^198\\.51\\.100\\.10: stream=4 codec=mjpeg quality=\\S+ bitrate=\\d+ rate-mode=\\S+ "
           "fps=15 max-fps=30 size=CIF follow-input=\\S+ gop=\\d+ profile=base\n$"
        << "" << QStringList{tx + "=1022"};
    QTest::newRow("video frame rate 0 refused")
        << QStringList{"video", tx, "--stream", "2", "--fps", "0"} << 1 << "^$"
        << "10: check: the frame rate must not be 0; nothing written" << QStringList{tx + "=1022"};
    QTest::newRow("video written and read back")
        << QStringList{"video", tx,       "--codec",  "H265",  "--bitrate",
                       "2048",  "--size", "1000x500", "--json"}
        << 0
        << "^\\[\\{\"address\":\"198\\.51\\.100\\.10\",\"ok\":true,\"streams\":\\[\\{\"bitrate\":"
           "2048,\"codec\":\"h265\",.*\"size\":\"custom:1000x500\",\"stream\":1\\}\\]\\}\\]$"
        << "" << QStringList{tx + "=1022,3131,1024,1022,3129"};
    // Stream 1 is on the custom size from here on, so every read asks for it too. Stream 4
    // takes at most 30 frames a second.
    QTest::newRow("video write refused")
        << QStringList{"video", tx, "--stream", "4", "--fps", "40"} << 1 << "^$"
        << "10: write: refused: FrameRate out of range\n$" << QStringList{tx + "=1022,3129,1024"};
    // .60 leaves the profile out of stream 4, before and after a write.
    QTest::newRow("video value neither read nor given")
        << QStringList{"video", "198.51.100.60", "--stream", "4", "--fps", "20"} << 1 << "^$"
        << "60: read: the reply gives no Profile for stream 4; nothing written"
        << QStringList{"198.51.100.60=1022"};
    QTest::newRow("video value the device does not keep")
        << QStringList{"video", "198.51.100.60", "--stream", "4", "--profile", "main"} << 1 << "^$"
        << "60: read-back: profile is -1, main was written"
        << QStringList{"198.51.100.60=1022,1024,1022"};
    QTest::newRow("video custom size refused, stream not sent")
        << QStringList{"video", "198.51.100.60", "--size", "custom:8x8"} << 1 << "^$"
        << "60: write: refused: width and height must be 16 to 8192"
        << QStringList{"198.51.100.60=1022,3131"};
    QTest::newRow("video bit rate outside the list")
        << QStringList{"video", tx, "--bitrate", "1000"} << 2 << "^$"
        << "--bitrate takes one" << QStringList{tx + "="};
    QTest::newRow("video custom size on stream 2")
        << QStringList{"video", tx, "--stream", "2", "--size", "1000x500"} << 2 << "^$"
        << "only stream 1 takes a custom size" << QStringList{tx + "="};

    QTest::newRow("reboot") << QStringList{"reboot", "198.51.100.60", silent} << 1
                            << "^198\\.51\\.100\\.60: restarting\n$"
                            << "^corvane-cli: 198\\.51\\.100\\.3: restart: no confirmation"
                            << QStringList{"198.51.100.60=1002"};
    QTest::newRow("reboot refused") << QStringList{"reboot", "198.51.100.12"} << 1 << "^$"
                                    << "^corvane-cli: 198\\.51\\.100\\.12: restart: refused"
                                    << QStringList{"198.51.100.12=1002"};
    QTest::newRow("net settings refused, no restart")
        << QStringList{"net", "198.51.100.12", "--mask", "255.255.0.0"} << 1 << "^$"
        << "12: settings: refused: request refused by device\n$"
        << QStringList{"198.51.100.12=1008"};
    QTest::newRow("net MAC not of six pairs")
        << QStringList{"net", "198.51.100.50", "--mac", "zz:zz"} << 2 << "^$"
        << "--mac: 'zz:zz' is not six pairs of hex digits" << QStringList{"198.51.100.50="};
    QTest::newRow("net mask not contiguous")
        << QStringList{"net", "198.51.100.50", "--mask", "255.0.255.0"} << 2 << "^$"
        << "--mask: '255\\.0\\.255\\.0' is not a netmask" << QStringList{"198.51.100.50="};
    QTest::newRow("net onto another device's address")
        << QStringList{"net", "198.51.100.50", "--ip", "198.51.100.11"} << 1 << "^$"
        << "50: check: its new address 198\\.51\\.100\\.11 answered the sweep; nothing was sent"
        << QStringList{"198.51.100.50=", "198.51.100.11="};
    QTest::newRow("net keeps what is not given")
        << QStringList{"net", "198.51.100.50", "--ip", "198.51.100.150"} << 0
        << "^198\\.51\\.100\\.50: restarting as 198\\.51\\.100\\.150 mask 255\\.255\\.255\\.0 "
           "gateway 198\\.51\\.100\\.1 mac 02:43:56:33:64:32\n$"
        << "" << QStringList{"198.51.100.50=1008,1002"};
    QTest::newRow("net of a device the sweep misses")
        << QStringList{"net", silent, "--mask", "255.255.0.0"} << 1 << "^$"
        << "198\\.51\\.100\\.3: sweep: did not answer" << QStringList{};
    QTest::newRow("assign leaving the /24")
        << QStringList{"assign",        "--from",        "198.51.100.253",
                       "198.51.100.30", "198.51.100.31", "198.51.100.40"}
        << 2 << "^$"
        << "3 addresses from 198\\.51\\.100\\.253 run to 198\\.51\\.100\\.255, outside"
        << QStringList{"198.51.100.30=", "198.51.100.31=", "198.51.100.40="};
    QTest::newRow("assign onto an answering address")
        << QStringList{"assign", "--from", "198.51.100.41", "198.51.100.40", "198.51.100.30"} << 1
        << "^$"
        << "40: check: its new address 198\\.51\\.100\\.41 answered the sweep"
        << QStringList{"198.51.100.40=", "198.51.100.30=", "198.51.100.41="};
    QTest::newRow("assign swapping two devices")
        << QStringList{"assign", "--from", "198.51.100.40", "198.51.100.41", "198.51.100.40"} << 1
        << "^$"
        << "41: check: its new address 198\\.51\\.100\\.40 answered"
        << QStringList{"198.51.100.40=", "198.51.100.41="};
    QTest::newRow("assign") << QStringList{"assign", "--from", "198.51.100.130", "198.51.100.30",
                                           "198.51.100.31"}
                            << 0
                            << "^198\\.51\\.100\\.30: restarting as 198\\.51\\.100\\.130 .*\n"
                               "198\\.51\\.100\\.31: restarting as 198\\.51\\.100\\.131 .*\n$"
                            << ""
                            << QStringList{"198.51.100.30=1008,1002", "198.51.100.31=1008,1002"};
    QTest::newRow("assign of the address a device has")
        << QStringList{"assign", "--from", "198.51.100.40", "198.51.100.40"} << 0
        << "^198\\.51\\.100\\.40: has 198\\.51\\.100\\.40 already"
        << "" << QStringList{"198.51.100.40="};

    QTest::newRow("upgrade name rule of the kind given")
        << QStringList{"upgrade", "--kind", "rx", "--image", "{image}", "198.51.100.20"} << 1
        << "upgraded 0 of 1 device"
        << "20: name-rule: .* update_app_application-vwc" << QStringList{};
    QTest::newRow("upgrade bounded by --timeout")
        << QStringList{"upgrade", "--timeout", "1", "--image", "{image}", "198.51.100.23"} << 1
        << "upgraded 0 of 1 device"
        << "23: start: no reply within 1 s" << QStringList{};
    QTest::newRow("upgrade with an empty image")
        << QStringList{"upgrade", "--kind", "tx", "--image", "{empty}", "198.51.100.20"} << 1
        << "upgraded 0 of 1 device"
        << "20: file: the image is empty" << QStringList{};
    QTest::newRow("upgrade cut mid-image")
        << QStringList{"upgrade", "--kind", "tx", "--image", "{image}", "198.51.100.24"} << 1
        << "upgraded 0 of 1 device"
        // Under load the whole image can sit in the socket buffers before the cut arrives; the
        // tool then learns of it at the finish step. Either way it must say the device closed.
        << "24: (image: the device closed the connection while the image was being sent|finish: "
           "the device closed the connection without confirming the image)\n$"
        << QStringList{};
}

void TestCli::commands() {
    QFETCH(QStringList, args);
    QFETCH(int, exit);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QStringList, sent);
    args.replaceInStrings("{image}", image_);
    args.replaceInStrings("{empty}", empty_);

    QStringList devices;
    for (const QString& s : sent) {
        devices << s.section('=', 0, 0);
    }
    const int from = sim_.records("http-in").size();
    QElapsedTimer clock;
    clock.start();
    const Run run = cli(args);
    // A bounded wait ends well before the one it replaces (10 s a request, 20 s an upgrade
    // step, some 20 s for the slow reply).
    QVERIFY(!args.contains("--timeout") || clock.elapsed() < 8000);
    const QString problem = corvane::test::streamProblem(run, args.contains("--json"), out, err);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(run.exit, exit);
    QCOMPARE(received(from, devices), sent);
}

void TestCli::upgradeOfThreeWithTheMiddleFailing() {
    if (!TestNetwork::active()) {
        QSKIP("needs the simulated devices of the test network");
    }
    const QStringList devices{"198.51.100.20", "198.51.100.21", "198.51.100.22"};
    const int accepted = sim_.records("fw-accept").size();
    const int images = sim_.records("fw-image").size();
    const Run run = cli(QStringList{"upgrade", "--image", image_} + devices);

    QCOMPARE(run.exit, 1);
    QVERIFY2(QRegularExpression("^corvane-cli: 198\\.51\\.100\\.21: start: refused[^\n]*\n$")
                 .match(QString::fromUtf8(run.err))
                 .hasMatch(),
             run.err.constData());
    // Plain progress lines (no terminal), the outcome of each device, then the summary.
    // The rate and time left are unknown until a second piece went out: the first one only
    // fills the system's buffers.
    QVERIFY2(QRegularExpression("^198\\.51\\.100\\.20: +2\\d%  -- MB/s  --:-- left\n"
                                "(.*\n)*198\\.51\\.100\\.20: 100%  [\\d.]+ MB/s  \\d+:\\d\\d left\n"
                                "198\\.51\\.100\\.20: upgraded \\(3758080 bytes in [\\d.]+ s\\); "
                                "restarting\n"
                                "(198\\.51\\.100\\.22: .*%.*\n)+"
                                "198\\.51\\.100\\.22: upgraded .*\n"
                                "upgraded 2 of 3 devices; failed: 198\\.51\\.100\\.21\n$")
                 .match(QString::fromUtf8(run.out))
                 .hasMatch(),
             run.out.constData());

    // One device after the other, in the order given; only the two good ones took the image.
    QStringList order;
    for (const DevsimRecord& r : sim_.records("fw-accept").mid(accepted)) {
        order << r.device;
    }
    QCOMPARE(order, devices);
    QFile file(image_);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString sha =
        QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
    QStringList took;
    for (const DevsimRecord& r : sim_.records("fw-image").mid(images)) {
        QCOMPARE(r.raw.value("sha256").toString(), sha);
        took << r.device;
    }
    QCOMPARE(took, (QStringList{devices[0], devices[2]}));
}

// Ctrl-C while the first of three devices takes its image: the first stops the run after that
// device, which gets the whole image, and the summary says what was left; a second ends the
// program at once. Two at a time, both devices at work finish and only the third is left.
void TestCli::interrupted_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("slow");  // the devices at work when the Ctrl-C comes
    QTest::addColumn<int>("interrupts");
    QTest::addColumn<int>("exit");
    QTest::addColumn<QString>("out");  // a pattern of the whole standard output
    QTest::addColumn<int>("images");   // whole images delivered

    const QStringList one{"198.51.100.25"};

    QTest::newRow("one, lines")
        << QStringList{} << one << 1 << 1
        << "(198\\.51\\.100\\.25: .*\n)*198\\.51\\.100\\.25: upgraded .*\n"
           "upgraded 1 of 3 devices; stopped, not tried: 198\\.51\\.100\\.20, 198\\.51\\.100\\.22\n"
        << 1;
    // On Qt's compact rewrite, members in alphabetical order.
    QTest::newRow("one, JSON")
        << QStringList{"--json"} << one << 1 << 1
        << "\\[\\{\"address\":\"198\\.51\\.100\\.25\",[^}]*\"ok\":true\\},"
           "\\{\"address\":\"198\\.51\\.100\\.20\",\"error\":\"not tried[^\"]*\",\"ok\":false,"
           "\"step\":\"stopped\"\\},"
           "\\{\"address\":\"198\\.51\\.100\\.22\",[^}]*\"step\":\"stopped\"\\}\\]\n"
        << 1;
    QTest::newRow("two") << QStringList{"--json"} << one << 2 << 130 << "" << 0;
    QTest::newRow("one, two at a time")
        << QStringList{"--parallel", "2"} << QStringList{"198.51.100.25", "198.51.100.26"} << 1 << 1
        << "(198\\.51\\.100\\.2[56]: .*\n)*"
           "upgraded 2 of 3 devices; stopped, not tried: 198\\.51\\.100\\.20\n"
        << 2;
}

void TestCli::interrupted() {
    if (!TestNetwork::active()) {
        QSKIP("needs the simulated devices of the test network");
    }
#ifdef Q_OS_WIN
    QSKIP("signals are a POSIX matter; the console handler is not driven here");
#else
    QFETCH(QStringList, options);
    QFETCH(QStringList, slow);
    QFETCH(int, interrupts);
    QFETCH(int, exit);
    QFETCH(QString, out);
    QFETCH(int, images);

    for (const QString& device : slow) {
        // Back from the restart its last image caused, if any.
        QTRY_COMPARE_WITH_TIMEOUT(sim_.records("restart-up", device, 0).size(),
                                  sim_.records("fw-image", device, 0).size(), 15000);
    }
    const int accepted = sim_.records("fw-accept").size();
    const int delivered = sim_.records("fw-image").size();
    const QStringList fast =
        QStringList{"198.51.100.20", "198.51.100.22"}.mid(0, 3 - int(slow.size()));
    QProcess p;
    p.start(QStringLiteral(CORVANE_CLI_PATH),
            QStringList{"upgrade", "--kind", "tx", "--image", image_} + options + slow + fast);
    QVERIFY(p.waitForStarted(10000));
    // Connected to the slow devices: the batch runs, its interrupt handling in place.
    for (const QString& device : slow) {
        QTRY_VERIFY_WITH_TIMEOUT(!sim_.records("fw-accept", device, accepted).isEmpty(), 10000);
    }
    ::kill(pid_t(p.processId()), SIGINT);
    if (interrupts == 2) {
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += p.readAllStandardError()).contains("Ctrl-C again"), 5000);
        ::kill(pid_t(p.processId()), SIGINT);
    }
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), exit);
    QByteArray printed = p.readAllStandardOutput();
    if (options.contains("--json") && !printed.isEmpty()) {
        printed = QJsonDocument::fromJson(printed).toJson(QJsonDocument::Compact) + '\n';
    }
    QVERIFY2(QRegularExpression("^" + out + "$", QRegularExpression::DotMatchesEverythingOption)
                 .match(QString::fromUtf8(printed))
                 .hasMatch(),
             printed.constData());
    // Only the slow devices were reached; the whole image, or (at once) none of it.
    QStringList reached;
    for (const DevsimRecord& r : sim_.records("fw-accept").mid(accepted)) {
        reached << r.device;
    }
    reached.sort();
    QCOMPARE(reached, slow);
    QCOMPARE(sim_.records("fw-image").size() - delivered, images);
#endif
}

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
