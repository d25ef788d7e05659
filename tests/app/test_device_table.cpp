// The search button against simulated devices: runs inside the private test network.
#include <QCheckBox>
#include <QDateTime>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include "app/base_frame.h"
#include "tests/support/devsim_harness.h"
#include "tests/support/find_widget.h"
#include "tests/support/window_rows.h"

using corvane::test::Devsim;
using corvane::test::TestNetwork;

namespace {

struct Row {
    QString ip;
    QString kind;
};

// The fleet: every kind, addresses chosen so that a dot-free decimal key would misorder them.
const QStringList kFleet{
    "ip=198.51.100.200,type=1102", "ip=198.51.100.30,type=307",  "ip=203.0.113.10,type=1102",
    "ip=198.51.100.60,type=4242",  "ip=198.51.100.20,type=1102", "ip=198.51.100.40,type=2000",
    "ip=198.51.100.100,type=1102", "ip=198.51.100.11,type=307",  "ip=198.51.100.50,type=1200",
    "ip=198.51.100.70,type=0",
};

const QList<Row> kFleetRows{
    {"198.51.100.20", "TX"},  {"198.51.100.50", "TX"},     {"198.51.100.100", "TX"},
    {"198.51.100.200", "TX"}, {"203.0.113.10", "TX"},      {"198.51.100.11", "RX"},
    {"198.51.100.30", "RX"},  {"198.51.100.40", "KVM_RX"}, {"198.51.100.60", "4242"},
    {"198.51.100.70", "0"},
};

// Rows of the kinds the tool acts on carry a tick box; any other kind is display-only.
bool actedOn(const QString& kind) {
    return kind == QLatin1String("TX") || kind == QLatin1String("RX") ||
           kind == QLatin1String("KVM_RX");
}

bool hasTickBox(QTableWidget* table, int row) {
    QTableWidgetItem* item = table->item(row, 0);
    return item->flags().testFlag(Qt::ItemIsUserCheckable) &&
           item->data(Qt::CheckStateRole).isValid();
}

QString text(QTableWidget* table, int row, int column) {
    QTableWidgetItem* item = table->item(row, column);
    return item ? item->text() : QStringLiteral("<no item>");
}

// Version and MAC follow from the address, so every column can be checked.
QString versionOf(const QString& ip) {
    return QStringLiteral("V1.0.") + ip.section(QLatin1Char('.'), 3);
}

QString macOf(const QString& ip) {
    return QStringLiteral("02:00:00:00:%1:%2")
        .arg(ip.section(QLatin1Char('.'), 2, 2).toInt(), 2, 16, QLatin1Char('0'))
        .arg(ip.section(QLatin1Char('.'), 3).toInt(), 2, 16, QLatin1Char('0'))
        .toUpper();
}

bool startFleet(Devsim& sim, const QStringList& devices) {
    for (const QString& d : devices) {
        const QString ip = d.section(QLatin1Char('='), 1).section(QLatin1Char(','), 0, 0);
        sim.device(d + QStringLiteral(",version=%1,mac=%2,mask=255.255.255.0,"
                                      "gateway=198.51.100.254,uptime=7200")
                           .arg(versionOf(ip), macOf(ip)));
    }
    return sim.start();
}

int probesSeen(const Devsim& sim) {
    return sim.records(QStringLiteral("udp-in")).size();
}

}  // namespace

class TestDeviceTable : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void search_fills_grouped_ordered_rows();
    void select_all_ticks_and_clears();
    void remove_row_removes_one_row();
    void second_search_shows_only_present_devices();
    void search_finding_nothing_keeps_rows();
    void language_switch_searches_again_when_rows_exist();
    void language_switch_keeps_ticks_by_address_data();
    void language_switch_keeps_ticks_by_address();

private:
    void search(Base_Frame& window);
    void checkRows(Base_Frame& window, const QList<Row>& rows);
    void headerStaysAboveRows(Base_Frame& window, const QString& typeLabel);
};

void TestDeviceTable::initTestCase() {
    QVERIFY2(TestNetwork::active(), "run through scripts/testnet");
}

void TestDeviceTable::search(Base_Frame& window) {
    QPushButton* button = widget<QPushButton>(window, "search");
    QVERIFY(button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(idleWithin(window));
}

void TestDeviceTable::checkRows(Base_Frame& window, const QList<Row>& rows) {
    QTableWidget* table = widget<QTableWidget>(window, "tableWidget");
    QCOMPARE(table->rowCount(), rows.size());
    const QDateTime now = QDateTime::currentDateTime();
    for (int r = 0; r < rows.size(); ++r) {
        QCOMPARE(text(table, r, 0), QString());
        QCOMPARE(hasTickBox(table, r), actedOn(rows[r].kind));
        QCOMPARE(table->item(r, 0)->checkState(), Qt::Unchecked);
        QCOMPARE(text(table, r, 1), rows[r].ip);
        QCOMPARE(text(table, r, 2), rows[r].kind);
        // The tool holds no address in 203.0.113.0/24.
        QCOMPARE(text(table, r, 3), rows[r].ip.startsWith(QLatin1String("203.0.113."))
                                        ? QStringLiteral("其他网段")
                                        : QStringLiteral("OK"));
        QCOMPARE(text(table, r, 4), versionOf(rows[r].ip));
        QCOMPARE(text(table, r, 5), QStringLiteral("255.255.255.0"));
        QCOMPARE(text(table, r, 6), QStringLiteral("198.51.100.254"));
        QCOMPARE(text(table, r, 7), macOf(rows[r].ip));
        // Up-time runs on from two hours; the device formats it as "0d hh:mm:ss".
        QVERIFY2(text(table, r, 8).startsWith(QStringLiteral("0d 02:0")),
                 qPrintable(text(table, r, 8)));
        const QDateTime filled =
            QDateTime::fromString(text(table, r, 9), QStringLiteral("yyyy.MM.dd hh:mm:ss"));
        QVERIFY2(filled.isValid(), qPrintable(text(table, r, 9)));
        QVERIFY(qAbs(filled.secsTo(now)) < 120);
        for (int c = 0; c < table->columnCount(); ++c) {
            QCOMPARE(table->item(r, c)->textAlignment(), int(Qt::AlignHCenter | Qt::AlignVCenter));
        }
    }
}

void TestDeviceTable::search_fills_grouped_ordered_rows() {
    Devsim sim;
    QVERIFY2(startFleet(sim, kFleet), qPrintable(sim.errorString()));
    Base_Frame window;
    window.show();
    search(window);
    checkRows(window, kFleetRows);
    QTableWidget* table = widget<QTableWidget>(window, "tableWidget");
    QVERIFY(table->isVisible());
    QCOMPARE(table->contextMenuPolicy(), Qt::CustomContextMenu);
    QVERIFY(widget<QCheckBox>(window, "select_all")->isVisible());
    QCOMPARE(widget<QCheckBox>(window, "select_all")->checkState(), Qt::Unchecked);
    QVERIFY(widget<QPushButton>(window, "update")->isEnabled());
    QVERIFY(widget<QPushButton>(window, "reboot")->isEnabled());
    QVERIFY(widget<QPushButton>(window, "search")->isEnabled());
}

void TestDeviceTable::select_all_ticks_and_clears() {
    Devsim sim;
    QVERIFY2(startFleet(sim, kFleet), qPrintable(sim.errorString()));
    Base_Frame window;
    window.show();
    search(window);
    QTableWidget* table = widget<QTableWidget>(window, "tableWidget");
    QCOMPARE(table->rowCount(), kFleetRows.size());
    QCheckBox* all = widget<QCheckBox>(window, "select_all");
    all->setCheckState(Qt::Checked);
    for (int r = 0; r < table->rowCount(); ++r) {
        // Display-only rows are passed by: still no tick box, never ticked.
        QCOMPARE(hasTickBox(table, r), actedOn(kFleetRows[r].kind));
        QCOMPARE(table->item(r, 0)->checkState(),
                 actedOn(kFleetRows[r].kind) ? Qt::Checked : Qt::Unchecked);
    }
    all->setCheckState(Qt::Unchecked);
    for (int r = 0; r < table->rowCount(); ++r) {
        QCOMPARE(table->item(r, 0)->checkState(), Qt::Unchecked);
    }
    // A new fill clears the ticks again.
    all->setCheckState(Qt::Checked);
    search(window);
    QCOMPARE(all->checkState(), Qt::Unchecked);
    for (int r = 0; r < table->rowCount(); ++r) {
        QCOMPARE(table->item(r, 0)->checkState(), Qt::Unchecked);
    }
}

void TestDeviceTable::remove_row_removes_one_row() {
    Devsim sim;
    QVERIFY2(startFleet(sim, kFleet.mid(0, 3)), qPrintable(sim.errorString()));
    Base_Frame window;
    search(window);
    QTableWidget* table = widget<QTableWidget>(window, "tableWidget");
    QCOMPARE(table->rowCount(), 3);
    // Rows: 198.51.100.30 (RX) comes after the two TX rows .200 and 203.0.113.10.
    window.remove_row(1);
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(text(table, 0, 1), QStringLiteral("198.51.100.200"));
    QCOMPARE(text(table, 1, 1), QStringLiteral("198.51.100.30"));
}

void TestDeviceTable::second_search_shows_only_present_devices() {
    Base_Frame window;
    {
        Devsim sim;
        QVERIFY2(startFleet(sim, kFleet), qPrintable(sim.errorString()));
        search(window);
        QCOMPARE(widget<QTableWidget>(window, "tableWidget")->rowCount(), kFleet.size());
    }
    // Fewer devices now, kinds 1200 and 4242 among them: every row shows a device of this
    // search, none keeps stale texts.
    Devsim sim;
    QVERIFY2(startFleet(sim, {kFleet[1], kFleet[3], kFleet[8]}), qPrintable(sim.errorString()));
    search(window);
    checkRows(window,
              {{"198.51.100.50", "TX"}, {"198.51.100.30", "RX"}, {"198.51.100.60", "4242"}});
}

void TestDeviceTable::search_finding_nothing_keeps_rows() {
    Base_Frame window;
    {
        Devsim sim;
        QVERIFY2(startFleet(sim, kFleet.mid(0, 2)), qPrintable(sim.errorString()));
        search(window);
    }
    const QList<Row> rows{{"198.51.100.200", "TX"}, {"198.51.100.30", "RX"}};
    checkRows(window, rows);
    QElapsedTimer timer;
    timer.start();
    search(window);  // nobody answers
    QVERIFY(timer.elapsed() >= 900);
    checkRows(window, rows);
    QVERIFY(widget<QPushButton>(window, "search")->isEnabled());
}

void TestDeviceTable::language_switch_searches_again_when_rows_exist() {
    Devsim sim;
    QVERIFY2(startFleet(sim, kFleet.mid(0, 2)), qPrintable(sim.errorString()));
    QCheckBox* box;
    {
        // An empty table: the switch changes texts only, no probe goes out.
        Base_Frame empty;
        box = widget<QCheckBox>(empty, "checkBox");
        box->click();
        QTest::qWait(200);
        QCOMPARE(probesSeen(sim), 0);
        box->click();
    }
    Base_Frame window;
    window.show();
    search(window);
    const int after_search = probesSeen(sim);
    QVERIFY(after_search > 0);
    QTableWidget* table = widget<QTableWidget>(window, "tableWidget");

    box = widget<QCheckBox>(window, "checkBox");
    box->click();  // English, with rows: a new search renews the rows
    QTRY_VERIFY_WITH_TIMEOUT(probesSeen(sim) > after_search, 5000);
    QVERIFY(idleWithin(window));
    QCOMPARE(table->horizontalHeader()->model()->headerData(2, Qt::Horizontal).toString(),
             QStringLiteral("Type"));
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(text(table, 0, 1), QStringLiteral("198.51.100.200"));
    QCOMPARE(text(table, 1, 1), QStringLiteral("198.51.100.30"));
    headerStaysAboveRows(window, QStringLiteral("Type"));

    // Back and forth with rows in a shown window: the one header stays visible, 25 pixels
    // high, and the rows stay below it.
    for (const QString& type :
         {QStringLiteral("类型"), QStringLiteral("Type"), QStringLiteral("类型")}) {
        const int probes = probesSeen(sim);
        box->click();
        QTRY_VERIFY_WITH_TIMEOUT(probesSeen(sim) > probes, 5000);
        QVERIFY(idleWithin(window));
        headerStaysAboveRows(window, type);
    }
}

void TestDeviceTable::language_switch_keeps_ticks_by_address_data() {
    QTest::addColumn<QStringList>("before");    // devices of the first search
    QTest::addColumn<QStringList>("ticked");    // addresses ticked then
    QTest::addColumn<QStringList>("after");     // devices answering the switch's search
    QTest::addColumn<QStringList>("expected");  // addresses ticked after the switch
    const QString tx20 = QStringLiteral("ip=198.51.100.20,type=1102");
    const QString tx200 = kFleet[0];
    const QString rx30 = kFleet[1];
    QTest::newRow("same devices") << QStringList{tx20, tx200, rx30}
                                  << QStringList{"198.51.100.200", "198.51.100.30"}
                                  << QStringList{tx20, tx200, rx30}
                                  << QStringList{"198.51.100.200", "198.51.100.30"};
    // The row of the vanished device goes to .200, which was not ticked.
    QTest::newRow("a ticked device gone")
        << QStringList{tx20, tx200, rx30} << QStringList{"198.51.100.20", "198.51.100.30"}
        << QStringList{tx200, rx30} << QStringList{"198.51.100.30"};
    // A new device takes the first row; the tick moves with .200 to the second.
    QTest::newRow("a new device first")
        << QStringList{tx200, rx30} << QStringList{"198.51.100.200"}
        << QStringList{tx20, tx200, rx30} << QStringList{"198.51.100.200"};
}

void TestDeviceTable::language_switch_keeps_ticks_by_address() {
    QFETCH(QStringList, before);
    QFETCH(QStringList, ticked);
    QFETCH(QStringList, after);
    QFETCH(QStringList, expected);
    Base_Frame window;
    window.show();
    QTableWidget* table = widget<QTableWidget>(window, "tableWidget");
    {
        Devsim sim;
        QVERIFY2(startFleet(sim, before), qPrintable(sim.errorString()));
        search(window);
        QCOMPARE(table->rowCount(), before.size());
        for (int r = 0; r < table->rowCount(); ++r) {
            if (ticked.contains(text(table, r, 1))) {
                table->item(r, 0)->setCheckState(Qt::Checked);
            }
        }
    }
    Devsim sim;
    QVERIFY2(startFleet(sim, after), qPrintable(sim.errorString()));
    widget<QCheckBox>(window, "checkBox")->click();  // English, and a new search
    QVERIFY(idleWithin(window));
    QCOMPARE(table->rowCount(), after.size());
    QStringList now;
    for (int r = 0; r < table->rowCount(); ++r) {
        if (table->item(r, 0)->checkState() != Qt::Unchecked) {
            now << text(table, r, 1);
        }
    }
    QCOMPARE(now, expected);
}

void TestDeviceTable::headerStaysAboveRows(Base_Frame& window, const QString& typeLabel) {
    QTableWidget* table = widget<QTableWidget>(window, "tableWidget");
    QHeaderView* header = table->horizontalHeader();
    QCOMPARE(header->model()->headerData(2, Qt::Horizontal).toString(), typeLabel);
    QVERIFY(header->isVisible());
    QCOMPARE(header->height(), 25);
    QVERIFY(table->rowCount() > 0);
    // The first row starts right under the header, in the table's own coordinates.
    QCOMPARE(table->viewport()->geometry().top(), header->geometry().bottom() + 1);
    QCOMPARE(table->rowViewportPosition(0), 0);
    QCOMPARE(table->visualItemRect(table->item(0, 1)).top(), 0);
}

QTEST_MAIN(TestDeviceTable)
#include "test_device_table.moc"
