#include "network_set.h"

#include <QEvent>

#include "config_commands.h"
#include "notice.h"
#include "ui_network_set.h"

namespace {

QString overLongMessage(corvane::config::NetworkField field) {
    using corvane::config::NetworkField;
    switch (field) {
        case NetworkField::Ip:
            return QStringLiteral("IP地址不能超过15个字符");
        case NetworkField::Mask:
            return QStringLiteral("子网掩码不能超过15个字符");
        case NetworkField::Gateway:
            return QStringLiteral("网关不能超过15个字符");
        case NetworkField::Mac:
            return QStringLiteral("MAC地址不能超过19个字符");
        case NetworkField::None:
            break;
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

void Network_Set::on_define_clicked() {
    using corvane::config::NetworkOutcome;
    const corvane::config::NetworkSettings settings{
        ui->ipEdit->text().toStdString(),
        ui->maskEdit->text().toStdString(),
        ui->gatewayEdit->text().toStdString(),
        ui->macEdit->text().toStdString(),
    };
    const corvane::config::NetworkChange change =
        corvane::config::changeNetwork(device_address, settings);
    switch (change.outcome) {
        case NetworkOutcome::FieldTooLong:
            // Nothing was sent; the window stays open with what the operator typed.
            showNotice(overLongMessage(change.over_long));
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
