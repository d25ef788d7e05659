#include <QColor>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QSet>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

// Mean colour of the clearly opaque pixels: what the eye sees of a button image.
QColor meanOpaqueColour(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    qint64 r = 0, g = 0, b = 0, n = 0;
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb p = argb.pixel(x, y);
            if (qAlpha(p) >= 200) {
                r += qRed(p);
                g += qGreen(p);
                b += qBlue(p);
                ++n;
            }
        }
    }
    if (n == 0) {
        return QColor();
    }
    return QColor(int(r / n), int(g / n), int(b / n));
}

int hueDistance(int a, int b) {
    const int d = qAbs(a - b) % 360;
    return qMin(d, 360 - d);
}

struct Message {
    const char* context;
    const char* source;
    const char* translation;
};

// The English catalogue, message by message.
const Message kEnglish[] = {
    {"Base_Frame", "Base_Frame", "Corvane Tool"},
    {"Base_Frame", "升级", "Update"},
    {"Base_Frame", "取消", "Close"},
    {"Base_Frame", "搜索", "Search"},
    {"Base_Frame", "文件", "File"},
    {"Base_Frame", "重启", "Reboot"},
    {"Base_Frame", "失败时继续", "Continue past failures"},
    {"Base_Frame", "地址冲突", "Address conflict"},
    {"Base_Frame", "其他网段", "Other subnet"},
    {"Base_Frame", "已恢复", "Back"},
    {"Base_Frame", "已升级", "Upgraded"},
    {"Base_Frame", "版本未变", "Version unchanged"},
    {"Base_Frame", "未恢复", "Not back"},
    {"Base_Frame", "设备太多，部分设备可能未列出，请缩小网段后重新搜索",
     "Too many devices: some may be missing from the list. Search again on a smaller subnet."},
    {"BatchStatus", "等待", "Waiting"},
    {"BatchStatus", "正在重启", "Restarting"},
    {"BatchStatus", "已重启", "Restarted"},
    {"BatchStatus", "无应答", "No answer"},
    {"BatchStatus", "拒绝重启", "Refused"},
    {"BatchStatus", "已升级", "Upgraded"},
    {"Network_Set", "IP地址", "IP"},
    {"Network_Set", "MAC地址", "Mac"},
    {"Network_Set", "取消", "Close"},
    {"Network_Set", "子网掩码", "Mask"},
    {"Network_Set", "网关", "Gateway"},
    {"Network_Set", "网络配置", "Net Setting"},
    {"Network_Set", "配置", "Ok"},
    {"Set_Audio", "3.5mm输出", "3.5mm"},
    {"Set_Audio", "HDMI输出", "HDMI"},
    {"Set_Audio", "取消", "Close"},
    {"Set_Audio", "视频输出通道", "VideoChn"},
    {"Set_Audio", "输出设备音频输出设置", "OutputDevice"},
    {"Set_Audio", "配置", "Ok"},
    {"Set_Audio", "音频输出通道", "AudioChn"},
    {"Set_audio_tx", "3.5mm输出", "3.5mm"},
    {"Set_audio_tx", "HDMI输出", "HDMI"},
    {"Set_audio_tx", "取消", "Close"},
    {"Set_audio_tx", "输入设备音频输出设置", "InputDevice"},
    {"Set_audio_tx", "配置", "Ok"},
    {"Set_audio_tx", "音频输出通道", "AudioChn"},
    {"Video_Parameters", "视频编码参数", "Parameter"},
    {"Video_Parameters", "主码流", "Main"},
    {"Video_Parameters", "次码流", "Sub"},
    {"Video_Parameters", "三码流", "Third"},
    {"Video_Parameters", "四码流", "Fourth"},
    {"Video_Parameters", "编码模式", "EncodeType"},
    {"Video_Parameters", "扩展编码", "Expand"},
    {"Video_Parameters", "视频质量", "Quality"},
    {"Video_Parameters", "最好", "Best"},
    {"Video_Parameters", "次好", "NextBest"},
    {"Video_Parameters", "较好", "Better"},
    {"Video_Parameters", "一般", "General"},
    {"Video_Parameters", "较差", "Poor"},
    {"Video_Parameters", "差", "Bad"},
    {"Video_Parameters", "码率类型", "BitType"},
    {"Video_Parameters", "定码率", "Fixed"},
    {"Video_Parameters", "变码率", "Variable"},
    {"Video_Parameters", "码率", "Bitrate"},
    {"Video_Parameters", "帧率", "Framerate"},
    {"Video_Parameters", "I帧间隔", "IFrame"},
    {"Video_Parameters", "分辨率", "Resolution"},
    {"Video_Parameters", "编码分辨率", "EncodeRes"},
    {"Video_Parameters", "跟随输入分辨率", "Follow"},
    {"Video_Parameters", "不跟随输入分辨率", "NotFollow"},
    {"Video_Parameters", "任意分辨率", "AnyRes"},
    {"Video_Parameters", "自定义宽高", "CustomWH"},
    {"Video_Parameters", "配置", "Ok"},
    {"Video_Parameters", "取消", "Close"},
};

// The Chinese catalogue: window titles only.
const Message kChinese[] = {
    {"Base_Frame", "Base_Frame", "Corvane Tool"}, {"Network_Set", "Form", "网络配置"},
    {"Set_Audio", "Form", "Corvane Tool"},        {"Set_audio_tx", "Form", "Corvane Tool"},
    {"Video_Parameters", "Form", "Corvane Tool"},
};

using MessageSet = QSet<QString>;

QString key(const QString& context, const QString& source, const QString& translation) {
    return context + QLatin1Char('\x1f') + source + QLatin1Char('\x1f') + translation;
}

template <size_t N>
MessageSet toSet(const Message (&messages)[N]) {
    MessageSet set;
    for (const Message& m : messages) {
        set.insert(key(QString::fromUtf8(m.context), QString::fromUtf8(m.source),
                       QString::fromUtf8(m.translation)));
    }
    return set;
}

// Every (context, source, translation) of a translation source file.
MessageSet readTs(const QString& path, QString* error) {
    MessageSet set;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot open ") + path;
        return set;
    }
    QXmlStreamReader xml(&file);
    QString context, source, translation;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("name")) {
                context = xml.readElementText();
            } else if (xml.name() == QLatin1String("source")) {
                source = xml.readElementText();
            } else if (xml.name() == QLatin1String("translation")) {
                translation = xml.readElementText();
            } else if (xml.name() == QLatin1String("numerusform") ||
                       xml.name() == QLatin1String("comment")) {
                *error = QStringLiteral("unexpected ") + xml.name().toString();
            }
        } else if (xml.isEndElement() && xml.name() == QLatin1String("message")) {
            set.insert(key(context, source, translation));
        }
    }
    if (xml.hasError()) {
        *error = xml.errorString();
    }
    return set;
}

}  // namespace

class TestAppResources : public QObject {
    Q_OBJECT

private slots:
    void buttonImages_data();
    void buttonImages();
    void darkerTwins_data();
    void darkerTwins();
    void loadingAnimation();
    void bitmap();
    void windowsIconGroup();
    void catalogue_data();
    void catalogue();
    void catalogueLacks_data();
    void catalogueLacks();
    void sourcesHoldExactlyTheMessages_data();
    void sourcesHoldExactlyTheMessages();
};

void TestAppResources::buttonImages_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("hue");  // expected hue of the drawing, degrees

    QTest::newRow("reboot red") << ":/reboot.png" << QSize(40, 35) << 0;
    QTest::newRow("reboot_1 dark red") << ":/reboot_1.png" << QSize(40, 35) << 0;
    QTest::newRow("send orange") << ":/send.png" << QSize(37, 35) << 30;
    QTest::newRow("send_d grey-blue") << ":/send_d.png" << QSize(37, 35) << 215;
    QTest::newRow("mo light blue") << ":/mo.png" << QSize(35, 35) << 197;
    QTest::newRow("mo_ dark blue") << ":/mo_.png" << QSize(35, 35) << 208;
}

void TestAppResources::buttonImages() {
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(int, hue);

    QImageReader reader(path);
    QCOMPARE(reader.format(), QByteArray("png"));
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), size);
    QVERIFY(image.hasAlphaChannel());  // drawn on a transparent ground

    const QColor mean = meanOpaqueColour(image);
    QVERIFY2(mean.isValid(), "no opaque pixel");
    QVERIFY2(hueDistance(mean.hue(), hue) <= 15,
             qPrintable(QStringLiteral("hue %1, expected about %2").arg(mean.hue()).arg(hue)));
}

void TestAppResources::darkerTwins_data() {
    QTest::addColumn<QString>("normal");
    QTest::addColumn<QString>("twin");
    QTest::newRow("reboot") << ":/reboot.png"
                            << ":/reboot_1.png";
    QTest::newRow("send") << ":/send.png"
                          << ":/send_d.png";
    QTest::newRow("mo") << ":/mo.png"
                        << ":/mo_.png";
}

void TestAppResources::darkerTwins() {
    QFETCH(QString, normal);
    QFETCH(QString, twin);
    const QImage a(normal);
    const QImage b(twin);
    QCOMPARE(a.size(), b.size());
    // Same shape: the same pixels are drawn.
    int differentCoverage = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if ((qAlpha(a.pixel(x, y)) >= 128) != (qAlpha(b.pixel(x, y)) >= 128)) {
                ++differentCoverage;
            }
        }
    }
    QCOMPARE(differentCoverage, 0);
    QVERIFY(meanOpaqueColour(b).lightness() < meanOpaqueColour(a).lightness());
}

void TestAppResources::loadingAnimation() {
    QImageReader reader(QStringLiteral(":/loading.gif"));
    QCOMPARE(reader.format(), QByteArray("gif"));
    QVERIFY(reader.supportsAnimation());
    QCOMPARE(reader.imageCount(), 8);
    int frames = 0;
    QImage first;
    QImage frame;
    bool allSame = true;
    while (reader.read(&frame)) {
        QCOMPARE(frame.size(), QSize(39, 39));
        if (frames == 0) {
            first = frame.convertToFormat(QImage::Format_ARGB32);
        } else if (frame.convertToFormat(QImage::Format_ARGB32) != first) {
            allSame = false;
        }
        ++frames;
    }
    QCOMPARE(frames, 8);
    QVERIFY2(!allSame, "the frames do not move");
}

void TestAppResources::bitmap() {
    QFile file(QStringLiteral(":/toolico.ico"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    // A plain 24-bit bitmap: 54-byte header plus 128 x 128 x 3.
    QCOMPARE(bytes.size(), 49206);
    QVERIFY(bytes.startsWith("BM"));
    const QImage image = QImage::fromData(bytes, "BMP");
    QCOMPARE(image.size(), QSize(128, 128));
    QVERIFY(!image.hasAlphaChannel());
}

void TestAppResources::windowsIconGroup() {
    const QString path = QStringLiteral(":/sources/app.ico");
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
    const QByteArray ico = file.readAll();
    // ICONDIR: reserved 0, type 1, count; then 16-byte entries (width, height, ..., bit count).
    QVERIFY(ico.size() > 6);
    const auto u16 = [&ico](int at) {
        return int(uchar(ico[at])) | (int(uchar(ico[at + 1])) << 8);
    };
    QCOMPARE(u16(0), 0);
    QCOMPARE(u16(2), 1);
    QCOMPARE(u16(4), 9);
    QVERIFY(ico.size() >= 6 + 9 * 16);
    QList<int> sizes;
    for (int i = 0; i < 9; ++i) {
        const int entry = 6 + i * 16;
        const int width = uchar(ico[entry]) == 0 ? 256 : uchar(ico[entry]);
        const int height = uchar(ico[entry + 1]) == 0 ? 256 : uchar(ico[entry + 1]);
        QCOMPARE(height, width);
        QCOMPARE(u16(entry + 6), 32);  // bits per pixel
        sizes.append(width);
    }
    QCOMPARE(sizes, (QList<int>{16, 24, 32, 48, 64, 72, 96, 128, 256}));
}

void TestAppResources::catalogue_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("context");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QString>("translation");
    for (const Message& m : kEnglish) {
        QTest::addRow("en %s %s", m.context, m.source)
            << ":/en.qm" << QByteArray(m.context) << QByteArray(m.source)
            << QString::fromUtf8(m.translation);
    }
    for (const Message& m : kChinese) {
        QTest::addRow("ch %s %s", m.context, m.source)
            << ":/ch.qm" << QByteArray(m.context) << QByteArray(m.source)
            << QString::fromUtf8(m.translation);
    }
}

void TestAppResources::catalogue() {
    QFETCH(QString, file);
    QFETCH(QByteArray, context);
    QFETCH(QByteArray, source);
    QFETCH(QString, translation);
    QTranslator translator;
    QVERIFY(translator.load(file));
    QCOMPARE(translator.translate(context.constData(), source.constData()), translation);
}

void TestAppResources::catalogueLacks_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("context");
    QTest::addColumn<QByteArray>("source");
    // Dialog titles stay "Form" in English.
    QTest::newRow("en Network_Set Form")
        << ":/en.qm" << QByteArray("Network_Set") << QByteArray("Form");
    QTest::newRow("en Video_Parameters Form")
        << ":/en.qm" << QByteArray("Video_Parameters") << QByteArray("Form");
    // The check box label is not in the catalogue.
    QTest::newRow("en English") << ":/en.qm" << QByteArray("Base_Frame") << QByteArray("English");
    // Contexts keep their messages apart.
    QTest::newRow("en 网络配置 outside Network_Set")
        << ":/en.qm" << QByteArray("Base_Frame") << QByteArray("网络配置");
    // The Chinese catalogue holds titles only.
    QTest::newRow("ch 升级") << ":/ch.qm" << QByteArray("Base_Frame") << QByteArray("升级");
    QTest::newRow("ch 配置") << ":/ch.qm" << QByteArray("Network_Set") << QByteArray("配置");
}

void TestAppResources::catalogueLacks() {
    QFETCH(QString, file);
    QFETCH(QByteArray, context);
    QFETCH(QByteArray, source);
    QTranslator translator;
    QVERIFY(translator.load(file));
    QVERIFY(translator.translate(context.constData(), source.constData()).isEmpty());
}

void TestAppResources::sourcesHoldExactlyTheMessages_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<MessageSet>("expected");
    QTest::newRow("en.ts") << "en.ts" << toSet(kEnglish);
    QTest::newRow("ch.ts") << "ch.ts" << toSet(kChinese);
}

void TestAppResources::sourcesHoldExactlyTheMessages() {
    QFETCH(QString, file);
    QFETCH(MessageSet, expected);
    QString error;
    const MessageSet actual = readTs(":/sources/" + file, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QStringList extra = (MessageSet(actual) - expected).values();
    const QStringList missing = (MessageSet(expected) - actual).values();
    QVERIFY2(extra.isEmpty(), qPrintable("extra: " + extra.join(" | ")));
    QVERIFY2(missing.isEmpty(), qPrintable("missing: " + missing.join(" | ")));
}

QTEST_MAIN(TestAppResources)
#include "test_app_resources.moc"
