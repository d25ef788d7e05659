// One run of the real corvane-cli (CORVANE_CLI_PATH, set by each test's build): its exit
// status and what it wrote on each stream; and what the simulated devices received.
#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QStringList>

#include "tests/support/devsim_harness.h"

namespace corvane::test {

struct CliRun {
    int exit = -1;  // -1 when it did not end by itself within the wait
    QByteArray out;
    QByteArray err;
};

inline CliRun runCli(const QStringList& args, int waitMs) {
    QProcess p;
    p.start(QStringLiteral(CORVANE_CLI_PATH), args);
    CliRun run;
    if (p.waitForFinished(waitMs) && p.exitStatus() == QProcess::NormalExit) {
        run.exit = p.exitCode();
    } else {
        p.kill();
        p.waitForFinished();
    }
    run.out = p.readAllStandardOutput();
    run.err = p.readAllStandardError();
    return run;
}

// The ProtocolCodes each device received in `records`, as "address=c,c,...".
inline QStringList receivedCodes(const QList<DevsimRecord>& records, const QStringList& devices) {
    QStringList got;
    for (const QString& device : devices) {
        QStringList codes;
        for (const DevsimRecord& r : records) {
            if (r.device == device) {
                codes << QString::number(r.code);
            }
        }
        got << device + '=' + codes.join(',');
    }
    return got;
}

}  // namespace corvane::test
