#include "app/base_frame.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QFont>
#include <QHeaderView>
#include <QMenu>
#include <QProgressBar>
#include <QResizeEvent>
#include <QStandardItemModel>
#include <QTcpSocket>

#include "app/device_table.h"
#include "app/outcome_texts.h"
#include "dialogs/network_set.h"
#include "dialogs/set_audio.h"
#include "dialogs/set_audio_tx.h"
#include "dialogs/video_parameters.h"
#include "discovery/device_list.h"
#include "discovery/device_order.h"
#include "maintenance/batch.h"
#include "messages/notice.h"
#include "messages/operator_messages.h"
#include "protocol/config_commands.h"
#include "protocol/video_commands.h"
#include "ui_base_frame.h"

bool rx_audio_loaded = false;

namespace {

// Fill state of the device table: the ordered copy of the device list used during a fill, and
// one vector per group the tool acts on.
std::vector<Device_Info> table_copy;
std::vector<Device_Info> tx_devices;
std::vector<Device_Info> rx_devices;
std::vector<Device_Info> kvm_rx_devices;

using namespace corvane::device_table;
namespace maintenance = corvane::maintenance;

// A configuration window keeps the operator on one device until it is closed.
void showModal(QWidget* window) {
    window->setWindowModality(Qt::ApplicationModal);
    window->show();
    window->raise();
}

}  // namespace

Base_Frame::Base_Frame(QWidget* parent) : QWidget(parent), ui(new Ui::Base_Frame) {
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Corvane Tool [V2.1]"));
    setMinimumSize(600, 400);

    video_action = new QAction(this);
    tx_audio_action = new QAction(this);
    tx_menu = new QMenu(ui->tableWidget);
    rx_audio_action = new QAction(this);
    rx_menu = new QMenu(ui->tableWidget);
    setActionTexts(false);
    tx_menu->addAction(video_action);
    tx_menu->addAction(tx_audio_action);
    rx_menu->addAction(rx_audio_action);

    ui->tableWidget->hide();
    ui->tableWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->tableWidget->setColumnCount(kColumnCount);
    setupTable(false);

    rx_audio_loaded = false;

    // The configuration windows: top-level, without parent, made once and hidden until a row
    // action shows them.
    video_dialog = new Video_Parameters;
    network_dialog = new Network_Set;
    rx_audio_dialog = new Set_Audio;
    update_socket = new QTcpSocket(this);
    tx_audio_dialog = new Set_audio_tx;

    QTableWidget* table = ui->tableWidget;
    connect(table, &QTableWidget::cellClicked, this, &Base_Frame::Click_Event);
    connect(table, &QTableWidget::cellDoubleClicked, this, &Base_Frame::Double_Click_Event);
    connect(table, &QWidget::customContextMenuRequested, this, &Base_Frame::Show_menu);
    connect(video_action, &QAction::triggered, this, &Base_Frame::slotActionInsert);
    connect(tx_audio_action, &QAction::triggered, this, &Base_Frame::setAudio_tx);
    connect(rx_audio_action, &QAction::triggered, this, &Base_Frame::Set_audio);
    connect(network_dialog, &Network_Set::send_remove_row, this, &Base_Frame::remove_row);
    // A new address is checked against the devices of the last search, which the table shows.
    network_dialog->set_address_source([] { return device_addresses(device_list().snapshot()); });

    ui->update_widget->hide();
    ui->file_update->setEnabled(false);
    ui->update->setEnabled(false);
    ui->reboot->setEnabled(false);
    ui->select_all->hide();
}

Base_Frame::~Base_Frame() {
    // Windows without parent are nobody else's to delete. Going with the main window, they
    // are freed while the application object still exists, and leak checkers stay quiet.
    delete tx_audio_dialog;
    delete rx_audio_dialog;
    delete network_dialog;
    delete video_dialog;
    delete ui;
}

QStringList Base_Frame::tableHeaderLabels(bool english) {
    if (english) {
        return {QString(),
                QStringLiteral("IP"),
                QStringLiteral("Type"),
                QStringLiteral("Status"),
                QStringLiteral("Version"),
                QStringLiteral("NetMask"),
                QStringLiteral("GateWay"),
                QStringLiteral("Mac"),
                QStringLiteral("RunningTime"),
                QStringLiteral("CurrentTime")};
    }
    return {QString(),
            QStringLiteral("IP"),
            QStringLiteral("类型"),
            QStringLiteral("状态"),
            QStringLiteral("版本"),
            QStringLiteral("子网掩码"),
            QStringLiteral("网关"),
            QStringLiteral("Mac地址"),
            QStringLiteral("运行时间"),
            QStringLiteral("当前时间")};
}

void Base_Frame::setupTable(bool english) {
    QTableWidget* table = ui->tableWidget;

    // One header for the life of the window, reading its labels from a model of its own; a
    // switch replaces the labels only. A header view set on a table that is already shown
    // stays hidden, which would put the first row where the header belongs.
    auto* labels = qobject_cast<QStandardItemModel*>(table->horizontalHeader()->model());
    if (labels == nullptr || labels->parent() != table->horizontalHeader()) {
        auto* header = new QHeaderView(Qt::Horizontal, table);
        labels = new QStandardItemModel(header);
        header->setModel(labels);
        // The default minimum comes from the font's widest glyph (36 px with a CJK fallback
        // font), which would widen the 30-pixel tick-box column that select_all sits over.
        header->setMinimumSectionSize(kColumnWidths[int(Column::Tick)]);
        table->setHorizontalHeader(header);
    }
    labels->setHorizontalHeaderLabels(tableHeaderLabels(english));

    for (int column = 0; column < kColumnCount; ++column) {
        table->setColumnWidth(column, kColumnWidths[std::size_t(column)]);
    }
    table->horizontalHeader()->setStyleSheet(
        QStringLiteral("QHeaderView::section{background:#f0f0f0;border:none;height: 25px;}"));
    table->setAlternatingRowColors(true);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    // Qt raises the row height to the header's minimum, which follows the font the header has
    // when the window is built: with wine's fonts that is over 50 pixels.
    QHeaderView* rows = table->verticalHeader();
    rows->setMinimumSectionSize(qMin(rows->minimumSectionSize(), 35));
    rows->setDefaultSectionSize(35);
    table->setFont(QFont(QStringLiteral("微软雅黑"), 10));
}

void Base_Frame::setActionTexts(bool english) {
    video_action->setText(english ? QStringLiteral("VideoParameter") : QStringLiteral("视频参数"));
    tx_audio_action->setText(english ? QStringLiteral("AudioSetting") : QStringLiteral("音频设置"));
    rx_audio_action->setText(english ? QStringLiteral("AudioSetting") : QStringLiteral("音频设置"));
}

void Base_Frame::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int w = width();
    const int h = height();
    ui->search->setGeometry(w - 60, h - 76, 40, 30);
    ui->label_4->setGeometry(w - 66, h - 36, 52, 20);
    ui->reboot->setGeometry(w - 140, h - 76, 40, 30);
    ui->label_3->setGeometry(w - 146, h - 36, 52, 20);
    ui->update->setGeometry(w - 220, h - 76, 40, 30);
    ui->label_2->setGeometry(w - 226, h - 36, 52, 20);
    ui->checkBox->setGeometry(30, h - 66, 89, 27);
    ui->label->setGeometry(5, h - 86, w, 2);
    ui->tableWidget->setGeometry(0, 0, w - 9, h - 95);
    ui->update_widget->setGeometry(w - 640, h - 215, 591, 111);
}

void Base_Frame::Click_Event(int row, int col) {
    // A single click selects the row (the table does that); nothing else happens.
    Q_UNUSED(row);
    Q_UNUSED(col);
}

void Base_Frame::Double_Click_Event(int row, int col) {
    Q_UNUSED(col);
    const QTableWidget* table = ui->tableWidget;
    // Display-only rows open nothing, as they have no context menu either.
    if (!hasTickBox(cell(table, row, Column::Tick))) {
        return;
    }
    neb::CJsonObject info;
    info.PutString("setIp", cellText(table, row, Column::Address).toStdString());
    info.PutString("setMask", cellText(table, row, Column::Mask).toStdString());
    info.PutString("setGateway", cellText(table, row, Column::Gateway).toStdString());
    info.PutString("setMac", cellText(table, row, Column::Mac).toStdString());
    // The row travels along, so that a successful change removes exactly this row.
    network_dialog->set_network_info(info, row);
    showModal(network_dialog);
}

void Base_Frame::Show_menu(QPoint pos) {
    const QTableWidgetItem* under = ui->tableWidget->itemAt(pos);
    if (under == nullptr) {
        return;
    }
    const int row = under->row();
    const QString kind = cellText(ui->tableWidget, row, Column::Kind);
    const QByteArray address = rowAddress(ui->tableWidget, row).toUtf8();
    // The reads fill the windows the entries open; they end before the menu shows.
    if (kind == QLatin1String("TX")) {
        video_dialog->get_video_param(address.constData(), corvane::video::streamsReadCommand());
        // Without a usable answer the window shows no selection; the menu opens all the same.
        tx_audio_dialog->get_audio_param(address.constData(),
                                         corvane::config::txAudioReadDocument());
        tx_menu->exec(QCursor::pos());
    } else if (kind == QLatin1String("RX")) {
        rx_audio_loaded = rx_audio_dialog->get_audio_param(
                              address.constData(), corvane::config::rxAudioReadDocument(1)) == 1;
        rx_menu->exec(QCursor::pos());
        if (!rx_audio_loaded) {
            showNotice(QStringLiteral("获取音频参数失败"));
        }
        rx_audio_loaded = false;
    }
}

void Base_Frame::on_search_clicked() {
    int nothing_found = 0;
    device_list().collect_devices(nothing_found);
    if (nothing_found == 0) {
        Serach_Show_table();
    }
    reenable_timer.setInterval(3000);
    reenable_timer.start();
    // One connection however often the operator searches; a timeout runs each handler once.
    connect(&reenable_timer, &QTimer::timeout, this, &Base_Frame::reenable_search,
            Qt::UniqueConnection);
}

void Base_Frame::reenable_search() {
    reenable_timer.stop();
    ui->search->setEnabled(true);
}

void Base_Frame::on_reboot_clicked() {
    ui->reboot->setEnabled(false);
    const QList<int> rows = tickedRows(ui->tableWidget);
    QStringList addresses;
    for (int row : rows) {
        addresses << rowAddress(ui->tableWidget, row);
    }
    using maintenance::RebootReply;
    const QVector<RebootReply> replies = maintenance::reboot_devices(addresses);

    // Only devices that confirmed leave the table; the others stay, still ticked.
    QList<int> restarted;
    QStringList silent;
    QStringList refused;
    for (int i = 0; i < rows.size(); ++i) {
        if (replies[i] == RebootReply::Confirmed) {
            restarted << rows[i];
        } else {
            (replies[i] == RebootReply::Refused ? refused : silent) << addresses[i];
        }
    }
    removeRows(ui->tableWidget, restarted);

    reenable_timer.setInterval(500);
    reenable_timer.start();
    connect(&reenable_timer, &QTimer::timeout, this, &Base_Frame::reenable_reboot,
            Qt::UniqueConnection);

    if (!rows.isEmpty()) {
        showNotice(corvane::outcome_texts::rebootSummary(restarted.size(), silent, refused));
    }
}

void Base_Frame::reenable_reboot() {
    reenable_timer.stop();
    ui->reboot->setEnabled(true);
}

void Base_Frame::Serach_Show_table() {
    QTableWidget* table = ui->tableWidget;
    table_copy = device_list().snapshot();
    // The order every front end lists devices in: by group, then by address.
    order_for_table(table_copy);
    const int count = int(table_copy.size());
    table->setRowCount(count);

    tx_devices.clear();
    rx_devices.clear();
    kvm_rx_devices.clear();
    for (const Device_Info& device : table_copy) {
        switch (device_group(device.type)) {
            case DeviceGroup::TX:
                tx_devices.push_back(device);
                break;
            case DeviceGroup::RX:
                rx_devices.push_back(device);
                break;
            case DeviceGroup::KVM_RX:
                kvm_rx_devices.push_back(device);
                break;
            case DeviceGroup::Other:
                break;
        }
    }

    int row = 0;
    for (const auto* group : {&tx_devices, &rx_devices, &kvm_rx_devices}) {
        for (const Device_Info& device : *group) {
            fillRow(table, row++, device);
        }
    }
    // Kinds outside the three groups come last in the ordered copy; their rows end the table.
    for (; row < count; ++row) {
        fillRow(table, row, table_copy[std::size_t(row)]);
    }

    table_copy.clear();

    table->setContextMenuPolicy(Qt::CustomContextMenu);
    table->show();
    ui->select_all->show();
    ui->select_all->setCheckState(Qt::Unchecked);
    ui->update->setEnabled(true);
    ui->reboot->setEnabled(true);
}

void Base_Frame::remove_row(int row) {
    ui->tableWidget->removeRow(row);
}

void Base_Frame::on_update_clicked() {
    ui->update->setEnabled(false);
    ui->update_widget->show();
}

namespace {

// A failed attempt's box, as the outcome table says.
void report_upgrade(QWidget* window, const QString& address, maintenance::UpgradeStep step) {
    using corvane::OperatorMessages;
    using corvane::outcome_texts::UpgradeBox;
    const UpgradeBox box = corvane::outcome_texts::upgradeBox(step, address);
    if (box.kind == UpgradeBox::Kind::Local) {
        OperatorMessages::information(nullptr, box.title, box.text);
    } else if (box.kind == UpgradeBox::Kind::Device) {
        OperatorMessages::about(window, box.title, box.text);
    }
}

}  // namespace

void Base_Frame::startProgress() {
    // One bar for every attempt; an attempt that fails while streaming leaves it showing
    // where it stopped until the next one starts.
    if (progress_bar == nullptr) {
        progress_bar = new QProgressBar(this);
        progress_bar->setGeometry(50, 780, 200, 12);
        progress_bar->setRange(0, 100);
    }
    progress_bar->hide();
    progress_bar->reset();
}

void Base_Frame::showProgress(const maintenance::UpgradeProgress& progress) {
    // The window handles no events meanwhile; the bar repaints itself as it changes.
    progress_bar->setValue(progress.percent);
    progress_bar->setVisible(progress.stage == maintenance::UpgradeProgress::Stage::Streaming);
}

int Base_Frame::update_device(int row) {
    const QString address = rowAddress(ui->tableWidget, row);
    startProgress();
    update_file = ui->file_pathname->text();
    const maintenance::UpgradeOutcome outcome = maintenance::upgrade_device(
        *update_socket, address, rowKind(ui->tableWidget, row), update_file,
        [this](const maintenance::UpgradeProgress& progress) { showProgress(progress); });
    report_upgrade(this, address, outcome.step);
    return outcome.result;
}

void Base_Frame::update_start() {
    const QList<int> rows = tickedRows(ui->tableWidget);
    QVector<maintenance::UpgradeTarget> targets;
    for (int row : rows) {
        targets.append({rowAddress(ui->tableWidget, row), rowKind(ui->tableWidget, row)});
    }
    update_file = ui->file_pathname->text();
    QList<int> upgraded;
    QStringList failed;
    maintenance::UpgradeEvents events;
    events.started = [this](int) {
        startProgress();
        return true;
    };
    events.progress = [this](int, const maintenance::UpgradeProgress& progress) {
        showProgress(progress);
    };
    events.outcome = [&](int i, const maintenance::UpgradeOutcome& outcome) {
        // A failure is told at once and does not stop the batch.
        report_upgrade(this, targets[i].address, outcome.step);
        if (outcome.result == 1) {
            upgraded << rows[i];
        } else {
            failed << targets[i].address;
        }
    };
    maintenance::upgrade_devices(*update_socket, targets, update_file, events);
    removeRows(ui->tableWidget, upgraded);
    // Failed devices stay ticked; the summary names them, so none is taken for upgraded.
    showNotice(corvane::outcome_texts::upgradeSummary(rows.size(), upgraded.size(), failed));
}

void Base_Frame::on_file_path_clicked() {
    // A cancelled dialog empties the path; the upgrade button is offered all the same.
    ui->file_pathname->setText(corvane::OperatorMessages::openFileName());
    ui->file_update->setEnabled(true);
}

void Base_Frame::on_file_update_clicked() {
    update_start();
    ui->update_widget->hide();
    ui->update->setEnabled(true);
}

void Base_Frame::on_file_cacle_clicked() {
    ui->update_widget->hide();
    ui->update->setEnabled(true);
}

void Base_Frame::on_select_all_stateChanged(int state) {
    const Qt::CheckState tick = state == Qt::Checked ? Qt::Checked : Qt::Unchecked;
    QTableWidget* table = ui->tableWidget;
    for (int row = 0; row < table->rowCount(); ++row) {
        QTableWidgetItem* item = cell(table, row, Column::Tick);
        if (hasTickBox(item)) {
            item->setCheckState(tick);
        }
    }
}

void Base_Frame::slotActionInsert() {
    showModal(video_dialog);
}

void Base_Frame::setAudio_tx() {
    showModal(tx_audio_dialog);
}

void Base_Frame::Set_audio() {
    // After a failed read the window would hold another device's values.
    if (rx_audio_loaded) {
        showModal(rx_audio_dialog);
    }
}

void Base_Frame::set_resolution() {
    // Kept for the meta-object's slot list; nothing connects it and it does nothing.
}

void Base_Frame::on_checkBox_clicked(bool checked) {
    // The catalogues are built in; a failed load would leave the source texts, nothing more.
    translator.load(checked ? QStringLiteral(":/en.qm") : QStringLiteral(":/ch.qm"));
    QCoreApplication::installTranslator(&translator);
    ui->retranslateUi(this);

    setActionTexts(checked);
    tx_menu->addAction(video_action);
    tx_menu->addAction(tx_audio_action);
    setupTable(checked);

    // Rows carry no language of their own; a new search refills them. The ticks stay with the
    // devices found again, by address: an installer who ticked twenty devices need not start
    // over, and a tick never passes to another device that takes the row.
    QTableWidget* table = ui->tableWidget;
    if (table->rowCount() > 0) {
        QMap<QString, Qt::CheckState> ticks;
        for (int row : tickedRows(table)) {
            ticks.insert(cellText(table, row, Column::Address),
                         cell(table, row, Column::Tick)->checkState());
        }
        on_search_clicked();
        for (int row = 0; row < table->rowCount(); ++row) {
            QTableWidgetItem* item = cell(table, row, Column::Tick);
            const auto tick = ticks.constFind(cellText(table, row, Column::Address));
            if (hasTickBox(item) && tick != ticks.constEnd()) {
                item->setCheckState(*tick);
            }
        }
    }
}
