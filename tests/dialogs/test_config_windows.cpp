// The network and audio windows on their own and inside the main window: ownership, language,
// reads into the forms and the writes that follow them, and what is not sent. Peers on
// 127.0.0.161-163.
#include <QAbstractButton>
#include <QCheckBox>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>
#include <memory>

#include "app/base_frame.h"
#include "dialogs/network_set.h"
#include "dialogs/video_parameters.h"
#include "discovery/device_list.h"
#include "tests/support/find_widget.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/window_messages.h"

using corvane::OperatorMessages;
using namespace corvane::config;

namespace {

const char kPeerIp[] = "127.0.0.161";
const quint16 kPeerPort = 8161;
const QString kPeerAddress = QStringLiteral("127.0.0.161:8161");
const char kQuietIp[] = "127.0.0.162";
const quint16 kQuietPort = 8162;
const QString kQuietAddress = QStringLiteral("127.0.0.162:8162");
// Nothing listens there: a request is refused at once.
const QString kRefusedAddress = QStringLiteral("127.0.0.163:9");

std::unique_ptr<QWidget> makeWindow(const QString& name) {
    if (name == QLatin1String("Network_Set")) {
        return std::make_unique<Network_Set>();
    }
    if (name == QLatin1String("Set_Audio")) {
        return std::make_unique<Set_Audio>();
    }
    return std::make_unique<Set_audio_tx>();
}

// What a widget shows: label and button texts, a list's items ("a|b"), a line edit's text.
QString shownText(QWidget* w) {
    if (auto* label = qobject_cast<QLabel*>(w)) {
        return label->text();
    }
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        return button->text();
    }
    if (auto* list = qobject_cast<QComboBox*>(w)) {
        return itemsOf(list).join(QLatin1Char('|'));
    }
    return qobject_cast<QLineEdit*>(w)->text();
}

// "title=..." and "object=text" for the objects named in `expected` (the same form).
QStringList textsOf(QWidget* window, const QStringList& expected) {
    QStringList texts{QStringLiteral("title=") + window->windowTitle()};
    for (const QString& t : expected.mid(1)) {
        const QString name = t.section(QLatin1Char('='), 0, 0);
        texts << name + QLatin1Char('=') + shownText(widget<QWidget>(*window, qPrintable(name)));
    }
    return texts;
}

}  // namespace

class TestConfigWindows : public QObject {
    Q_OBJECT

private slots:
    void init();
    void mainWindowOwnsTheWindows();
    void languageSwitch_data();
    void languageSwitch();
    void readsAndWrites_data();
    void readsAndWrites();
    void nothingSent_data();
    void nothingSent();
};

void TestConfigWindows::init() {
    OperatorMessages::reset();
    OperatorMessages::setUnattended(true);
}

// The main window makes one of each configuration window, without parent, hidden and with the
// tool's title, and takes them along when it goes (the row removal it wires is test_row_actions'
// double-click).
void TestConfigWindows::mainWindowOwnsTheWindows() {
    auto counts = [] {
        return QList<int>{windowsOf<Video_Parameters>().size(), windowsOf<Network_Set>().size(),
                          windowsOf<Set_Audio>().size(), windowsOf<Set_audio_tx>().size()};
    };
    QCOMPARE(counts(), (QList<int>{0, 0, 0, 0}));
    auto main = std::make_unique<Base_Frame>();
    QCOMPARE(counts(), (QList<int>{1, 1, 1, 1}));
    for (QWidget* w : {static_cast<QWidget*>(windowsOf<Video_Parameters>()[0]),
                       static_cast<QWidget*>(windowsOf<Network_Set>()[0]),
                       static_cast<QWidget*>(windowsOf<Set_Audio>()[0]),
                       static_cast<QWidget*>(windowsOf<Set_audio_tx>()[0])}) {
        QVERIFY(w->parent() == nullptr);
        QVERIFY(w->isHidden());
        QCOMPARE(w->windowTitle(), QStringLiteral(" Corvane Tool"));
    }
    main.reset();
    QCOMPARE(counts(), (QList<int>{0, 0, 0, 0}));
}

void TestConfigWindows::languageSwitch_data() {
    QTest::addColumn<bool>("english");
    QTest::addColumn<QStringList>("net");
    QTest::addColumn<QStringList>("rx");
    QTest::addColumn<QStringList>("tx");

    // The English catalogue has no title for the windows: they show the form's own "Form".
    QTest::newRow("English")
        << true << QStringList{"title=Form",      "label=IP",     "label_2=Mask",
                               "label_3=Gateway", "label_4=Mac",  "label_5=Net Setting",
                               "define=Ok",       "cancel=Close", "line="}
        << QStringList{"title=Form",           "label_2=VideoChn", "label=AudioChn",
                       "label_3=OutputDevice", "set_button=Ok",    "cancel_button=Close",
                       "audio_out=3.5mm|HDMI", "video_out=1|2",    "ipaddr=192.168.2.1"}
        << QStringList{"title=Form",        "label=AudioChn",      "label_3=InputDevice",
                       "set_button=Ok",     "cancel_button=Close", "audio_out=HDMI|3.5mm",
                       "ipaddr=192.168.2.1"};
    QTest::newRow("back to Chinese")
        << false << QStringList{"title=网络配置", "label=IP地址",    "label_2=子网掩码",
                                "label_3=网关",   "label_4=MAC地址", "label_5=网络配置",
                                "define=配置",    "cancel=取消",     "line="}
        << QStringList{"title=Corvane Tool",           "label_2=视频输出通道", "label=音频输出通道",
                       "label_3=输出设备音频输出设置", "set_button=配置",      "cancel_button=取消",
                       "audio_out=3.5mm输出|HDMI输出", "video_out=1|2",        "ipaddr=192.168.2.1"}
        << QStringList{"title=Corvane Tool", "label=音频输出通道", "label_3=输入设备音频输出设置",
                       "set_button=配置",    "cancel_button=取消", "audio_out=HDMI输出|3.5mm输出",
                       "ipaddr=192.168.2.1"};
}

// The main window's language box; the windows follow at once, their messages stay Chinese.
void TestConfigWindows::languageSwitch() {
    QFETCH(bool, english);
    QFETCH(QStringList, net);
    QFETCH(QStringList, rx);
    QFETCH(QStringList, tx);

    Base_Frame main;
    Network_Set* netWindow = windowsOf<Network_Set>()[0];
    Set_Audio* rxWindow = windowsOf<Set_Audio>()[0];
    Set_audio_tx* txWindow = windowsOf<Set_audio_tx>()[0];
    // Addresses as a read leaves them; the switch puts the form's own text back.
    widget<QLabel>(*rxWindow, "ipaddr")->setText(QStringLiteral("10.9.8.7"));
    widget<QLabel>(*txWindow, "ipaddr")->setText(QStringLiteral("10.9.8.7"));

    QCheckBox* box = widget<QCheckBox>(main, "checkBox");
    box->click();
    if (!english) {
        box->click();
    }
    QCOMPARE(box->isChecked(), english);
    QCoreApplication::processEvents();
    QCOMPARE(textsOf(netWindow, net), net);
    QCOMPARE(textsOf(rxWindow, rx), rx);
    QCOMPARE(textsOf(txWindow, tx), tx);

    // The messages: an over-long address, and two writes that nobody answers.
    netWindow->set_network_info(networkInfo(QStringLiteral("198.51.100.100:80")), 0);
    widget<QPushButton>(*netWindow, "define")->click();
    QVERIFY(jobsEnded());
    widget<QLabel>(*rxWindow, "ipaddr")->setText(kRefusedAddress);
    widget<QPushButton>(*rxWindow, "set_button")->click();
    QVERIFY(jobsEnded());
    widget<QLabel>(*txWindow, "ipaddr")->setText(kRefusedAddress);
    widget<QPushButton>(*txWindow, "set_button")->click();
    QVERIFY(jobsEnded());
    QCOMPARE(shownTexts(),
             (QStringList{notice("IP地址不能超过15个字符"), notice("音频设置失败，请检查输出设备"),
                          notice("音频设置失败，请检查输入设备")}));
}

void TestConfigWindows::readsAndWrites_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("result");
    QTest::addColumn<QList<int>>("selection");  // Set_Audio: video_out, audio_out
    QTest::addColumn<bool>("addressSet");
    QTest::addColumn<QByteArray>("written");  // by a write after the read; empty: no write

    // Each read starts from: video_out "2", audio_out "HDMI输出" / "3.5mm输出", address 10.9.8.7.
    const QString rx = QStringLiteral("Set_Audio");
    const QByteArray none;
    QTest::newRow("rx display 1, jack")
        << rx << QByteArray(R"({"Parameters":{"DisplayId":1,"AoDevId":1}})") << 1
        << QList<int>{0, 0} << true << wireText(rxAudioWriteDocument(1, 1));
    QTest::newRow("rx display 3") << rx
                                  << QByteArray(R"({"Parameters":{"DisplayId":3,"AoDevId":1}})")
                                  << 0 << QList<int>{1, 1} << false << none;
    QTest::newRow("rx display missing") << rx << QByteArray(R"({"Parameters":{"AoDevId":1}})") << 0
                                        << QList<int>{1, 1} << false << none;
    QTest::newRow("rx empty reply") << rx << QByteArray() << 0 << QList<int>{1, 1} << false << none;
    // No output selected: 0 is written.
    QTest::newRow("rx output missing")
        << rx << QByteArray(R"({"Parameters":{"DisplayId":2}})") << 1 << QList<int>{1, -1} << true
        << wireText(rxAudioWriteDocument(2, 0));
    QTest::newRow("rx output 3") << rx
                                 << QByteArray(R"({"Parameters":{"DisplayId":2,"AoDevId":3}})") << 1
                                 << QList<int>{1, -1} << true << none;

    const QString tx = QStringLiteral("Set_audio_tx");
    QTest::newRow("tx jack") << tx << QByteArray(R"({"Parameters":{"AudioIn":1}})") << 1
                             << QList<int>{1} << true << wireText(txAudioWriteDocument(1));
    QTest::newRow("tx HDMI") << tx << QByteArray(R"({"Parameters":{"AudioIn":0}})") << 1
                             << QList<int>{0} << true << none;
    // No input selected: -1 is written.
    QTest::newRow("tx input 2") << tx << QByteArray(R"({"Parameters":{"AudioIn":2}})") << 1
                                << QList<int>{-1} << true << wireText(txAudioWriteDocument(-1));
    // The transmitter's read never fails: no selection, and the address is set all the same.
    QTest::newRow("tx empty reply") << tx << QByteArray() << 1 << QList<int>{-1} << true << none;
}

// A read fills the form only from a usable reply; a write goes to the address the read left,
// with what the read selected. The peer answers the write alone: without a read-back showing
// the choice the write has failed, and the window stays open.
void TestConfigWindows::readsAndWrites() {
    QFETCH(QString, window);
    QFETCH(QByteArray, reply);
    QFETCH(int, result);
    QFETCH(QList<int>, selection);
    QFETCH(bool, addressSet);
    QFETCH(QByteArray, written);

    const std::unique_ptr<QWidget> w = makeWindow(window);
    QLabel* address = widget<QLabel>(*w, "ipaddr");
    address->setText(QStringLiteral("10.9.8.7"));
    chooseAudio(w.get(), window == QLatin1String("Set_Audio") ? QList<int>{1, 1} : QList<int>{0});

    int got = -1;
    ScriptedPeer::exchange(kPeerIp, kPeerPort, reply,
                           [&] { got = readAudio(w.get(), kPeerAddress); });
    QCOMPARE(got, result);
    QCOMPARE(audioSelection(w.get()), selection);
    QCOMPARE(address->text(), addressSet ? kPeerAddress : QStringLiteral("10.9.8.7"));
    QVERIFY(OperatorMessages::takeShown().isEmpty());
    if (written.isEmpty()) {
        return;
    }

    w->show();
    const QByteArray request = ScriptedPeer::exchange(
        kPeerIp, kPeerPort, R"({"Message":"OK","ProtocolCode":0,"Result":0})",
        [&] { widget<QPushButton>(*w, "set_button")->click(); });
    QVERIFY(jobsEnded());
    QCOMPARE(request.mid(request.indexOf("\r\n\r\n") + 4), written);
    QCOMPARE(shownTexts(), QStringList{notice(window == QLatin1String("Set_Audio")
                                                  ? "音频设置失败，请检查输出设备"
                                                  : "音频设置失败，请检查输入设备")});
    QVERIFY(w->isVisible());
}

void TestConfigWindows::nothingSent_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");  // empty: none

    auto row = [](const char* name, const char* window, const char* button, const char* field,
                  const char* typed, const char* message) {
        QTest::newRow(name) << window << button << field << typed << message;
    };
    const char* net = "Network_Set";
    row("net cancel", net, "cancel", "", "", "");
    row("net address 16", net, "define", "ipEdit", "198.51.100.10000", "IP地址不能超过15个字符");
    row("net mask 16", net, "define", "maskEdit", "255.255.255.2550", "子网掩码不能超过15个字符");
    row("net gateway 16", net, "define", "gatewayEdit", "198.51.100.25400", "网关不能超过15个字符");
    row("net MAC 20", net, "define", "macEdit", "02:43:56:00:00:0A:BC", "MAC地址不能超过19个字符");
    row("net MAC 7 CJK characters", net, "define", "macEdit", "网络地址一二三",
        "MAC地址不能超过19个字符");
    row("net address letters", net, "define", "ipEdit", "abc.def.ghi.jkl", "IP地址格式错误");
    row("net address empty", net, "define", "ipEdit", "", "IP地址格式错误");
    row("net mask with a letter", net, "define", "maskEdit", "255.255.255.0x", "子网掩码格式错误");
    row("net mask not contiguous", net, "define", "maskEdit", "255.0.255.0", "子网掩码格式错误");
    row("net gateway leading zero", net, "define", "gatewayEdit", "10.0.0.01", "网关格式错误");
    row("net MAC empty", net, "define", "macEdit", "", "MAC地址格式错误");
    row("net MAC of two pairs", net, "define", "macEdit", "zz:zz", "MAC地址格式错误");
    row("net address of another device", net, "define", "ipEdit", "198.51.100.24",
        "IP地址已被其他设备使用");
    row("rx cancel", "Set_Audio", "cancel_button", "", "", "");
    row("tx cancel", "Set_audio_tx", "cancel_button", "", "", "");
}

// Cancel closes and sends nothing; an over-long or malformed field, or the address of another
// device of the last search, is refused with one message, nothing is sent and the window stays
// open with the text.
void TestConfigWindows::nothingSent() {
    QFETCH(QString, window);
    QFETCH(QString, button);
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, message);

    // A listener that never answers: a request would show as a waiting connection.
    QTcpServer quiet;
    QVERIFY(quiet.listen(QHostAddress(QString::fromLatin1(kQuietIp)), kQuietPort));
    // The last search found the device itself and one other.
    int nothing_found = 0;
    device_list().refill_from_text(
        R"({"ProtocolCode":999,"Parameters":[)"
        R"({"DeviceType":307,"NetConfig":[{"IpAddr":"127.0.0.162"}]},)"
        R"({"DeviceType":307,"NetConfig":[{"IpAddr":"198.51.100.24"}]}]})",
        nothing_found);
    QCOMPARE(nothing_found, 0);

    const std::unique_ptr<QWidget> w = makeWindow(window);
    auto* net = qobject_cast<Network_Set*>(w.get());
    std::unique_ptr<QSignalSpy> removals;
    if (net != nullptr) {
        net->set_network_info(networkInfo(kQuietAddress), 7);
        // As the main window gives it: the addresses of the last search.
        net->set_address_source([] { return device_addresses(device_list().snapshot()); });
        widget<QLineEdit>(*w, "ipEdit")->setText(QStringLiteral("198.51.100.99"));
        removals = std::make_unique<QSignalSpy>(net, &Network_Set::send_remove_row);
    } else {
        widget<QLabel>(*w, "ipaddr")->setText(kQuietAddress);
    }
    if (!field.isEmpty()) {
        widget<QLineEdit>(*w, qPrintable(field))->setText(typed);
    }
    w->show();
    widget<QPushButton>(*w, qPrintable(button))->click();
    QVERIFY(jobsEnded());

    QCOMPARE(shownTexts(), message.isEmpty() ? QStringList{} : QStringList{notice(message)});
    QCOMPARE(w->isVisible(), !message.isEmpty());
    if (!field.isEmpty()) {
        QCOMPARE(widget<QLineEdit>(*w, qPrintable(field))->text(), typed);
    }
    if (removals) {
        QCOMPARE(removals->count(), 0);
    }
    QVERIFY(!quiet.waitForNewConnection(200));
}

QTEST_MAIN(TestConfigWindows)
#include "test_config_windows.moc"
