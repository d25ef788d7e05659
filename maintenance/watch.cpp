#include "maintenance/watch.h"

#include <QThread>

#include <algorithm>
#include <cstring>

#include "discovery/ipv4_address.h"

namespace corvane::maintenance {

namespace {

// MAC texts compared as the devices write them, letter case aside.
bool same_mac(const QString& a, const char* b) {
    return a.compare(QString::fromUtf8(b), Qt::CaseInsensitive) == 0;
}

// The address by value, so that "198.051.100.010" and "198.51.100.10" are one.
bool same_address(const QString& a, const char* b) {
    const auto value = ipv4_value(a.toStdString());
    return value && value == ipv4_value(b);
}

}  // namespace

Watch::Watch(std::vector<WatchedDevice> devices, WatchOptions options)
    : devices_(std::move(devices)),
      options_(options),
      back_(devices_.size(), false),
      started_(std::chrono::steady_clock::now()) {
    for (WatchedDevice& d : devices_) {
        if (d.expected_address.isEmpty()) {
            d.expected_address = QString::fromUtf8(d.last.ip);
        }
        if (d.expected_mac.isEmpty()) {
            d.expected_mac = QString::fromUtf8(d.last.mac);
        }
    }
}

long long Watch::elapsed_ms() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 started_)
        .count();
}

std::vector<WatchReturn> Watch::feed(const std::vector<Device_Info>& swept) {
    const long long now = elapsed_ms();
    std::vector<WatchReturn> found;
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        if (back_[i]) {
            continue;
        }
        const WatchedDevice& d = devices_[i];
        const auto match = std::find_if(swept.begin(), swept.end(), [&](const Device_Info& r) {
            // A shared address may answer for either device: not proof that this one is back.
            return !r.conflict && same_address(d.expected_address, r.ip) &&
                   (d.expected_mac.isEmpty() || same_mac(d.expected_mac, r.mac));
        });
        if (match == swept.end()) {
            continue;
        }
        back_[i] = true;
        WatchOutcome outcome = WatchOutcome::Back;
        if (options_.compare_versions) {
            outcome = std::strcmp(match->version, d.last.version) == 0 ? WatchOutcome::SameVersion
                                                                       : WatchOutcome::NewVersion;
        }
        found.push_back({int(i), outcome, *match, now});
    }
    return found;
}

bool Watch::all_back() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::all_of(back_.begin(), back_.end(), [](bool b) { return b; });
}

std::vector<int> Watch::missing() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<int> out;
    for (std::size_t i = 0; i < back_.size(); ++i) {
        if (!back_[i]) {
            out.push_back(int(i));
        }
    }
    return out;
}

void run_watch(Watch& watch, const std::function<std::vector<Device_Info>()>& sweep,
               const WatchEvents& events, const std::atomic<bool>* cancel) {
    const WatchOptions& options = watch.options();
    auto cancelled = [cancel] { return cancel != nullptr && cancel->load(); };
    long long next = options.interval_ms;
    while (!watch.all_back() && !cancelled()) {
        // Wait for the next sweep in short steps: a cancel, or a fed-in sweep that found the
        // last device, ends the wait early.
        const long long at = std::min<long long>(next, options.limit_ms);
        while (watch.elapsed_ms() < at && !cancelled() && !watch.all_back()) {
            const long long left = at - watch.elapsed_ms();
            QThread::msleep(static_cast<unsigned long>(std::clamp<long long>(left, 1, 100)));
        }
        if (cancelled() || watch.all_back()) {
            break;
        }
        const std::vector<WatchReturn> back = watch.feed(sweep());
        if (events.swept) {
            events.swept(back);
        }
        if (watch.elapsed_ms() >= options.limit_ms) {
            break;
        }
        next = watch.elapsed_ms() + options.interval_ms;
    }
    if (events.finished) {
        events.finished(watch.missing());
    }
}

}  // namespace corvane::maintenance
