// An acceptance run against a full site, inside the test network: the window in the tool host
// and 250 simulated devices of every kind in the device host, five of them silent on HTTP and
// one refusing upgrades. Search, reboot them all, search again, upgrade twenty transmitters;
// then the process's memory, its threads and its own HTTP service. Each step's time is printed.
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>

#include "command/command_request.h"
#include "command/http_server.h"
#include "messages/operator_messages.h"
#include "tests/support/devsim_harness.h"
#include "tests/support/shown_messages.h"
#include "tests/support/window_rows.h"

using corvane::OperatorMessages;
using corvane::test::Devsim;
using corvane::test::DevsimRecord;
using corvane::test::TestNetwork;

namespace {

const int kDevices = 250;
const qint64 kImageSize = 16 << 20;
// Silent on HTTP: every kind, one of them among the first twenty transmitters.
const QList<DeviceRow> kSilent{{"198.51.100.20", 1102},
                               {"198.51.100.77", 307},
                               {"198.51.100.131", 1200},
                               {"198.51.100.202", 2000},
                               {"198.51.100.251", 307}};
const DeviceRow kRefusing{"198.51.100.30", 1200};  // answers the upgrade's start with FAIL

// "address kind text" of each device, in the order the table must show them: transmitters,
// receivers, KVM receivers, each group by the address's numeric value.
QStringList tableOrder(QList<DeviceRow> devices) {
    const auto group = [](int type) { return type == 307 ? 1 : type == 2000 ? 2 : 0; };
    std::sort(devices.begin(), devices.end(), [&](const DeviceRow& a, const DeviceRow& b) {
        return std::make_pair(group(a.second), QHostAddress(a.first).toIPv4Address()) <
               std::make_pair(group(b.second), QHostAddress(b.first).toIPv4Address());
    });
    QStringList rows;
    for (const DeviceRow& d : devices) {
        rows << d.first + QStringLiteral(" ") + QStringList{"TX", "RX", "KVM_RX"}[group(d.second)];
    }
    return rows;
}

QStringList shownRows(Base_Frame& window) {
    QStringList rows;
    QTableWidget* table = tableOf(window);
    for (int row = 0; row < table->rowCount(); ++row) {
        rows << table->item(row, 1)->text() + QStringLiteral(" ") + table->item(row, 2)->text();
    }
    return rows;
}

qint64 residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    return QRegularExpression("VmRSS:\\s*(\\d+)").match(status.readAll()).captured(1).toLongLong();
}

int threadCount() {
    return int(QDir(QStringLiteral("/proc/self/task"))
                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                   .size());
}

// The simulator's log lines of one kind, counted without decoding them: waiting on the log
// must not cost the process memory that the run's measure would count.
int logLines(const Devsim& sim, const QByteArray& kind) {
    QFile log(sim.logPath());
    log.open(QIODevice::ReadOnly);
    const QByteArray tag = "\"kind\":\"" + kind + '"';
    int lines = 0;
    while (!log.atEnd()) {
        lines += log.readLine().contains(tag) ? 1 : 0;
    }
    return lines;
}

// A click and the work it starts, to its end.
void click(Base_Frame& window, const char* name) {
    QTest::mouseClick(window.findChild<QAbstractButton*>(name), Qt::LeftButton);
    QVERIFY(idleWithin(window, 200000));
}

}  // namespace

class TestFullSite : public QObject {
    Q_OBJECT

private slots:
    void fullSite();
};

void TestFullSite::fullSite() {
    QVERIFY2(TestNetwork::active(), "run through scripts/testnet");
    QCOMPARE(start_http_service(80), 0);
    OperatorMessages::setUnattended(true);
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("update_app_tx_3.3.0.bin"));
    QVERIFY(corvane::test::writeImage(image, kImageSize));
    const QByteArray imageSha = corvane::test::fileSha256(image);

    QStringList arguments;
    QSet<QString> silentSet;
    for (const DeviceRow& d : kSilent) {
        silentSet << d.first;
        arguments << "--device"
                  << QStringLiteral("ip=%1,type=%2,http=hang").arg(d.first).arg(d.second);
    }
    arguments << "--device"
              << QStringLiteral("ip=%1,type=%2,fw=start-refuse")
                     .arg(kRefusing.first)
                     .arg(kRefusing.second)
              << "--fleet" << QString::number(kDevices - kSilent.size() - 1)
              << "--restart-seconds=1";
    // The devices as the simulator understands them: every address with its kind.
    QProcess config;
    config.start(Devsim::binaryPath(), arguments + QStringList{"--print-config"});
    QVERIFY(config.waitForFinished(10000));
    QList<DeviceRow> devices;
    for (const QJsonValue& d : QJsonDocument::fromJson(config.readAllStandardOutput())
                                   .object()
                                   .value("devices")
                                   .toArray()) {
        devices << DeviceRow{d["ip"].toString(), d["type"].toInt()};
    }
    QCOMPARE(devices.size(), kDevices);
    const QStringList expected = tableOrder(devices);
    Devsim sim;
    sim.args(arguments);
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));

    Base_Frame window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const int threads = threadCount();
    QElapsedTimer step;

    // Search: every device, grouped and ordered, within the sweep's second and half a second.
    step.start();
    click(window, "search");
    const qint64 searchMs = step.elapsed();
    QCOMPARE(shownRows(window), expected);
    QVERIFY2(searchMs <= 1500, qPrintable(QString::number(searchMs)));
    // The rows painted, as the operator sees them: the window's backing store counts from here.
    QCoreApplication::processEvents();
    const qint64 residentAfterSearch = residentKiB();

    // Select all, reboot: the silent five stay, ticked, and are named in table order.
    click(window, "select_all");
    step.restart();
    click(window, "reboot");
    const qint64 rebootMs = step.elapsed();
    QStringList silent;
    for (const QString& row : expected) {
        if (silentSet.contains(row.section(' ', 0, 0))) {
            silent << row.section(' ', 0, 0);
        }
    }
    QCOMPARE(rowAddresses(window), silent);
    for (int row = 0; row < silent.size(); ++row) {
        QCOMPARE(tickOf(window, row), Qt::Checked);
    }
    QCOMPARE(shownTexts(),
             QStringList{notice(QStringLiteral("已重启 %1 台设备，以下 %2 台设备没有应答：\n%3")
                                    .arg(kDevices - silent.size())
                                    .arg(silent.size())
                                    .arg(silent.join('\n')))});

    // Search again once every restarted device is back.
    step.restart();
    QTRY_VERIFY_WITH_TIMEOUT(logLines(sim, "restart-up") == kDevices - silent.size(), 30000);
    const qint64 restartMs = step.elapsed();
    step.restart();
    click(window, "search");
    const qint64 secondSearchMs = step.elapsed();
    QCOMPARE(shownRows(window), expected);

    // Twenty transmitters, the refusing one among them, get a 16 MiB image.
    QStringList chosen{kRefusing.first};
    for (int row = 0; chosen.size() < 20; ++row) {
        const QStringList cells = expected[row].split(' ');
        QCOMPARE(cells[1], QStringLiteral("TX"));
        if (cells[0] != kRefusing.first) {
            chosen << cells[0];
        }
    }
    for (const QString& address : chosen) {
        tick(window, rowOf(window, address));
    }
    click(window, "update");
    OperatorMessages::queueFileName(image);
    click(window, "file_path");
    step.restart();
    click(window, "file_update");
    const qint64 upgradeMs = step.elapsed();
    const qint64 residentAtEnd = residentKiB();

    QCOMPARE(shownTexts(),
             QStringList({"file:|", "about:升级失败2|" + kRefusing.first + " 网络连接失败|parent",
                          notice("已升级 19 台设备，等待重启；以下 1 台设备升级失败：\n" +
                                 kRefusing.first)}));
    QStringList remaining;
    for (const QString& row : expected) {
        if (!chosen.mid(1).contains(row.section(' ', 0, 0))) {
            remaining << row;
        }
    }
    QCOMPARE(shownRows(window), remaining);
    QCOMPARE(tableOf(window)->item(rowOf(window, kRefusing.first), 0)->checkState(), Qt::Checked);
    QSet<QString> received;
    for (const DevsimRecord& r : sim.records("fw-image")) {
        QCOMPARE(r.raw.value("sha256").toString().toLatin1(), imageSha);
        QCOMPARE(qint64(r.raw.value("received").toDouble()), kImageSize);
        received << r.device;
    }
    QCOMPARE(received, QSet<QString>(chosen.begin() + 1, chosen.end()));

    // What the run leaves behind: memory, threads, and a service that still answers.
    QVERIFY2(residentAtEnd - residentAfterSearch <= 20 * 1024,
             qPrintable(QStringLiteral("%1 KiB after the first search, %2 KiB at the end")
                            .arg(residentAfterSearch)
                            .arg(residentAtEnd)));
    QCOMPARE(threadCount(), threads);
    char reply[256] = {};
    send_http_cmd("127.0.0.1", "{\"ProtocolCode\":1000}", reply, sizeof reply);
    QCOMPARE(QJsonDocument::fromJson(reply).object(), QJsonObject({{"ProtocolCode", "OKK"}}));

    qInfo(
        "steps (ms): search %lld, reboot %lld, restarts awaited %lld, search %lld, upgrade %lld;"
        " resident KiB %lld -> %lld; threads %d",
        searchMs, rebootMs, restartMs, secondSearchMs, upgradeMs, residentAfterSearch,
        residentAtEnd, threads);
}

QTEST_MAIN(TestFullSite)
#include "test_full_site.moc"
