// The commands of the network and audio windows without a window: the exact documents on the
// wire, the accept rule, the reads and the field checks, against a scripted peer on
// 127.0.0.160.
#include <QHostAddress>
#include <QTcpServer>
#include <QtTest>
#include <functional>

#include "protocol/config_commands.h"
#include "tests/support/scripted_peer.h"

using namespace corvane::config;

// One command exchange with `address`; returns the write's verdict (reads: whether usable).
using Call = std::function<bool(const std::string& address)>;
Q_DECLARE_METATYPE(Call)
Q_DECLARE_METATYPE(NetworkField)
Q_DECLARE_METATYPE(NetworkOutcome)

namespace {

const char kPeerIp[] = "127.0.0.160";
const quint16 kPeerPort = 8160;
const std::string kPeerAddress = "127.0.0.160:8160";
const quint16 kQuietPort = 8161;

// A reply body of exactly `length` bytes that looks like a device's answer.
QByteArray bodyOfLength(int length) {
    const QByteArray head = "{\"Result\":0,\"Message\":\"";
    if (length < head.size() + 2) {
        return QByteArray(length, 'x');
    }
    return head + QByteArray(length - head.size() - 2, 'x') + "\"}";
}

struct Seen {
    QByteArray request;
    bool verdict = false;
};

// Runs `call` against a peer that answers `body`, and reports what the peer received.
Seen runAgainstPeer(const Call& call, const QByteArray& body) {
    Seen seen;
    seen.request = ScriptedPeer::exchange(kPeerIp, kPeerPort, body,
                                          [&] { seen.verdict = call(kPeerAddress); });
    return seen;
}

const NetworkSettings kSettings{"198.51.100.77", "255.255.255.0", "198.51.100.1",
                                "02:43:56:00:00:4D"};

Call networkCall(const NetworkSettings& settings) {
    return [settings](const std::string& a) { return writeNetworkSettings(a, settings).accepted; };
}
Call restartCall() {
    return [](const std::string& a) { return restartDevice(a).accepted; };
}
Call rxWriteCall(int display, int output) {
    return [=](const std::string& a) { return writeRxAudio(a, display, output).accepted; };
}
Call txWriteCall(int input) {
    return [=](const std::string& a) { return writeTxAudio(a, input).accepted; };
}

}  // namespace

class TestConfigCommands : public QObject {
    Q_OBJECT

private slots:
    void documentsOnTheWire_data();
    void documentsOnTheWire();
    void acceptRule_data();
    void acceptRule();
    void receiverAudioReads_data();
    void receiverAudioReads();
    void transmitterAudioReads_data();
    void transmitterAudioReads();
    void refusedFieldsSendNothing_data();
    void refusedFieldsSendNothing();
};

void TestConfigCommands::documentsOnTheWire_data() {
    QTest::addColumn<Call>("call");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("1008") << networkCall(kSettings)
                          << QByteArray(
                                 "{\n\t\"ProtocolCode\":\t1008,\n\t\"Parameters\":\t[{\n"
                                 "\t\t\t\"LanNo\":\t0,\n"
                                 "\t\t\t\"IP\":\t\"198.51.100.77\",\n"
                                 "\t\t\t\"SubNetMask\":\t\"255.255.255.0\",\n"
                                 "\t\t\t\"GateWay\":\t\"198.51.100.1\",\n"
                                 "\t\t\t\"MacAddr\":\t\"02:43:56:00:00:4D\"\n\t\t}]\n}");
    // Empty fields are sent as empty texts: the device judges them.
    QTest::newRow("1008 empty fields")
        << networkCall(NetworkSettings{})
        << QByteArray(
               "{\n\t\"ProtocolCode\":\t1008,\n\t\"Parameters\":\t[{\n"
               "\t\t\t\"LanNo\":\t0,\n\t\t\t\"IP\":\t\"\",\n\t\t\t\"SubNetMask\":\t\"\",\n"
               "\t\t\t\"GateWay\":\t\"\",\n\t\t\t\"MacAddr\":\t\"\"\n\t\t}]\n}");
    QTest::newRow("1002") << restartCall() << QByteArray("{\n\t\"ProtocolCode\":\t1002\n}");
    QTest::newRow("1034") << Call([](const std::string& a) { return readRxAudio(a).usable; })
                          << QByteArray(
                                 "{\n\t\"ProtocolCode\":\t1034,\n\t\"Parameters\":\t{\n"
                                 "\t\t\"DisplayId\":\t1\n\t}\n}");
    QTest::newRow("1036") << rxWriteCall(2, 1)
                          << QByteArray(
                                 "{\n\t\"ProtocolCode\":\t1036,\n\t\"Parameters\":\t{\n"
                                 "\t\t\"DisplayId\":\t2,\n\t\t\"AoDevId\":\t1\n\t}\n}");
    QTest::newRow("3052") << Call([](const std::string& a) { return readTxAudio(a).audio_in >= 0; })
                          << QByteArray("{\n\t\"ProtocolCode\":\t3052\n}");
    QTest::newRow("3054") << txWriteCall(1)
                          << QByteArray(
                                 "{\n\t\"ProtocolCode\":\t3054,\n\t\"Parameters\":\t{\n"
                                 "\t\t\"AudioIn\":\t1\n\t}\n}");
}

// Member order, integers against texts, the one-element array of 1008, the formatted text.
void TestConfigCommands::documentsOnTheWire() {
    QFETCH(Call, call);
    QFETCH(QByteArray, body);
    const Seen seen = runAgainstPeer(call, bodyOfLength(47));
    const int split = seen.request.indexOf("\r\n\r\n");
    QVERIFY2(split > 0, seen.request.constData());
    QVERIFY2(seen.request.startsWith("POST / HTTP/1.1\r\n"), seen.request.constData());
    QCOMPARE(seen.request.mid(split + 4), body);
}

void TestConfigCommands::acceptRule_data() {
    QTest::addColumn<Call>("call");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("accepted");

    auto row = [](const char* name, const Call& call, const QByteArray& reply, bool accepted) {
        QTest::newRow(name) << call << reply << accepted;
    };
    const Call net = networkCall(kSettings);
    row("1008 empty", net, "", false);
    row("1008 29", net, bodyOfLength(29), false);
    row("1008 30", net, bodyOfLength(30), true);
    row("1008 5000", net, bodyOfLength(5000), true);
    row("1002 29", restartCall(), bodyOfLength(29), false);
    row("1002 30", restartCall(), bodyOfLength(30), true);
    row("1036 empty", rxWriteCall(1, 2), "", false);
    row("1036 30", rxWriteCall(1, 2), bodyOfLength(30), false);
    row("1036 31", rxWriteCall(1, 2), bodyOfLength(31), true);
    row("1036 2000", rxWriteCall(1, 2), bodyOfLength(2000), true);
    row("3054 30", txWriteCall(0), bodyOfLength(30), false);
    row("3054 31", txWriteCall(0), bodyOfLength(31), true);
    // A refusal is as long as a confirmation: "Result" below 0 fails whatever the length.
    row("1008 refused", net, R"({"Message":"IP is not valid","ProtocolCode":1008,"Result":-1})",
        false);
    row("1002 unknown to the device", restartCall(),
        R"({"Message":"command not supported by this device","ProtocolCode":1002,"Result":-2})",
        false);
    row("1036 refused", rxWriteCall(1, 2),
        R"({"Message":"AoDevId must be 1 or 2","ProtocolCode":1036,"Result":-1})", false);
    row("3054 refused, lower-case key", txWriteCall(0),
        R"({"message":"AudioIn must be 0 or 1","result":-1})", false);
    row("3054 refused, -1.0", txWriteCall(0),
        R"({"Message":"AudioIn must be 0 or 1","Result":-1.0})", false);
    row("1008 short refusal", net, R"({"Result":-1})", false);
    // Anything else that is no whole negative "Result" of the reply itself goes by length.
    row("1008 Result 0", net, R"({"Message":"saved, active after restart","Result":0})", true);
    row("1002 Result a text", restartCall(), R"({"Message":"rebooting now","Result":"-1"})", true);
    row("1036 Result a fraction", rxWriteCall(1, 2), R"({"Message":"OK, or not?","Result":-0.5})",
        true);
    row("3054 Result inside Parameters", txWriteCall(0),
        R"({"Parameters":{"Result":-1},"Message":"OK"})", true);
    row("1008 not JSON", net, "<html>refused: Result -1 .....</html>", true);
}

void TestConfigCommands::acceptRule() {
    QFETCH(Call, call);
    QFETCH(QByteArray, reply);
    QFETCH(bool, accepted);
    QCOMPARE(runAgainstPeer(call, reply).verdict, accepted);
}

void TestConfigCommands::receiverAudioReads_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("usable");
    QTest::addColumn<int>("display");
    QTest::addColumn<int>("output");

    QTest::newRow("display 2 HDMI")
        << QByteArray(R"({"Parameters":{"AoDevId":2,"DisplayId":2}})") << true << 2 << 2;
    QTest::newRow("fraction cut") << QByteArray(R"({"Parameters":{"DisplayId":1.9,"AoDevId":1.2}})")
                                  << true << 1 << 1;
    QTest::newRow("display 3") << QByteArray(R"({"Parameters":{"DisplayId":3,"AoDevId":1}})")
                               << false << 3 << 1;
    QTest::newRow("display 0") << QByteArray(R"({"Parameters":{"DisplayId":0,"AoDevId":1}})")
                               << false << 0 << 1;
    QTest::newRow("output missing")
        << QByteArray(R"({"Parameters":{"DisplayId":1}})") << true << 1 << -1;
    QTest::newRow("output 3") << QByteArray(R"({"Parameters":{"DisplayId":1,"AoDevId":3}})") << true
                              << 1 << 3;
    QTest::newRow("display missing")
        << QByteArray(R"({"Parameters":{"AoDevId":2}})") << false << 0 << -1;
    QTest::newRow("display a text")
        << QByteArray(R"({"Parameters":{"DisplayId":"1"}})") << false << 0 << -1;
    QTest::newRow("members outside Parameters")
        << QByteArray(R"({"DisplayId":1,"AoDevId":2})") << false << 0 << -1;
    QTest::newRow("Parameters an array")
        << QByteArray(R"({"Parameters":[{"DisplayId":1,"AoDevId":2}]})") << false << 0 << -1;
    QTest::newRow("empty") << QByteArray() << false << 0 << -1;
    QTest::newRow("not JSON") << QByteArray("<html>busy</html>") << false << 0 << -1;
}

void TestConfigCommands::receiverAudioReads() {
    QFETCH(QByteArray, reply);
    QFETCH(bool, usable);
    QFETCH(int, display);
    QFETCH(int, output);
    const RxAudio audio = parseRxAudioReply(reply.toStdString());
    QCOMPARE(audio.usable, usable);
    QCOMPARE(audio.display_id, display);
    QCOMPARE(audio.ao_dev_id, output);
}

void TestConfigCommands::transmitterAudioReads_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("input");

    QTest::newRow("HDMI") << QByteArray(R"({"Parameters":{"AudioIn":0}})") << 0;
    QTest::newRow("jack") << QByteArray(R"({"Parameters":{"AudioIn":1},"ProtocolCode":3052})") << 1;
    QTest::newRow("fraction cut") << QByteArray(R"({"Parameters":{"AudioIn":1.7}})") << 1;
    QTest::newRow("out of range") << QByteArray(R"({"Parameters":{"AudioIn":7}})") << 7;
    QTest::newRow("missing") << QByteArray(R"({"Parameters":{}})") << -1;
    QTest::newRow("a text") << QByteArray(R"({"Parameters":{"AudioIn":"1"}})") << -1;
    QTest::newRow("empty") << QByteArray() << -1;
}

void TestConfigCommands::transmitterAudioReads() {
    QFETCH(QByteArray, reply);
    QFETCH(int, input);
    QCOMPARE(parseTxAudioReply(reply.toStdString()).audio_in, input);
}

void TestConfigCommands::refusedFieldsSendNothing_data() {
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QStringList>("searched");    // the addresses of the last search
    QTest::addColumn<NetworkOutcome>("outcome");  // Restarting: every check passes
    QTest::addColumn<NetworkField>("field");

    auto row = [](const char* name, const QStringList& fields, NetworkOutcome outcome,
                  NetworkField field, const QStringList& searched = {}) {
        QTest::newRow(name) << fields << searched << outcome << field;
    };
    const QString ip = "198.51.100.77", mask = "255.255.255.0", gw = "198.51.100.1",
                  mac = "02:43:56:00:00:4D";
    const QString address15 = QStringLiteral("255.255.255.255");
    const QString mac19 = QStringLiteral("02:43:56:00:00:4D:1");
    using O = NetworkOutcome;
    using F = NetworkField;
    row("well formed", {ip, mask, gw, mac}, O::Restarting, F::None);
    row("lower-case MAC, /32 mask", {ip, address15, gw, "0a:bc:de:f0:12:3f"}, O::Restarting,
        F::None);
    row("mask 0.0.0.0", {ip, "0.0.0.0", gw, mac}, O::Restarting, F::None);
    row("address 16", {address15 + "0", "", "", ""}, O::FieldTooLong, F::Ip);
    row("mask 16", {"", address15 + "0", "", ""}, O::FieldTooLong, F::Mask);
    row("gateway 16", {"", "", address15 + "0", ""}, O::FieldTooLong, F::Gateway);
    row("MAC 20", {"", "", "", mac19 + "0"}, O::FieldTooLong, F::Mac);
    row("too long before malformed", {"", address15 + "0", "", mac19 + "0"}, O::FieldTooLong,
        F::Mask);
    // Limits count UTF-8 bytes: five CJK characters are 15 bytes, six are 18.
    row("15 bytes in 5 characters", {"一二三四五", mask, gw, mac}, O::FieldMalformed, F::Ip);
    row("18 bytes in 6 characters", {"一二三四五六", "", "", ""}, O::FieldTooLong, F::Ip);
    row("MAC 21 bytes in 7 characters", {"", "", "", "网络地址一二三"}, O::FieldTooLong, F::Mac);
    row("address letters", {"abc.def.ghi.jkl", mask, gw, mac}, O::FieldMalformed, F::Ip);
    row("address empty", {"", mask, gw, mac}, O::FieldMalformed, F::Ip);
    row("address leading zero", {"198.51.100.077", mask, gw, mac}, O::FieldMalformed, F::Ip);
    row("address part 256", {"198.51.100.256", mask, gw, mac}, O::FieldMalformed, F::Ip);
    row("address three parts", {"198.51.100", mask, gw, mac}, O::FieldMalformed, F::Ip);
    row("address with a blank", {"198.51.100.7 ", mask, gw, mac}, O::FieldMalformed, F::Ip);
    row("mask with a letter", {ip, "255.255.255.0x", gw, mac}, O::FieldMalformed, F::Mask);
    row("mask not contiguous", {ip, "255.0.255.0", gw, mac}, O::FieldMalformed, F::Mask);
    row("mask with a hole", {ip, "255.255.253.0", gw, mac}, O::FieldMalformed, F::Mask);
    row("gateway leading zero", {ip, mask, "198.51.100.01", mac}, O::FieldMalformed, F::Gateway);
    row("MAC empty", {ip, mask, gw, ""}, O::FieldMalformed, F::Mac);
    row("MAC with dashes", {ip, mask, gw, "02-43-56-00-00-4D"}, O::FieldMalformed, F::Mac);
    row("MAC of five pairs and more", {ip, mask, gw, "02:43:56:00:4D:1"}, O::FieldMalformed,
        F::Mac);
    row("MAC not hex", {ip, mask, gw, "zz:43:56:00:00:4D"}, O::FieldMalformed, F::Mac);
    row("first malformed in form order", {ip, "255.0.255.0", "x", ""}, O::FieldMalformed, F::Mask);
    // The device at 127.0.0.160 is the one changed; the others of the search are not free.
    row("address of another device", {"198.51.100.24", mask, gw, mac}, O::AddressTaken, F::None,
        {"127.0.0.160", "198.51.100.24"});
    row("another device reported with leading zeros", {"198.51.100.24", mask, gw, mac},
        O::AddressTaken, F::None, {"198.051.100.024"});
    row("its own address", {"127.0.0.160", mask, gw, mac}, O::Restarting, F::None,
        {"127.0.0.160", "198.51.100.24"});
    row("an address nobody answered with", {ip, mask, gw, mac}, O::Restarting, F::None,
        {"127.0.0.160", "198.51.100.24"});
}

// Each check names the first field it refuses, and then nothing is sent.
void TestConfigCommands::refusedFieldsSendNothing() {
    QFETCH(QStringList, fields);
    QFETCH(QStringList, searched);
    QFETCH(NetworkOutcome, outcome);
    QFETCH(NetworkField, field);
    const NetworkSettings settings{fields[0].toStdString(), fields[1].toStdString(),
                                   fields[2].toStdString(), fields[3].toStdString()};
    std::vector<std::string> others;
    for (const QString& a : searched) {
        others.push_back(a.toStdString());
    }
    const std::string address = kPeerIp + (":" + std::to_string(kQuietPort));
    if (outcome == NetworkOutcome::Restarting) {
        QCOMPARE(overLongField(settings), NetworkField::None);
        QCOMPARE(malformedField(settings), NetworkField::None);
        QVERIFY(!addressHeldByOther(address, settings.ip, others));
        return;
    }
    // A listener that never answers: a request would show as a waiting connection.
    QTcpServer quiet;
    QVERIFY(quiet.listen(QHostAddress(QString::fromLatin1(kPeerIp)), kQuietPort));
    const NetworkChange change = changeNetwork(address, settings, others);
    QCOMPARE(change.outcome, outcome);
    QCOMPARE(outcome == NetworkOutcome::FieldTooLong ? change.over_long : change.malformed, field);
    QVERIFY(!quiet.waitForNewConnection(200));
}

QTEST_GUILESS_MAIN(TestConfigCommands)
#include "test_config_commands.moc"
