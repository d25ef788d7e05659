#include "base_frame.h"

#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QFont>
#include <QHeaderView>
#include <QMenu>
#include <QResizeEvent>
#include <QStandardItemModel>
#include <QTcpSocket>

#include "device_order.h"
#include "discovery/device_list.h"
#include "ui_base_frame.h"

bool rx_audio_loaded = false;

namespace {

// Fill state of the device table: the ordered copy of the device list used during a fill, and
// one vector per group of rows.
std::vector<Device_Info> table_copy;
std::vector<Device_Info> tx_devices;
std::vector<Device_Info> rx_devices;
std::vector<Device_Info> kvm_rx_devices;
std::vector<Device_Info> other_devices;

const int kColumnWidths[] = {30, 130, 110, 93, 220, 150, 150, 155, 140, 200};
const int kColumnCount = int(sizeof kColumnWidths / sizeof kColumnWidths[0]);

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

    // The configuration windows (video_dialog, network_dialog, rx_audio_dialog, then
    // tx_audio_dialog after the socket) are created here, each without parent, once dialogs/
    // provides them.
    update_socket = new QTcpSocket(this);

    QTableWidget* table = ui->tableWidget;
    connect(table, &QTableWidget::cellClicked, this, &Base_Frame::Click_Event);
    connect(table, &QTableWidget::cellDoubleClicked, this, &Base_Frame::Double_Click_Event);
    connect(table, &QWidget::customContextMenuRequested, this, &Base_Frame::Show_menu);
    connect(video_action, &QAction::triggered, this, &Base_Frame::slotActionInsert);
    connect(tx_audio_action, &QAction::triggered, this, &Base_Frame::setAudio_tx);
    connect(rx_audio_action, &QAction::triggered, this, &Base_Frame::Set_audio);
    // network_dialog's send_remove_row(int) is connected to remove_row(int) here once the
    // dialog exists.

    ui->update_widget->hide();
    ui->file_update->setEnabled(false);
    ui->update->setEnabled(false);
    ui->reboot->setEnabled(false);
    ui->select_all->hide();
}

Base_Frame::~Base_Frame() {
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
        header->setMinimumSectionSize(kColumnWidths[0]);
        table->setHorizontalHeader(header);
    }
    labels->setHorizontalHeaderLabels(tableHeaderLabels(english));

    for (int column = 0; column < kColumnCount; ++column) {
        table->setColumnWidth(column, kColumnWidths[column]);
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
    // Filled by the row actions (network settings of the row).
    Q_UNUSED(row);
    Q_UNUSED(col);
}

void Base_Frame::Show_menu(QPoint pos) {
    // Filled by the row actions (per-kind context menu).
    Q_UNUSED(pos);
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
    // Filled by the maintenance work (reboot of the ticked devices).
}

void Base_Frame::Serach_Show_table() {
    QTableWidget* table = ui->tableWidget;
    table_copy = device_list().snapshot();
    order_by_address(table_copy);
    table->setRowCount(int(table_copy.size()));

    tx_devices.clear();
    rx_devices.clear();
    kvm_rx_devices.clear();
    other_devices.clear();
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
                other_devices.push_back(device);
                break;
        }
    }

    int row = 0;
    for (const auto* group : {&tx_devices, &rx_devices, &kvm_rx_devices, &other_devices}) {
        for (const Device_Info& device : *group) {
            fillRow(row++, device);
        }
    }

    table_copy.clear();

    table->setContextMenuPolicy(Qt::CustomContextMenu);
    table->show();
    ui->select_all->show();
    ui->select_all->setCheckState(Qt::Unchecked);
    ui->update->setEnabled(true);
    ui->reboot->setEnabled(true);
}

void Base_Frame::fillRow(int row, const Device_Info& device) {
    QTableWidget* table = ui->tableWidget;
    const DeviceGroup group = device_group(device.type);
    const QString kind = group == DeviceGroup::Other ? QString::number(device.type)
                                                     : QString::fromLatin1(group_name(group));
    const QString texts[] = {
        QString(),
        QString::fromUtf8(device.ip),
        kind,
        QStringLiteral("OK"),
        QString::fromUtf8(device.version),
        QString::fromUtf8(device.mask),
        QString::fromUtf8(device.gateway),
        QString::fromUtf8(device.mac),
        QString::fromUtf8(device.uptime),
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy.MM.dd hh:mm:ss")),
    };
    for (int column = 0; column < kColumnCount; ++column) {
        auto* item = new QTableWidgetItem(texts[column]);
        item->setTextAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
        if (column == 0) {
            // A kind the tool does not know is shown, never acted on: no tick box, so
            // select-all, reboot and upgrade pass it by.
            if (group == DeviceGroup::Other) {
                item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable);
            } else {
                item->setCheckState(Qt::Unchecked);
            }
        }
        table->setItem(row, column, item);
    }
}

namespace {

bool hasTickBox(const QTableWidgetItem* item) {
    return item != nullptr && (item->flags() & Qt::ItemIsUserCheckable);
}

}  // namespace

QList<int> Base_Frame::tickedRows() const {
    QList<int> rows;
    const QTableWidget* table = ui->tableWidget;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem* item = table->item(row, 0);
        if (hasTickBox(item) && item->data(Qt::CheckStateRole).toInt() != 0) {
            rows.append(row);
        }
    }
    return rows;
}

void Base_Frame::remove_row(int row) {
    ui->tableWidget->removeRow(row);
}

void Base_Frame::on_update_clicked() {
    // Filled by the upgrade panel work.
}

void Base_Frame::update_start() {
    // Filled by the upgrade panel work (batch over the ticked rows).
}

void Base_Frame::on_file_path_clicked() {
    // Filled by the upgrade panel work.
}

void Base_Frame::on_file_update_clicked() {
    // Filled by the upgrade panel work.
}

void Base_Frame::on_file_cacle_clicked() {
    // Filled by the upgrade panel work.
}

void Base_Frame::on_select_all_stateChanged(int state) {
    const Qt::CheckState tick = state == Qt::Checked ? Qt::Checked : Qt::Unchecked;
    QTableWidget* table = ui->tableWidget;
    for (int row = 0; row < table->rowCount(); ++row) {
        QTableWidgetItem* item = table->item(row, 0);
        if (hasTickBox(item)) {
            item->setCheckState(tick);
        }
    }
}

void Base_Frame::slotActionInsert() {
    // Filled by the row actions (shows video_dialog).
}

void Base_Frame::setAudio_tx() {
    // Filled by the row actions (shows tx_audio_dialog).
}

void Base_Frame::Set_audio() {
    // Filled by the row actions (shows rx_audio_dialog when its read succeeded).
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

    // Rows carry no language of their own; a new search refills them.
    if (ui->tableWidget->rowCount() > 0) {
        on_search_clicked();
    }
}
