#include "dialogs/network_set.h"

#include <QEvent>

#include <memory>
#include <utility>

#include "dialogs/job_runner.h"
#include "messages/notice.h"
#include "protocol/config_commands.h"
#include "ui_network_set.h"

namespace {

// The messages of a refused field: over-long, and not of its form.
QString fieldMessage(corvane::config::NetworkField field, bool over_long) {
    using corvane::config::NetworkField;
    struct Texts {
        NetworkField field;
        const char* over_long;
        const char* malformed;
    };
    static const Texts kTexts[] = {
        {NetworkField::Ip, "IP地址不能超过15个字符", "IP地址格式错误"},
        {NetworkField::Mask, "子网掩码不能超过15个字符", "子网掩码格式错误"},
        {NetworkField::Gateway, "网关不能超过15个字符", "网关格式错误"},
        {NetworkField::Mac, "MAC地址不能超过19个字符", "MAC地址格式错误"},
    };
    for (const Texts& t : kTexts) {
        if (t.field == field) {
            return QString::fromUtf8(over_long ? t.over_long : t.malformed);
        }
    }
    return QString();
}

}  // namespace

Network_Set::Network_Set(QWidget* parent) : QWidget(parent), ui(new Ui::Network_Set) {
    ui->setupUi(this);
    setWindowTitle(QStringLiteral(" Corvane Tool"));
}

Network_Set::~Network_Set() {
    delete ui;
}

void Network_Set::set_network_info(neb::CJsonObject info, int row) {
    const std::string ip = info.ReadText("setIp");
    device_address = ip;
    ui->ipEdit->setText(QString::fromStdString(ip));
    ui->maskEdit->setText(QString::fromStdString(info.ReadText("setMask")));
    ui->gatewayEdit->setText(QString::fromStdString(info.ReadText("setGateway")));
    ui->macEdit->setText(QString::fromStdString(info.ReadText("setMac")));
    ui->row->setValue(row);
}

void Network_Set::set_address_source(std::function<std::vector<std::string>()> source) {
    searched_addresses = std::move(source);
}

void Network_Set::on_define_clicked() {
    using corvane::config::NetworkOutcome;
    const corvane::config::NetworkSettings settings{
        ui->ipEdit->text().toStdString(),
        ui->maskEdit->text().toStdString(),
        ui->gatewayEdit->text().toStdString(),
        ui->macEdit->text().toStdString(),
    };
    auto change = std::make_shared<corvane::config::NetworkChange>();
    // The commands run on the worker; the window stays modal and shows the outcome after.
    corvane::JobRunner::of(runner_, this)
        ->start(
            [change, address = device_address, settings,
             searched = searched_addresses ? searched_addresses() : std::vector<std::string>{}] {
                *change = corvane::config::changeNetwork(address, settings, searched);
            },
            [this, change, settings] {
                sent_ = settings;
                showOutcome(*change);
            });
}

void Network_Set::showOutcome(const corvane::config::NetworkChange& change) {
    using corvane::config::NetworkOutcome;
    switch (change.outcome) {
        // Nothing was sent; the window stays open with what the operator typed.
        case NetworkOutcome::FieldTooLong:
            showNotice(fieldMessage(change.over_long, true));
            return;
        case NetworkOutcome::FieldMalformed:
            showNotice(fieldMessage(change.malformed, false));
            return;
        case NetworkOutcome::AddressTaken:
            showNotice(QStringLiteral("IP地址已被其他设备使用"));
            return;
        case NetworkOutcome::SettingsFailed:
            showNotice(QStringLiteral("网络修改失败！"));
            break;
        case NetworkOutcome::RestartFailed:
            showNotice(QStringLiteral("网络修改成功，重启设备失败！"));
            break;
        case NetworkOutcome::Restarting:
            // The row goes before the operator reads the message: the device is already
            // restarting under its new settings.
            emit send_remove_row(ui->row->value());
            showNotice(QStringLiteral("网络修改成功，等待设备重启！"));
            break;
    }
    close();
}

void Network_Set::on_cancel_clicked() {
    close();
}

void Network_Set::changeEvent(QEvent* event) {
    // Only the texts depend on the language; the form has fixed geometry and no layout.
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
    }
}
