// The video parameters window: its form, the reads that fill its four tabs and the writes of
// the tab in front, against simulated transmitters on loopback (127.1.1.x, port 8011), whose
// log holds the exact bytes the window sent.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTranslator>
#include <QtTest>

#include "dialogs/video_parameters.h"
#include "tests/support/devsim_harness.h"
#include "tests/support/find_widget.h"
#include "tests/support/window_messages.h"

using corvane::OperatorMessages;
using corvane::test::Devsim;
using corvane::test::DevsimRecord;
namespace video = corvane::video;

namespace {

const char* const kPort = ":8011";
const QString kWritten = QStringLiteral("提示|视频参数配置成功！");
// Nothing listens there: the request is refused at once, as a device that is gone.
const char* const kNobody = "127.1.1.29:8011";

QString host(int last) {
    return QStringLiteral("127.1.1.%1").arg(last);
}

QByteArray address(int last) {
    return host(last).toLatin1() + kPort;
}

// The four streams every simulated transmitter here starts with: EncodeMode, PicQuality,
// BitRate, BitRateType, FrameRate, MaxFrameRate, ImageSize, ImageSizeAdapt, IFrameInterval,
// Profile.
const QList<int> kStreams[4] = {
    {1, 2, 2048, 1, 25, 60, 22, 1, 50, 2},
    {0, 1, 1024, 0, 30, 60, 20, 0, 60, 1},
    {2, 3, 512, 1, 15, 30, 7, 0, 30, 0},
    {0, 5, 20408, 0, 10, 25, 2, 1, 255, 1},
};
// The same streams as the tabs show them (see tabState); the bit rate as its box index.
const QString kTabs[4] = {
    "1|2|4|1|25|1~60|22|1|50|1 ~ 255|2",
    "0|1|3|0|30|1~60|20|0|60|1 ~ 255|1",
    "2|3|2|1|15|1~30|7|0|30|1 ~ 255|0",
    "0|5|11|0|10|1~25|2|1|255|1 ~ 255|1",
};
// A tab after a read that gave nothing for its stream: the bit-rate box keeps its index.
QString emptyTab(int keptRate) {
    return QStringLiteral("-1|-1|%1|-1|-1|1~-1|-1|-1|-1|1 ~ 255|-1").arg(keptRate);
}

// Device keys for the standard streams; `extra[k]` is appended to stream k's values, so a
// later Member:N wins and Member:omit leaves the member out of the answer.
QString device(int last, const QStringList& extra = {}, const QString& more = {}) {
    static const char* names[] = {"EncodeMode",     "PicQuality",   "BitRate",   "BitRateType",
                                  "FrameRate",      "MaxFrameRate", "ImageSize", "ImageSizeAdapt",
                                  "IFrameInterval", "Profile"};
    QStringList keys{QStringLiteral("ip=127.1.1.%1").arg(last), "type=1102"};
    for (int k = 0; k < 4; ++k) {
        QStringList values;
        for (int i = 0; i < 10; ++i) {
            values << QStringLiteral("%1:%2").arg(names[i]).arg(kStreams[k][i]);
        }
        if (k < extra.size() && !extra[k].isEmpty()) {
            values << extra[k];
        }
        keys << QStringLiteral("stream%1=%2").arg(k).arg(values.join('/'));
    }
    if (!more.isEmpty()) {
        keys << more;
    }
    return keys.join(',');
}

template <typename T>
T* field(QWidget& window, const QString& name) {
    return widget<T>(window, name.toLatin1().constData());
}

// "encode|quality|rate index|type|fps|max fps|size|adapt|gop|max gop|profile" of tab n.
QString tabState(QWidget& w, int n) {
    auto index = [&](const char* stem) {
        return QString::number(
            field<QComboBox>(w, QStringLiteral("%1_%2").arg(stem).arg(n))->currentIndex());
    };
    auto text = [&](const char* stem) {
        return field<QLineEdit>(w, QStringLiteral("%1_%2").arg(stem).arg(n))->text();
    };
    return QStringList{index("encodeMode"),  index("picQuality"),     index("bitRate"),
                       index("bitRateTepy"), text("frameRate"),       text("maxFrame"),
                       index("imageSize"),   index("imageSizeAdapt"), text("iFrameRate"),
                       text("max_iFrame"),   index("proFile")}
        .join('|');
}

// The formatted body of a stream write, written out here by hand.
QByteArray streamWriteBody(int stream, const QList<int>& v) {
    QByteArray body =
        "{\n\t\"ProtocolCode\":\t1024,\n\t\"Parameters\":\t[{\n\t\t\t\"ChnId\":\t1,\n";
    body += "\t\t\t\"StreamId\":\t" + QByteArray::number(stream) + ",\n";
    const char* names[] = {"EncodeMode",     "PicQuality",     "BitRate",
                           "BitRateType",    "FrameRate",      "ImageSize",
                           "ImageSizeAdapt", "IFrameInterval", "Profile"};
    const int from[] = {0, 1, 2, 3, 4, 6, 7, 8, 9};
    for (int i = 0; i < 9; ++i) {
        body += "\t\t\t\"" + QByteArray(names[i]) + "\":\t" + QByteArray::number(v[from[i]]) +
                (i < 8 ? ",\n" : "\n");
    }
    return body + "\t\t}]\n}";
}

QByteArray customSizeBody(int width, int height) {
    return "{\n\t\"ProtocolCode\":\t3131,\n\t\"Parameters\":\t{\n\t\t\"enable\":\t1,\n\t\t"
           "\"width\":\t" +
           QByteArray::number(width) + ",\n\t\t\"height\":\t" + QByteArray::number(height) +
           "\n\t}\n}";
}

// Sets fields by "name=value": a combo box's index, or a line edit's text.
void edit(QWidget& window, const QStringList& edits) {
    for (const QString& e : edits) {
        const QString name = e.section('=', 0, 0);
        const QString value = e.section('=', 1);
        QWidget* w = field<QWidget>(window, name);
        if (auto* box = qobject_cast<QComboBox*>(w)) {
            box->setCurrentIndex(value.toInt());
        } else {
            qobject_cast<QLineEdit*>(w)->setText(value);
        }
    }
}

// The bodies of the requests `device` received after the first `from` of every device.
QList<QByteArray> bodiesSent(const Devsim& sim, int device, int from) {
    QList<QByteArray> bodies;
    for (const DevsimRecord& r : sim.records("http-in", host(device), from)) {
        bodies << r.body();
    }
    return bodies;
}

}  // namespace

class TestVideoParameters : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void form();
    void comboItems_data();
    void comboItems();
    void validators_data();
    void validators();
    void languages();
    void reads_data();
    void reads();
    void writes_data();
    void writes();
    void cancelSendsNothing();

private:
    Devsim sim_;
};

void TestVideoParameters::initTestCase() {
    sim_.arg("--no-udp").arg("--http-port=8011");
    // Reads: 1 to 6; writes: 10 to 18.
    sim_.device(device(1))
        .device(device(2, {}, "streams=2"))
        .device(device(3, {"BitRate:20480"}))
        .device(device(4, {"ImageSize:25"}))
        .device(device(5, {"ImageSize:25"}, "http=empty,http-only=3129"))
        .device(device(6, {"", "ImageSize:23", "ImageSize:24", "ImageSize:25"}));
    for (int last = 10; last <= 15; ++last) {
        sim_.device(device(last));
    }
    const QString refuses = QStringLiteral("http=bad-request,http-status=200,http-only=");
    sim_.device(device(16, {}, "http=size,http-size=30,http-only=1024"))
        .device(device(17, {}, "http=size,http-size=31,http-only=1024"))
        .device(device(18, {}, "http=empty,http-only=1024"))
        .device(device(19, {"", "", "", "Profile:omit"}))
        .device(device(20, {}, "http=empty,http-only=1022"))
        .device(device(21, {"ImageSize:25"}, "http=empty,http-only=3129"))
        .device(device(22, {}, refuses + "3131"))
        .device(device(23, {}, refuses + "1024"));
    QVERIFY2(sim_.start(Devsim::Where::Here), qPrintable(sim_.errorString()));
}

void TestVideoParameters::cleanupTestCase() {
    QCOMPARE(sim_.stop(), 0);
}

void TestVideoParameters::init() {
    OperatorMessages::reset();
    OperatorMessages::setUnattended(true);
}

// Tab order, page names and titles, and each row's label by name in its own tab.
void TestVideoParameters::form() {
    Video_Parameters w;
    auto* tabs = widget<QTabWidget>(w, "tabWidget");
    QCOMPARE(tabs->count(), 4);
    QCOMPARE(tabs->currentIndex(), 0);
    const char* pages[] = {"tab", "tab_2", "tab_3", "tab_4"};
    const QStringList titles{"主码流", "次码流", "三码流", "四码流"};
    // Row labels per tab, top to bottom (tab 1 has its custom-size row between).
    const QList<QStringList> labels{
        {"label_4", "label_5", "label_6", "label_7", "label_8", "label_9", "label_17", "label_10",
         "label_11", "label_12"},
        {"label_20", "label_19", "label_18", "label_21", "label_16", "label_14", "label_13",
         "label_22", "label_15"},
        {"label_30", "label_29", "label_28", "label_31", "label_26", "label_24", "label_23",
         "label_32", "label_25"},
        {"zlabel_40", "zlabel_39", "zlabel_38", "zlabel_41", "zlabel_36", "zlabel_34", "zlabel_33",
         "zlabel_42", "zlabel_35"},
    };
    const QStringList texts{"编码模式", "视频质量",   "码率",    "码率类型", "帧率",
                            "分辨率",   "编码分辨率", "I帧间隔", "扩展编码"};
    for (int t = 0; t < 4; ++t) {
        QCOMPARE(tabs->widget(t)->objectName(), QString::fromLatin1(pages[t]));
        QCOMPARE(tabs->tabText(t), titles[t]);
        QStringList shown;
        for (const QString& name : labels[t]) {
            auto* label = field<QLabel>(w, name);
            QCOMPARE(label->parentWidget(), tabs->widget(t));
            if (name != "label_17") {
                shown << label->text();
            }
        }
        QCOMPARE(shown, texts);
        QCOMPARE(field<QLineEdit>(w, QStringLiteral("frameRate_%1").arg(t + 1))->parentWidget(),
                 tabs->widget(t));
    }
}

void TestVideoParameters::comboItems_data() {
    QTest::addColumn<QString>("stem");
    QTest::addColumn<QStringList>("items");
    const QStringList sizes{
        "QCIF",      "HCIF",      "CIF",       "HD1",       "D1",        "960*576",   "320*240",
        "640*480",   "800*600",   "1024*768",  "1280*768",  "1440*900",  "1280*1024", "1400*1050",
        "1600*1200", "2048*1536", "854*480",   "1680*1050", "1920*1200", "2560*1600", "1280*720",
        "1280*960",  "1920*1080", "2560*1440", "3840*2160", "任意分辨率"};
    QTest::newRow("codec") << "encodeMode" << QStringList{"H264", "MJPEG", "H265"};
    QTest::newRow("quality") << "picQuality"
                             << QStringList{"最好", "次好", "较好", "一般", "较差", "差"};
    QTest::newRow("bit rate") << "bitRate"
                              << QStringList{"128",  "256",  "512",  "1024",  "2048",  "3072",
                                             "4096", "6144", "8192", "12288", "16384", "20408"};
    QTest::newRow("bit-rate mode") << "bitRateTepy" << QStringList{"定码率", "变码率"};
    QTest::newRow("main resolution") << "imageSize_1" << sizes;
    QTest::newRow("other resolutions") << "imageSize" << QStringList(sizes.mid(0, 23));
    QTest::newRow("follows input")
        << "imageSizeAdapt" << QStringList{"不跟随输入分辨率", "跟随输入分辨率"};
    QTest::newRow("profile") << "proFile" << QStringList{"BASE", "MAIN", "HIGH"};
}

// Each box's items in index order, which is the protocol value (the bit rate by its list).
void TestVideoParameters::comboItems() {
    QFETCH(QString, stem);
    QFETCH(QStringList, items);
    Video_Parameters w;
    const QList<int> tabs = stem == "imageSize_1" ? QList<int>{0}
                            : stem == "imageSize" ? QList<int>{2, 3, 4}
                                                  : QList<int>{1, 2, 3, 4};
    for (int n : tabs) {
        const QString name = n == 0 ? stem : QStringLiteral("%1_%2").arg(stem).arg(n);
        auto* box = field<QComboBox>(w, name);
        QCOMPARE(itemsOf(box), items);
        QCOMPARE(box->currentIndex(), 0);
    }
}

void TestVideoParameters::validators_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    auto row = [](const QString& name, const QString& typed, const QString& kept) {
        QTest::newRow(qPrintable(name + ' ' + typed)) << name << typed << kept;
    };
    for (int n = 1; n <= 4; ++n) {
        row(QStringLiteral("frameRate_%1").arg(n), "61", "6");
        row(QStringLiteral("iFrameRate_%1").arg(n), "256", "25");
    }
    row("frameRate_2", "60", "60");
    row("frameRate_3", "0", "0");
    row("frameRate_1", "2x5", "25");
    row("frameRate_1", "-5", "5");
    row("iFrameRate_4", "255", "255");
    row("any_width", "3841", "384");
    row("any_width", "3840", "3840");
    row("any_height", "2161", "216");
    row("any_height", "2160", "2160");
}

// Typed key by key: a key that would take the number past its bound is refused.
void TestVideoParameters::validators() {
    QFETCH(QString, name);
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    Video_Parameters w;
    auto* edit = field<QLineEdit>(w, name);
    QTest::keyClicks(edit, typed);
    QCOMPARE(edit->text(), kept);
}

void TestVideoParameters::languages() {
    Video_Parameters w;
    w.show();
    auto* quality = widget<QComboBox>(w, "picQuality_2");
    quality->setCurrentIndex(3);
    widget<QLineEdit>(w, "ipEdit")->setText("198.51.100.10");
    QTranslator english;
    QVERIFY(english.load(QStringLiteral(":/en.qm")));
    QCoreApplication::installTranslator(&english);
    // The application posts the change to every window.
    QCoreApplication::processEvents();

    auto items = [&w](const char* name) { return itemsOf(widget<QComboBox>(w, name)); };
    QCOMPARE(items("picQuality_2"),
             (QStringList{"Best", "NextBest", "Better", "General", "Poor", "Bad"}));
    QCOMPARE(quality->currentIndex(), 3);
    QCOMPARE(items("bitRateTepy_1"), (QStringList{"Fixed", "Variable"}));
    QCOMPARE(items("imageSizeAdapt_4"), (QStringList{"NotFollow", "Follow"}));
    QCOMPARE(items("imageSize_1").last(), QStringLiteral("AnyRes"));
    QCOMPARE(items("imageSize_1").first(), QStringLiteral("QCIF"));
    QCOMPARE(items("imageSize_2").last(), QStringLiteral("1920*1080"));
    QCOMPARE(items("encodeMode_3"), (QStringList{"H264", "MJPEG", "H265"}));
    QCOMPARE(items("bitRate_1").last(), QStringLiteral("20408"));
    QCOMPARE(items("proFile_2"), (QStringList{"BASE", "MAIN", "HIGH"}));
    auto* tabs = widget<QTabWidget>(w, "tabWidget");
    QCOMPARE((QStringList{tabs->tabText(0), tabs->tabText(1), tabs->tabText(2), tabs->tabText(3)}),
             (QStringList{"Main", "Sub", "Third", "Fourth"}));
    QCOMPARE(widget<QPushButton>(w, "setButton")->text(), QStringLiteral("Ok"));
    QCOMPARE(widget<QPushButton>(w, "canselButton")->text(), QStringLiteral("Close"));
    QCOMPARE(widget<QLabel>(w, "label")->text(), QStringLiteral("Parameter"));
    QCOMPARE(widget<QLabel>(w, "label_17")->text(), QStringLiteral("CustomWH"));
    QCOMPARE(widget<QLabel>(w, "zlabel_42")->text(), QStringLiteral("IFrame"));
    // The English catalogue has no window title; the form's own stands.
    QCOMPARE(w.windowTitle(), QStringLiteral("Form"));
    // Applying the texts puts the form's address back; every showing follows a read.
    QCOMPARE(widget<QLineEdit>(w, "ipEdit")->text(), QStringLiteral("192.168.125.125"));

    QTranslator chinese;
    QVERIFY(chinese.load(QStringLiteral(":/ch.qm")));
    QCoreApplication::removeTranslator(&english);
    QCoreApplication::installTranslator(&chinese);
    QCoreApplication::processEvents();
    QCOMPARE(items("picQuality_2").first(), QStringLiteral("最好"));
    QCOMPARE(widget<QPushButton>(w, "setButton")->text(), QStringLiteral("配置"));
    QCOMPARE(w.windowTitle(), QStringLiteral("Corvane Tool"));
    QCoreApplication::removeTranslator(&chinese);
}

void TestVideoParameters::reads_data() {
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<int>("device");  // 0: none
    QTest::addColumn<QStringList>("tabs");
    QTest::addColumn<QString>("custom");  // "width|height|enabled"
    QTest::addColumn<bool>("customRead");

    const QStringList standard{kTabs[0], kTabs[1], kTabs[2], kTabs[3]};
    QTest::newRow("four streams") << address(1) << 1 << standard << "||on" << false;
    QTest::newRow("no answer") << QByteArray(kNobody) << 0
                               << QStringList{emptyTab(4), emptyTab(3), emptyTab(2), emptyTab(11)}
                               << "||on" << false;
    QTest::newRow("two streams") << address(2) << 2
                                 << QStringList{kTabs[0], kTabs[1], emptyTab(2), emptyTab(11)}
                                 << "||on" << false;
    // The rate is not in the list: the box keeps the index of the read before.
    QTest::newRow("bit rate 20480") << address(3) << 3 << standard << "||on" << false;
    QStringList custom = standard;
    custom[0] = "1|2|4|1|25|1~60|25|1|50|1 ~ 255|2";
    QTest::newRow("custom size") << address(4) << 4 << custom << "1920|1080|on" << true;
    QTest::newRow("custom size unanswered") << address(5) << 5 << custom << "-1|-1|on" << true;
    QStringList small = standard;
    small[1] = "0|1|3|0|30|1~60|-1|0|60|1 ~ 255|1";
    small[2] = "2|3|2|1|15|1~30|-1|0|30|1 ~ 255|0";
    small[3] = "0|5|11|0|10|1~25|-1|1|255|1 ~ 255|1";
    QTest::newRow("sizes 23 to 25 on streams 2 to 4")
        << address(6) << 6 << small << "||on" << false;
}

// Each read follows one of a device with the standard streams, so that what a read leaves
// alone shows.
void TestVideoParameters::reads() {
    QFETCH(QByteArray, address);
    QFETCH(int, device);
    QFETCH(QStringList, tabs);
    QFETCH(QString, custom);
    QFETCH(bool, customRead);

    Video_Parameters w;
    widget<QLineEdit>(w, "any_width")->setText("640");
    widget<QLineEdit>(w, "any_height")->setText("480");
    w.get_video_param(::address(1).constData(), video::streamsReadCommand());
    QCOMPARE(tabState(w, 1), kTabs[0]);
    const int before = sim_.records("http-in").size();

    w.get_video_param(address.constData(), video::streamsReadCommand());
    for (int n = 1; n <= 4; ++n) {
        QCOMPARE(tabState(w, n), tabs[n - 1]);
    }
    auto* width = widget<QLineEdit>(w, "any_width");
    auto* height = widget<QLineEdit>(w, "any_height");
    QCOMPARE(width->text() + '|' + height->text() + '|' +
                 (width->isEnabled() && height->isEnabled() ? "on" : "off"),
             custom);
    auto* ip = widget<QLineEdit>(w, "ipEdit");
    QCOMPARE(ip->text(), QString::fromLatin1(address));
    QVERIFY(!ip->isEnabled());
    auto* tip = widget<QLineEdit>(w, "tip");
    QCOMPARE(tip->text(), QStringLiteral("未设置成自定义分辨率模式请勿填入宽高"));
    QVERIFY(!tip->isEnabled());
    for (const char* limit : {"maxFrame_1", "max_iFrame_1", "maxFrame_4", "max_iFrame_3"}) {
        QVERIFY(!widget<QLineEdit>(w, limit)->isEnabled());
    }
    QVERIFY(shownTexts().isEmpty());

    if (device > 0) {
        QList<QByteArray> expected{
            "{\n\t\"ProtocolCode\":\t1022,\n\t\"Parameters\":\t{\n\t\t\"ChnId\":\t[1]\n\t}\n}"};
        if (customRead) {
            expected << "{\n\t\"ProtocolCode\":\t3129\n}";
        }
        QCOMPARE(bodiesSent(sim_, device, before), expected);
    }
}

void TestVideoParameters::writes_data() {
    QTest::addColumn<int>("device");
    QTest::addColumn<int>("readFrom");  // the device whose read fills the form (0: `device`)
    QTest::addColumn<int>("front");
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<QList<QByteArray>>("sent");
    QTest::addColumn<QString>("message");  // the window stays open unless it is kWritten

    auto row = [](const char* name, int device, int front, const QStringList& edits,
                  const QList<QByteArray>& sent, const QString& message, int readFrom = 0) {
        QTest::newRow(name) << device << readFrom << front << edits << sent << message;
    };
    const QString failed = "提示|视频参数配置失败！";
    const QString noSize = "提示|请填入分辨率宽高";
    const QString noRate = "配置失败|帧率不能为0";
    const QString noGop = "配置失败|I帧不能为0";
    // An accepted write is followed by a read of the streams (and of the custom size).
    const QByteArray readBack =
        "{\n\t\"ProtocolCode\":\t1022,\n\t\"Parameters\":\t{\n\t\t\"ChnId\":\t[1]\n\t}\n}";
    const QByteArray customReadBack = "{\n\t\"ProtocolCode\":\t3129\n}";
    const QList<QByteArray> main{streamWriteBody(0, kStreams[0])};
    QList<int> unselected = kStreams[0];
    unselected[2] = -1;
    QList<int> sub = kStreams[1];
    sub[4] = 24;
    QList<int> third = kStreams[2];
    third[6] = 9;
    row("main stream", 10, 0, {}, main + QList<QByteArray>{readBack}, kWritten);
    // The device refuses the rate -1.
    row("no bit-rate selection", 11, 0, {"bitRate_1=-1"}, {streamWriteBody(0, unselected)}, failed);
    row("tab 2 while tab 1 is custom", 12, 1,
        {"imageSize_1=25", "any_width=1280", "any_height=720", "frameRate_2=24"},
        {customSizeBody(1280, 720), streamWriteBody(1, sub), readBack, customReadBack}, kWritten);
    row("custom width empty", 13, 1, {"imageSize_1=25", "any_width=", "any_height=720"}, {},
        noSize);
    row("custom height empty, front frame rate 0", 13, 1,
        {"imageSize_1=25", "any_width=1280", "any_height=", "frameRate_2=0"}, {}, noSize);
    row("front frame rate 0 with the custom size", 13, 1,
        {"imageSize_1=25", "any_width=1280", "any_height=720", "frameRate_2=0"}, {}, noRate);
    row("front frame rate empty", 13, 2, {"frameRate_3="}, {}, noRate);
    row("front I-frame interval 0", 13, 0, {"iFrameRate_1=0"}, {}, noGop);
    row("front I-frame interval empty", 13, 3, {"iFrameRate_4="}, {}, noGop);
    row("other tabs are not checked", 14, 3, {"frameRate_1=0", "iFrameRate_2=", "imageSize_2=-1"},
        {streamWriteBody(3, kStreams[3]), readBack}, kWritten);
    row("not custom: width and height stay home", 15, 2, {"any_width=", "imageSize_3=9"},
        {streamWriteBody(2, third), readBack}, kWritten);
    row("reply of 30 bytes", 16, 0, {}, main, failed);
    row("reply of 31 bytes", 17, 0, {}, main + QList<QByteArray>{readBack}, kWritten);
    row("empty reply", 18, 0, {}, main, failed);
    row("refused", 23, 0, {}, main, failed);
    // A stream the read did not give whole is not written; the others are.
    row("a member missing from the read", 19, 3, {}, {}, failed);
    row("another stream of that device", 19, 0, {}, main + QList<QByteArray>{readBack}, kWritten);
    row("no answer to the read", 20, 0, {}, {}, failed);
    row("custom size unanswered", 21, 0, {}, {}, failed);
    // Width 8 is below what the device takes: the stream is not sent after the refusal.
    row("custom size refused", 22, 0, {"imageSize_1=25", "any_width=8", "any_height=720"},
        {customSizeBody(8, 720)}, failed);
    // Read from a device that reports stream 4 whole, written to one that does not report its
    // profile back.
    row("a value the device does not hold", 19, 3, {}, {streamWriteBody(3, kStreams[3]), readBack},
        failed, 10);
}

void TestVideoParameters::writes() {
    QFETCH(int, device);
    QFETCH(int, readFrom);
    QFETCH(int, front);
    QFETCH(QStringList, edits);
    QFETCH(QList<QByteArray>, sent);
    QFETCH(QString, message);

    Video_Parameters w;
    if (readFrom == 0) {
        w.get_video_param(address(device).constData(), video::streamsReadCommand());
    } else {
        w.show_read(address(device).constData(), video::readVideo(address(readFrom).constData()));
    }
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    widget<QTabWidget>(w, "tabWidget")->setCurrentIndex(front);
    edit(w, edits);
    const QStringList before{tabState(w, 1), tabState(w, 2), tabState(w, 3), tabState(w, 4)};
    const int earlier = sim_.records("http-in").size();

    QTest::mouseClick(widget<QPushButton>(w, "setButton"), Qt::LeftButton);
    QVERIFY(jobsEnded());

    QCOMPARE(bodiesSent(sim_, device, earlier), sent);
    QCOMPARE(shownTexts(), QStringList{message});
    QCOMPARE(w.isVisible(), message != kWritten);
    // Nothing the operator typed is lost, whatever the outcome.
    QCOMPARE((QStringList{tabState(w, 1), tabState(w, 2), tabState(w, 3), tabState(w, 4)}), before);
}

void TestVideoParameters::cancelSendsNothing() {
    Video_Parameters w;
    w.get_video_param(address(10).constData(), video::streamsReadCommand());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const int earlier = sim_.records("http-in").size();
    QTest::mouseClick(widget<QPushButton>(w, "canselButton"), Qt::LeftButton);
    QVERIFY(!w.isVisible());
    QCOMPARE(bodiesSent(sim_, 10, earlier), QList<QByteArray>{});
    QVERIFY(shownTexts().isEmpty());
}

QTEST_MAIN(TestVideoParameters)
#include "test_video_parameters.moc"
