#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableWidget>
#include <QtTest>

#include "app/base_frame.h"
#include "tests/support/find_widget.h"

namespace {

QStringList headerTexts(QTableWidget* table) {
    QStringList texts;
    QAbstractItemModel* model = table->horizontalHeader()->model();
    for (int column = 0; column < model->columnCount(); ++column) {
        texts << model->headerData(column, Qt::Horizontal).toString();
    }
    return texts;
}

// The context menus hang off the table; the TX menu has two entries, the RX menu one.
QMenu* menuWithEntries(QWidget& window, int entries) {
    for (QMenu* menu : widget<QTableWidget>(window, "tableWidget")->findChildren<QMenu*>()) {
        if (menu->actions().size() == entries) {
            return menu;
        }
    }
    return nullptr;
}

QStringList actionTexts(QMenu* menu) {
    QStringList texts;
    for (QAction* action : menu->actions()) {
        texts << action->text();
    }
    return texts;
}

void clickLanguageBox(QWidget& window) {
    QCheckBox* box = widget<QCheckBox>(window, "checkBox");
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(8, box->height() / 2));
}

using Placement = QList<QPair<QString, QRect>>;

const QStringList kChineseHeader{"",         "IP",   "类型",    "状态",     "版本",
                                 "子网掩码", "网关", "Mac地址", "运行时间", "当前时间"};
const QStringList kEnglishHeader{"",        "IP",      "Type", "Status",      "Version",
                                 "NetMask", "GateWay", "Mac",  "RunningTime", "CurrentTime"};

}  // namespace

Q_DECLARE_METATYPE(Placement)

class TestBaseFrame : public QObject {
    Q_OBJECT

private slots:
    void startState();
    void buttonIcons_data();
    void buttonIcons();
    void geometry_data();
    void geometry();
    void languageSwitch_data();
    void languageSwitch();
    void switchingRepeatedlyKeepsOneHeader();
    void slotsInDeclarationOrder();
};

void TestBaseFrame::startState() {
    Base_Frame window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(window.objectName(), QStringLiteral("Base_Frame"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Corvane Tool [V2.1]"));
    QCOMPARE(window.minimumSize(), QSize(600, 400));

    auto* table = widget<QTableWidget>(window, "tableWidget");
    QVERIFY(table->isHidden());
    QCOMPARE(table->rowCount(), 0);
    QCOMPARE(table->columnCount(), 10);
    QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);
    QVERIFY(widget<QCheckBox>(window, "select_all")->isHidden());
    QVERIFY(widget<QFrame>(window, "update_widget")->isHidden());

    QVERIFY(widget<QPushButton>(window, "search")->isEnabled());
    QVERIFY(!widget<QPushButton>(window, "update")->isEnabled());
    QVERIFY(!widget<QPushButton>(window, "reboot")->isEnabled());
    QVERIFY(!widget<QPushButton>(window, "file_update")->isEnabled());

    auto* language = widget<QCheckBox>(window, "checkBox");
    QVERIFY(!language->isChecked());
    QCOMPARE(language->text(), QStringLiteral("English"));
    QCOMPARE(widget<QLabel>(window, "label_2")->text(), QStringLiteral("升级"));
    QCOMPARE(widget<QLabel>(window, "label_3")->text(), QStringLiteral("重启"));
    QCOMPARE(widget<QLabel>(window, "label_4")->text(), QStringLiteral("搜索"));
    // No catalogue is installed before the first switch.
    QCOMPARE(QCoreApplication::translate("Base_Frame", "升级"), QStringLiteral("升级"));

    QCOMPARE(headerTexts(table), kChineseHeader);
    const QList<int> widths{30, 130, 110, 93, 220, 150, 150, 155, 140, 200};
    for (int column = 0; column < widths.size(); ++column) {
        QCOMPARE(table->columnWidth(column), widths[column]);
    }
    QCOMPARE(table->verticalHeader()->defaultSectionSize(), 35);
    QCOMPARE(table->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(table->selectionMode(), QAbstractItemView::SingleSelection);
    QVERIFY(table->alternatingRowColors());
    QCOMPARE(table->font().family(), QStringLiteral("微软雅黑"));
    QCOMPARE(table->font().pointSize(), 10);

    QMenu* tx = menuWithEntries(window, 2);
    QMenu* rx = menuWithEntries(window, 1);
    QVERIFY(tx != nullptr && rx != nullptr);
    QCOMPARE(actionTexts(tx), (QStringList{"视频参数", "音频设置"}));
    QCOMPARE(actionTexts(rx), (QStringList{"音频设置"}));
}

void TestBaseFrame::buttonIcons_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("off");
    QTest::addColumn<QString>("on");
    QTest::newRow("reboot") << "reboot"
                            << ":/reboot.png"
                            << ":/reboot_1.png";
    QTest::newRow("search") << "search"
                            << ":/send.png"
                            << ":/send_d.png";
    QTest::newRow("update") << "update"
                            << ":/mo.png"
                            << ":/mo_.png";
}

// The buttons show the built-in images (the resource tree is really linked in).
void TestBaseFrame::buttonIcons() {
    QFETCH(QString, button);
    QFETCH(QString, off);
    QFETCH(QString, on);
    Base_Frame window;
    auto* b = widget<QPushButton>(window, button.toLatin1().constData());
    QCOMPARE(b->iconSize(), QSize(30, 30));
    const QImage offImage(off);
    const QImage onImage(on);
    QVERIFY(!offImage.isNull() && !onImage.isNull());
    const QIcon icon = b->icon();
    QCOMPARE(icon.pixmap(offImage.size(), QIcon::Normal, QIcon::Off).toImage(),
             offImage.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    QCOMPARE(icon.pixmap(onImage.size(), QIcon::Normal, QIcon::On).toImage(),
             onImage.convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

void TestBaseFrame::geometry_data() {
    QTest::addColumn<QSize>("requested");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<Placement>("placement");

    QTest::newRow("initial 1450x846")
        << QSize(1450, 846) << QSize(1450, 846)
        << Placement{{"search", {1390, 770, 40, 30}},    {"label_4", {1384, 810, 52, 20}},
                     {"reboot", {1310, 770, 40, 30}},    {"label_3", {1304, 810, 52, 20}},
                     {"update", {1230, 770, 40, 30}},    {"label_2", {1224, 810, 52, 20}},
                     {"checkBox", {30, 780, 89, 27}},    {"label", {5, 760, 1450, 2}},
                     {"tableWidget", {0, 0, 1441, 751}}, {"update_widget", {810, 631, 591, 111}},
                     {"select_all", {29, 5, 21, 16}},    {"loading", {550, 260, 41, 41}}};
    QTest::newRow("minimum 600x400")
        << QSize(600, 400) << QSize(600, 400)
        << Placement{{"search", {540, 324, 40, 30}},    {"label_4", {534, 364, 52, 20}},
                     {"reboot", {460, 324, 40, 30}},    {"label_3", {454, 364, 52, 20}},
                     {"update", {380, 324, 40, 30}},    {"label_2", {374, 364, 52, 20}},
                     {"checkBox", {30, 334, 89, 27}},   {"label", {5, 314, 600, 2}},
                     {"tableWidget", {0, 0, 591, 305}}, {"update_widget", {-40, 185, 591, 111}},
                     {"select_all", {29, 5, 21, 16}},   {"loading", {550, 260, 41, 41}}};
    QTest::newRow("1024x700")
        << QSize(1024, 700) << QSize(1024, 700)
        << Placement{{"search", {964, 624, 40, 30}},     {"label_4", {958, 664, 52, 20}},
                     {"reboot", {884, 624, 40, 30}},     {"label_3", {878, 664, 52, 20}},
                     {"update", {804, 624, 40, 30}},     {"label_2", {798, 664, 52, 20}},
                     {"checkBox", {30, 634, 89, 27}},    {"label", {5, 614, 1024, 2}},
                     {"tableWidget", {0, 0, 1015, 605}}, {"update_widget", {384, 485, 591, 111}}};
    // Below the minimum the window stops at 600 x 400.
    QTest::newRow("below minimum")
        << QSize(320, 240) << QSize(600, 400)
        << Placement{{"search", {540, 324, 40, 30}}, {"tableWidget", {0, 0, 591, 305}}};
}

void TestBaseFrame::geometry() {
    QFETCH(QSize, requested);
    QFETCH(QSize, size);
    QFETCH(Placement, placement);

    Base_Frame window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.resize(requested);
    QTRY_COMPARE(window.size(), size);
    for (const auto& [name, rect] : placement) {
        QWidget* w = widget<QWidget>(window, name.toLatin1().constData());
        QTRY_COMPARE(w->geometry(), rect);
    }
}

void TestBaseFrame::languageSwitch_data() {
    QTest::addColumn<int>("clicks");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QStringList>("formTexts");  // label_2..4, file_path, file_cacle, file_update
    QTest::addColumn<QStringList>("header");
    QTest::addColumn<QStringList>("txMenu");
    QTest::addColumn<QString>("rxMenu");

    QTest::newRow("to English") << 1 << true << QStringList{"Update", "Reboot", "Search",
                                                            "File",   "Close",  "Update"}
                                << kEnglishHeader << QStringList{"VideoParameter", "AudioSetting"}
                                << "AudioSetting";
    QTest::newRow("back to Chinese")
        << 2 << false << QStringList{"升级", "重启", "搜索", "文件", "取消", "升级"}
        << kChineseHeader << QStringList{"视频参数", "音频设置"} << "音频设置";
}

void TestBaseFrame::languageSwitch() {
    QFETCH(int, clicks);
    QFETCH(bool, checked);
    QFETCH(QStringList, formTexts);
    QFETCH(QStringList, header);
    QFETCH(QStringList, txMenu);
    QFETCH(QString, rxMenu);

    Base_Frame window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (int i = 0; i < clicks; ++i) {
        clickLanguageBox(window);
    }
    QCOMPARE(widget<QCheckBox>(window, "checkBox")->isChecked(), checked);

    // Either catalogue names the window without its version.
    QCOMPARE(window.windowTitle(), QStringLiteral("Corvane Tool"));
    const QStringList shown{widget<QLabel>(window, "label_2")->text(),
                            widget<QLabel>(window, "label_3")->text(),
                            widget<QLabel>(window, "label_4")->text(),
                            widget<QPushButton>(window, "file_path")->text(),
                            widget<QPushButton>(window, "file_cacle")->text(),
                            widget<QPushButton>(window, "file_update")->text()};
    QCOMPARE(shown, formTexts);
    QCOMPARE(widget<QCheckBox>(window, "checkBox")->text(), QStringLiteral("English"));

    auto* table = widget<QTableWidget>(window, "tableWidget");
    QCOMPARE(headerTexts(table), header);
    const QList<int> widths{30, 130, 110, 93, 220, 150, 150, 155, 140, 200};
    for (int column = 0; column < widths.size(); ++column) {
        QCOMPARE(table->columnWidth(column), widths[column]);
    }
    QVERIFY(table->horizontalHeader()->styleSheet().contains("background:#f0f0f0"));
    QCOMPARE(table->verticalHeader()->defaultSectionSize(), 35);
    QCOMPARE(table->font().family(), QStringLiteral("微软雅黑"));
    // An empty table stays hidden and starts no search.
    QVERIFY(table->isHidden());

    QMenu* tx = menuWithEntries(window, 2);
    QMenu* rx = menuWithEntries(window, 1);
    QVERIFY(tx != nullptr && rx != nullptr);
    QCOMPARE(actionTexts(tx), txMenu);
    QCOMPARE(actionTexts(rx), QStringList{rxMenu});
}

// Switches replace the header's labels; headers and label models must not pile up.
void TestBaseFrame::switchingRepeatedlyKeepsOneHeader() {
    Base_Frame window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* table = widget<QTableWidget>(window, "tableWidget");
    for (int i = 0; i < 6; ++i) {
        clickLanguageBox(window);
    }
    QCOMPARE(table->findChildren<QHeaderView*>(QString(), Qt::FindDirectChildrenOnly).size(), 2);
    QCOMPARE(window.findChildren<QStandardItemModel*>().size(), 1);
    QCOMPARE(headerTexts(table), kChineseHeader);
}

// Other code looks slots up by signature; the meta-object must list all 18, in order.
void TestBaseFrame::slotsInDeclarationOrder() {
    const QMetaObject& meta = Base_Frame::staticMetaObject;
    const QList<QByteArray> expected{"Click_Event(int,int)",
                                     "Double_Click_Event(int,int)",
                                     "Show_menu(QPoint)",
                                     "on_search_clicked()",
                                     "on_reboot_clicked()",
                                     "Serach_Show_table()",
                                     "remove_row(int)",
                                     "on_update_clicked()",
                                     "update_start()",
                                     "on_file_path_clicked()",
                                     "on_file_update_clicked()",
                                     "on_file_cacle_clicked()",
                                     "on_select_all_stateChanged(int)",
                                     "slotActionInsert()",
                                     "setAudio_tx()",
                                     "Set_audio()",
                                     "set_resolution()",
                                     "on_checkBox_clicked(bool)"};
    QList<QByteArray> actual;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        if (meta.method(i).methodType() == QMetaMethod::Slot) {
            actual << meta.method(i).methodSignature();
        }
    }
    QCOMPARE(actual, expected);
}

QTEST_MAIN(TestBaseFrame)
#include "test_base_frame.moc"
