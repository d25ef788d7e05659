// The commands of the network and audio windows without a window: the exact documents on the
// wire, the accept thresholds, the reads and the field limits, against a scripted peer on
// 127.0.0.160.
#include <QHostAddress>
#include <QTcpServer>
#include <QtTest>
#include <functional>

#include "config_commands.h"
#include "scripted_peer.h"

using namespace corvane::config;

// One command exchange with `address`; returns the write's verdict (reads: whether usable).
using Call = std::function<bool(const std::string& address)>;
Q_DECLARE_METATYPE(Call)
Q_DECLARE_METATYPE(NetworkField)

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
    void acceptThresholds_data();
    void acceptThresholds();
    void receiverAudioReads_data();
    void receiverAudioReads();
    void transmitterAudioReads_data();
    void transmitterAudioReads();
    void overLongFieldsSendNothing_data();
    void overLongFieldsSendNothing();
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

void TestConfigCommands::acceptThresholds_data() {
    QTest::addColumn<Call>("call");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("1008 empty") << networkCall(kSettings) << 0 << false;
    QTest::newRow("1008 29") << networkCall(kSettings) << 29 << false;
    QTest::newRow("1008 30") << networkCall(kSettings) << 30 << true;
    QTest::newRow("1008 5000") << networkCall(kSettings) << 5000 << true;
    QTest::newRow("1002 29") << restartCall() << 29 << false;
    QTest::newRow("1002 30") << restartCall() << 30 << true;
    QTest::newRow("1036 empty") << rxWriteCall(1, 2) << 0 << false;
    QTest::newRow("1036 30") << rxWriteCall(1, 2) << 30 << false;
    QTest::newRow("1036 31") << rxWriteCall(1, 2) << 31 << true;
    QTest::newRow("1036 2000") << rxWriteCall(1, 2) << 2000 << true;
    QTest::newRow("3054 empty") << txWriteCall(0) << 0 << false;
    QTest::newRow("3054 30") << txWriteCall(0) << 30 << false;
    QTest::newRow("3054 31") << txWriteCall(0) << 31 << true;
}

// The length of the reply alone decides; what it says does not.
void TestConfigCommands::acceptThresholds() {
    QFETCH(Call, call);
    QFETCH(int, length);
    QFETCH(bool, accepted);
    QCOMPARE(runAgainstPeer(call, bodyOfLength(length)).verdict, accepted);
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

void TestConfigCommands::overLongFieldsSendNothing_data() {
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<NetworkField>("field");

    const QString address15 = QStringLiteral("255.255.255.255");
    const QString mac19 = QStringLiteral("02:43:56:00:00:4D:1");
    QTest::newRow("all at their limits")
        << QStringList{address15, address15, address15, mac19} << NetworkField::None;
    QTest::newRow("address 16") << QStringList{address15 + "0", "", "", ""} << NetworkField::Ip;
    QTest::newRow("mask 16") << QStringList{"", address15 + "0", "", ""} << NetworkField::Mask;
    QTest::newRow("gateway 16") << QStringList{"", "", address15 + "0", ""}
                                << NetworkField::Gateway;
    QTest::newRow("MAC 20") << QStringList{"", "", "", mac19 + "0"} << NetworkField::Mac;
    QTest::newRow("first in form order")
        << QStringList{"", address15 + "0", "", mac19 + "0"} << NetworkField::Mask;
    // Limits count UTF-8 bytes: five CJK characters are 15 bytes, six are 18.
    QTest::newRow("15 bytes in 5 characters")
        << QStringList{"一二三四五", "", "", ""} << NetworkField::None;
    QTest::newRow("18 bytes in 6 characters")
        << QStringList{"一二三四五六", "", "", ""} << NetworkField::Ip;
    QTest::newRow("MAC 21 bytes in 7 characters")
        << QStringList{"", "", "", "网络地址一二三"} << NetworkField::Mac;
}

void TestConfigCommands::overLongFieldsSendNothing() {
    QFETCH(QStringList, fields);
    QFETCH(NetworkField, field);
    const NetworkSettings settings{fields[0].toStdString(), fields[1].toStdString(),
                                   fields[2].toStdString(), fields[3].toStdString()};
    QCOMPARE(overLongField(settings), field);
    if (field == NetworkField::None) {
        return;
    }
    // A listener that never answers: a request would show as a waiting connection.
    QTcpServer quiet;
    QVERIFY(quiet.listen(QHostAddress(QString::fromLatin1(kPeerIp)), kQuietPort));
    const NetworkChange change =
        changeNetwork(kPeerIp + (":" + std::to_string(kQuietPort)), settings);
    QCOMPARE(change.outcome, NetworkOutcome::FieldTooLong);
    QCOMPARE(change.over_long, field);
    QVERIFY(!quiet.waitForNewConnection(200));
}

QTEST_GUILESS_MAIN(TestConfigCommands)
#include "test_config_commands.moc"
