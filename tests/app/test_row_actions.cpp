// The device table's row actions against simulated devices, inside the private test network:
// the context menus with the reads before them, the double-click, and one operator session.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTabWidget>
#include <QtTest>
#include <memory>

#include "app/base_frame.h"
#include "protocol/config_commands.h"
#include "protocol/video_commands.h"
#include "tests/support/devsim_harness.h"
#include "tests/support/find_widget.h"
#include "tests/support/window_messages.h"
#include "tests/support/window_rows.h"

using corvane::OperatorMessages;
using corvane::test::Devsim;
using corvane::test::DevsimRecord;
using corvane::test::TestNetwork;

namespace {

const QString kNet = QStringLiteral("198.51.100.");

// What one right-click led to.
struct MenuRun {
    QStringList entries;  // empty: no menu was shown
    QStringList requestsWhileOpen;
    QStringList shownWhileOpen;
    bool loadedWhileOpen = false;
};

// The one configuration window on screen, if any.
QWidget* openWindow() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && !qobject_cast<Base_Frame*>(w) && !qobject_cast<QMenu*>(w)) {
            return w;
        }
    }
    return nullptr;
}

QString valueOf(QWidget& window, const QString& name) {
    QWidget* w = widget<QWidget>(window, name.toLatin1().constData());
    if (auto* box = qobject_cast<QComboBox*>(w)) {
        return box->currentText();
    }
    auto* edit = qobject_cast<QLineEdit*>(w);
    return edit != nullptr ? edit->text() : qobject_cast<QLabel*>(w)->text();
}

// The window's values as "name=value", for the names of `expected` (in the same form).
QStringList valuesOf(QWidget& window, const QStringList& expected) {
    QStringList values;
    for (const QString& e : expected) {
        const QString name = e.section(QLatin1Char('='), 0, 0);
        values << name + QLatin1Char('=') + valueOf(window, name);
    }
    return values;
}

// A double-click as the platform delivers it: press and release, then the double-click.
void doubleClickRow(Base_Frame& window, int row) {
    QTableWidget* table = tableOf(window);
    const QPoint pos = table->visualItemRect(table->item(row, 1)).center();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, pos);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, pos);
}

void click(QWidget& window, const char* button) {
    widget<QAbstractButton>(window, button)->click();
}

}  // namespace

class TestRowActions : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void rightClick_data();
    void rightClick();
    void doubleClick_data();
    void doubleClick();
    void menusFollowTheLanguage();
    void operatorSession();

private:
    // "code" or "code {parameters}" of each request the device got, oldest first.
    QStringList requestsTo(const QString& address) const;
    // Right-clicks the row of `address` (the empty area when none) and, if a menu shows,
    // chooses entry `entry` or closes the menu (-1).
    MenuRun rightClickRow(Base_Frame& window, const QString& address, int entry);
    void search(Base_Frame& window);

    Devsim sim_;
    std::unique_ptr<Base_Frame> main_;
};

void TestRowActions::initTestCase() {
    QVERIFY2(TestNetwork::active(), "run through scripts/testnet");
    sim_.device("ip=198.51.100.21,type=1102,stream0=BitRate:3072/PicQuality:1")
        .device("ip=198.51.100.22,type=1102,stream0=ImageSize:25")
        .device("ip=198.51.100.23,type=1102")
        .device("ip=198.51.100.31,type=307")
        .device("ip=198.51.100.32,type=307,http=empty,http-only=1034")
        .device("ip=198.51.100.33,type=307")
        .device("ip=198.51.100.41,type=2000")
        .device("ip=198.51.100.44,type=2000")
        .device("ip=198.51.100.51,type=4242")
        .device("ip=198.51.100.62,type=307")
        .device("ip=198.51.100.63,type=2000")
        .arg("--restart-seconds=1");
    QVERIFY2(sim_.start(), qPrintable(sim_.errorString()));
    // Values other than the simulator's start values, so that the windows show a real read.
    QVERIFY(corvane::config::writeTxAudio("198.51.100.22", 1).accepted);
    QVERIFY(corvane::config::writeRxAudio("198.51.100.31", 1, 1).accepted);
    main_ = std::make_unique<Base_Frame>();
    main_->show();
    search(*main_);
}

void TestRowActions::init() {
    while (QWidget* left = openWindow()) {
        left->hide();  // by a case that failed
    }
    OperatorMessages::reset();
    OperatorMessages::setUnattended(true);
}

void TestRowActions::search(Base_Frame& window) {
    widget<QAbstractButton>(window, "search")->click();
    QVERIFY(idleWithin(window));
    QVERIFY(tableOf(window)->rowCount() > 0);
}

QStringList TestRowActions::requestsTo(const QString& address) const {
    QStringList requests;
    for (const DevsimRecord& r : sim_.records(QStringLiteral("http-in"))) {
        if (address.isEmpty() || r.device == address) {
            const QJsonValue parameters =
                QJsonDocument::fromJson(r.data.mid(r.data.indexOf("\r\n\r\n") + 4))["Parameters"];
            requests << QString::number(r.code) +
                            (parameters.isUndefined()
                                 ? QString()
                                 : QLatin1Char(' ') +
                                       QString::fromUtf8(QJsonDocument(parameters.toObject())
                                                             .toJson(QJsonDocument::Compact)));
        }
    }
    return requests;
}

MenuRun TestRowActions::rightClickRow(Base_Frame& window, const QString& address, int entry) {
    QTableWidget* table = tableOf(window);
    QWidget* viewport = table->viewport();
    const int row = rowOf(window, address);
    const QPoint pos = row >= 0 ? table->visualItemRect(table->item(row, 2)).center()
                                : QPoint(100, viewport->height() - 5);
    const int before = requestsTo(address).size();

    // The menu runs its own event loop; this timer acts in it as the operator would.
    MenuRun run;
    QTimer operatorHand;
    operatorHand.setInterval(10);
    connect(&operatorHand, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr) {
            return;
        }
        if (!run.entries.isEmpty()) {
            menu->close();  // a second menu is a fault of its own; it must not hang the test
            return;
        }
        for (QAction* action : menu->actions()) {
            run.entries << action->text();
        }
        run.requestsWhileOpen = requestsTo(address).mid(before);
        run.shownWhileOpen = shownTexts();
        run.loadedWhileOpen = rx_audio_loaded;
        if (entry >= 0) {
            QTest::mouseClick(menu, Qt::LeftButton, {},
                              menu->actionGeometry(menu->actions().value(entry)).center());
        }
        menu->close();  // a click on an entry has closed it already
    });
    operatorHand.start();
    QCursor::setPos(viewport->mapToGlobal(pos));
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, viewport->mapToGlobal(pos));
    QApplication::sendEvent(viewport, &event);
    // The reads run on the worker; the menu shows once they are done.
    idleWithin(window);
    return run;
}

void TestRowActions::rightClick_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("window");
    QTest::addColumn<QStringList>("values");  // "name=value" in the window
    QTest::addColumn<bool>("loaded");         // rx_audio_loaded while the menu is open
    QTest::addColumn<QStringList>("messages");

    const QString read1022 = QStringLiteral("1022 {\"ChnId\":[1]}");
    const QStringList txMenu{"视频参数", "音频设置"};
    const QStringList rxMenu{"音频设置"};
    QTest::newRow("TX, video entry")
        << kNet + "21" << QStringList{read1022, "3052"} << txMenu << 0 << "Video_Parameters"
        << QStringList{"ipEdit=" + kNet + "21", "bitRate_1=3072", "picQuality_1=次好"} << false
        << QStringList{};
    QTest::newRow("TX on the custom size, audio entry")
        << kNet + "22" << QStringList{read1022, "3129", "3052"} << txMenu << 1 << "Set_audio_tx"
        << QStringList{"ipaddr=" + kNet + "22", "audio_out=3.5mm输出"} << false << QStringList{};
    QTest::newRow("RX, audio entry")
        << kNet + "31" << QStringList{"1034 {\"DisplayId\":1}"} << rxMenu << 0 << "Set_Audio"
        << QStringList{"ipaddr=" + kNet + "31", "video_out=1", "audio_out=3.5mm输出"} << true
        << QStringList{};
    QTest::newRow("RX answering with nothing")
        << kNet + "32" << QStringList{"1034 {\"DisplayId\":1}"} << rxMenu << 0 << QString()
        << QStringList{} << false << QStringList{notice("获取音频参数失败")};
    QTest::newRow("RX, menu closed")
        << kNet + "31" << QStringList{"1034 {\"DisplayId\":1}"} << rxMenu << -1 << QString()
        << QStringList{} << true << QStringList{};
    for (const QString& other : {QStringLiteral("41"), QStringLiteral("51"), QString()}) {
        const QByteArray name =
            other.isEmpty() ? "no menu beside the rows" : "no menu on ." + other.toLatin1();
        QTest::newRow(name.constData())
            << (other.isEmpty() ? QString() : kNet + other) << QStringList{} << QStringList{} << -1
            << QString() << QStringList{} << false << QStringList{};
    }
}

// The reads are done when the menu shows; the entry shows its window, modal and filled.
void TestRowActions::rightClick() {
    QFETCH(QString, address);
    QFETCH(QStringList, requests);
    QFETCH(QStringList, entries);
    QFETCH(int, entry);
    QFETCH(QString, window);
    QFETCH(QStringList, values);
    QFETCH(bool, loaded);
    QFETCH(QStringList, messages);

    const int allBefore = requestsTo(QString()).size();
    const MenuRun run = rightClickRow(*main_, address, entry);
    QCOMPARE(run.entries, entries);
    QCOMPARE(run.requestsWhileOpen, requests);
    QCOMPARE(run.shownWhileOpen, QStringList{});
    QCOMPARE(run.loadedWhileOpen, loaded);
    QCOMPARE(requestsTo(QString()).size(), allBefore + requests.size());
    QCOMPARE(shownTexts(), messages);
    QCOMPARE(rx_audio_loaded, false);

    QWidget* shown = openWindow();
    QCOMPARE(shown ? QString(shown->metaObject()->className()) : QString(), window);
    if (shown != nullptr) {
        QCOMPARE(shown->windowModality(), Qt::ApplicationModal);
        QCOMPARE(valuesOf(*shown, values), values);
        shown->hide();
    }
}

void TestRowActions::doubleClick_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("left");  // rows after the change; empty: no window
    const QStringList rows{kNet + "61", kNet + "62", kNet + "63", kNet + "51"};
    QTest::newRow("row with rows below") << 1 << QStringList{rows[0], rows[2], rows[3]};
    QTest::newRow("last row acted on") << 2 << QStringList{rows[0], rows[1], rows[3]};
    QTest::newRow("display-only row") << 3 << QStringList{};
}

// The network window holds the row's texts; a change removes exactly that row, so its index
// travelled along.
void TestRowActions::doubleClick() {
    QFETCH(int, row);
    QFETCH(QStringList, left);
    Base_Frame window;
    window.show();
    showRows(window,
             {{kNet + "61", 1102}, {kNet + "62", 307}, {kNet + "63", 2000}, {kNet + "51", 4242}});
    QTableWidget* table = tableOf(window);
    const QStringList before = rowAddresses(window);
    auto cell = [&](int column) { return table->item(row, column)->text(); };
    const QStringList expected{"ipEdit=" + cell(1), "maskEdit=" + cell(5), "gatewayEdit=" + cell(6),
                               "macEdit=" + cell(7)};

    doubleClickRow(window, row);
    QWidget* shown = openWindow();
    if (left.isEmpty()) {
        QCOMPARE(shown, nullptr);
        QCOMPARE(rowAddresses(window), before);
        return;
    }
    QVERIFY(shown != nullptr);
    QCOMPARE(shown->windowModality(), Qt::ApplicationModal);
    QCOMPARE(valuesOf(*shown, expected), expected);
    widget<QLineEdit>(*shown, "ipEdit")->setText(kNet + QString::number(100 + row));
    click(*shown, "define");
    QVERIFY(jobsEnded());
    QCOMPARE(shownTexts(), QStringList{notice("网络修改成功，等待设备重启！")});
    QCOMPARE(rowAddresses(window), left);
}

// The menus' entries change with the language between two right-clicks (the windows' texts
// follow the same box in test_config_windows).
void TestRowActions::menusFollowTheLanguage() {
    QCheckBox* english = widget<QCheckBox>(*main_, "checkBox");
    for (const bool toEnglish : {false, true, false}) {
        if (english->isChecked() != toEnglish) {
            english->click();  // with rows, this searches again
            QVERIFY(idleWithin(*main_));
        }
        QCOMPARE(rightClickRow(*main_, kNet + "21", -1).entries,
                 toEnglish ? QStringList({"VideoParameter", "AudioSetting"})
                           : QStringList({"视频参数", "音频设置"}));
        QCOMPARE(rightClickRow(*main_, kNet + "31", -1).entries,
                 QStringList{toEnglish ? "AudioSetting" : "音频设置"});
    }
}

// Search, change two audio settings, stream 2's bit rate and resolution and an address, search
// again: the devices hold every change and the moved one is found at its new address.
void TestRowActions::operatorSession() {
    const QString rx = kNet + "33", tx = kNet + "23", moved = kNet + "44", to = kNet + "144";
    Base_Frame window;
    window.show();
    search(window);

    // Opens a window from the row of `address` (entry -1: double-click), changes it, confirms.
    auto change = [&](const QString& address, int entry, const std::function<void(QWidget&)>& edit,
                      const char* button, const QString& message) {
        if (entry < 0) {
            doubleClickRow(window, rowOf(window, address));
        } else {
            rightClickRow(window, address, entry);
        }
        QWidget* shown = openWindow();
        QVERIFY(shown != nullptr);
        edit(*shown);
        click(*shown, button);
        QVERIFY(jobsEnded());
        QCOMPARE(shownTexts(), QStringList{notice(message)});
        QCOMPARE(openWindow(), nullptr);
    };
    const QString audioDone = QStringLiteral("音频设置成功");
    change(
        rx, 0, [](QWidget& w) { widget<QComboBox>(w, "audio_out")->setCurrentIndex(0); },
        "set_button", audioDone);  // 3.5 mm: AoDevId 1
    change(
        tx, 1, [](QWidget& w) { widget<QComboBox>(w, "audio_out")->setCurrentIndex(1); },
        "set_button", audioDone);  // 3.5 mm: AudioIn 1
    change(
        tx, 0,
        [](QWidget& w) {
            widget<QTabWidget>(w, "tabWidget")->setCurrentIndex(1);
            widget<QComboBox>(w, "bitRate_2")->setCurrentText("2048");
            widget<QComboBox>(w, "imageSize_2")->setCurrentText("1024*768");
        },
        "setButton", QStringLiteral("视频参数配置成功！"));
    change(
        moved, -1, [&](QWidget& w) { widget<QLineEdit>(w, "ipEdit")->setText(to); }, "define",
        QStringLiteral("网络修改成功，等待设备重启！"));

    QVERIFY(sim_.waitForRecord(
        "restart-up", [&](const DevsimRecord& r) { return r.raw["previous"] == moved; }, 15000));
    search(window);
    QVERIFY(rowOf(window, to) >= 0);
    QCOMPARE(rowOf(window, moved), -1);
    QCOMPARE(corvane::config::readRxAudio(rx.toStdString()).ao_dev_id, 1);
    QCOMPARE(corvane::config::readTxAudio(tx.toStdString()).audio_in, 1);
    const corvane::video::VideoRead video = corvane::video::readVideo(qPrintable(tx));
    QCOMPARE(video.streams.streams[1].bit_rate, 2048);
    QCOMPARE(video.streams.streams[1].image_size, 9);   // 1024*768
    QCOMPARE(video.streams.streams[2].bit_rate, 1024);  // the other streams as they were
}

QTEST_MAIN(TestRowActions)
#include "test_row_actions.moc"
