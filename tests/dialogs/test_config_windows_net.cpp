// The network and audio windows against simulated devices and the silent host, inside the
// private test network: outcomes, exact documents from the simulator's log, the row removal
// and the audio read-back. The reply rule is the commands' own test; the search that finds a
// changed device at its new address is the operator session of test_row_actions.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <memory>

#include "dialogs/network_set.h"
#include "tests/support/devsim_harness.h"
#include "tests/support/find_widget.h"
#include "tests/support/window_messages.h"

using corvane::OperatorMessages;
using namespace corvane::config;
using corvane::test::Devsim;
using corvane::test::DevsimRecord;
using corvane::test::TestNetwork;

namespace {

// One device per table row, so that a restart never hides a device from a later row.
const QStringList kDevices{
    "ip=198.51.100.32,type=307,http=empty",
    "ip=198.51.100.33,type=307,http=size,http-size=29,http-only=1002",
    "ip=198.51.100.35,type=1102,http=size,http-size=30,http-only=1008/1002",
    "ip=198.51.100.36,type=1102",
    "ip=198.51.100.37,type=1102,http=bad-request,http-status=200,http-only=1008",
    "ip=198.51.100.38,type=1102,http=bad-request,http-status=200,http-only=1002",
    "ip=198.51.100.41,type=307,http=size,http-size=30,http-only=1036",
    "ip=198.51.100.42,type=307,http=bad-request,http-status=200,http-only=1036",
    "ip=198.51.100.43,type=307",
    "ip=198.51.100.45,type=1102,http=empty",
    "ip=198.51.100.46,type=1102,http=size,http-size=40,http-only=3052",
    "ip=198.51.100.47,type=1102",
};

const QString kMask = QStringLiteral("255.255.255.0");
const QString kGateway = QStringLiteral("198.51.100.1");
const QString kMac = QStringLiteral("02:43:56:00:00:99");

QByteArray networkBody(const QString& ip) {
    return wireText(networkSettingsDocument(
        {ip.toStdString(), kMask.toStdString(), kGateway.toStdString(), kMac.toStdString()}));
}

}  // namespace

class TestConfigWindowsNet : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void networkChange_data();
    void networkChange();
    void audioWrites_data();
    void audioWrites();

private:
    Devsim sim_;
    // One of each window for all rows: a failed or silent exchange must leave it usable.
    std::unique_ptr<Network_Set> net_;
    std::unique_ptr<Set_Audio> rx_;
    std::unique_ptr<Set_audio_tx> tx_;
};

void TestConfigWindowsNet::initTestCase() {
    QVERIFY2(TestNetwork::active(), "run through scripts/testnet");
    for (const QString& device : kDevices) {
        sim_.device(device);
    }
    sim_.arg(QStringLiteral("--restart-seconds=1"));
    QVERIFY2(sim_.start(), qPrintable(sim_.errorString()));
    net_ = std::make_unique<Network_Set>();
    rx_ = std::make_unique<Set_Audio>();
    tx_ = std::make_unique<Set_audio_tx>();
}

void TestConfigWindowsNet::cleanupTestCase() {
    net_.reset();
    rx_.reset();
    tx_.reset();
    QCOMPARE(sim_.stop(), 0);
}

void TestConfigWindowsNet::init() {
    OperatorMessages::reset();
    OperatorMessages::setUnattended(true);
}

void TestConfigWindowsNet::networkChange_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("newIp");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("restartSent");

    const QString failed = QStringLiteral("网络修改失败！");
    const QString restartFailed = QStringLiteral("网络修改成功，重启设备失败！");
    const QString done = QStringLiteral("网络修改成功，等待设备重启！");
    // The silent host first: the rows after it show the window still works.
    QTest::newRow("silent device")
        << TestNetwork::silentAddress() << 2 << "198.51.100.130" << failed << false;
    QTest::newRow("settings reply empty")
        << "198.51.100.32" << 1 << "198.51.100.132" << failed << false;
    QTest::newRow("restart reply 29")
        << "198.51.100.33" << 5 << "198.51.100.133" << restartFailed << true;
    QTest::newRow("both replies 30, row 0")
        << "198.51.100.35" << 0 << "198.51.100.135" << done << true;
    QTest::newRow("row 4096") << "198.51.100.36" << 4096 << "198.51.100.136" << done << true;
    // Refusals ("Result" -1, some 70 bytes) fail as a short reply does.
    QTest::newRow("settings refused")
        << "198.51.100.37" << 3 << "198.51.100.137" << failed << false;
    QTest::newRow("restart refused")
        << "198.51.100.38" << 3 << "198.51.100.138" << restartFailed << true;
}

// Both commands go to the address the window was loaded with; the row goes only when both were
// accepted, before the message, with its index unchanged.
void TestConfigWindowsNet::networkChange() {
    QFETCH(QString, address);
    QFETCH(int, row);
    QFETCH(QString, newIp);
    QFETCH(QString, message);
    QFETCH(bool, restartSent);
    const bool removed = message == QStringLiteral("网络修改成功，等待设备重启！");

    net_->set_network_info(networkInfo(address, kMask, kGateway, kMac), row);
    widget<QLineEdit>(*net_, "ipEdit")->setText(newIp);
    net_->show();
    QList<int> removals;
    QStringList shownBeforeRemoval;
    const QMetaObject::Connection watch =
        connect(net_.get(), &Network_Set::send_remove_row, this, [&](int r) {
            removals << r;
            shownBeforeRemoval = shownTexts();
        });
    widget<QPushButton>(*net_, "define")->click();
    QVERIFY(jobsEnded());
    disconnect(watch);

    QCOMPARE(shownTexts(), QStringList{notice(message)});
    QVERIFY(net_->isHidden());
    QCOMPARE(removals, removed ? QList<int>{row} : QList<int>{});
    QCOMPARE(shownBeforeRemoval, QStringList{});
    if (address == TestNetwork::silentAddress()) {
        return;
    }

    QList<QByteArray> sent;
    for (const DevsimRecord& r : sim_.records("http-in", address)) {
        QCOMPARE(r.local, address + QStringLiteral(":80"));
        sent << r.body();
    }
    QList<QByteArray> expected{networkBody(newIp)};
    if (restartSent) {
        expected << wireText(restartDocument());
    }
    QCOMPARE(sent, expected);
}

void TestConfigWindowsNet::audioWrites_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QList<int>>("readSelection");  // Set_Audio: video_out, audio_out
    QTest::addColumn<QList<int>>("choice");
    QTest::addColumn<QList<QByteArray>>("sent");  // the write, and the read-back it earned
    QTest::addColumn<QString>("message");

    const QString rx = QStringLiteral("Set_Audio");
    const QString tx = QStringLiteral("Set_audio_tx");
    const QString rxFailed = QStringLiteral("音频设置失败，请检查输出设备");
    const QString txFailed = QStringLiteral("音频设置失败，请检查输入设备");
    const QString done = QStringLiteral("音频设置成功");
    const QByteArray rx21 = wireText(rxAudioWriteDocument(2, 1));
    const QByteArray rxRead2 = wireText(rxAudioReadDocument(2));
    const QByteArray tx1 = wireText(txAudioWriteDocument(1));
    const QByteArray txRead = wireText(txAudioReadDocument());
    using Sent = QList<QByteArray>;

    // The simulated devices start with HDMI on both outputs and HDMI as input.
    QTest::newRow("rx reply 30") << rx << "198.51.100.41" << QList<int>{0, 1} << QList<int>{1, 0}
                                 << Sent{rx21} << rxFailed;
    QTest::newRow("rx refused") << rx << "198.51.100.42" << QList<int>{0, 1} << QList<int>{1, 0}
                                << Sent{rx21} << rxFailed;
    QTest::newRow("rx written and read back") << rx << "198.51.100.43" << QList<int>{0, 1}
                                              << QList<int>{1, 0} << Sent{rx21, rxRead2} << done;
    QTest::newRow("tx empty reply") << tx << "198.51.100.45" << QList<int>{-1} << QList<int>{-1}
                                    << Sent{wireText(txAudioWriteDocument(-1))} << txFailed;
    // Its reads answer 40 bytes without "AudioIn": the write is taken, the read-back shows
    // nothing.
    QTest::newRow("tx read-back without the input")
        << tx << "198.51.100.46" << QList<int>{-1} << QList<int>{1} << Sent{tx1, txRead}
        << txFailed;
    QTest::newRow("tx silent device") << tx << TestNetwork::silentAddress() << QList<int>{-1}
                                      << QList<int>{-1} << Sent{} << txFailed;
    QTest::newRow("tx after the silent device")
        << tx << "198.51.100.47" << QList<int>{0} << QList<int>{1} << Sent{tx1, txRead} << done;
}

// Read, choose, write, read back: the window's verdict, the documents on the wire.
void TestConfigWindowsNet::audioWrites() {
    QFETCH(QString, window);
    QFETCH(QString, address);
    QFETCH(QList<int>, readSelection);
    QFETCH(QList<int>, choice);
    QFETCH(QList<QByteArray>, sent);
    QFETCH(QString, message);

    QWidget* w =
        window == QLatin1String("Set_Audio") ? static_cast<QWidget*>(rx_.get()) : tx_.get();
    QCOMPARE(readAudio(w, address), 1);
    QCOMPARE(audioSelection(w), readSelection);
    QCOMPARE(widget<QLabel>(*w, "ipaddr")->text(), address);

    chooseAudio(w, choice);
    w->show();
    const int before = sim_.records("http-in").size();
    widget<QPushButton>(*w, "set_button")->click();
    QVERIFY(jobsEnded());
    QCOMPARE(shownTexts(), QStringList{notice(message)});
    // A failed write keeps the window open with the choice, to try again or cancel.
    QCOMPARE(w->isHidden(), message == QStringLiteral("音频设置成功"));
    w->hide();
    QList<QByteArray> bodies;
    for (const DevsimRecord& r : sim_.records("http-in", address, before)) {
        QCOMPARE(r.local, address + QStringLiteral(":80"));
        bodies << r.body();
    }
    QCOMPARE(bodies, sent);
}

QTEST_MAIN(TestConfigWindowsNet)
#include "test_config_windows_net.moc"
