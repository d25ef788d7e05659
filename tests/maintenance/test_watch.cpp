// The watch of devices that left, without a network: which record of a sweep counts as a
// device come back, and when the watch sweeps, ends and gives up.
#include <QtTest>

#include <atomic>
#include <thread>

#include "maintenance/watch.h"

using namespace corvane::maintenance;

namespace {

// "ip|mac|version", with "|conflict" for a record marked as one.
Device_Info record(const QString& text) {
    const QStringList parts = text.split('|');
    Device_Info d{};
    copy_field(d.ip, parts.value(0).toStdString());
    copy_field(d.mac, parts.value(1).toStdString());
    copy_field(d.version, parts.value(2).toStdString());
    d.conflict = parts.value(3) == QLatin1String("conflict");
    return d;
}

std::vector<Device_Info> records(const QStringList& texts) {
    std::vector<Device_Info> out;
    for (const QString& t : texts) {
        out.push_back(record(t));
    }
    return out;
}

}  // namespace

class TestWatch : public QObject {
    Q_OBJECT

private slots:
    void feed_data() {
        QTest::addColumn<QString>("last");      // the record before it left
        QTest::addColumn<QString>("expected");  // "address|mac" it comes back with ("": as before)
        QTest::addColumn<bool>("versions");     // an upgrade
        QTest::addColumn<QStringList>("swept");
        QTest::addColumn<int>("outcome");    // -1: not back
        QTest::addColumn<QString>("found");  // the address it was found at

        const QString dev = QStringLiteral("198.51.100.10|02:43:56:33:64:0A|V1");
        const int none = -1;
        QTest::newRow("back, MAC in another letter case")
            << dev << "" << false
            << QStringList{"198.51.100.9|02:00:00:00:00:01|V1",
                           "198.51.100.10|02:43:56:33:64:0a|V1"}
            << int(WatchOutcome::Back) << "198.51.100.10";
        QTest::newRow("another MAC at its address is not it")
            << dev << "" << false << QStringList{"198.51.100.10|02:00:00:00:00:01|V1"} << none
            << "";
        QTest::newRow("its MAC at another address is not where it should be")
            << dev << "" << false << QStringList{"198.51.100.11|02:43:56:33:64:0A|V1"} << none
            << "";
        QTest::newRow("a shared address proves nothing")
            << dev << "" << false << QStringList{"198.51.100.10|02:43:56:33:64:0A|V1|conflict"}
            << none << "";
        QTest::newRow("network change: at the new address, new MAC")
            << dev << "198.51.100.130|02:43:56:33:64:FF" << false
            << QStringList{"198.51.100.10|02:43:56:33:64:0A|V1",
                           "198.51.100.130|02:43:56:33:64:ff|V1"}
            << int(WatchOutcome::Back) << "198.51.100.130";
        QTest::newRow("unknown MAC: by the address, written with leading zeros")
            << "198.51.100.10||"
            << "198.051.100.010|" << false << QStringList{"198.51.100.10|02:00:00:00:00:01|V1"}
            << int(WatchOutcome::Back) << "198.51.100.10";
        QTest::newRow("upgrade: another version")
            << dev << "" << true << QStringList{"198.51.100.10|02:43:56:33:64:0A|V2"}
            << int(WatchOutcome::NewVersion) << "198.51.100.10";
        QTest::newRow("upgrade: the same version")
            << dev << "" << true << QStringList{"198.51.100.10|02:43:56:33:64:0A|V1"}
            << int(WatchOutcome::SameVersion) << "198.51.100.10";
    }

    void feed() {
        QFETCH(QString, last);
        QFETCH(QString, expected);
        QFETCH(bool, versions);
        QFETCH(QStringList, swept);
        QFETCH(int, outcome);
        QFETCH(QString, found);
        WatchedDevice d;
        d.last = record(last);
        d.expected_address = expected.section('|', 0, 0);
        d.expected_mac = expected.section('|', 1, 1);
        WatchOptions options;
        options.compare_versions = versions;
        Watch watch({d}, options);
        const std::vector<WatchReturn> back = watch.feed(records(swept));
        QCOMPARE(int(back.size()), outcome < 0 ? 0 : 1);
        QCOMPARE(watch.all_back(), outcome >= 0);
        if (outcome >= 0) {
            QCOMPARE(int(back[0].outcome), outcome);
            QCOMPARE(QString::fromUtf8(back[0].found.ip), found);
            // Found once: a later sweep does not report it again.
            QVERIFY(watch.feed(records(swept)).empty());
        }
    }

    // run_watch with a scripted sweep: how many sweeps it makes, what it reports after each
    // and which devices it gives up on. The interval is short, the limit generous unless the
    // row is about giving up.
    void run_data() {
        QTest::addColumn<QList<QStringList>>("sweeps");  // what each sweep finds; the last repeats
        QTest::addColumn<int>("limit_ms");
        QTest::addColumn<QString>("meddle");  // "feed": a sweep fed in; "cancel"; "": neither
        QTest::addColumn<int>("interval_ms");
        QTest::addColumn<int>("swept");         // sweeps made; -1: at least one
        QTest::addColumn<QList<int>>("found");  // devices found, in the order reported
        QTest::addColumn<QList<int>>("missing");

        const QString a = QStringLiteral("198.51.100.10|02:00:00:00:00:0A|V1");
        const QString b = QStringLiteral("198.51.100.11|02:00:00:00:00:0B|V1");
        QTest::newRow("one late, one later: ends when both are back")
            << QList<QStringList>{{}, {b}, {a, b}} << 60000 << "" << 10 << 3 << QList<int>{1, 0}
            << QList<int>{};
        QTest::newRow("one never back: gives up at the limit")
            << QList<QStringList>{{a}, {a}} << 300 << "" << 10 << -1 << QList<int>{0}
            << QList<int>{1};
        QTest::newRow("a sweep fed in finds the last: no sweep of its own")
            << QList<QStringList>{{}} << 60000 << "feed" << 60000 << 0 << QList<int>{}
            << QList<int>{};
        QTest::newRow("cancelled while waiting") << QList<QStringList>{{}} << 60000 << "cancel"
                                                 << 60000 << 0 << QList<int>{} << QList<int>{0, 1};
    }

    void run() {
        QFETCH(QList<QStringList>, sweeps);
        QFETCH(int, limit_ms);
        QFETCH(QString, meddle);
        QFETCH(int, interval_ms);
        QFETCH(int, swept);
        QFETCH(QList<int>, found);
        QFETCH(QList<int>, missing);
        const QString a = QStringLiteral("198.51.100.10|02:00:00:00:00:0A|V1");
        const QString b = QStringLiteral("198.51.100.11|02:00:00:00:00:0B|V1");
        WatchOptions options;
        options.interval_ms = interval_ms;
        options.limit_ms = limit_ms;
        Watch watch({{record(a), {}, {}}, {record(b), {}, {}}}, options);
        int made = 0;
        QList<int> reported;
        QList<int> given_up{-1};
        WatchEvents events;
        events.swept = [&](const std::vector<WatchReturn>& back) {
            for (const WatchReturn& r : back) {
                reported << r.index;
            }
        };
        events.finished = [&](const std::vector<int>& m) {
            given_up = QList<int>(m.begin(), m.end());
        };
        std::atomic<bool> cancel{false};
        std::thread meddler;
        if (meddle == QLatin1String("feed")) {
            meddler = std::thread([&] { watch.feed(records({a, b})); });
        } else if (meddle == QLatin1String("cancel")) {
            meddler = std::thread([&] { cancel = true; });
        }
        run_watch(
            watch, [&] { return records(sweeps.value(made++, sweeps.last())); }, events, &cancel);
        if (meddler.joinable()) {
            meddler.join();
        }
        if (swept >= 0) {
            QCOMPARE(made, swept);
        } else {
            QVERIFY(made >= 1);
        }
        QCOMPARE(reported, found);
        QCOMPARE(given_up, missing);
    }
};

QTEST_GUILESS_MAIN(TestWatch)
#include "test_watch.moc"
