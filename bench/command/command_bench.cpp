// The command channel's speed, measured side by side with libcurl in the same run:
//  1. one command request to a simulated device (corvane-devsim, HTTP only, loopback), against
//     libcurl sending the very same bytes to the same device, each on a new connection;
//  2. the tool's HTTP service under wrk on loopback, with keep-alive and with
//     "Connection: close".
#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "command/command_request.h"
#include "tests/support/devsim_harness.h"

namespace {

constexpr int kRounds = 2000;  // exchanges of each client; the goal is judged on their medians
constexpr int kWarmUp = 50;
constexpr double kGoalVsLibcurl = 0.8;  // send_http_cmd's median at most this share of libcurl's
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

std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// libcurl posting exactly what send_http_cmd posts (no Accept or Content-Type; libcurl sends
// no User-Agent unless asked), one easy handle for all exchanges as libcurl is meant to be
// used, but a new connection for every exchange as the tool makes it.
class Libcurl {
public:
    Libcurl() : easy_(curl_easy_init()) {
        headers_ = curl_slist_append(headers_, "Accept:");
        headers_ = curl_slist_append(headers_, "Content-Type:");
        url_ = std::string("http://") + kDevice + "/";
        curl_easy_setopt(easy_, CURLOPT_URL, url_.c_str());
        curl_easy_setopt(easy_, CURLOPT_NOPROXY, "*");
        curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, kCommand.constData());
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE, static_cast<long>(kCommand.size()));
        curl_easy_setopt(easy_, CURLOPT_FORBID_REUSE, 1L);
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, collect);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &body_);
    }
    ~Libcurl() {
        curl_easy_cleanup(easy_);
        curl_slist_free_all(headers_);
    }
    Libcurl(const Libcurl&) = delete;
    Libcurl& operator=(const Libcurl&) = delete;

    // One exchange; false when it failed. body() holds the reply body.
    bool exchange() {
        body_.clear();
        return curl_easy_perform(easy_) == CURLE_OK;
    }
    const std::string& body() const { return body_; }

private:
    CURL* easy_;
    curl_slist* headers_ = nullptr;
    std::string url_;
    std::string body_;
};

bool bench_command_request() {
    corvane::test::Devsim sim;
    sim.arg("--no-udp").arg("--http-port=18090").device("ip=127.0.0.60,type=1102");
    if (!sim.start(corvane::test::Devsim::Where::Here)) {
        std::printf("devsim did not start: %s\n", qPrintable(sim.errorString()));
        return false;
    }
    Libcurl curl;

    // Both must get the device's answer before anything is timed.
    static char reply[4096];
    send_http_cmd(kDevice, kCommand.constData(), reply, sizeof reply);
    if (reply[0] == '\0' || !curl.exchange() || curl.body() != reply) {
        std::printf("no common answer: send_http_cmd [%s] libcurl [%s]\n", reply,
                    curl.body().c_str());
        return false;
    }

    for (int i = 0; i < kWarmUp; ++i) {
        send_http_cmd(kDevice, kCommand.constData(), reply, sizeof reply);
        curl.exchange();
    }
    std::vector<double> ours, theirs;
    int failures = 0;
    // Each timed exchange starts after a short pause, so that neither pays for the other's
    // clean-up (the device closing the previous connection); the order alternates from round
    // to round.
    auto time_ours = [&] {
        QThread::usleep(2000);
        QElapsedTimer timer;
        timer.start();
        reply[0] = '\0';
        send_http_cmd(kDevice, kCommand.constData(), reply, sizeof reply);
        ours.push_back(timer.nsecsElapsed() / 1000.0);
        if (reply[0] == '\0')
            ++failures;
    };
    auto time_curl = [&] {
        QThread::usleep(2000);
        QElapsedTimer timer;
        timer.start();
        const bool ok = curl.exchange();
        theirs.push_back(timer.nsecsElapsed() / 1000.0);
        if (!ok || curl.body().empty())
            ++failures;
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
    const Stats s_ours = stats(ours), s_curl = stats(theirs);
    const double ratio = s_ours.median / s_curl.median;
    std::printf(
        "command request to devsim on loopback, %d exchanges each, alternating, a new "
        "connection every time, %d failed\n",
        kRounds, failures);
    std::printf("  %-34s %10s %10s %10s\n", "", "median us", "p10 us", "p90 us");
    std::printf("  %-34s %10.0f %10.0f %10.0f\n", "send_http_cmd", s_ours.median, s_ours.p10,
                s_ours.p90);
    std::printf("  %-34s %10.0f %10.0f %10.0f\n", "libcurl (curl_easy_perform)", s_curl.median,
                s_curl.p10, s_curl.p90);
    std::printf("  ratio send_http_cmd / libcurl: %.2f (goal <= %.2f)  %s\n", ratio, kGoalVsLibcurl,
                ratio <= kGoalVsLibcurl ? "met" : "SHORT");
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
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const bool request_ok = bench_command_request();
    const bool service_ok = bench_service();
    curl_global_cleanup();
    return request_ok && service_ok ? 0 : 1;
}
