// The network and audio windows on their own and inside the main window: forms, language,
// reads into the forms, and what is not sent. Peers on 127.0.0.161-163.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTcpServer>
#include <QtTest>
#include <memory>

#include "base_frame.h"
#include "config_commands.h"
#include "find_widget.h"
#include "network_set.h"
#include "operator_messages.h"
#include "scripted_peer.h"
#include "set_audio.h"
#include "set_audio_tx.h"
#include "window_messages.h"

using corvane::OperatorMessages;

namespace {

const char kPeerIp[] = "127.0.0.161";
const quint16 kPeerPort = 8161;
const QString kPeerAddress = QStringLiteral("127.0.0.161:8161");
const char kQuietIp[] = "127.0.0.162";
const quint16 kQuietPort = 8162;
const QString kQuietAddress = QStringLiteral("127.0.0.162:8162");
// Nothing listens there: a request is refused at once.
const QString kRefusedAddress = QStringLiteral("127.0.0.163:9");

const QString kWindowStyle = QStringLiteral(
    "background-color: rgb(241, 241, 241);\nfont: 75 10pt \"微软雅黑\";\ncolor: rgb(52, 63, 66);");
const QString kFieldStyle = QStringLiteral("background-color: rgb(240, 248, 252);");
const QString kHeadingStyle = QStringLiteral("background-color: rgb(242, 253, 255);");

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
        QStringList items;
        for (int i = 0; i < list->count(); ++i) {
            items << list->itemText(i);
        }
        return items.join(QLatin1Char('|'));
    }
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        return edit->text();
    }
    return QString();
}

// One widget as the form tables list it.
QString part(const QString& object, const QString& kind, const QRect& g, const QString& style,
             const QString& text) {
    return QStringLiteral("%1 %2 %3,%4,%5,%6 [%7] [%8]")
        .arg(object, kind)
        .arg(g.x())
        .arg(g.y())
        .arg(g.width())
        .arg(g.height())
        .arg(style, text);
}

// "object=text" for each named widget; the window itself as "title=...".
QStringList textsOf(QWidget* window, const QStringList& objects) {
    QStringList texts{QStringLiteral("title=") + window->windowTitle()};
    for (const QString& name : objects) {
        texts << name + QLatin1Char('=') + shownText(widget<QWidget>(*window, qPrintable(name)));
    }
    return texts;
}

// The one top-level window of class T (the main window's).
template <typename T>
T* theWindow() {
    T* found = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* t = qobject_cast<T*>(w)) {
            if (found != nullptr) {
                qFatal("more than one %s", T::staticMetaObject.className());
            }
            found = t;
        }
    }
    return found;
}

// Runs one read of `window` against a peer that answers `body`; returns the read's result.
int readFromPeer(QWidget* window, const QByteArray& body) {
    PeerScript script;
    script.reply = ScriptedPeer::http_reply(200, body);
    ScriptedPeer peer(kPeerIp, kPeerPort, script);
    if (!peer.listening()) {
        qFatal("cannot listen on %s:%d", kPeerIp, kPeerPort);
    }
    const QByteArray address = kPeerAddress.toLatin1();
    int result = -1;
    if (auto* rx = qobject_cast<Set_Audio*>(window)) {
        result = rx->get_audio_param(address.constData(), corvane::config::rxAudioReadDocument());
    } else if (auto* tx = qobject_cast<Set_audio_tx*>(window)) {
        result = tx->get_audio_param(address.constData(), corvane::config::txAudioReadDocument());
    }
    peer.join();
    return result;
}

}  // namespace

class TestConfigWindows : public QObject {
    Q_OBJECT

private slots:
    void init();
    void forms_data();
    void forms();
    void networkFormDetails();
    void mainWindowOwnsTheWindows();
    void languageSwitch_data();
    void languageSwitch();
    void reads_data();
    void reads();
    void writeAfterRead_data();
    void writeAfterRead();
    void nothingSent_data();
    void nothingSent();
};

void TestConfigWindows::init() {
    OperatorMessages::reset();
    OperatorMessages::setUnattended(true);
}

void TestConfigWindows::forms_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QStringList>("parts");  // in creation order

    const QString field = kFieldStyle;
    const QString heading = kHeadingStyle;
    QTest::newRow("Network_Set")
        << "Network_Set" << QSize(356, 279)
        << QStringList{
               part("label", "QLabel", {20, 60, 80, 20}, field, "IP地址"),
               part("label_2", "QLabel", {20, 100, 80, 20}, field, "子网掩码"),
               part("label_3", "QLabel", {20, 140, 80, 20}, field, "网关"),
               part("label_4", "QLabel", {20, 180, 80, 20}, field, "MAC地址"),
               part("maskEdit", "QLineEdit", {130, 100, 180, 20}, field, ""),
               part("gatewayEdit", "QLineEdit", {130, 140, 180, 20}, field, ""),
               part("macEdit", "QLineEdit", {130, 180, 180, 20}, field, ""),
               part("label_5", "QLabel", {20, 12, 80, 20}, field + "\ncolor: rgb(56, 56, 56);",
                    "网络配置"),
               part("define", "QPushButton", {130, 220, 75, 30}, "", "配置"),
               part("cancel", "QPushButton", {240, 220, 75, 30}, "", "取消"),
               part("line", "QLabel", {20, 45, 290, 2}, "background-color: rgb(203, 231, 243);",
                    ""),
               part("ipEdit", "QLineEdit", {130, 60, 180, 20}, field, ""),
               part("row", "QSpinBox", {190, 20, 42, 22},
                    "background-color: rgb(241, 241, 241);\ncolor: rgb(241, 241, 241);", ""),
           };
    QTest::newRow("Set_Audio")
        << "Set_Audio" << QSize(361, 208)
        << QStringList{
               part("label_2", "QLabel", {20, 70, 100, 22}, field, "视频输出通道"),
               part("set_button", "QPushButton", {150, 160, 75, 23}, "", "配置"),
               part("cancel_button", "QPushButton", {250, 160, 75, 23}, "", "取消"),
               part("audio_out", "QComboBox", {150, 110, 171, 22}, field, "3.5mm输出|HDMI输出"),
               part("video_out", "QComboBox", {150, 70, 171, 22}, field, "1|2"),
               part("label", "QLabel", {20, 110, 100, 22}, field, "音频输出通道"),
               part("label_3", "QLabel", {150, 20, 171, 22}, heading, "输出设备音频输出设置"),
               part("ipaddr", "QLabel", {20, 20, 100, 22}, field, "192.168.2.1"),
           };
    QTest::newRow("Set_audio_tx")
        << "Set_audio_tx" << QSize(371, 148)
        << QStringList{
               part("label", "QLabel", {30, 60, 100, 22}, field, "音频输出通道"),
               part("label_3", "QLabel", {160, 10, 171, 22}, heading, "输入设备音频输出设置"),
               part("set_button", "QPushButton", {160, 110, 75, 23}, "", "配置"),
               part("ipaddr", "QLabel", {30, 10, 100, 22}, field, "192.168.2.1"),
               part("cancel_button", "QPushButton", {260, 110, 75, 23}, "", "取消"),
               part("audio_out", "QComboBox", {160, 60, 171, 22}, field, "HDMI输出|3.5mm输出"),
           };
}

// Names, kinds, geometry, style sheets, texts and items, in the order the form makes them.
void TestConfigWindows::forms() {
    QFETCH(QString, window);
    QFETCH(QSize, size);
    QFETCH(QStringList, parts);
    const std::unique_ptr<QWidget> w = makeWindow(window);
    QCOMPARE(w->objectName(), window);
    QCOMPARE(w->size(), size);
    QCOMPARE(w->styleSheet(), kWindowStyle);
    QCOMPARE(w->windowTitle(), QStringLiteral(" Corvane Tool"));
    QVERIFY(w->isWindow());
    QVERIFY(w->isHidden());
    QStringList shown;
    for (QObject* child : w->children()) {
        if (auto* c = qobject_cast<QWidget*>(child)) {
            shown << part(c->objectName(), QString::fromLatin1(c->metaObject()->className()),
                          c->geometry(), c->styleSheet(), shownText(c));
        }
    }
    QCOMPARE(shown, parts);
}

// The parts of the network form that carry no text.
void TestConfigWindows::networkFormDetails() {
    Network_Set net;
    for (const char* label : {"label", "label_2", "label_3", "label_4"}) {
        QCOMPARE(widget<QLabel>(net, label)->alignment(), Qt::AlignCenter);
    }
    for (const char* field : {"ipEdit", "maskEdit", "gatewayEdit", "macEdit"}) {
        QLineEdit* edit = widget<QLineEdit>(net, field);
        QVERIFY(edit->validator() == nullptr);
        QCOMPARE(edit->inputMask(), QString());
        QCOMPARE(edit->maxLength(), 32767);
    }
    QSpinBox* row = widget<QSpinBox>(net, "row");
    QVERIFY(!row->isEnabled());
    QCOMPARE(row->focusPolicy(), Qt::NoFocus);
    QVERIFY(!row->hasFrame());
    QCOMPARE(row->buttonSymbols(), QAbstractSpinBox::NoButtons);
    QVERIFY(!row->keyboardTracking());
    QCOMPARE(row->minimum(), 0);
    QCOMPARE(row->maximum(), std::numeric_limits<int>::max());
}

// The main window makes one of each, without parent and hidden, wires the row removal and
// takes them along when it goes.
void TestConfigWindows::mainWindowOwnsTheWindows() {
    QCOMPARE(theWindow<Network_Set>(), nullptr);
    auto main = std::make_unique<Base_Frame>();
    QPointer<Network_Set> net = theWindow<Network_Set>();
    QPointer<Set_Audio> rx = theWindow<Set_Audio>();
    QPointer<Set_audio_tx> tx = theWindow<Set_audio_tx>();
    for (QWidget* w : std::initializer_list<QWidget*>{net, rx, tx}) {
        QVERIFY(w != nullptr);
        QVERIFY(w->parent() == nullptr);
        QVERIFY(w->isHidden());
    }

    QTableWidget* table = widget<QTableWidget>(*main, "tableWidget");
    table->setRowCount(3);
    for (int r = 0; r < 3; ++r) {
        table->setItem(r, 1, new QTableWidgetItem(QStringLiteral("row %1").arg(r)));
    }
    emit net->send_remove_row(1);
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("row 0"));
    QCOMPARE(table->item(1, 1)->text(), QStringLiteral("row 2"));

    main.reset();
    QVERIFY(net.isNull());
    QVERIFY(rx.isNull());
    QVERIFY(tx.isNull());
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
    Network_Set* netWindow = theWindow<Network_Set>();
    Set_Audio* rxWindow = theWindow<Set_Audio>();
    Set_audio_tx* txWindow = theWindow<Set_audio_tx>();
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

    auto objects = [](const QStringList& texts) {
        QStringList names;
        for (const QString& t : texts.mid(1)) {
            names << t.section(QLatin1Char('='), 0, 0);
        }
        return names;
    };
    QCOMPARE(textsOf(netWindow, objects(net)), net);
    QCOMPARE(textsOf(rxWindow, objects(rx)), rx);
    QCOMPARE(textsOf(txWindow, objects(tx)), tx);

    // The messages: an over-long address, and two writes that nobody answers.
    netWindow->set_network_info(networkInfo(QStringLiteral("198.51.100.100:80")), 0);
    widget<QPushButton>(*netWindow, "define")->click();
    widget<QLabel>(*rxWindow, "ipaddr")->setText(kRefusedAddress);
    widget<QPushButton>(*rxWindow, "set_button")->click();
    widget<QLabel>(*txWindow, "ipaddr")->setText(kRefusedAddress);
    widget<QPushButton>(*txWindow, "set_button")->click();
    QCOMPARE(shownTexts(),
             (QStringList{notice("IP地址不能超过15个字符"), notice("音频设置失败，请检查输出设备"),
                          notice("音频设置失败，请检查输入设备")}));
}

void TestConfigWindows::reads_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("result");
    QTest::addColumn<QList<int>>("selection");  // Set_Audio: video_out, audio_out
    QTest::addColumn<bool>("addressSet");

    // Each read starts from: video_out "2", audio_out "HDMI输出" / "3.5mm输出", address 10.9.8.7.
    const QString rx = QStringLiteral("Set_Audio");
    QTest::newRow("rx display 1, jack")
        << rx << QByteArray(R"({"Parameters":{"DisplayId":1,"AoDevId":1}})") << 1
        << QList<int>{0, 0} << true;
    QTest::newRow("rx display 3") << rx
                                  << QByteArray(R"({"Parameters":{"DisplayId":3,"AoDevId":1}})")
                                  << 0 << QList<int>{1, 1} << false;
    QTest::newRow("rx display missing")
        << rx << QByteArray(R"({"Parameters":{"AoDevId":1}})") << 0 << QList<int>{1, 1} << false;
    QTest::newRow("rx empty reply") << rx << QByteArray() << 0 << QList<int>{1, 1} << false;
    QTest::newRow("rx output missing")
        << rx << QByteArray(R"({"Parameters":{"DisplayId":1}})") << 1 << QList<int>{0, -1} << true;
    QTest::newRow("rx output 3") << rx
                                 << QByteArray(R"({"Parameters":{"DisplayId":2,"AoDevId":3}})") << 1
                                 << QList<int>{1, -1} << true;

    const QString tx = QStringLiteral("Set_audio_tx");
    QTest::newRow("tx jack") << tx << QByteArray(R"({"Parameters":{"AudioIn":1}})") << 1
                             << QList<int>{1} << true;
    QTest::newRow("tx HDMI") << tx << QByteArray(R"({"Parameters":{"AudioIn":0}})") << 1
                             << QList<int>{0} << true;
    QTest::newRow("tx input 2") << tx << QByteArray(R"({"Parameters":{"AudioIn":2}})") << 1
                                << QList<int>{-1} << true;
    // The transmitter's read never fails: no selection, and the address is set all the same.
    QTest::newRow("tx empty reply") << tx << QByteArray() << 1 << QList<int>{-1} << true;
}

void TestConfigWindows::reads() {
    QFETCH(QString, window);
    QFETCH(QByteArray, reply);
    QFETCH(int, result);
    QFETCH(QList<int>, selection);
    QFETCH(bool, addressSet);

    const std::unique_ptr<QWidget> w = makeWindow(window);
    const bool rx = window == QLatin1String("Set_Audio");
    QLabel* address = widget<QLabel>(*w, "ipaddr");
    QComboBox* audio = widget<QComboBox>(*w, "audio_out");
    address->setText(QStringLiteral("10.9.8.7"));
    audio->setCurrentIndex(rx ? 1 : 0);
    if (rx) {
        widget<QComboBox>(*w, "video_out")->setCurrentIndex(1);
    }

    QCOMPARE(readFromPeer(w.get(), reply), result);
    QList<int> shown;
    if (rx) {
        shown << widget<QComboBox>(*w, "video_out")->currentIndex();
    }
    shown << audio->currentIndex();
    QCOMPARE(shown, selection);
    QCOMPARE(address->text(), addressSet ? kPeerAddress : QStringLiteral("10.9.8.7"));
    QVERIFY(OperatorMessages::takeShown().isEmpty());
}

void TestConfigWindows::writeAfterRead_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("written");

    QTest::newRow("rx output missing: 0 is written")
        << "Set_Audio" << QByteArray(R"({"Parameters":{"DisplayId":2}})")
        << QByteArray(
               "{\n\t\"ProtocolCode\":\t1036,\n\t\"Parameters\":\t{\n"
               "\t\t\"DisplayId\":\t2,\n\t\t\"AoDevId\":\t0\n\t}\n}");
    QTest::newRow("rx read written back")
        << "Set_Audio" << QByteArray(R"({"Parameters":{"DisplayId":1,"AoDevId":2}})")
        << QByteArray(
               "{\n\t\"ProtocolCode\":\t1036,\n\t\"Parameters\":\t{\n"
               "\t\t\"DisplayId\":\t1,\n\t\t\"AoDevId\":\t2\n\t}\n}");
    QTest::newRow("tx jack written back")
        << "Set_audio_tx" << QByteArray(R"({"Parameters":{"AudioIn":1}})")
        << QByteArray(
               "{\n\t\"ProtocolCode\":\t3054,\n\t\"Parameters\":\t{\n"
               "\t\t\"AudioIn\":\t1\n\t}\n}");
    QTest::newRow("tx input missing: -1 is written")
        << "Set_audio_tx" << QByteArray(R"({"Parameters":{}})")
        << QByteArray(
               "{\n\t\"ProtocolCode\":\t3054,\n\t\"Parameters\":\t{\n"
               "\t\t\"AudioIn\":\t-1\n\t}\n}");
}

// The write goes to the address the read left, with what the read selected.
void TestConfigWindows::writeAfterRead() {
    QFETCH(QString, window);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, written);

    const std::unique_ptr<QWidget> w = makeWindow(window);
    QCOMPARE(readFromPeer(w.get(), reply), 1);
    w->show();

    PeerScript script;
    script.reply = ScriptedPeer::http_reply(200, R"({"Message":"OK","ProtocolCode":0,"Result":0})");
    ScriptedPeer peer(kPeerIp, kPeerPort, script);
    QVERIFY(peer.listening());
    widget<QPushButton>(*w, "set_button")->click();
    peer.join();
    const QByteArray request = peer.request();
    QCOMPARE(request.mid(request.indexOf("\r\n\r\n") + 4), written);
    QCOMPARE(shownTexts(), QStringList{notice("音频设置成功")});
    QVERIFY(w->isHidden());
}

void TestConfigWindows::nothingSent_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("messages");

    const QString net = QStringLiteral("Network_Set");
    QTest::newRow("net cancel") << net << "cancel"
                                << ""
                                << "" << QStringList{};
    QTest::newRow("net address 16")
        << net << "define"
        << "ipEdit"
        << "198.51.100.10000" << QStringList{notice("IP地址不能超过15个字符")};
    QTest::newRow("net mask 16") << net << "define"
                                 << "maskEdit"
                                 << "255.255.255.2550"
                                 << QStringList{notice("子网掩码不能超过15个字符")};
    QTest::newRow("net gateway 16")
        << net << "define"
        << "gatewayEdit"
        << "198.51.100.25400" << QStringList{notice("网关不能超过15个字符")};
    QTest::newRow("net MAC 20") << net << "define"
                                << "macEdit"
                                << "02:43:56:00:00:0A:BC"
                                << QStringList{notice("MAC地址不能超过19个字符")};
    QTest::newRow("net MAC 7 CJK characters")
        << net << "define"
        << "macEdit"
        << "网络地址一二三" << QStringList{notice("MAC地址不能超过19个字符")};
    QTest::newRow("rx cancel") << "Set_Audio"
                               << "cancel_button"
                               << ""
                               << "" << QStringList{};
    QTest::newRow("tx cancel") << "Set_audio_tx"
                               << "cancel_button"
                               << ""
                               << "" << QStringList{};
}

// Cancel closes and sends nothing; an over-long field is refused with one message, nothing is
// sent and the window stays open with the text.
void TestConfigWindows::nothingSent() {
    QFETCH(QString, window);
    QFETCH(QString, button);
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QStringList, messages);

    // A listener that never answers: a request would show as a waiting connection.
    QTcpServer quiet;
    QVERIFY(quiet.listen(QHostAddress(QString::fromLatin1(kQuietIp)), kQuietPort));

    const std::unique_ptr<QWidget> w = makeWindow(window);
    auto* net = qobject_cast<Network_Set*>(w.get());
    std::unique_ptr<QSignalSpy> removals;
    if (net != nullptr) {
        net->set_network_info(networkInfo(kQuietAddress), 7);
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

    QCOMPARE(shownTexts(), messages);
    QCOMPARE(w->isVisible(), !messages.isEmpty());
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
