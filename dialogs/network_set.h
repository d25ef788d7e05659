#pragma once

#include <QWidget>

#include <functional>
#include <string>
#include <vector>

#include "json/json_document.h"
#include "protocol/config_commands.h"

class QEvent;

namespace corvane {
class JobRunner;
}

namespace Ui {
class Network_Set;
}

// The network settings of one device: address, mask, gateway and MAC. On confirmation the
// settings go to the device, then the device is told to restart; once it has accepted both, the
// main window drops its row, since the device comes back under its new settings.
class Network_Set : public QWidget {
    Q_OBJECT

public:
    explicit Network_Set(QWidget* parent = nullptr);
    ~Network_Set() override;

    // The worker its writes run on, shared with the main window; without one the window
    // makes its own.
    void set_runner(corvane::JobRunner* runner) { runner_ = runner; }

    // `info` holds "setIp", "setMask", "setGateway" and "setMac" (a missing member gives an
    // empty text); "setIp" is where both commands go. `row` is the device's table row.
    void set_network_info(neb::CJsonObject info, int row);
    // Where the addresses of the last search come from, read when a change is confirmed: a new
    // address that another of those devices holds is refused. Without a source none is refused.
    void set_address_source(std::function<std::vector<std::string>()> source);
    // The settings the last confirmed change carried: a restarting device comes back under them.
    const corvane::config::NetworkSettings& sent_settings() const { return sent_; }

signals:
    void send_remove_row(int row);

public slots:
    void on_define_clicked();
    void on_cancel_clicked();

protected:
    void changeEvent(QEvent* event) override;

private:
    void showOutcome(const corvane::config::NetworkChange& change);

    Ui::Network_Set* ui;
    corvane::JobRunner* runner_ = nullptr;
    corvane::config::NetworkSettings sent_;
    // The device's present address; the "IP" typed in the form only travels inside the command.
    std::string device_address;
    std::function<std::vector<std::string>()> searched_addresses;
};
