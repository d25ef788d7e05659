// scripts/testnet itself: what a command sees inside, its exit status, and that the
// network is gone afterwards whatever way the run ended. Needs root (namespaces).
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <unistd.h>

namespace {

QString script() {
    const QString source = qEnvironmentVariable("CORVANE_SOURCE_DIR");
    return QDir(source.isEmpty() ? QStringLiteral(CORVANE_SOURCE_DIR_FALLBACK) : source)
        .filePath("scripts/testnet");
}

struct Run {
    int status = -1;
    QString out;
};

Run run(const QStringList& arguments, const QByteArray& extraEnv = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("CORVANE_TESTNET_ARGS");
    if (!extraEnv.isEmpty())
        env.insert(QString::fromLatin1(extraEnv.split('=').at(0)),
                   QString::fromLatin1(extraEnv.mid(extraEnv.indexOf('=') + 1)));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(script(), arguments);
    Run r;
    if (!p.waitForFinished(60000))
        return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAll());
    return r;
}

QStringList namespaces() {
    QProcess p;
    p.start("ip", {"netns", "list"});
    p.waitForFinished(5000);
    QStringList names;
    for (const QString& line : QString::fromLocal8Bit(p.readAll()).split('\n', Qt::SkipEmptyParts))
        names << line.section(' ', 0, 0);
    return names;
}

bool anyNamespaceStartingWith(const QString& prefix) {
    for (const QString& n : namespaces())
        if (n.startsWith(prefix))
            return true;
    return false;
}

bool anyNamespaceOf(const QString& id) {
    return !id.isEmpty() && anyNamespaceStartingWith(id + "-");
}

QString valueOf(const QString& out, const QString& name) {
    const QRegularExpression re("^" + name + "=(.*)$", QRegularExpression::MultilineOption);
    return re.match(out).captured(1).trimmed();
}

}  // namespace

class TestTestnet : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (geteuid() != 0)
            QSKIP("scripts/testnet needs root");
        QVERIFY(QFileInfo(script()).isExecutable());
    }

    void commandSeesTheNetwork() {
        const Run r = run({"run", "sh", "-c",
                           "env | grep ^CORVANE_; ip -o -4 addr show dev eth0; "
                           "ip -n $CORVANE_DEVICE_NETNS -o -4 addr | wc -l | sed 's/^/devcount=/'; "
                           "ip route get 203.0.113.50 | head -1 | sed 's/^/route=/'"});
        QCOMPARE(r.status, 0);
        QCOMPARE(valueOf(r.out, "CORVANE_TESTNET"), QStringLiteral("1"));
        QCOMPARE(valueOf(r.out, "CORVANE_TOOL_ADDRS"), QStringLiteral("198.51.100.1"));
        QCOMPARE(valueOf(r.out, "CORVANE_SILENT_ADDR"), QStringLiteral("198.51.100.3"));
        const QStringList devices =
            valueOf(r.out, "CORVANE_DEVICE_ADDRS").split(' ', Qt::SkipEmptyParts);
        QCOMPARE(devices.size(), 490);
        QCOMPARE(devices.first(), QStringLiteral("198.51.100.10"));
        QCOMPARE(devices.last(), QStringLiteral("203.0.113.254"));
        QVERIFY2(r.out.contains("inet 198.51.100.1/24 brd 198.51.100.255"), qPrintable(r.out));
        QVERIFY(!r.out.contains("inet 203.0.113.1/"));
        // 490 device addresses plus the device host's loopback.
        QCOMPARE(valueOf(r.out, "devcount"), QStringLiteral("491"));
        // Without a second address 203.0.113.0/24 is still reached on the link.
        QVERIFY2(valueOf(r.out, "route").contains("dev eth0 src 198.51.100.1"), qPrintable(r.out));
        const QString id = valueOf(r.out, "CORVANE_TESTNET_ID");
        QVERIFY(!id.isEmpty());
        QVERIFY(!anyNamespaceOf(id));
    }

    void secondAddress_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("env");
        const QStringList cmd{"sh", "-c",
                              "echo id=$CORVANE_TESTNET_ID; ip -o -4 addr show dev eth0"};
        QTest::newRow("option") << (QStringList{"run", "--second-address"} + cmd) << QByteArray();
        QTest::newRow("variable") << (QStringList{"run"} + cmd)
                                  << QByteArray("CORVANE_TESTNET_ARGS=--second-address");
    }
    void secondAddress() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, env);
        const Run r = run(arguments, env);
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.contains("inet 203.0.113.1/24 brd 203.0.113.255"), qPrintable(r.out));
        QVERIFY(r.out.contains("inet 198.51.100.1/24 brd 198.51.100.255"));
        QVERIFY(!anyNamespaceOf(valueOf(r.out, "id")));
    }

    // The router and the large subnet: what the tool host holds and reaches, and what the
    // other hosts hold. `count` lines are numbers of addresses or entries.
    void networkOptions_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("env");
        QTest::addColumn<QString>("toolAddrs");
        QTest::addColumn<QString>("farRoute");  // how the tool host reaches 198.19.1.50
        QTest::addColumn<int>("far");           // addresses of the far device host
        QTest::addColumn<int>("large");         // CORVANE_LARGE_ADDRS
        QTest::addColumn<int>("device");        // addresses of the device host, loopback too
        QTest::addColumn<int>("permanent");     // permanent neighbour entries of the tool host
        QTest::newRow("router") << QStringList{"--router"} << QByteArray() << "198.51.100.1"
                                << "via 198.51.100.2 dev eth0" << 245 << 0 << 491 << 0;
        QTest::newRow("large") << QStringList{"--large"} << QByteArray()
                               << "198.51.100.1 198.18.0.1"
                               << "unreachable" << 0 << 1000 << 1491 << 1000;
        QTest::newRow("both, from the variable")
            << QStringList{} << QByteArray("CORVANE_TESTNET_ARGS=--large --router")
            << "198.51.100.1 198.18.0.1"
            << "via 198.51.100.2 dev eth0" << 245 << 1000 << 1491 << 1000;
    }
    void networkOptions() {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, env);
        QFETCH(QString, toolAddrs);
        QFETCH(QString, farRoute);
        QFETCH(int, far);
        QFETCH(int, large);
        QFETCH(int, device);
        QFETCH(int, permanent);
        const QString script =
            "echo id=$CORVANE_TESTNET_ID; env | grep ^CORVANE_; "
            "echo far=$(echo $CORVANE_FAR_ADDRS | wc -w) large=$(echo $CORVANE_LARGE_ADDRS | wc "
            "-w); "
            "echo route=$(ip route get 198.19.1.50 2>&1 | head -1); "
            "echo defaults=$(ip route show default | wc -l); "
            "echo device=$(ip -n $CORVANE_DEVICE_NETNS -o -4 addr | wc -l); "
            "echo permanent=$(ip neigh show nud permanent | wc -l); "
            "ip -o -4 addr show dev eth0; "
            "[ -z \"$CORVANE_FAR_NETNS\" ] || { "
            "echo farhost=$(ip -n $CORVANE_FAR_NETNS -o -4 addr | wc -l); "
            "echo forward=$(ip netns exec $CORVANE_ROUTER_NETNS sysctl -n net.ipv4.ip_forward); "
            "echo farroute=$(ip -n $CORVANE_FAR_NETNS route show default); }";
        const Run r = run(QStringList{"run"} + options + QStringList{"sh", "-c", script}, env);
        QCOMPARE(r.status, 0);
        QCOMPARE(valueOf(r.out, "CORVANE_TOOL_ADDRS"), toolAddrs);
        QVERIFY2(valueOf(r.out, "route").contains(farRoute), qPrintable(r.out));
        QCOMPARE(valueOf(r.out, "defaults"), QStringLiteral("0"));  // nothing beyond the routes
        QCOMPARE(valueOf(r.out, "far"), QString::number(far) + " large=" + QString::number(large));
        QCOMPARE(valueOf(r.out, "device").toInt(), device);
        QCOMPARE(valueOf(r.out, "permanent").toInt(), permanent);
        if (large > 0) {
            QVERIFY2(r.out.contains("inet 198.18.0.1/22 brd 198.18.3.255"), qPrintable(r.out));
            const QStringList addrs = valueOf(r.out, "CORVANE_LARGE_ADDRS").split(' ');
            QCOMPARE(addrs.first(), QStringLiteral("198.18.0.10"));
            QCOMPARE(addrs.last(), QStringLiteral("198.18.3.241"));
            QCOMPARE(valueOf(r.out, "CORVANE_LARGE_TOOL_ADDR"), QStringLiteral("198.18.0.1"));
        }
        if (far > 0) {
            QCOMPARE(valueOf(r.out, "farhost").toInt(), far + 1);
            QCOMPARE(valueOf(r.out, "forward"), QStringLiteral("1"));
            QCOMPARE(valueOf(r.out, "farroute"), QStringLiteral("default via 198.19.1.1 dev eth0"));
            QCOMPARE(valueOf(r.out, "CORVANE_ROUTER_ADDR"), QStringLiteral("198.51.100.2"));
            QCOMPARE(valueOf(r.out, "CORVANE_ROUTER_FAR_ADDR"), QStringLiteral("198.19.1.1"));
            QCOMPARE(valueOf(r.out, "CORVANE_FAR_SUBNET"), QStringLiteral("198.19.1.0/24"));
        } else {
            QVERIFY(!r.out.contains("CORVANE_FAR_NETNS") && !r.out.contains("CORVANE_ROUTER"));
        }
        const QString id = valueOf(r.out, "id");
        QVERIFY(id.startsWith("cvt"));
        QVERIFY(!anyNamespaceOf(id));
    }

    void exitStatusPassesThroughAndNetworkGoes_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("status");
        QTest::newRow("success") << "exit 0" << 0;
        QTest::newRow("failure") << "exit 7" << 7;
        QTest::newRow("killed by a signal") << "kill -KILL $$" << 137;
    }
    void exitStatusPassesThroughAndNetworkGoes() {
        QFETCH(QString, command);
        QFETCH(int, status);
        const Run r = run({"run", "sh", "-c", "echo id=$CORVANE_TESTNET_ID; " + command});
        QCOMPARE(r.status, status);
        const QString id = valueOf(r.out, "id");
        QVERIFY(id.startsWith("cvt"));
        QVERIFY(!anyNamespaceOf(id));
    }

    void commandReadsTheCallersInput() {
        QProcess p;
        p.start(script(), {"run", "cat"});
        QVERIFY(p.waitForStarted());
        p.write("typed into the tool host\n");
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(p.readAllStandardOutput(), QByteArray("typed into the tool host\n"));
    }

    void terminatedRunTearsDown() {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(script(), {"run", "sh", "-c", "echo id=$CORVANE_TESTNET_ID; sleep 60"});
        QVERIFY(p.waitForReadyRead(20000));
        const QString id = valueOf(QString::fromLocal8Bit(p.readAll()), "id");
        QVERIFY(anyNamespaceOf(id));
        p.terminate();
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 143);
        QVERIFY(!anyNamespaceOf(id));
    }

    void upExecDownAndCleanup() {
        const Run up = run({"up", "--router"});
        QCOMPARE(up.status, 0);
        const QString id = up.out.section('\n', 0, 0).trimmed();
        QVERIFY2(id.startsWith("cvt"), qPrintable(up.out));
        QVERIFY(anyNamespaceOf(id));
        const Run ex = run(
            {"exec", id, "sh", "-c", "echo tool=$CORVANE_TOOL_NETNS; echo far=$CORVANE_FAR_NETNS"});
        QCOMPARE(ex.status, 0);
        QCOMPARE(valueOf(ex.out, "tool"), id + "-t");
        QCOMPARE(valueOf(ex.out, "far"), id + "-f");
        QVERIFY(namespaces().contains(id + "-r"));
        // A network made by `up` stays until `down`, whatever cleanup runs meanwhile.
        QCOMPARE(run({"cleanup"}).status, 0);
        QVERIFY(anyNamespaceOf(id));
        QCOMPARE(run({"down", id}).status, 0);
        QVERIFY(!anyNamespaceOf(id));

        // A network whose creator is gone is stale: cleanup removes it, a live one stays.
        const QString stale = "cvt999999999x0badcafe";
        for (const char* host : {"-t", "-f"}) {
            QProcess add;
            add.start("ip", {"netns", "add", stale + host});
            QVERIFY(add.waitForFinished(5000) && add.exitCode() == 0);
        }
        QProcess live;
        live.start(script(), {"run", "sleep", "30"});
        QVERIFY(live.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(anyNamespaceStartingWith(QString("cvt%1x").arg(live.processId())),
                                 20000);
        QCOMPARE(run({"cleanup"}).status, 0);
        QVERIFY(!anyNamespaceOf(stale));
        QVERIFY(anyNamespaceStartingWith(QString("cvt%1x").arg(live.processId())));
        live.terminate();
        QVERIFY(live.waitForFinished(20000));
    }
};

QTEST_GUILESS_MAIN(TestTestnet)
#include "test_testnet.moc"
