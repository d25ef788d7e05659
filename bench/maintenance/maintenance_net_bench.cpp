// Maintenance inside the test network:
//  1. upgrade throughput of the main window's attempt against a sink in the device host that
//     answers like a device, beside a plain blocking socket sending the same packets of the
//     same file to the same sink, alternating, in the same run (256 MiB image);
//  2. the tool's peak resident size after upgrading a 16 MiB and a 256 MiB image (one
//     process per upgrade);
//  3. the reboot of 250 ticked simulated devices against 250 x (100 ms + one exchange).
// Run through scripts/run-bench (or scripts/testnet run). Images go to a temporary folder and
// are deleted at the end.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "maintenance/batch.h"
#include "maintenance/upgrade_packet.h"
#include "messages/operator_messages.h"
#include "protocol/config_commands.h"
#include "tests/support/devsim_harness.h"
#include "tests/support/window_rows.h"

namespace {

using corvane::test::Devsim;
using corvane::test::DevsimRecord;
using corvane::test::TestNetwork;
namespace mt = corvane::maintenance;

// The sink's address: a device-host address outside the simulated fleet.
const char kSinkAddress[] = "203.0.113.254";
constexpr qint64 kMiB = 1 << 20;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

bool readFully(int fd, char* into, std::size_t n) {
    while (n > 0) {
        const ssize_t got = ::recv(fd, into, n, 0);
        if (got <= 0) {
            return false;
        }
        into += got;
        n -= std::size_t(got);
    }
    return true;
}

bool sendFully(int fd, const char* from, std::size_t n) {
    while (n > 0) {
        const ssize_t put = ::send(fd, from, n, MSG_NOSIGNAL);
        if (put <= 0) {
            return false;
        }
        from += put;
        n -= std::size_t(put);
    }
    return true;
}

int openSocket(const char* address, bool listening) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(mt::kUpgradePort);
    ::inet_pton(AF_INET, address, &a.sin_addr);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const bool ok = listening ? ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                                    ::listen(fd, 8) == 0
                              : ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (!ok) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The sink: takes packets, throws the image away, answers start and finish with "OK" behind
// a 32-byte header, closes after the end command. One connection at a time.
int runSink(const char* address) {
    const int listener = openSocket(address, true);
    if (listener < 0) {
        std::perror("sink");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    std::vector<char> buffer(mt::kSendBufferBytes);
    char ok[mt::kHeaderBytes + 2];
    mt::write_header(ok, mt::PacketKind::Command, 2);
    std::memcpy(ok + mt::kHeaderBytes, "OK", 2);
    for (;;) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) {
            continue;
        }
        char head[mt::kHeaderBytes];
        while (readFully(fd, head, sizeof head)) {
            quint32 kind = 0;
            quint32 payload = 0;
            std::memcpy(&kind, head + 8, 4);
            std::memcpy(&payload, head + 12, 4);
            if (payload > buffer.size() || !readFully(fd, buffer.data(), payload)) {
                break;
            }
            if (kind != 1) {
                continue;
            }
            const std::string text(buffer.data(), payload);
            if (text.rfind("CMD\tUPDATE\tEND\t", 0) == 0) {
                break;
            }
            sendFully(fd, ok, sizeof ok);
        }
        ::close(fd);
    }
}

// The same packets of the same file through a plain blocking socket.
bool plainUpload(const QString& path) {
    const int fd = openSocket(kSinkAddress, false);
    std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (fd < 0 || file == nullptr) {
        return false;
    }
    std::vector<char> packet(mt::kSendBufferBytes);
    char reply[mt::kReplyBytes];
    auto command = [&](const QByteArray& text, bool answered) {
        std::memcpy(packet.data() + mt::kHeaderBytes, text.constData(), size_t(text.size()));
        mt::write_header(packet.data(), mt::PacketKind::Command, quint32(text.size()));
        return sendFully(fd, packet.data(), size_t(text.size()) + mt::kHeaderBytes) &&
               (!answered || ::recv(fd, reply, sizeof reply, 0) > mt::kHeaderBytes);
    };
    bool ok = command(mt::start_command(qint32(QFileInfo(path).size())), true);
    std::size_t n = 0;
    while (ok && (n = std::fread(packet.data() + mt::kHeaderBytes, 1, mt::kPieceBytes, file)) > 0) {
        mt::write_header(packet.data(), mt::PacketKind::Data, quint32(n));
        ok = sendFully(fd, packet.data(), n + mt::kHeaderBytes);
    }
    ok = ok && command(mt::finish_command(), true) && command(mt::end_command(), false);
    std::fclose(file);
    ::close(fd);
    return ok;
}

// The main window's attempt for one row at the sink's address.
struct ToolWindow {
    Base_Frame window;
    ToolWindow() { showRows(window, {{QString::fromLatin1(kSinkAddress), 1102}}); }
    bool upload(const QString& path) {
        window.findChild<QLineEdit*>(QStringLiteral("file_pathname"))->setText(path);
        return window.update_device(0) == 1;
    }
};

// Reads the file once, so that both contenders find it in the page cache.
void warm(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    while (!file.read(16 * kMiB).isEmpty()) {
    }
}

qint64 peakKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').first().toLongLong();
        }
    }
    return -1;
}

// One upgrade in a process of its own; prints the peak resident size before and after.
int runRssWorker(const QString& path) {
    ToolWindow tool;
    tool.window.show();
    QApplication::processEvents();
    const qint64 before = peakKiB();
    const bool ok = tool.upload(path);
    std::printf("%lld %lld %d\n", before, peakKiB(), ok ? 1 : 0);
    return ok ? 0 : 1;
}

struct Peak {
    qint64 before = -1;
    qint64 after = -1;
};

Peak measurePeak(const QString& self, const QString& path) {
    QProcess worker;
    worker.start(self, {QStringLiteral("--rss"), path});
    worker.waitForFinished(120000);
    const QList<QByteArray> fields = worker.readAllStandardOutput().trimmed().split(' ');
    if (fields.size() != 3 || fields[2] != "1") {
        return {};
    }
    return {fields[0].toLongLong(), fields[1].toLongLong()};
}

bool benchUpgrade(const QString& self, QTemporaryDir& dir) {
    QProcess sink;
    sink.start(QStringLiteral("ip"),
               {QStringLiteral("netns"), QStringLiteral("exec"), TestNetwork::deviceNetns(), self,
                QStringLiteral("--sink"), QString::fromLatin1(kSinkAddress)});
    if (!sink.waitForReadyRead(10000) || !sink.readLine().startsWith("ready")) {
        std::fprintf(stderr, "sink did not start: %s\n", sink.readAllStandardError().constData());
        return false;
    }
    const QString big = dir.filePath(QStringLiteral("update_app_tx_256.bin"));
    const QString small = dir.filePath(QStringLiteral("update_app_tx_16.bin"));
    if (!corvane::test::writeImage(big, 256 * kMiB) ||
        !corvane::test::writeImage(small, 16 * kMiB)) {
        std::fprintf(stderr, "cannot write the images in %s\n", qPrintable(dir.path()));
        return false;
    }
    warm(big);

    const int rounds = qEnvironmentVariableIsSet("CORVANE_BENCH_ROUNDS")
                           ? qEnvironmentVariableIntValue("CORVANE_BENCH_ROUNDS")
                           : 5;
    ToolWindow tool;
    tool.window.show();
    std::vector<double> toolRates;
    std::vector<double> plainRates;
    std::printf("upgrade of 256 MiB to a sink in the device host, MB/s (1 MB = 10^6 bytes)\n");
    std::printf("%-6s %-12s %-12s %s\n", "round", "tool", "plain", "tool/plain");
    for (int round = 1; round <= rounds; ++round) {
        QElapsedTimer clock;
        clock.start();
        const bool toolOk = tool.upload(big);
        const double toolRate = 256.0 * kMiB / 1e6 / (clock.nsecsElapsed() / 1e9);
        clock.restart();
        const bool plainOk = plainUpload(big);
        const double plainRate = 256.0 * kMiB / 1e6 / (clock.nsecsElapsed() / 1e9);
        if (!toolOk || !plainOk) {
            std::fprintf(stderr, "round %d failed (tool %d, plain %d)\n", round, toolOk, plainOk);
            return false;
        }
        toolRates.push_back(toolRate);
        plainRates.push_back(plainRate);
        std::printf("%-6d %-12.0f %-12.0f %.2f\n", round, toolRate, plainRate,
                    toolRate / plainRate);
        std::fflush(stdout);
    }
    const double ratio = median(toolRates) / median(plainRates);
    std::printf("median %-5s %-12.0f %-12.0f %.2f  (target >= 0.80: %s)\n", "", median(toolRates),
                median(plainRates), ratio, ratio >= 0.8 ? "met" : "NOT met");

    std::printf("\npeak resident size of one upgrade per process, KiB (before -> after)\n");
    std::vector<double> growth;
    for (int round = 1; round <= 3; ++round) {
        const Peak p16 = measurePeak(self, small);
        const Peak p256 = measurePeak(self, big);
        if (p16.after < 0 || p256.after < 0) {
            std::fprintf(stderr, "a memory worker failed\n");
            return false;
        }
        growth.push_back(double(p256.after - p16.after));
        std::printf("round %d: 16 MiB %lld -> %lld, 256 MiB %lld -> %lld, growth %+lld KiB\n",
                    round, p16.before, p16.after, p256.before, p256.after, p256.after - p16.after);
    }
    const double worst = *std::max_element(growth.begin(), growth.end());
    std::printf("largest growth 16 -> 256 MiB: %+.0f KiB (target < 4096 KiB: %s)\n", worst,
                worst < 4096 ? "met" : "NOT met");
    sink.kill();
    sink.waitForFinished(3000);
    QFile::remove(big);
    QFile::remove(small);
    return true;
}

bool benchReboot() {
    constexpr int kDevices = 250;
    Devsim sim;
    sim.args({QStringLiteral("--fleet"), QString::number(kDevices), QStringLiteral("--addresses"),
              QStringLiteral("198.51.100.10-254 203.0.113.10-14"), QStringLiteral("--defaults"),
              QStringLiteral("type=1102"), QStringLiteral("--no-udp"),
              QStringLiteral("--restart-seconds"), QStringLiteral("1")});
    if (!sim.start(Devsim::Where::DeviceHost)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(sim.errorString()));
        return false;
    }
    QStringList addresses;
    for (int host = 10; host <= 254; ++host) {
        addresses << QStringLiteral("198.51.100.%1").arg(host);
    }
    for (int host = 10; host <= 14; ++host) {
        addresses << QStringLiteral("203.0.113.%1").arg(host);
    }

    // One command exchange, as the reboot makes it, without the pause: each device once.
    QElapsedTimer clock;
    clock.start();
    int answered = 0;
    for (const QString& a : addresses) {
        answered += corvane::config::restartDevice(a.toStdString()).accepted ? 1 : 0;
    }
    const double exchangeMs = clock.nsecsElapsed() / 1e6 / kDevices;
    // Wait until every device is back from that restart.
    QElapsedTimer back;
    back.start();
    while (sim.records(QStringLiteral("restart-up")).size() < kDevices && back.elapsed() < 30000) {
        QThread::msleep(100);
    }

    ToolWindow tool;
    QList<DeviceRow> rows;
    for (const QString& a : addresses) {
        rows << DeviceRow{a, 1102};
    }
    showRows(tool.window, rows);
    tool.window.show();
    tool.window.findChild<QCheckBox*>(QStringLiteral("select_all"))->setChecked(true);
    clock.restart();
    tool.window.findChild<QPushButton*>(QStringLiteral("reboot"))->click();
    // The batch runs on the window's worker; the window handles its events meanwhile.
    if (!idleWithin(tool.window, 300000)) {
        std::fprintf(stderr, "the reboot did not end within 300 s\n");
        return false;
    }
    const double totalMs = clock.nsecsElapsed() / 1e6;
    const double expectedMs = kDevices * (mt::kRebootPauseMs + exchangeMs);
    const int left = tableOf(tool.window)->rowCount();
    std::printf("\nreboot of %d ticked devices (%d answered the exchange run, %d rows left)\n",
                kDevices, answered, left);
    std::printf(
        "one exchange %.2f ms; expected %d x (100 + %.2f) = %.0f ms; measured %.0f ms; "
        "ratio %.3f (target 0.90-1.10: %s)\n",
        exchangeMs, kDevices, exchangeMs, expectedMs, totalMs, totalMs / expectedMs,
        std::abs(totalMs / expectedMs - 1) <= 0.1 ? "met" : "NOT met");
    return left == 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc == 3 && std::strcmp(argv[1], "--sink") == 0) {
        return runSink(argv[2]);
    }
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    corvane::OperatorMessages::setUnattended(true);
    if (argc == 3 && std::strcmp(argv[1], "--rss") == 0) {
        return runRssWorker(QString::fromLocal8Bit(argv[2]));
    }
    if (!TestNetwork::active()) {
        std::fprintf(stderr, "maintenance_net_bench: run it through scripts/testnet run\n");
        return 2;
    }
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/corvane-bench-XXXXXX"));
    const QString self = QCoreApplication::applicationFilePath();
    const bool ok = benchUpgrade(self, dir) && benchReboot();
    // The verdicts are printed; the exit status reports only a bench that could not run.
    return ok ? 0 : 1;
}
