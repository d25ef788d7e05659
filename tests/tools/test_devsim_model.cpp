// The simulated device's inner behaviour: its discovery reply under each UDP fault, the
// commands and the state they share, and the HTTP request reader.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include "device_model.h"
#include "http_request.h"

using namespace devsim;

namespace {

DeviceProfile profile(const QString& text) {
    DeviceProfile s;
    if (!applyDeviceText(s, text, nullptr))
        qFatal("bad profile %s", qPrintable(text));
    completeDevice(s, 0);
    return s;
}

QJsonObject json(const QByteArray& bytes) {
    return QJsonDocument::fromJson(bytes).object();
}

QJsonObject params(const CommandAnswer& a) {
    return json(a.body).value("Parameters").toObject();
}

// "IpAddr" of the device's discovery reply.
QString replyIpAddr(const DeviceModel& m) {
    return json(m.discoveryReply())
        .value("NetConfig")
        .toArray()
        .at(0)
        .toObject()
        .value("IpAddr")
        .toString();
}

CommandAnswer run(DeviceModel& m, const QJsonObject& command) {
    return m.handle(QJsonDocument(command).toJson(QJsonDocument::Indented));
}

// "StreamList" of a 1022 answer.
QJsonArray streamList(const CommandAnswer& a) {
    return json(a.body)
        .value("Parameters")
        .toArray()
        .at(0)
        .toObject()
        .value("StreamList")
        .toArray();
}

}  // namespace

class TestDevsimModel : public QObject {
    Q_OBJECT
private slots:
    void probeIsTheFixedText() {
        QCOMPARE(probeText().size(), 48);
        QVERIFY(!probeText().contains('\0'));
    }

    void discoveryReply_data() {
        QTest::addColumn<QString>("faults");
        QTest::addColumn<bool>("isJson");
        QTest::addColumn<bool>("hasNetConfig");
        QTest::addColumn<int>("size");  // exact size, or 0: anything up to 1400, -1: nothing
        QTest::addColumn<QString>("ipAddr");
        const QString own = QStringLiteral("198.51.100.10");
        QTest::newRow("normal") << "" << true << true << 0 << own;
        QTest::newRow("twice (one reply here)") << "udp=twice" << true << true << 0 << own;
        QTest::newRow("silent") << "udp=silent" << false << false << -1 << own;
        QTest::newRow("garbage") << "udp=garbage" << false << false << 0 << own;
        QTest::newRow("no NetConfig") << "udp=no-netconfig" << true << false << 0 << own;
        QTest::newRow("oversize") << "udp=oversize" << true << true << 1500 << own;
        QTest::newRow("oversize to 4000")
            << "udp=oversize,udp-size=4000" << true << true << 4000 << own;
        QTest::newRow("exactly 1400") << "udp-size=1400" << true << true << 1400 << own;
        QTest::newRow("exactly 1401") << "udp-size=1401" << true << true << 1401 << own;
        QTest::newRow("another address reported")
            << "report-ip=198.51.100.99" << true << true << 0 << "198.51.100.99";
    }
    void discoveryReply() {
        QFETCH(QString, faults);
        QFETCH(bool, isJson);
        QFETCH(bool, hasNetConfig);
        QFETCH(int, size);
        QFETCH(QString, ipAddr);
        DeviceModel m(profile("ip=198.51.100.10,type=1200,version=V3.2.7,uptime=59," + faults));
        const QByteArray reply = m.discoveryReply();
        if (size < 0) {
            QVERIFY(reply.isEmpty());
            return;
        }
        if (size > 0)
            QCOMPARE(reply.size(), size);
        else
            QVERIFY(reply.size() > 50 && reply.size() <= 1400);
        QJsonParseError err;
        const QJsonDocument doc = QJsonDocument::fromJson(reply, &err);
        QCOMPARE(err.error == QJsonParseError::NoError && doc.isObject(), isJson);
        if (!isJson)
            return;
        const QJsonObject o = doc.object();
        QCOMPARE(o.contains("NetConfig"), hasNetConfig);
        QCOMPARE(o.value("DeviceType").toInt(), 1200);
        QCOMPARE(o.value("SoftVersion").toString(), QStringLiteral("V3.2.7"));
        QCOMPARE(o.value("UpTime").toString(), QStringLiteral("0d 00:00:59"));
        if (hasNetConfig) {
            const QJsonObject nic = o.value("NetConfig").toArray().at(0).toObject();
            QCOMPARE(nic.value("IpAddr").toString(), ipAddr);
            QCOMPARE(nic.value("SubNetMask").toString(), QStringLiteral("255.255.255.0"));
            QCOMPARE(nic.value("GateWay").toString(), QStringLiteral("198.51.100.1"));
            QCOMPARE(nic.value("Mac").toString(), QStringLiteral("02:43:56:33:64:0A"));
        }
    }

    void uptimeText_data() {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "0d 00:00:00";
        QTest::newRow("day and more") << qint64(90061) << "1d 01:01:01";
        QTest::newRow("long") << qint64(400 * 86400 + 86399) << "400d 23:59:59";
    }
    void uptimeText() {
        QFETCH(qint64, seconds);
        QFETCH(QString, text);
        QCOMPARE(DeviceModel::formatUptime(seconds), text);
        QVERIFY(text.size() < 20);  // fits the tool's 20-byte field
    }

    void videoStreamsWriteThenRead() {
        DeviceModel m(profile("ip=198.51.100.10,type=1102"));
        const CommandAnswer before =
            run(m, {{"ProtocolCode", 1022}, {"Parameters", QJsonObject{{"ChnId", QJsonArray{1}}}}});
        QCOMPARE(before.status, 200);
        const QJsonArray list = streamList(before);
        QCOMPARE(list.size(), 4);
        for (const char* key :
             {"EncodeMode", "PicQuality", "BitRate", "BitRateType", "FrameRate", "MaxFrameRate",
              "ImageSize", "ImageSizeAdapt", "IFrameInterval", "Profile", "MaxBitRate"})
            QVERIFY2(list.at(3).toObject().contains(key), key);
        QVERIFY(before.body.size() < 3072);  // the tool reads it into 3072 bytes

        const QJsonObject write{
            {"ChnId", 1},          {"StreamId", 2},         {"EncodeMode", 2}, {"PicQuality", 4},
            {"BitRate", 20408},    {"BitRateType", 0},      {"FrameRate", 50}, {"ImageSize", 9},
            {"ImageSizeAdapt", 1}, {"IFrameInterval", 255}, {"Profile", 0}};
        const CommandAnswer w = run(m, {{"ProtocolCode", 1024}, {"Parameters", QJsonArray{write}}});
        QVERIFY(w.body.size() >= 31);
        QCOMPARE(json(w.body).value("Result").toInt(), 0);
        const StreamSettings& s = m.stream(2);
        QCOMPARE(s.encodeMode, 2);
        QCOMPARE(s.picQuality, 4);
        QCOMPARE(s.bitRate, 20408);
        QCOMPARE(s.frameRate, 50);
        QCOMPARE(s.imageSize, 9);
        QCOMPARE(s.iFrameInterval, 255);
        QCOMPARE(s.profile, 0);
        const QJsonObject after = streamList(run(m, {{"ProtocolCode", 1022}})).at(2).toObject();
        QCOMPARE(after.value("BitRate").toInt(), 20408);
        QCOMPARE(after.value("ImageSize").toInt(), 9);
        // The other streams are untouched.
        QCOMPARE(m.stream(0).bitRate, 8192);
    }

    void refusedStreamWritesChangeNothing_data() {
        QTest::addColumn<QString>("member");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("stream");
        QTest::newRow("codec 3") << "EncodeMode" << 3 << 0;
        QTest::newRow("rate not listed") << "BitRate" << 20480 << 0;
        QTest::newRow("frame rate 0") << "FrameRate" << 0 << 0;
        QTest::newRow("frame rate over max") << "FrameRate" << 61 << 0;
        QTest::newRow("custom size on stream 1") << "ImageSize" << 25 << 1;
        QTest::newRow("I-frame 256") << "IFrameInterval" << 256 << 0;
        QTest::newRow("no selection") << "Profile" << -1 << 0;
        QTest::newRow("stream 4") << "Profile" << 1 << 4;
    }
    void refusedStreamWritesChangeNothing() {
        QFETCH(QString, member);
        QFETCH(int, value);
        QFETCH(int, stream);
        DeviceModel m(profile("ip=198.51.100.10,type=1102"));
        const QJsonObject write{
            {"ChnId", 1}, {"StreamId", stream}, {"PicQuality", 5}, {member, value}};
        const CommandAnswer a = run(m, {{"ProtocolCode", 1024}, {"Parameters", QJsonArray{write}}});
        QCOMPARE(json(a.body).value("Result").toInt(), -1);
        QVERIFY(!a.applied);
        for (int k = 0; k < 4; ++k)
            QVERIFY(m.stream(k).picQuality != 5);
    }

    // Faulty stream state for the video window's reads: no streams, a value no write could set,
    // and members left out, which stay out after a write changed them. (The window's reads of a
    // two-stream list and of sizes 23-25 on the later streams show those modes at work.)
    void streamFaults_data() {
        QTest::addColumn<QString>("faults");
        QTest::addColumn<int>("listed");
        QTest::addColumn<int>("stream");
        QTest::addColumn<QString>("member");
        QTest::addColumn<int>("value");  // -1: the member is left out
        QTest::newRow("no streams") << "streams=0" << 0 << -1 << "" << 0;
        QTest::newRow("rate not in the list")
            << "stream0=BitRate:20480" << 4 << 0 << "BitRate" << 20480;
        QTest::newRow("member left out") << "stream2=FrameRate:omit" << 4 << 2 << "FrameRate" << -1;
    }
    void streamFaults() {
        QFETCH(QString, faults);
        QFETCH(int, listed);
        QFETCH(int, stream);
        QFETCH(QString, member);
        QFETCH(int, value);
        DeviceModel m(profile("ip=198.51.100.10,type=1102," + faults));
        auto streams = [&m] { return streamList(run(m, {{"ProtocolCode", 1022}})); };
        QCOMPARE(streams().size(), listed);
        if (stream < 0)
            return;
        const QJsonObject s = streams().at(stream).toObject();
        QCOMPARE(s.value("StreamId").toInt(), stream);
        if (value < 0) {
            QVERIFY(!s.contains(member));
            QVERIFY(s.contains("BitRate"));
            const QJsonObject write{{"StreamId", stream}, {member, 24}};
            QVERIFY(run(m, {{"ProtocolCode", 1024}, {"Parameters", QJsonArray{write}}}).applied);
            QCOMPARE(m.stream(stream).frameRate, 24);
            QVERIFY(!streams().at(stream).toObject().contains(member));
        } else {
            QCOMPARE(s.value(member).toInt(), value);
        }
    }

    void customResolution() {
        DeviceModel m(profile("ip=198.51.100.10,type=1102"));
        // The tool writes lower-case members and reads "Width"/"Height".
        const CommandAnswer w =
            run(m, {{"ProtocolCode", 3131},
                    {"Parameters", QJsonObject{{"enable", 1}, {"width", 1366}, {"height", 768}}}});
        QCOMPARE(json(w.body).value("Result").toInt(), 0);
        const QJsonObject p = params(run(m, {{"ProtocolCode", 3129}}));
        QCOMPARE(p.value("Width").toInt(), 1366);
        QCOMPARE(p.value("Height").toInt(), 768);
        const CommandAnswer bad = run(
            m,
            {{"ProtocolCode", 3131}, {"Parameters", QJsonObject{{"width", 0}, {"height", 768}}}});
        QCOMPARE(json(bad.body).value("Result").toInt(), -1);
        QCOMPARE(m.customWidth(), 1366);
    }

    void receiverAudio() {
        DeviceModel m(profile("ip=198.51.100.11,type=307"));
        QCOMPARE(
            params(run(m, {{"ProtocolCode", 1034}, {"Parameters", QJsonObject{{"DisplayId", 1}}}}))
                .value("AoDevId")
                .toInt(),
            2);
        const CommandAnswer w =
            run(m, {{"ProtocolCode", 1036},
                    {"Parameters", QJsonObject{{"DisplayId", 2}, {"AoDevId", 1}}}});
        QVERIFY(w.body.size() >= 31);
        const QJsonObject p2 =
            params(run(m, {{"ProtocolCode", 1034}, {"Parameters", QJsonObject{{"DisplayId", 2}}}}));
        QCOMPARE(p2.value("DisplayId").toInt(), 2);
        QCOMPARE(p2.value("AoDevId").toInt(), 1);
        // Display 1 keeps its own setting.
        QCOMPARE(m.audioOut(1), 2);
        const CommandAnswer bad =
            run(m, {{"ProtocolCode", 1036},
                    {"Parameters", QJsonObject{{"DisplayId", 1}, {"AoDevId", 0}}}});
        QCOMPARE(json(bad.body).value("Result").toInt(), -1);
        QCOMPARE(m.audioOut(1), 2);
    }

    void transmitterAudio() {
        DeviceModel m(profile("ip=198.51.100.10,type=1200"));
        QCOMPARE(params(run(m, {{"ProtocolCode", 3052}})).value("AudioIn").toInt(), 0);
        QVERIFY(run(m, {{"ProtocolCode", 3054}, {"Parameters", QJsonObject{{"AudioIn", 1}}}})
                    .body.size() >= 31);
        QCOMPARE(params(run(m, {{"ProtocolCode", 3052}})).value("AudioIn").toInt(), 1);
        // -1 is what the tool sends with no selection: refused.
        run(m, {{"ProtocolCode", 3054}, {"Parameters", QJsonObject{{"AudioIn", -1}}}});
        QCOMPARE(m.audioIn(), 1);
    }

    void networkSettingsTakeEffectAtRestart() {
        DeviceModel m(profile("ip=198.51.100.12,type=1102,uptime=500"));
        const QJsonObject p{{"LanNo", 0},
                            {"IP", "198.51.100.99"},
                            {"SubNetMask", "255.255.0.0"},
                            {"GateWay", "198.51.100.254"},
                            {"MacAddr", "02:aa:bb:cc:dd:ee"}};
        const CommandAnswer a = run(m, {{"ProtocolCode", 1008}, {"Parameters", QJsonArray{p}}});
        QVERIFY(a.body.size() >= 30);
        QVERIFY(!a.restart);
        // Still the old settings until the restart.
        QCOMPARE(replyIpAddr(m), QStringLiteral("198.51.100.12"));
        const CommandAnswer r = run(m, {{"ProtocolCode", 1002}});
        QVERIFY(r.restart);
        QVERIFY(r.body.size() >= 30);
        m.restart();
        const QJsonObject reply = json(m.discoveryReply());
        const QJsonObject nic = reply.value("NetConfig").toArray().at(0).toObject();
        QCOMPARE(nic.value("IpAddr").toString(), QStringLiteral("198.51.100.99"));
        QCOMPARE(nic.value("SubNetMask").toString(), QStringLiteral("255.255.0.0"));
        QCOMPARE(nic.value("GateWay").toString(), QStringLiteral("198.51.100.254"));
        QCOMPARE(nic.value("Mac").toString(), QStringLiteral("02:AA:BB:CC:DD:EE"));
        QCOMPARE(reply.value("UpTime").toString(), QStringLiteral("0d 00:00:00"));
        QVERIFY(!m.pendingNet());
    }

    // A device that reports another address keeps doing so across restarts, until network
    // settings of its own take effect.
    void reportedAddressAcrossRestarts_data() {
        QTest::addColumn<bool>("newSettings");
        QTest::addColumn<QString>("after");
        QTest::newRow("restart") << false << "198.51.100.30";
        QTest::newRow("restart with new settings") << true << "198.51.100.99";
    }
    void reportedAddressAcrossRestarts() {
        QFETCH(bool, newSettings);
        QFETCH(QString, after);
        DeviceModel m(profile("ip=198.51.100.31,report-ip=198.51.100.30"));
        if (newSettings) {
            const QJsonObject p{{"LanNo", 0},
                                {"IP", "198.51.100.99"},
                                {"SubNetMask", "255.255.255.0"},
                                {"GateWay", "198.51.100.1"},
                                {"MacAddr", "02:43:56:33:64:1F"}};
            QVERIFY(run(m, {{"ProtocolCode", 1008}, {"Parameters", QJsonArray{p}}}).applied);
        }
        QCOMPARE(m.reportedIp(), QStringLiteral("198.51.100.30"));
        m.restart();
        QCOMPARE(m.reportedIp(), after);
        QCOMPARE(replyIpAddr(m), after);
    }

    void badNetworkSettingsAreRefused_data() {
        QTest::addColumn<QString>("member");
        QTest::addColumn<QString>("value");
        QTest::newRow("ip") << "IP"
                            << "198.51.100";
        QTest::newRow("mask") << "SubNetMask"
                              << "";
        QTest::newRow("gateway") << "GateWay"
                                 << "gw";
        QTest::newRow("mac") << "MacAddr"
                             << "02:aa:bb:cc:dd";
    }
    void badNetworkSettingsAreRefused() {
        QFETCH(QString, member);
        QFETCH(QString, value);
        DeviceModel m(profile("ip=198.51.100.12"));
        QJsonObject p{{"LanNo", 0},
                      {"IP", "198.51.100.99"},
                      {"SubNetMask", "255.255.255.0"},
                      {"GateWay", "198.51.100.1"},
                      {"MacAddr", "02:aa:bb:cc:dd:ee"}};
        p.insert(member, value);
        const CommandAnswer a = run(m, {{"ProtocolCode", 1008}, {"Parameters", QJsonArray{p}}});
        QCOMPARE(json(a.body).value("Result").toInt(), -1);
        QVERIFY(!m.pendingNet());
    }

    void commandsByKind_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("known");
        QTest::newRow("TX video") << 1102 << 1022 << true;
        QTest::newRow("TX audio out") << 1102 << 1034 << false;
        QTest::newRow("RX video") << 307 << 1022 << false;
        QTest::newRow("RX audio out") << 307 << 1034 << true;
        QTest::newRow("KVM audio out") << 2000 << 1034 << true;
        QTest::newRow("KVM custom res") << 2000 << 3129 << false;
        QTest::newRow("RX restart") << 307 << 1002 << true;
        QTest::newRow("other kind video") << 4242 << 1022 << true;
        QTest::newRow("unknown code") << 1102 << 1000 << false;
    }
    void commandsByKind() {
        QFETCH(int, type);
        QFETCH(int, code);
        QFETCH(bool, known);
        DeviceModel m(profile(QStringLiteral("ip=198.51.100.10,type=%1").arg(type)));
        const CommandAnswer a = run(m, {{"ProtocolCode", code}});
        QCOMPARE(json(a.body).value("Result").toInt() != -2, known);
        QCOMPARE(json(a.body).value("ProtocolCode").toInt(), code);
    }

    void unreadableBodies_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not json") << QByteArray("ProtocolCode=1022");
        QTest::newRow("array") << QByteArray("[1022]");
        QTest::newRow("no code") << QByteArray(R"({"Parameters":{}})");
        QTest::newRow("code as text") << QByteArray(R"({"ProtocolCode":"1022"})");
        QTest::newRow("code with fraction") << QByteArray(R"({"ProtocolCode":1022.5})");
    }
    void unreadableBodies() {
        QFETCH(QByteArray, body);
        DeviceModel m(profile("ip=198.51.100.10"));
        const CommandAnswer a = m.handle(body);
        QCOMPARE(a.status, 400);
        QCOMPARE(json(a.body).value("Result").toInt(), -1);
    }

    void paddedBodies_data() {
        QTest::addColumn<int>("size");
        for (int n : {0, 1, 2, 29, 30, 31, 40, 500})
            QTest::newRow(qPrintable(QString::number(n))) << n;
    }
    void paddedBodies() {
        QFETCH(int, size);
        const QByteArray body = DeviceModel::paddedBody(1008, size);
        QCOMPARE(body.size(), size);
        if (size >= 2)
            QVERIFY(body.startsWith('{') && body.endsWith('}'));
        if (size >= 30)
            QVERIFY(QJsonDocument::fromJson(body).isObject());
    }

    void requestReaderSplitsAndJoins() {
        HttpRequestReader reader;
        const QByteArray one =
            "POST / HTTP/1.1\r\nHost: 198.51.100.10\r\nContent-Length: 5\r\n\r\nhello";
        const QByteArray two = "POST /x HTTP/1.1\r\ncontent-length: 0\r\nConnection: close\r\n\r\n";
        HttpRequest r;
        // Byte by byte: nothing until the last body byte.
        for (int i = 0; i < one.size() - 1; ++i) {
            reader.feed(one.mid(i, 1));
            QCOMPARE(reader.next(&r), HttpRequestReader::State::NeedMore);
        }
        reader.feed(one.right(1) + two);
        QCOMPARE(reader.next(&r), HttpRequestReader::State::Ready);
        QCOMPARE(r.method, QByteArray("POST"));
        QCOMPARE(r.body, QByteArray("hello"));
        QCOMPARE(r.raw, one);
        QCOMPARE(r.headers.value("host"), QByteArray("198.51.100.10"));
        QVERIFY(r.keepAlive);
        QCOMPARE(reader.next(&r), HttpRequestReader::State::Ready);
        QCOMPARE(r.path, QByteArray("/x"));
        QVERIFY(r.body.isEmpty());
        QVERIFY(!r.keepAlive);
        QCOMPARE(reader.next(&r), HttpRequestReader::State::NeedMore);
        QVERIFY(reader.pending().isEmpty());
    }

    void requestReaderAsksForTheBodyOncePerRequest() {
        HttpRequestReader reader;
        const QByteArray head =
            "POST / HTTP/1.1\r\nContent-Length: 4\r\nExpect: 100-continue\r\n\r\n";
        HttpRequest r;
        reader.feed(head);
        QCOMPARE(reader.next(&r), HttpRequestReader::State::NeedMore);
        QVERIFY(reader.takeContinue());
        reader.feed("{}");
        QCOMPARE(reader.next(&r), HttpRequestReader::State::NeedMore);
        QVERIFY(!reader.takeContinue());
        reader.feed("  " + head);
        QCOMPARE(reader.next(&r), HttpRequestReader::State::Ready);
        QCOMPARE(r.body, QByteArray("{}  "));
        QCOMPARE(reader.next(&r), HttpRequestReader::State::NeedMore);
        QVERIFY(reader.takeContinue());
        // Without the header nobody is told to go on.
        HttpRequestReader plain;
        plain.feed("POST / HTTP/1.1\r\nContent-Length: 4\r\n\r\n");
        QCOMPARE(plain.next(&r), HttpRequestReader::State::NeedMore);
        QVERIFY(!plain.takeContinue());
    }

    void requestReaderErrors_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        QTest::newRow("request line") << QByteArray("HELLO\r\n\r\n") << 400;
        QTest::newRow("not http") << QByteArray("POST / SPDY/3\r\n\r\n") << 400;
        QTest::newRow("header") << QByteArray("POST / HTTP/1.1\r\nbroken\r\n\r\n") << 400;
        QTest::newRow("length") << QByteArray("POST / HTTP/1.1\r\nContent-Length: -4\r\n\r\n")
                                << 400;
        QTest::newRow("length text")
            << QByteArray("POST / HTTP/1.1\r\nContent-Length: ten\r\n\r\n") << 400;
        QTest::newRow("chunked") << QByteArray(
                                        "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n")
                                 << 501;
        QTest::newRow("huge body")
            << QByteArray("POST / HTTP/1.1\r\nContent-Length: 999999999\r\n\r\n") << 413;
        QTest::newRow("endless head")
            << QByteArray("POST / HTTP/1.1\r\nX: " + QByteArray(70000, 'a')) << 431;
    }
    void requestReaderErrors() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        HttpRequestReader reader;
        reader.feed(bytes);
        HttpRequest r;
        QCOMPARE(reader.next(&r), HttpRequestReader::State::Error);
        QCOMPARE(reader.errorStatus(), status);
    }
};

QTEST_GUILESS_MAIN(TestDevsimModel)
#include "test_devsim_model.moc"
