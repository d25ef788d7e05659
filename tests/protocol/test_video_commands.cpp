// The video commands without a window: replies read into stream records, the number fields'
// conversion, and the checks that stop a write before anything is sent.
#include <QtTest>

#include "protocol/video_commands.h"

namespace video = corvane::video;

namespace {

// A stream record as "encode,quality,rate,type,fps,max fps,size,adapt,gop,profile,max rate".
QString text(const video::Stream& s) {
    return QStringList{QString::number(s.encode_mode),     QString::number(s.pic_quality),
                       QString::number(s.bit_rate),        QString::number(s.bit_rate_type),
                       QString::number(s.frame_rate),      QString::number(s.max_frame_rate),
                       QString::number(s.image_size),      QString::number(s.image_size_adapt),
                       QString::number(s.iframe_interval), QString::number(s.profile),
                       QString::number(s.max_bit_rate)}
        .join(',');
}

// A stream element with the values in the order of text() above.
QByteArray streamJson(const QList<int>& v) {
    const char* names[] = {"EncodeMode",     "PicQuality",   "BitRate",   "BitRateType",
                           "FrameRate",      "MaxFrameRate", "ImageSize", "ImageSizeAdapt",
                           "IFrameInterval", "Profile",      "MaxBitRate"};
    QStringList members{R"("StreamId":0)"};
    for (int i = 0; i < 11; ++i) {
        members << QStringLiteral(R"("%1":%2)").arg(QLatin1String(names[i])).arg(v[i]);
    }
    return '{' + members.join(',').toUtf8() + '}';
}

QByteArray reply(const QByteArrayList& streams) {
    return R"({"ProtocolCode":1022,"Parameters":[{"ChnId":1,"StreamList":[)" + streams.join(',') +
           "]}],\"Result\":0}";
}

const QString kNone = "-1,-1,-1,-1,-1,-1,-1,-1,-1,-1,-1";
const QList<int> kMain{1, 2, 2048, 1, 25, 60, 22, 1, 50, 2, 20408};
const QList<int> kSub{0, 1, 1024, 0, 30, 60, 20, 0, 60, 1, 20408};
const QList<int> kThird{2, 3, 512, 1, 15, 30, 7, 0, 30, 0, 4096};
const QList<int> kFourth{0, 5, 20408, 0, 10, 25, 2, 1, 255, 1, 4096};

}  // namespace

class TestVideoCommands : public QObject {
    Q_OBJECT

private slots:
    void streamsReply_data();
    void streamsReply();
    void customSizeReply_data();
    void customSizeReply();
    void bitRates();
    void decimalValue_data();
    void decimalValue();
    void writeRefusal_data();
    void writeRefusal();
};

void TestVideoCommands::streamsReply_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<int>("listed");
    QTest::addColumn<QStringList>("streams");

    const QByteArrayList four{streamJson(kMain), streamJson(kSub), streamJson(kThird),
                              streamJson(kFourth)};
    QTest::newRow("four streams") << reply(four) << true << true << 4
                                  << QStringList{"1,2,2048,1,25,60,22,1,50,2,20408",
                                                 "0,1,1024,0,30,60,20,0,60,1,20408",
                                                 "2,3,512,1,15,30,7,0,30,0,4096",
                                                 "0,5,20408,0,10,25,2,1,255,1,4096"};
    QTest::newRow("no answer") << QByteArray() << false << false << 0
                               << QStringList{kNone, kNone, kNone, kNone};
    QTest::newRow("not json") << QByteArray("<html>busy</html>") << true << false << 0
                              << QStringList{kNone, kNone, kNone, kNone};
    QTest::newRow("five streams, four read")
        << reply(four + QByteArrayList{four[0]}) << true << true << 5
        << QStringList{"1,2,2048,1,25,60,22,1,50,2,20408", "0,1,1024,0,30,60,20,0,60,1,20408",
                       "2,3,512,1,15,30,7,0,30,0,4096", "0,5,20408,0,10,25,2,1,255,1,4096"};
    QTest::newRow("rates and sizes outside the lists")
        << reply({streamJson({0, 0, 20480, 0, 30, 60, 25, 0, 60, 0, 20480}),
                  streamJson({0, 0, 100, 0, 30, 60, 23, 0, 60, 0, 0})})
        << true << true << 2
        << QStringList{"0,0,20480,0,30,60,25,0,60,0,20480", "0,0,100,0,30,60,23,0,60,0,0", kNone,
                       kNone};
    QTest::newRow("fractions cut toward zero")
        << reply({R"({"EncodeMode":1.9,"PicQuality":0.5,"BitRate":2048.99,"BitRateType":-0.5,)"
                  R"("FrameRate":29.97,"MaxFrameRate":6e1,"ImageSize":2.2e1,)"
                  R"("ImageSizeAdapt":1.0,"IFrameInterval":-1.5,"Profile":1e0,"MaxBitRate":1})"})
        << true << true << 1 << QStringList{"1,0,2048,0,29,60,22,1,-1,1,1", kNone, kNone, kNone};
    QTest::newRow("missing and mistyped members")
        << reply({R"({"encodemode":2,"BitRate":"2048","FrameRate":null,"Profile":true,)"
                  R"("ImageSize":[22],"IFrameInterval":{"v":1}})"})
        << true << true << 1 << QStringList{"2,-1,-1,-1,-1,-1,-1,-1,-1,-1,-1", kNone, kNone, kNone};
    QTest::newRow("parameters an object")
        << QByteArray(R"({"Parameters":{"StreamList":[)" + four[0] + "]}}") << true << true << 0
        << QStringList{kNone, kNone, kNone, kNone};
    QTest::newRow("stream list an object")
        << QByteArray(R"({"Parameters":[{"StreamList":{"0":)" + four[0] + "}}]}") << true << true
        << 0 << QStringList{kNone, kNone, kNone, kNone};
    QTest::newRow("streams not objects") << reply({"1", "[2]", "null", "\"x\""}) << true << true
                                         << 4 << QStringList{kNone, kNone, kNone, kNone};
}

void TestVideoCommands::streamsReply() {
    QFETCH(QByteArray, reply);
    QFETCH(bool, answered);
    QFETCH(bool, readable);
    QFETCH(int, listed);
    QFETCH(QStringList, streams);

    const video::StreamsReply r = video::readStreamsReply(reply.toStdString());
    QCOMPARE(r.answered, answered);
    QCOMPARE(r.readable, readable);
    QCOMPARE(r.listed, listed);
    QStringList got;
    for (const video::Stream& s : r.streams) {
        got << text(s);
    }
    QCOMPARE(got, streams);
}

void TestVideoCommands::customSizeReply_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("answered");

    QTest::newRow("device answer")
        << QByteArray(
               R"({"Parameters":{"Enable":1,"Height":1080,"Width":1920},"ProtocolCode":3129,"Result":0})")
        << 1920 << 1080 << true;
    QTest::newRow("letter case of the write")
        << QByteArray(R"({"Parameters":{"width":1280,"height":720}})") << 1280 << 720 << true;
    QTest::newRow("fractions") << QByteArray(R"({"Parameters":{"Width":1366.8,"Height":767.5}})")
                               << 1366 << 767 << true;
    QTest::newRow("height missing")
        << QByteArray(R"({"Parameters":{"Width":800}})") << 800 << -1 << true;
    QTest::newRow("no parameters")
        << QByteArray(R"({"Width":800,"Height":600})") << -1 << -1 << true;
    QTest::newRow("no answer") << QByteArray() << -1 << -1 << false;
}

void TestVideoCommands::customSizeReply() {
    QFETCH(QByteArray, reply);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, answered);
    const video::CustomSize size = video::readCustomSizeReply(reply.toStdString());
    QCOMPARE(size.width, width);
    QCOMPARE(size.height, height);
    QCOMPARE(size.answered, answered);
}

// The list ends with 20408, as the devices have it; 20480 is not a rate they take.
void TestVideoCommands::bitRates() {
    const QList<int> rates{128, 256, 512, 1024, 2048, 3072, 4096, 6144, 8192, 12288, 16384, 20408};
    for (int i = 0; i < rates.size(); ++i) {
        QCOMPARE(video::bitRateIndex(rates[i]), i);
        QCOMPARE(video::bitRateAt(i), rates[i]);
    }
    QCOMPARE(video::bitRateIndex(20480), -1);
    QCOMPARE(video::bitRateIndex(-1), -1);
    QCOMPARE(video::bitRateAt(-1), -1);
    QCOMPARE(video::bitRateAt(12), -1);
}

void TestVideoCommands::decimalValue_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("empty") << QByteArray("") << 0;
    QTest::newRow("no digits") << QByteArray("abc") << 0;
    QTest::newRow("sign alone") << QByteArray("-") << 0;
    QTest::newRow("plain") << QByteArray("60") << 60;
    QTest::newRow("leading blanks") << QByteArray(" \t12") << 12;
    QTest::newRow("plus") << QByteArray("+7") << 7;
    QTest::newRow("minus") << QByteArray("-3") << -3;
    QTest::newRow("stops at a letter") << QByteArray("25fps") << 25;
    QTest::newRow("blank after the sign") << QByteArray("- 5") << 0;
    QTest::newRow("too large") << QByteArray("99999999999") << 2147483647;
    QTest::newRow("too small") << QByteArray("-99999999999") << int(-2147483647 - 1);
}

void TestVideoCommands::decimalValue() {
    QFETCH(QByteArray, text);
    QFETCH(int, value);
    QCOMPARE(video::decimalValue(text.toStdString()), value);
}

void TestVideoCommands::writeRefusal_data() {
    QTest::addColumn<int>("stream");
    QTest::addColumn<int>("frameRate");
    QTest::addColumn<int>("gop");
    QTest::addColumn<bool>("custom");
    QTest::addColumn<QString>("width");  // "" for an empty field
    QTest::addColumn<QString>("height");
    QTest::addColumn<bool>("read");    // the values came whole from a read
    QTest::addColumn<int>("refusal");  // -1: the write may go out

    using S = video::WriteStatus;
    auto row = [](const char* name, int stream, int fps, int gop, bool custom, const char* width,
                  const char* height, int refusal, bool read = true) {
        QTest::newRow(name) << stream << fps << gop << custom << QString(width) << QString(height)
                            << read << refusal;
    };
    row("all set", 0, 30, 60, false, "", "", -1);
    row("custom size given", 1, 30, 60, true, "1280", "720", -1);
    row("custom size of zero goes out", 0, 30, 60, true, "0", "0", -1);
    row("custom width missing", 1, 30, 60, true, "", "720", int(S::CustomSizeMissing));
    row("custom height missing", 0, 30, 60, true, "1280", "", int(S::CustomSizeMissing));
    row("custom width -1 from a read", 1, 30, 60, true, "-1", "720", int(S::CustomSizeMissing));
    row("custom size checked before the frame rate", 2, 0, 0, true, "", "",
        int(S::CustomSizeMissing));
    row("frame rate 0", 3, 0, 60, false, "", "", int(S::FrameRateZero));
    row("frame rate before the I-frame interval", 0, 0, 0, true, "1280", "720",
        int(S::FrameRateZero));
    row("I-frame interval 0", 1, 30, 0, false, "", "", int(S::IFrameIntervalZero));
    row("stream not read whole", 0, -1, -1, true, "", "", int(S::NotRead), false);
    row("-1 values are the device's to judge", 0, -1, -1, false, "", "", -1);
    row("no fifth stream", 4, 30, 60, false, "", "", int(S::NoSuchStream));
    row("no stream before the first", -1, 30, 60, false, "", "", int(S::NoSuchStream));
}

void TestVideoCommands::writeRefusal() {
    QFETCH(int, stream);
    QFETCH(int, frameRate);
    QFETCH(int, gop);
    QFETCH(bool, custom);
    QFETCH(QString, width);
    QFETCH(QString, height);
    QFETCH(bool, read);
    QFETCH(int, refusal);

    video::StreamWrite write;
    write.stream_id = stream;
    write.values_read = read;
    write.values.frame_rate = frameRate;
    write.values.iframe_interval = gop;
    write.custom_size = custom;
    if (!width.isEmpty()) {
        write.custom_width = width.toInt();
    }
    if (!height.isEmpty()) {
        write.custom_height = height.toInt();
    }
    const std::optional<video::WriteStatus> got = video::writeRefusal(write);
    QCOMPARE(got ? int(*got) : -1, refusal);
    if (got) {
        // The write stops at the same check, before it looks at the address.
        QCOMPARE(int(video::writeStream("not an address", write).status), refusal);
    }
}

QTEST_APPLESS_MAIN(TestVideoCommands)
#include "test_video_commands.moc"
