// The video window against a simulated transmitter on port 80 of the test network's device
// host: read, change stream 2, write, read again.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include "devsim_harness.h"
#include "find_widget.h"
#include "shown_messages.h"
#include "video_parameters.h"

using corvane::OperatorMessages;
using corvane::test::Devsim;
using corvane::test::DevsimRecord;
using corvane::test::TestNetwork;
namespace video = corvane::video;

namespace {

const char* const kDevice = "198.51.100.10";

QString tabState(QWidget& w, int n) {
    QStringList state;
    for (const char* stem : {"encodeMode", "picQuality", "bitRate", "bitRateTepy", "imageSize",
                             "imageSizeAdapt", "proFile"}) {
        const QByteArray name = QByteArray(stem) + '_' + QByteArray::number(n);
        state << widget<QComboBox>(w, name.constData())->currentText();
    }
    for (const char* stem : {"frameRate", "iFrameRate"}) {
        const QByteArray name = QByteArray(stem) + '_' + QByteArray::number(n);
        state << widget<QLineEdit>(w, name.constData())->text();
    }
    return state.join('|');
}

}  // namespace

class TestVideoNet : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void changeStreamTwo();
    void customSizeWithoutWindow();

private:
    Devsim sim_;
};

void TestVideoNet::initTestCase() {
    QVERIFY2(TestNetwork::active(), "runs inside scripts/testnet");
    sim_.arg("--no-udp").device(QStringLiteral("ip=%1,type=1102").arg(kDevice));
    QVERIFY2(sim_.start(Devsim::Where::DeviceHost), qPrintable(sim_.errorString()));
    OperatorMessages::setUnattended(true);
}

void TestVideoNet::cleanupTestCase() {
    QCOMPARE(sim_.stop(), 0);
}

void TestVideoNet::changeStreamTwo() {
    Video_Parameters w;
    w.get_video_param(kDevice, video::streamsReadCommand());
    const QStringList before{tabState(w, 1), tabState(w, 2), tabState(w, 3), tabState(w, 4)};
    auto* rate = widget<QComboBox>(w, "bitRate_2");
    auto* size = widget<QComboBox>(w, "imageSize_2");
    QVERIFY2(widget<QLineEdit>(w, "frameRate_2")->text().toInt() > 0, "the read found stream 2");
    // Values other than the device's, so that the second read shows the write.
    QVERIFY(rate->currentText() != "2048" && size->currentText() != "1024*768");

    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    widget<QTabWidget>(w, "tabWidget")->setCurrentIndex(1);
    rate->setCurrentIndex(4);
    size->setCurrentIndex(9);
    QTest::mouseClick(widget<QPushButton>(w, "setButton"), Qt::LeftButton);
    QCOMPARE(shownTexts(), QStringList{notice("视频参数配置成功！")});
    QVERIFY(!w.isVisible());

    Video_Parameters again;
    again.get_video_param(kDevice, video::streamsReadCommand());
    QStringList after = before;
    after[1] = tabState(w, 2);
    QCOMPARE((QStringList{tabState(again, 1), tabState(again, 2), tabState(again, 3),
                          tabState(again, 4)}),
             after);
    QCOMPARE(widget<QComboBox>(again, "bitRate_2")->currentText(), QStringLiteral("2048"));
    QCOMPARE(widget<QComboBox>(again, "imageSize_2")->currentText(), QStringLiteral("1024*768"));

    QList<int> codes;
    for (const DevsimRecord& r : sim_.records("http-in")) {
        QVERIFY(r.local.endsWith(":80"));
        codes << r.code;
    }
    QCOMPARE(codes, (QList<int>{1022, 1024, 1022}));
}

// What a terminal front end does: the custom size written and read back, no window.
void TestVideoNet::customSizeWithoutWindow() {
    QCOMPARE(int(video::writeCustomSize(kDevice, 1366, 768)), int(video::WriteStatus::Written));
    const video::CustomSize size = video::readCustomSize(kDevice);
    QVERIFY(size.answered);
    QCOMPARE(size.width, 1366);
    QCOMPARE(size.height, 768);
}

QTEST_MAIN(TestVideoNet)
#include "test_video_net.moc"
