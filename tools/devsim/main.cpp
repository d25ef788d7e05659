// corvane-devsim: plays any number of networked AV/KVM extenders (transmitters, receivers,
// KVM receivers) on the addresses of this host, so the tool can be tried and tested
// without hardware. Usage: corvane-devsim --help, and docs/devsim.md.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSocketNotifier>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <csignal>
#endif
#include <cstdio>

#include "devsim_config.h"
#include "simulator.h"

namespace {

#ifndef Q_OS_WIN
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
}

// Many devices mean many sockets (three each, and their connections): take the whole
// descriptor allowance, and say so when even that is short, before a bind fails for it.
void raiseDescriptorLimit(int devices) {
    const rlim_t wanted = rlim_t(devices) * 4 + 64;
    rlimit r{};
    if (getrlimit(RLIMIT_NOFILE, &r) != 0)
        return;
    if (r.rlim_cur < r.rlim_max) {
        r.rlim_cur = r.rlim_max;
        setrlimit(RLIMIT_NOFILE, &r);
    }
    if (r.rlim_cur != RLIM_INFINITY && r.rlim_cur < wanted)
        std::fprintf(stderr, "corvane-devsim: %llu descriptors allowed, %d devices may need %llu\n",
                     static_cast<unsigned long long>(r.rlim_cur), devices,
                     static_cast<unsigned long long>(wanted));
}

// SIGTERM and SIGINT end the event loop through a socket pair, outside the handler.
bool stopOnSignals(QCoreApplication& app, int devices) {
    raiseDescriptorLimit(devices);
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return false;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char c = 0;
        [[maybe_unused]] ssize_t n = ::read(signalPipe[0], &c, 1);
        QCoreApplication::quit();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}
#else
// Windows has neither signals nor a descriptor limit for sockets: Ctrl-C, Ctrl-Break and
// closing the console end the event loop. The handler runs on a thread of its own, so the
// quit is queued to the application's thread.
BOOL WINAPI onConsoleEvent(DWORD) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
    return TRUE;
}

bool stopOnSignals(QCoreApplication&, int) {
    return SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
}
#endif

const char kDescription[] =
    "Simulates networked AV/KVM extenders for Corvane Tool.\n"
    "\n"
    "Every device answers the discovery probe on UDP port 61111 (from its own address)\n"
    "and the JSON commands over HTTP on its address, statefully: what 1008, 1024, 1036,\n"
    "3054 and 3131 write is what discovery, 1022, 1034, 3052 and 3129 report; 1002\n"
    "restarts the device (silent for --restart-seconds, then back with its new settings).\n"
    "A firmware image sent to TCP port 6000 is checked packet by packet, hashed and\n"
    "logged; the end command restarts the device.\n"
    "\n"
    "A device is described by key=value pairs, separated by commas:\n"
    "  ip=A.B.C.D (required)  type=1102|1200|307|2000|N  mac=02:43:56:00:00:01\n"
    "  version=TEXT  mask=A.B.C.D  gateway=A.B.C.D  name=TEXT  uptime=SECONDS\n"
    "  restart=SECONDS|never (how long a restart keeps it away; never: it stays away)\n"
    "  report-ip=A.B.C.D (\"IpAddr\" its discovery reply reports instead of ip)\n"
    "Faults, per device:\n"
    "  udp=normal|twice|silent|garbage|oversize|no-netconfig   udp-delay=MS   udp-size=N\n"
    "  http=normal|empty|size|bad-request|hang|slow|close|bare-lf|continue|until-close\n"
    "  http-size=N (for size)  http-status=CODE (for bad-request, default 400)\n"
    "  http-piece=BYTES http-interval=MS (for slow)  http-only=CODE/CODE (fault only for\n"
    "  those commands)\n"
    "  streams=N (streams in the 1022 answer, 0-4)  stream0..stream3=Member:N/Member:omit\n"
    "  (start values that skip the device's checks, members the 1022 answer leaves out)\n"
    "  fw=normal|absent|start-refuse|start-mute|slow|drop|finish-refuse|finish-late|\n"
    "     finish-mute (port 6000)  fw-rate=BYTES/S (for slow)  fw-drop=BYTES (for drop)\n"
    "  fw-delay=MS (for finish-late)  fw-finish-delay=MS (every finish reply waits so\n"
    "  long: the install time)  fw-version=TEXT (\"SoftVersion\" after an upgrade;\n"
    "  without it the device comes back with the version it had)\n"
    "\n"
    "Example:\n"
    "  corvane-devsim --device ip=198.51.100.10,type=1102 \\\n"
    "                 --device ip=198.51.100.11,type=307,udp=twice --log devsim.jsonl\n"
    "  corvane-devsim --fleet 250 --addresses \"198.51.100.10-254 203.0.113.10-254\"\n"
    "  corvane-devsim --no-udp --http-port 8080 --device ip=127.0.0.200,type=1102";

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-devsim"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.1"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption configOpt(
        QStringLiteral("config"), QStringLiteral("Read devices and settings from a JSON file."),
        QStringLiteral("file"));
    const QCommandLineOption deviceOpt(QStringLiteral("device"),
                                       QStringLiteral("Add a device (repeatable)."),
                                       QStringLiteral("pairs"));
    const QCommandLineOption fleetOpt(QStringLiteral("fleet"),
                                      QStringLiteral("Add N devices over the --addresses."),
                                      QStringLiteral("n"));
    const QCommandLineOption addressesOpt(
        QStringLiteral("addresses"),
        QStringLiteral("Addresses for --fleet, e.g. \"198.51.100.10-254 203.0.113.10-20\" "
                       "(default: $CORVANE_DEVICE_ADDRS)."),
        QStringLiteral("list"));
    const QCommandLineOption defaultsOpt(
        QStringLiteral("defaults"),
        QStringLiteral("key=value pairs every device starts from (faults included)."),
        QStringLiteral("pairs"));
    const QCommandLineOption portOpt(QStringLiteral("http-port"),
                                     QStringLiteral("TCP port of the HTTP commands (default 80)."),
                                     QStringLiteral("port"));
    const QCommandLineOption noUdpOpt(QStringLiteral("no-udp"),
                                      QStringLiteral("Do not listen for discovery (HTTP only)."));
    const QCommandLineOption restartOpt(
        QStringLiteral("restart-seconds"),
        QStringLiteral("How long a restarting device stays silent (default 3; never: it does "
                       "not come back)."),
        QStringLiteral("s"));
    const QCommandLineOption noHashOpt(
        QStringLiteral("no-image-hash"),
        QStringLiteral("Do not hash firmware images (for throughput measurements; the log's "
                       "sha256 stays empty)."));
    const QCommandLineOption logOpt(
        QStringLiteral("log"), QStringLiteral("Record every datagram and request (JSON lines)."),
        QStringLiteral("file"));
    const QCommandLineOption readyOpt(
        QStringLiteral("ready-file"),
        QStringLiteral("Write this file once every socket is bound (removed at exit)."),
        QStringLiteral("file"));
    const QCommandLineOption printOpt(
        QStringLiteral("print-config"),
        QStringLiteral("Print the devices as understood, as JSON, and exit."));
    parser.addOptions({configOpt, deviceOpt, fleetOpt, addressesOpt, defaultsOpt, portOpt, noUdpOpt,
                       restartOpt, noHashOpt, logOpt, readyOpt, printOpt});
    parser.process(app);

    auto die = [](const QString& message) {
        std::fprintf(stderr, "corvane-devsim: %s\n", qPrintable(message));
        return 2;
    };
    if (!parser.positionalArguments().isEmpty())
        return die(QStringLiteral("unexpected argument '%1' (see --help)")
                       .arg(parser.positionalArguments().first()));

    devsim::SimConfig config;
    QString error;
    if (parser.isSet(configOpt)) {
        QFile file(parser.value(configOpt));
        if (!file.open(QIODevice::ReadOnly))
            return die(
                QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString()));
        if (!devsim::parseConfigJson(file.readAll(), &config, &error))
            return die(error);
    }
    const QString defaults = parser.value(defaultsOpt);
    for (const QString& text : parser.values(deviceOpt)) {
        devsim::DeviceProfile profile;
        if (!devsim::applyDeviceText(profile, defaults, &error) ||
            !devsim::applyDeviceText(profile, text, &error))
            return die(QStringLiteral("--device %1: %2").arg(text, error));
        if (profile.ip.isEmpty())
            return die(QStringLiteral("--device %1: no ip").arg(text));
        config.devices << profile;
    }
    if (parser.isSet(fleetOpt)) {
        bool ok = false;
        const int count = parser.value(fleetOpt).toInt(&ok);
        if (!ok || count < 0)
            return die(QStringLiteral("--fleet needs a count"));
        const QString list = parser.isSet(addressesOpt)
                                 ? parser.value(addressesOpt)
                                 : qEnvironmentVariable("CORVANE_DEVICE_ADDRS");
        QStringList addresses;
        if (!devsim::expandAddressList(list, &addresses, &error))
            return die(error);
        QStringList taken;
        for (const devsim::DeviceProfile& d : config.devices)
            taken << d.ip;
        if (!devsim::makeFleet(count, addresses, taken, defaults, &config.devices, &error))
            return die(error);
    }
    // A whole number within [low, high] from an option that was given; false when it is not.
    auto boundedInt = [&parser](const QCommandLineOption& option, int low, int high, int* out) {
        bool ok = false;
        *out = parser.value(option).toInt(&ok);
        return ok && *out >= low && *out <= high;
    };
    if (parser.isSet(portOpt) && !boundedInt(portOpt, 1, 65535, &config.httpPort))
        return die(QStringLiteral("--http-port needs 1 to 65535"));
    if (parser.isSet(noUdpOpt))
        config.udp = false;
    if (parser.isSet(restartOpt) &&
        !devsim::parseRestartSeconds(parser.value(restartOpt), &config.restartSeconds))
        return die(QStringLiteral("--restart-seconds needs 0 to 3600 or never"));
    if (parser.isSet(noHashOpt))
        config.imageHash = false;
    if (parser.isSet(logOpt))
        config.logPath = parser.value(logOpt);
    if (parser.isSet(readyOpt))
        config.readyFile = parser.value(readyOpt);
    for (int i = 0; i < config.devices.size(); ++i)
        devsim::completeDevice(config.devices[i], i);
    if (!devsim::validateConfig(config, &error))
        return die(error);

    if (parser.isSet(printOpt)) {
        QJsonArray devices;
        for (const devsim::DeviceProfile& d : config.devices) {
            QJsonObject o{
                {QStringLiteral("ip"), d.ip},
                {QStringLiteral("type"), qint64(d.type)},
                {QStringLiteral("mac"), d.mac},
                {QStringLiteral("version"), d.version},
                {QStringLiteral("mask"), d.mask},
                {QStringLiteral("gateway"), d.gateway},
                {QStringLiteral("name"), d.name},
                {QStringLiteral("uptime"), d.uptimeSeconds},
                {QStringLiteral("udp"), devsim::udpModeName(d.udp)},
                {QStringLiteral("udp-delay"), d.udpDelayMs},
                {QStringLiteral("udp-size"), d.udpSize},
                {QStringLiteral("http"), devsim::httpModeName(d.http)},
                {QStringLiteral("http-size"), d.httpSize},
                {QStringLiteral("http-status"), d.httpStatus},
                {QStringLiteral("http-piece"), d.httpPieceBytes},
                {QStringLiteral("http-interval"), d.httpIntervalMs},
                {QStringLiteral("restart"), devsim::restartSecondsValue(d.restartSeconds)},
                {QStringLiteral("report-ip"), d.reportIp},
                {QStringLiteral("fw"), devsim::firmwareModeName(d.firmware)},
                {QStringLiteral("fw-rate"), d.firmwareRate},
                {QStringLiteral("fw-drop"), d.firmwareDrop},
                {QStringLiteral("fw-delay"), d.firmwareDelayMs},
                {QStringLiteral("fw-finish-delay"), d.firmwareFinishDelayMs},
                {QStringLiteral("fw-version"), d.firmwareVersion}};
            QJsonArray only;
            for (int code : d.httpOnly)
                only.append(code);
            o.insert(QStringLiteral("http-only"), only);
            o.insert(QStringLiteral("streams"), d.streamCount);
            for (int k = 0; k < 4; ++k)
                if (const QString faults = devsim::streamFaultText(d, k); !faults.isEmpty())
                    o.insert(QStringLiteral("stream%1").arg(k), faults);
            devices.append(o);
        }
        const QJsonObject all{
            {QStringLiteral("httpPort"), config.httpPort},
            {QStringLiteral("udp"), config.udp},
            {QStringLiteral("restartSeconds"), devsim::restartSecondsValue(config.restartSeconds)},
            {QStringLiteral("imageHash"), config.imageHash},
            {QStringLiteral("devices"), devices}};
        std::fputs(QJsonDocument(all).toJson(QJsonDocument::Indented).constData(), stdout);
        return 0;
    }

    if (!stopOnSignals(app, int(config.devices.size())))
        return die(QStringLiteral("cannot set up the stop signals"));

    devsim::Simulator simulator(config);
    if (!simulator.start(&error)) {
        simulator.stop();
        std::fprintf(stderr, "corvane-devsim: %s\n", qPrintable(error));
        return 1;
    }
    std::fprintf(stderr, "corvane-devsim: %d device(s) up; HTTP port %d; discovery %s\n",
                 int(config.devices.size()), config.httpPort, config.udp ? "on UDP 61111" : "off");
    const int status = app.exec();
    simulator.stop();
    return status;
}
