// corvane-cli scan --range 198.18.0.0/22 against 1,000 simulated devices on the shared /22 of
// the test network (scripts/testnet --large): every device found, and the time, at the
// default rate of 2,000 probes a second and at 10,000. Run through scripts/run-bench.
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

#include "tests/cli/cli_run.h"
#include "tests/support/devsim_harness.h"

using corvane::test::Devsim;
using corvane::test::TestNetwork;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList large = TestNetwork::largeAddresses();
    if (!TestNetwork::active() || large.size() != 1000) {
        std::fprintf(stderr, "runs inside the test network with --large\n");
        return 2;
    }
    Devsim sim;
    sim.args({"--fleet", "1000", "--addresses", large.join(' ')});
    if (!sim.start(Devsim::Where::DeviceHost)) {
        std::fprintf(stderr, "simulator not ready: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    int status = 0;
    for (const char* rate : {"2000", "10000"}) {
        QElapsedTimer clock;
        clock.start();
        const corvane::test::CliRun run = corvane::test::runCli(
            {"scan", "-q", "--range", "198.18.0.0/22", "--rate", rate}, 120000);
        const double seconds = clock.nsecsElapsed() / 1e9;
        int found = 0;
        for (const QByteArray& line : run.out.split('\n')) {
            found += large.contains(QString::fromLatin1(line)) ? 1 : 0;
        }
        // 1,022 probes, then the second of silence after the last one.
        std::printf("scan --range 198.18.0.0/22 --rate %s: %d of 1000 devices in %.2f s%s\n", rate,
                    found, seconds, found == 1000 && run.exit == 0 ? "" : " (NOT all)");
        if (found != 1000 || run.exit != 0) {
            status = 1;
        }
    }
    sim.stop();
    return status;
}
