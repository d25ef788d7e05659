// The network and audio windows against simulated devices and the silent host, inside the
// private test network: outcomes, exact documents from the simulator's log, the row removal,
// and a network change that a new search sees.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>
#include <memory>

#include "base_frame.h"
#include "config_commands.h"
#include "devsim_harness.h"
#include "find_widget.h"
#include "network_set.h"
#include "operator_messages.h"
#include "set_audio.h"
#include "set_audio_tx.h"
#include "window_messages.h"

using corvane::OperatorMessages;
using corvane::test::Devsim;
using corvane::test::DevsimRecord;
using corvane::test::TestNetwork;

namespace {

// One device per table row, so that a restart never hides a device from a later row.
const QStringList kDevices{
    "ip=198.51.100.31,type=307,http=size,http-size=29,http-only=1008",
    "ip=198.51.100.32,type=307,http=empty",
    "ip=198.51.100.33,type=307,http=size,http-size=29,http-only=1002",
    "ip=198.51.100.34,type=1102,http=size,http-size=30,http-only=1008",
    "ip=198.51.100.35,type=1102,http=size,http-size=30,http-only=1008/1002",
    "ip=198.51.100.36,type=1102",
    "ip=198.51.100.41,type=307,http=size,http-size=30,http-only=1036",
    "ip=198.51.100.42,type=307,http=size,http-size=31,http-only=1036",
    "ip=198.51.100.43,type=1102,http=size,http-size=30,http-only=3054",
    "ip=198.51.100.44,type=1102,http=size,http-size=31,http-only=3054",
    "ip=198.51.100.45,type=1102,http=empty",
    "ip=198.51.100.46,type=307,http=empty",
    "ip=198.51.100.47,type=1102",
    "ip=198.51.100.50,type=307",
};

const QString kMask = QStringLiteral("255.255.255.0");
const QString kGateway = QStringLiteral("198.51.100.1");
const QString kMac = QStringLiteral("02:43:56:00:00:99");

QByteArray bodyOf(const DevsimRecord& record) {
    return record.data.mid(record.data.indexOf("\r\n\r\n") + 4);
}

QByteArray networkBody(const QString& ip) {
    return QByteArray::fromStdString(
        corvane::config::networkSettingsDocument(
            {ip.toStdString(), kMask.toStdString(), kGateway.toStdString(), kMac.toStdString()})
            .PrettyText());
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
    void changedDeviceIsFoundAtItsNewAddress();

private:
    QList<DevsimRecord> requestsTo(const QString& address) const;

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

QList<DevsimRecord> TestConfigWindowsNet::requestsTo(const QString& address) const {
    QList<DevsimRecord> requests;
    for (const DevsimRecord& r : sim_.records(QStringLiteral("http-in"))) {
        if (r.device == address) {
            requests << r;
        }
    }
    return requests;
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
    QTest::newRow("settings reply 29")
        << "198.51.100.31" << 0 << "198.51.100.131" << failed << false;
    QTest::newRow("settings reply empty")
        << "198.51.100.32" << 1 << "198.51.100.132" << failed << false;
    QTest::newRow("restart reply 29")
        << "198.51.100.33" << 5 << "198.51.100.133" << restartFailed << true;
    QTest::newRow("settings reply 30") << "198.51.100.34" << 0 << "198.51.100.134" << done << true;
    QTest::newRow("both replies 30, row 100")
        << "198.51.100.35" << 100 << "198.51.100.135" << done << true;
    QTest::newRow("row 4096") << "198.51.100.36" << 4096 << "198.51.100.136" << done << true;
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
    QSignalSpy removals(net_.get(), &Network_Set::send_remove_row);
    QStringList shownBeforeRemoval{QStringLiteral("not emitted")};
    const QMetaObject::Connection watch = connect(net_.get(), &Network_Set::send_remove_row, this,
                                                  [&] { shownBeforeRemoval = shownTexts(); });
    widget<QPushButton>(*net_, "define")->click();
    disconnect(watch);

    QCOMPARE(shownTexts(), QStringList{notice(message)});
    QVERIFY(net_->isHidden());
    QCOMPARE(removals.count(), removed ? 1 : 0);
    if (removed) {
        QCOMPARE(removals.at(0).at(0).toInt(), row);
        QCOMPARE(shownBeforeRemoval, QStringList{});
    }
    if (address == TestNetwork::silentAddress()) {
        return;
    }

    const QList<DevsimRecord> requests = requestsTo(address);
    QCOMPARE(requests.size(), restartSent ? 2 : 1);
    QCOMPARE(requests[0].code, 1008);
    QCOMPARE(requests[0].local, address + QStringLiteral(":80"));
    QCOMPARE(bodyOf(requests[0]), networkBody(newIp));
    if (restartSent) {
        QCOMPARE(requests[1].code, 1002);
        QCOMPARE(requests[1].local, address + QStringLiteral(":80"));
        QCOMPARE(bodyOf(requests[1]), QByteArray("{\n\t\"ProtocolCode\":\t1002\n}"));
    }
}

void TestConfigWindowsNet::audioWrites_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("readResult");
    QTest::addColumn<QList<int>>("readSelection");  // Set_Audio: video_out, audio_out
    QTest::addColumn<QList<int>>("choice");         // empty: no write
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QString>("message");

    const QString rx = QStringLiteral("Set_Audio");
    const QString tx = QStringLiteral("Set_audio_tx");
    const QString rxFailed = QStringLiteral("音频设置失败，请检查输出设备");
    const QString txFailed = QStringLiteral("音频设置失败，请检查输入设备");
    const QString done = QStringLiteral("音频设置成功");
    const QString silent = TestNetwork::silentAddress();
    const QByteArray rx21 =
        "{\n\t\"ProtocolCode\":\t1036,\n\t\"Parameters\":\t{\n"
        "\t\t\"DisplayId\":\t2,\n\t\t\"AoDevId\":\t1\n\t}\n}";
    const QByteArray tx1 =
        "{\n\t\"ProtocolCode\":\t3054,\n\t\"Parameters\":\t{\n"
        "\t\t\"AudioIn\":\t1\n\t}\n}";
    const QByteArray txNone =
        "{\n\t\"ProtocolCode\":\t3054,\n\t\"Parameters\":\t{\n"
        "\t\t\"AudioIn\":\t-1\n\t}\n}";

    // The simulated devices start with HDMI on both outputs and HDMI as input.
    QTest::newRow("rx reply 30") << rx << "198.51.100.41" << 1 << QList<int>{0, 1}
                                 << QList<int>{1, 0} << rx21 << rxFailed;
    QTest::newRow("rx reply 31") << rx << "198.51.100.42" << 1 << QList<int>{0, 1}
                                 << QList<int>{1, 0} << rx21 << done;
    // A failed read leaves the whole form as the last row left it.
    QTest::newRow("rx empty reply") << rx << "198.51.100.46" << 0 << QList<int>{1, 0}
                                    << QList<int>{} << QByteArray() << QString();
    QTest::newRow("tx reply 30") << tx << "198.51.100.43" << 1 << QList<int>{0} << QList<int>{1}
                                 << tx1 << txFailed;
    QTest::newRow("tx reply 31") << tx << "198.51.100.44" << 1 << QList<int>{0} << QList<int>{1}
                                 << tx1 << done;
    QTest::newRow("tx empty reply")
        << tx << "198.51.100.45" << 1 << QList<int>{-1} << QList<int>{-1} << txNone << txFailed;
    QTest::newRow("tx silent device")
        << tx << silent << 1 << QList<int>{-1} << QList<int>{-1} << QByteArray() << txFailed;
    QTest::newRow("tx after the silent device")
        << tx << "198.51.100.47" << 1 << QList<int>{0} << QList<int>{1} << tx1 << done;
}

// Read, choose, write: the window's verdict from the reply's length, the document on the wire.
void TestConfigWindowsNet::audioWrites() {
    QFETCH(QString, window);
    QFETCH(QString, address);
    QFETCH(int, readResult);
    QFETCH(QList<int>, readSelection);
    QFETCH(QList<int>, choice);
    QFETCH(QByteArray, written);
    QFETCH(QString, message);

    const bool rx = window == QLatin1String("Set_Audio");
    QWidget* w = rx ? static_cast<QWidget*>(rx_.get()) : tx_.get();
    QComboBox* audio = widget<QComboBox>(*w, "audio_out");
    QComboBox* video = rx ? widget<QComboBox>(*w, "video_out") : nullptr;
    QLabel* ipaddr = widget<QLabel>(*w, "ipaddr");
    const QString addressBefore = ipaddr->text();

    const QByteArray ip = address.toLatin1();
    const int result =
        rx ? rx_->get_audio_param(ip.constData(), corvane::config::rxAudioReadDocument())
           : tx_->get_audio_param(ip.constData(), corvane::config::txAudioReadDocument());
    QCOMPARE(result, readResult);
    QList<int> selection;
    if (video != nullptr) {
        selection << video->currentIndex();
    }
    selection << audio->currentIndex();
    QCOMPARE(selection, readSelection);
    QCOMPARE(ipaddr->text(), readResult == 1 ? address : addressBefore);
    if (choice.isEmpty()) {
        QVERIFY(OperatorMessages::takeShown().isEmpty());
        return;
    }

    if (video != nullptr) {
        video->setCurrentIndex(choice.takeFirst());
    }
    audio->setCurrentIndex(choice.takeFirst());
    w->show();
    widget<QPushButton>(*w, "set_button")->click();
    QCOMPARE(shownTexts(), QStringList{notice(message)});
    // A failed write keeps the window open with the choice, to try again or cancel.
    QCOMPARE(w->isHidden(), message == QStringLiteral("音频设置成功"));
    w->hide();
    if (written.isEmpty()) {
        return;
    }
    const QList<DevsimRecord> requests = requestsTo(address);
    QVERIFY(!requests.isEmpty());
    QCOMPARE(bodyOf(requests.last()), written);
    QCOMPARE(requests.last().local, address + QStringLiteral(":80"));
}

// Through the main window: the change removes the row, the device restarts under its new
// address, and the next search finds it there and not at the old one.
void TestConfigWindowsNet::changedDeviceIsFoundAtItsNewAddress() {
    const QString before = QStringLiteral("198.51.100.50");
    const QString after = QStringLiteral("198.51.100.150");
    Base_Frame main;
    Network_Set* net = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* candidate = qobject_cast<Network_Set*>(w);
        if (candidate != nullptr && candidate != net_.get()) {
            net = candidate;
        }
    }
    QVERIFY(net != nullptr);

    QTableWidget* table = widget<QTableWidget>(main, "tableWidget");
    auto rowOf = [table](const QString& ip) {
        for (int r = 0; r < table->rowCount(); ++r) {
            if (table->item(r, 1)->text() == ip) {
                return r;
            }
        }
        return -1;
    };
    widget<QPushButton>(main, "search")->click();
    const int row = rowOf(before);
    QVERIFY2(row >= 0, "the device is not in the table");
    const int rows = table->rowCount();

    // What a double-click on the row hands over.
    net->set_network_info(networkInfo(table->item(row, 1)->text(), table->item(row, 5)->text(),
                                      table->item(row, 6)->text(), table->item(row, 7)->text()),
                          row);
    widget<QLineEdit>(*net, "ipEdit")->setText(after);
    widget<QPushButton>(*net, "define")->click();
    QCOMPARE(shownTexts(), QStringList{notice(QStringLiteral("网络修改成功，等待设备重启！"))});
    QCOMPARE(table->rowCount(), rows - 1);
    QCOMPARE(rowOf(before), -1);

    QVERIFY(sim_.waitForRecord(
        QStringLiteral("restart-up"),
        [&](const DevsimRecord& r) { return r.raw.value("previous").toString() == before; },
        15000));
    widget<QPushButton>(main, "search")->click();
    QVERIFY2(rowOf(after) >= 0, "not found at the new address");
    QCOMPARE(rowOf(before), -1);
}

QTEST_MAIN(TestConfigWindowsNet)
#include "test_config_windows_net.moc"
