// Upgrade of 40 simulated transmitters that take 2 s to install each (the finish reply comes
// 2 s after the finish command), a 16 MiB image, with corvane-cli upgrade --parallel 1 and
// --parallel 8: the wall time of each run and their ratio beside the goal of 6. The simulator
// counts the images without hashing them, so that its own hashing does not bound the figure.
// Run through scripts/run-bench (or scripts/testnet run).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

#include "tests/cli/cli_run.h"
#include "tests/support/devsim_harness.h"

using corvane::test::Devsim;
using corvane::test::TestNetwork;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (!TestNetwork::active()) {
        std::fprintf(stderr, "runs inside the test network (scripts/testnet run)\n");
        return 2;
    }
    constexpr int kDevices = 40;
    constexpr double kGoal = 6;
    QTemporaryDir dir;
    const QString image = dir.filePath("update_app_tx/image.bin");
    if (!QDir(dir.path()).mkpath("update_app_tx") || !corvane::test::writeImage(image, 16 << 20)) {
        std::fprintf(stderr, "the image cannot be written\n");
        return 1;
    }
    Devsim sim;
    sim.args({"--fleet", QString::number(kDevices), "--addresses", "198.51.100.10-49", "--defaults",
              "type=1102,fw-finish-delay=2000", "--no-image-hash", "--restart-seconds=1"});
    if (!sim.start(Devsim::Where::DeviceHost)) {
        std::fprintf(stderr, "simulator not ready: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    QStringList addresses;
    for (int i = 0; i < kDevices; ++i) {
        addresses << QStringLiteral("198.51.100.%1").arg(10 + i);
    }
    double seconds[2] = {0, 0};
    const int parallel[2] = {1, 8};
    for (int run = 0; run < 2; ++run) {
        QElapsedTimer clock;
        clock.start();
        const corvane::test::CliRun result =
            corvane::test::runCli(QStringList{"upgrade", "--kind", "tx", "--parallel",
                                              QString::number(parallel[run]), "--image", image} +
                                      addresses,
                                  600000);
        seconds[run] = clock.nsecsElapsed() / 1e9;
        const QByteArray summary = result.out.mid(result.out.lastIndexOf("upgraded ", -2));
        std::printf("upgrade --parallel %d of %d devices, 16 MiB, 2 s install: %.1f s (%s)\n",
                    parallel[run], kDevices, seconds[run], summary.trimmed().constData());
        if (result.exit != 0) {
            std::fprintf(stderr, "exit %d: %s\n", result.exit, result.err.constData());
            return 1;
        }
        // The last devices restart after their upgrade; the next run waits for them.
        QThread::sleep(2);
    }
    const double ratio = seconds[0] / seconds[1];
    std::printf("--parallel 8 is %.1f times as fast as --parallel 1 (goal: at least %.0f): %s\n",
                ratio, kGoal, ratio >= kGoal ? "met" : "NOT met");
    sim.stop();
    return ratio >= kGoal ? 0 : 1;
}
