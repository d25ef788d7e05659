// One run of the real corvane-cli (CORVANE_CLI_PATH, set by each test's build): its exit
// status and what it wrote on each stream; and what the simulated devices received.
#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QList>
#include <QProcess>
#include <QRegularExpression>
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

// What is wrong with a run's streams, empty when nothing: standard output matches `out` (for
// `json`, on Qt's compact rewrite of the document), standard error matches `err`, or is empty
// when `err` is.
inline QString streamProblem(const CliRun& run, bool json, const QString& out, const QString& err,
                             QRegularExpression::PatternOptions options = {}) {
    QByteArray output = run.out;
    if (json) {
        QJsonParseError problem;
        const QJsonDocument document = QJsonDocument::fromJson(run.out, &problem);
        if (document.isNull()) {
            return problem.errorString() + ": " + QString::fromUtf8(run.out);
        }
        output = document.toJson(QJsonDocument::Compact);
    }
    if (!QRegularExpression(out, options).match(QString::fromUtf8(output)).hasMatch()) {
        return QStringLiteral("standard output: ") + QString::fromUtf8(output);
    }
    if (err.isEmpty() ? !run.err.isEmpty()
                      : !QRegularExpression(err).match(QString::fromUtf8(run.err)).hasMatch()) {
        return QStringLiteral("standard error: ") + QString::fromUtf8(run.err);
    }
    return {};
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
