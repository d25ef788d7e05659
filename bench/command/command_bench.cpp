// The command channel's speed, measured side by side with curl in the same run:
//  1. one command request to a simulated device (corvane-devsim, HTTP only, loopback), against
//     curl sending the very same bytes to the same device;
//  2. the tool's HTTP service under wrk on loopback, with keep-alive and with
//     "Connection: close".
#include <arpa/inet.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "command_request.h"
#include "devsim_harness.h"

namespace {

constexpr int kRounds = 300;
constexpr int kWarmUp = 20;
const char kDevice[] = "127.0.0.60:18090";
const char kServicePort[] = "18091";
const QByteArray kCommand = "{\n\t\"ProtocolCode\":\t3052\n}";

struct Stats {
    double median = 0, p10 = 0, p90 = 0;
};

Stats stats(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[static_cast<std::size_t>(q * (v.size() - 1))]; };
    return {at(0.5), at(0.1), at(0.9)};
}

// curl posting exactly what send_http_cmd posts: no User-Agent, Accept or Content-Type.
QStringList curl_arguments(const QString& body_file) {
    return {"-s",
            "--noproxy",
            "*",
            "-H",
            "User-Agent:",
            "-H",
            "Accept:",
            "-H",
            "Content-Type:",
            "--data-binary",
            "@" + body_file,
            "-o",
            "/dev/null",
            "-w",
            "%{time_total}",
            QString("http://%1/").arg(kDevice)};
}

struct CurlRun {
    double wall_us = 0;   // the whole process, as a caller would wait for it
    double total_us = 0;  // curl's own time_total: connect, request and reply only
    bool ok = false;
};

// curl is started with posix_spawn, not QProcess: a fork() would make every page of this
// process copy-on-write, and the next send_http_cmd would pay for the faults.
CurlRun run_curl(const QStringList& arguments) {
    CurlRun run;
    std::vector<QByteArray> storage;
    storage.push_back("curl");
    for (const QString& a : arguments)
        storage.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    if (::pipe(out) != 0)
        return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    QElapsedTimer timer;
    timer.start();
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "curl", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    QByteArray text;
    char buffer[256];
    ssize_t n;
    while (spawned == 0 && (n = ::read(out[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<int>(n));
    ::close(out[0]);
    int status = -1;
    if (spawned == 0)
        ::waitpid(pid, &status, 0);
    run.wall_us = timer.nsecsElapsed() / 1000.0;
    run.total_us = text.toDouble() * 1e6;
    run.ok = spawned == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

bool bench_command_request() {
    corvane::test::Devsim sim;
    sim.arg("--no-udp").arg("--http-port=18090").device("ip=127.0.0.60,type=1102");
    if (!sim.start(corvane::test::Devsim::Where::Here)) {
        std::printf("devsim did not start: %s\n", qPrintable(sim.errorString()));
        return false;
    }
    QTemporaryDir dir;
    const QString body_file = dir.filePath("body.json");
    {
        QFile f(body_file);
        if (!f.open(QIODevice::WriteOnly) || f.write(kCommand) != kCommand.size())
            return false;
    }
    const QStringList arguments = curl_arguments(body_file);

    // Both must get the device's answer before anything is timed.
    static char reply[4096];
    send_http_cmd(kDevice, kCommand.constData(), reply, sizeof reply);
    QProcess check;
    check.start("curl", QStringList(arguments.mid(0, arguments.size() - 5)) +
                            QStringList{QString("http://%1/").arg(kDevice)});
    check.waitForFinished(10000);
    const QByteArray curl_reply = check.readAllStandardOutput();
    if (reply[0] == '\0' || curl_reply != QByteArray(reply)) {
        std::printf("no common answer: send_http_cmd [%s] curl [%s]\n", reply,
                    curl_reply.constData());
        return false;
    }

    for (int i = 0; i < kWarmUp; ++i) {
        send_http_cmd(kDevice, kCommand.constData(), reply, sizeof reply);
        run_curl(arguments);
    }
    std::vector<double> ours, curl_wall, curl_total;
    int failures = 0;
    // Each timed exchange starts after a short pause, so that neither pays for the other's
    // clean-up (a curl process exiting, the device closing the previous connection); the order
    // alternates from round to round.
    auto time_ours = [&] {
        QThread::msleep(10);
        QElapsedTimer timer;
        timer.start();
        reply[0] = '\0';
        send_http_cmd(kDevice, kCommand.constData(), reply, sizeof reply);
        ours.push_back(timer.nsecsElapsed() / 1000.0);
        if (reply[0] == '\0')
            ++failures;
    };
    auto time_curl = [&] {
        QThread::msleep(10);
        const CurlRun c = run_curl(arguments);
        if (!c.ok)
            ++failures;
        curl_wall.push_back(c.wall_us);
        curl_total.push_back(c.total_us);
    };
    for (int i = 0; i < kRounds; ++i) {
        if (i % 2 == 0) {
            time_ours();
            time_curl();
        } else {
            time_curl();
            time_ours();
        }
    }
    const Stats s_ours = stats(ours), s_wall = stats(curl_wall), s_total = stats(curl_total);
    std::printf("command request to devsim on loopback, %d rounds alternating, %d failed\n",
                kRounds, failures);
    std::printf("  %-34s %10s %10s %10s\n", "", "median us", "p10 us", "p90 us");
    std::printf("  %-34s %10.0f %10.0f %10.0f\n", "send_http_cmd", s_ours.median, s_ours.p10,
                s_ours.p90);
    std::printf("  %-34s %10.0f %10.0f %10.0f\n", "curl time_total (exchange only)", s_total.median,
                s_total.p10, s_total.p90);
    std::printf("  %-34s %10.0f %10.0f %10.0f\n", "curl process (spawn to exit)", s_wall.median,
                s_wall.p10, s_wall.p90);
    std::printf("  ratio send_http_cmd / curl exchange: %.2f (target <= 1.2)\n",
                s_ours.median / s_total.median);
    std::printf("  ratio send_http_cmd / curl process:  %.2f\n", s_ours.median / s_wall.median);
    return failures == 0;
}

QString wrk_line(const QByteArray& output, const QString& pattern) {
    const QRegularExpressionMatch m = QRegularExpression(pattern).match(QString(output));
    return m.hasMatch() ? m.captured(1) : QString("-");
}

// One connection per request, as HTTP/1.1 means it: "Connection: close", read to the end,
// close. wrk cannot do this (it keeps using a connection unless the reply says close).
// Returns requests per second over `seconds` with `clients` threads, or -1 on a bad answer.
double close_per_request_rate(int clients, int seconds) {
    const QByteArray request =
        "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Length: 21\r\n\r\n"
        "{\"ProtocolCode\":1000}";
    std::atomic<long> done{0};
    std::atomic<bool> bad{false};
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::vector<std::thread> threads;
    for (int t = 0; t < clients; ++t) {
        threads.emplace_back([&] {
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(static_cast<unsigned short>(atoi(kServicePort)));
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            char buffer[4096];
            while (std::chrono::steady_clock::now() < end && !bad) {
                const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
                if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
                    ::send(fd, request.constData(), request.size(), MSG_NOSIGNAL) < 0) {
                    bad = true;
                    ::close(fd);
                    break;
                }
                std::size_t got = 0;
                ssize_t n;
                while ((n = ::recv(fd, buffer + got, sizeof buffer - 1 - got, 0)) > 0)
                    got += static_cast<std::size_t>(n);
                buffer[got] = '\0';
                ::close(fd);
                if (std::strncmp(buffer, "HTTP/1.1 200 OK", 15) != 0 || !std::strstr(buffer, "OKK"))
                    bad = true;
                else
                    ++done;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    return bad ? -1.0 : static_cast<double>(done) / seconds;
}

bool bench_service() {
    QTemporaryDir dir;
    const QString script = dir.filePath("post.lua");
    {
        QFile f(script);
        if (!f.open(QIODevice::WriteOnly))
            return false;
        f.write("wrk.method = \"POST\"\nwrk.body = '{\"ProtocolCode\":1000}'\n");
    }
    QProcess runner;
    runner.start(CORVANE_SERVICE_RUNNER, {kServicePort, "--quiet"});
    runner.setReadChannel(QProcess::StandardError);
    if (!runner.waitForStarted(5000) || !runner.waitForReadyRead(5000)) {
        std::printf("the service did not start: %s\n", runner.readAllStandardError().constData());
        return false;
    }
    const QString url = QString("http://127.0.0.1:%1/").arg(kServicePort);
    bool ok = true;
    struct Variant {
        const char* name;
        QStringList extra;
    };
    const Variant variants[] = {{"keep-alive", {}},
                                {"Connection: close", {"-H", "Connection: close"}}};
    std::printf("\nlocal HTTP service under wrk -t1 -c8 -d3s, POST {\"ProtocolCode\":1000}\n");
    for (const Variant& v : variants) {
        QProcess wrk;
        wrk.start("wrk",
                  QStringList{"-t1", "-c8", "-d3s", "-s", script} + v.extra + QStringList{url});
        if (!wrk.waitForFinished(30000)) {
            wrk.kill();
            ok = false;
            continue;
        }
        const QByteArray out = wrk.readAllStandardOutput();
        std::printf(
            "  %-18s %10s req/s, latency avg %s, %s requests, non-2xx %s, socket "
            "errors: %s\n",
            v.name, qPrintable(wrk_line(out, "Requests/sec:\\s+(\\S+)")),
            qPrintable(wrk_line(out, "Latency\\s+(\\S+)")),
            qPrintable(wrk_line(out, "(\\d+) requests in")),
            qPrintable(wrk_line(out, "Non-2xx or 3xx responses: (\\d+)")),
            qPrintable(wrk_line(out, "Socket errors: ([^\\n]+)")));
    }
    const double rate = close_per_request_rate(8, 3);
    std::printf(
        "  %-18s %10.2f req/s (own client, 8 threads, 3 s: connect, POST, read to the "
        "end, close)\n",
        "new connection", rate);
    ok = ok && rate > 0;
    runner.terminate();
    runner.waitForFinished(5000);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bool request_ok = bench_command_request();
    const bool service_ok = bench_service();
    return request_ok && service_ok ? 0 : 1;
}
