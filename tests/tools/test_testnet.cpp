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
        const Run up = run({"up"});
        QCOMPARE(up.status, 0);
        const QString id = up.out.section('\n', 0, 0).trimmed();
        QVERIFY2(id.startsWith("cvt"), qPrintable(up.out));
        QVERIFY(anyNamespaceOf(id));
        const Run ex = run({"exec", id, "sh", "-c", "echo tool=$CORVANE_TOOL_NETNS"});
        QCOMPARE(ex.status, 0);
        QCOMPARE(valueOf(ex.out, "tool"), id + "-t");
        // A network made by `up` stays until `down`, whatever cleanup runs meanwhile.
        QCOMPARE(run({"cleanup"}).status, 0);
        QVERIFY(anyNamespaceOf(id));
        QCOMPARE(run({"down", id}).status, 0);
        QVERIFY(!anyNamespaceOf(id));

        // A network whose creator is gone is stale: cleanup removes it, a live one stays.
        const QString stale = "cvt999999999x0badcafe";
        QProcess add;
        add.start("ip", {"netns", "add", stale + "-t"});
        QVERIFY(add.waitForFinished(5000) && add.exitCode() == 0);
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
