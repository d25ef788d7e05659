// The settings record of a whole site: what backup writes, restore and diff read, and the
// comparison of two records. No sockets here, so tests can call it on texts alone.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/video_commands.h"

namespace corvane::cli {

// The format name and the one version this tool reads and writes.
inline constexpr const char* kSiteFormat = "corvane-site-settings";
inline constexpr int kSiteVersion = 1;

// One device as a backup found it. Values are the protocol's numbers; -1 where a read did not
// give one.
struct DeviceSettings {
    std::string mac;   // the key, upper case
    std::string kind;  // TX, RX, KVM_RX or the kind code
    std::uint32_t type = 0;
    std::string firmware;
    std::string address;
    std::string mask;
    std::string gateway;
    // Transmitters: the streams listed and the custom size of stream 1 when it uses it.
    std::vector<video::Stream> streams;
    std::optional<std::array<std::int32_t, 2>> custom_size;
    std::optional<std::int32_t> audio_in;
    // Receivers: the audio output of display 1.
    std::optional<std::int32_t> audio_out;
    // A read that failed: its step and what happened; the settings are then not recorded.
    std::string failed_step;
    std::string failure;
};

struct SiteRecord {
    std::string written;  // UTC, ISO 8601
    std::string tool;     // the tool and its version
    std::vector<DeviceSettings> devices;
};

// The record as pretty-printed UTF-8 JSON.
std::string siteText(const SiteRecord& record);

// Reads a record. On failure the message says what is wrong (another format version, not
// JSON, a member missing or of the wrong type, a MAC twice) and nothing else is returned.
struct SiteRead {
    std::optional<SiteRecord> record;
    std::string error;
};
SiteRead readSite(const std::string& text);

// One difference between two records of the same site.
struct SiteDifference {
    enum class Kind { Added, Missing, Changed };
    Kind kind;
    std::string mac;
    std::string address;  // the device's address now (its old one when missing)
    std::string setting;  // with Changed: e.g. "stream 2 BitRate", "address", "audio-in"
    std::string before;
    std::string after;
};

// What changed from `before` to `now`: devices added and missing, by MAC, and each setting of
// the devices in both that differs. Settings are compared only when both records hold them,
// and devices whose read failed in either record only for their presence.
std::vector<SiteDifference> compareSites(const SiteRecord& before, const SiteRecord& now);

// The differences of one device's settings (no network, no firmware) that a restore writes.
std::vector<SiteDifference> settingDifferences(const DeviceSettings& before,
                                               const DeviceSettings& now);
// The differences of its network settings (address, mask, gateway).
std::vector<SiteDifference> networkDifferences(const DeviceSettings& before,
                                               const DeviceSettings& now);

// The line of a difference for a terminal: "+ MAC ADDRESS", "- MAC ADDRESS" or
// "~ MAC ADDRESS SETTING: OLD -> NEW", the texts of the file and the devices with their
// control characters shown as '?'.
std::string differenceLine(const SiteDifference& difference);

// A MAC in the record's form (upper case); the text as given when it is no MAC.
std::string macKey(const std::string& text);

}  // namespace corvane::cli
