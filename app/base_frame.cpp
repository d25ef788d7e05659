#include "app/base_frame.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QFont>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QResizeEvent>
#include <QStandardItemModel>
#include <QTcpSocket>

#include <memory>

#include "app/device_table.h"
#include "app/outcome_texts.h"
#include "dialogs/job_runner.h"
#include "dialogs/network_set.h"
#include "dialogs/set_audio.h"
#include "dialogs/set_audio_tx.h"
#include "dialogs/video_parameters.h"
#include "discovery/device_list.h"
#include "discovery/device_order.h"
#include "maintenance/batch.h"
#include "maintenance/watch.h"
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

Base_Frame::Base_Frame(QWidget* parent)
    : QWidget(parent),
      ui(new Ui::Base_Frame),
      watch_interval_ms(maintenance::kWatchIntervalMs),
      watch_limit_ms(maintenance::kWatchLimitMs) {
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
    runner = new corvane::JobRunner(this);
    // The windows' writes take the same worker: one action at a time, whoever starts it.
    video_dialog->set_runner(runner);
    network_dialog->set_runner(runner);
    rx_audio_dialog->set_runner(runner);
    tx_audio_dialog->set_runner(runner);
    connect(runner, &corvane::JobRunner::busyChanged, this, &Base_Frame::holdControls);

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
    ui->tableWidget->viewport()->installEventFilter(this);
    ui->tableWidget->installEventFilter(this);

    watch_timer.setSingleShot(true);
    connect(&watch_timer, &QTimer::timeout, this, &Base_Frame::watchSweep);
}

Base_Frame::~Base_Frame() {
    // The worker first: a job still running stops after its device and is joined, and what it
    // had queued for the window is dropped before any widget goes.
    delete runner;
    runner = nullptr;
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
    // Display-only rows open nothing, as they have no context menu either; a row that shares
    // its address opens the network window, which is how it gets one of its own.
    if (rowUse(table, row) == RowUse::DisplayOnly) {
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
    if (rowUse(ui->tableWidget, row) != RowUse::Actions) {
        return;
    }
    const QString kind = cellText(ui->tableWidget, row, Column::Kind);
    const QByteArray address = rowAddress(ui->tableWidget, row).toUtf8();
    // The menu opens where the click was, once the reads are done.
    const QPoint at = QCursor::pos();
    // The reads fill the windows the entries open; they run on the worker and end before the
    // menu shows.
    if (kind == QLatin1String("TX")) {
        auto video = std::make_shared<corvane::video::VideoRead>();
        auto audio = std::make_shared<corvane::config::TxAudio>();
        startWork(
            Work::Reads,
            [address, video, audio] {
                *video = corvane::video::readVideo(address.constData(),
                                                   corvane::video::streamsReadCommand());
                *audio = corvane::config::readTxAudio(address.toStdString(),
                                                      corvane::config::txAudioReadDocument());
            },
            [this, address, video, audio, at] {
                video_dialog->show_read(address.constData(), *video);
                // Without a usable answer the window shows no selection; the menu opens all
                // the same.
                tx_audio_dialog->show_audio(address.constData(), *audio);
                tx_menu->exec(at);
            });
    } else if (kind == QLatin1String("RX")) {
        auto audio = std::make_shared<corvane::config::RxAudio>();
        startWork(
            Work::Reads,
            [address, audio] {
                *audio = corvane::config::readRxAudio(address.toStdString(),
                                                      corvane::config::rxAudioReadDocument(1));
            },
            [this, address, audio, at] {
                rx_audio_loaded = rx_audio_dialog->show_audio(address.constData(), *audio) == 1;
                rx_menu->exec(at);
                if (!rx_audio_loaded) {
                    showNotice(QStringLiteral("获取音频参数失败"));
                }
                rx_audio_loaded = false;
            });
    }
}

void Base_Frame::on_search_clicked() {
    startSearch();
}

void Base_Frame::startSearch(std::function<void()> after) {
    auto nothing_found = std::make_shared<int>(0);
    startWork(
        Work::Search, [nothing_found] { device_list().collect_devices(*nothing_found); },
        [this, nothing_found, after = std::move(after)] {
            if (*nothing_found == 0) {
                Serach_Show_table();
                // The operator's search counts for the devices looked for.
                feedWatches(device_list().snapshot());
            }
            warnAtBound();
            reenable_timer.setInterval(3000);
            reenable_timer.start();
            // One connection however often the operator searches; a timeout runs each handler
            // once.
            connect(&reenable_timer, &QTimer::timeout, this, &Base_Frame::reenable_search,
                    Qt::UniqueConnection);
            if (after) {
                after();
            }
        });
}

bool Base_Frame::busy() const {
    return runner != nullptr && runner->busy();
}

bool Base_Frame::startWork(Work kind, std::function<void()> work, std::function<void()> done) {
    if (busy()) {
        return false;
    }
    running = kind;
    return runner->start(std::move(work), std::move(done));
}

void Base_Frame::holdControls(bool now_busy) {
    if (now_busy) {
        // Everything that would start other work, or change what the running work reads.
        for (QWidget* control : std::initializer_list<QWidget*>{
                 ui->search, ui->reboot, ui->update, ui->checkBox, ui->select_all, ui->file_path,
                 ui->file_update, ui->file_pathname, ui->continue_past_failures}) {
            if (control->isEnabled()) {
                control->setEnabled(false);
                held << control;
            }
        }
        // The watch's sweeps run in the background; the cursor says nothing of them.
        if (running != Work::Watch) {
            setCursor(Qt::BusyCursor);
        }
        return;
    }
    for (QWidget* control : held) {
        control->setEnabled(true);
    }
    held.clear();
    unsetCursor();
    running = Work::None;
    ui->file_cacle->setEnabled(true);
    if (close_pending) {
        // Queued: the work's own end (its `done`) runs first.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    }
}

bool Base_Frame::eventFilter(QObject* watched, QEvent* event) {
    if (busy() && (watched == ui->tableWidget || watched == ui->tableWidget->viewport())) {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::ContextMenu:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
                return true;
            default:
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Base_Frame::closeEvent(QCloseEvent* event) {
    if (!busy()) {
        close_pending = false;
        watch_timer.stop();
        event->accept();
        return;
    }
    if (!close_pending && running == Work::Upgrade &&
        !corvane::OperatorMessages::question(
            this, QStringLiteral("提示"),
            QStringLiteral("正在升级设备，现在退出会中断升级，确定退出吗？"))) {
        event->ignore();
        return;
    }
    // No device is cut off: the work stops before its next one and the window closes then.
    close_pending = true;
    runner->cancel();
    ui->file_cacle->setEnabled(false);
    event->ignore();
}

void Base_Frame::setRowStatus(int row, const QString& text) {
    QTableWidgetItem* item = cell(ui->tableWidget, row, Column::Status);
    if (item == nullptr) {
        item = new QTableWidgetItem;
        ui->tableWidget->setItem(row, int(Column::Status), item);
    }
    item->setText(text);
}

void Base_Frame::reenable_search() {
    reenable_timer.stop();
    ui->search->setEnabled(true);
}

namespace {

using corvane::outcome_texts::RowState;
using corvane::outcome_texts::rowStateText;

QString rebootStateText(maintenance::RebootReply reply) {
    using maintenance::RebootReply;
    return rowStateText(reply == RebootReply::Confirmed ? RowState::Restarted
                        : reply == RebootReply::Refused ? RowState::Refused
                                                        : RowState::NoAnswer);
}

// The status texts of the ticked rows before a batch, put back on the rows it did not take.
QStringList statusTexts(const QTableWidget* table, const QList<int>& rows) {
    QStringList texts;
    for (int row : rows) {
        texts << cellText(table, row, Column::Status);
    }
    return texts;
}

}  // namespace

void Base_Frame::on_reboot_clicked() {
    if (busy()) {
        return;
    }
    ui->reboot->setEnabled(false);
    const QList<int> rows = tickedRows(ui->tableWidget);
    const QStringList before = statusTexts(ui->tableWidget, rows);
    QStringList addresses;
    for (int row : rows) {
        addresses << rowAddress(ui->tableWidget, row);
        setRowStatus(row, rowStateText(RowState::Waiting));
    }
    using maintenance::RebootReply;
    auto replies = std::make_shared<QVector<RebootReply>>();
    maintenance::RebootEvents events;
    events.started = [this, rows](int i) {
        runner->post(
            [this, row = rows[i]] { setRowStatus(row, rowStateText(RowState::Restarting)); });
    };
    events.outcome = [this, rows](int i, RebootReply reply) {
        runner->post([this, row = rows[i], reply] { setRowStatus(row, rebootStateText(reply)); });
    };
    const std::atomic<bool>* cancel = &runner->cancelFlag();
    startWork(
        Work::Reboot,
        [addresses, events, replies, cancel] {
            *replies = maintenance::reboot_devices(addresses, events, cancel);
        },
        [this, rows, addresses, replies, before] {
            // Only devices that confirmed leave the table; the others stay, still ticked.
            QList<int> restarted;
            QStringList silent;
            QStringList refused;
            for (int i = 0; i < replies->size(); ++i) {
                const RebootReply reply = replies->at(i);
                if (reply == RebootReply::Confirmed) {
                    restarted << rows[i];
                } else {
                    (reply == RebootReply::Refused ? refused : silent) << addresses[i];
                }
            }
            // Rows the batch did not reach (the window is closing) show what they showed.
            for (int i = replies->size(); i < rows.size(); ++i) {
                setRowStatus(rows[i], before[i]);
            }
            watchRows(restarted, false);
            removeRows(ui->tableWidget, restarted);

            reenable_timer.setInterval(500);
            reenable_timer.start();
            connect(&reenable_timer, &QTimer::timeout, this, &Base_Frame::reenable_reboot,
                    Qt::UniqueConnection);

            if (!rows.isEmpty() && !close_pending) {
                showNotice(
                    corvane::outcome_texts::rebootSummary(restarted.size(), silent, refused));
            }
        });
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
    // The device restarts under the settings the network window sent: it is looked for at
    // its new address, with its new MAC.
    const corvane::config::NetworkSettings& sent = network_dialog->sent_settings();
    watchRows({row}, false, {QString::fromStdString(sent.ip).trimmed()},
              {QString::fromStdString(sent.mac).trimmed()});
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

namespace {

// One upgrade batch as the window follows it; read and written on the interface thread only.
struct UpgradeRun {
    QList<int> rows;
    QVector<maintenance::UpgradeTarget> targets;
    QStringList before;  // the rows' status texts before the batch
    bool go_on = false;  // continue past failures: failures in the rows, not in boxes
    QList<int> upgraded;
    QStringList failed;
    int taken = 0;
};

}  // namespace

void Base_Frame::update_start() {
    if (busy()) {
        return;
    }
    auto run = std::make_shared<UpgradeRun>();
    run->rows = tickedRows(ui->tableWidget);
    if (run->rows.isEmpty()) {
        // Nothing to send: said at once, and the panel goes.
        showNotice(corvane::outcome_texts::upgradeSummary(0, 0, {}));
        ui->update_widget->hide();
        ui->update->setEnabled(true);
        return;
    }
    run->before = statusTexts(ui->tableWidget, run->rows);
    for (int row : run->rows) {
        run->targets.append({rowAddress(ui->tableWidget, row), rowKind(ui->tableWidget, row)});
        setRowStatus(row, rowStateText(RowState::Waiting));
    }
    run->go_on = ui->continue_past_failures->isChecked();
    update_file = ui->file_pathname->text();

    // Each event runs on this thread while the worker waits: the bar and the rows follow the
    // device in order, and a failure's box holds the batch until it is answered.
    maintenance::UpgradeEvents events;
    events.started = [this](int) {
        runner->call([this] {
            // A bar not made yet is made with the first progress it shows, in the same turn of
            // the event loop, as the single-device upgrade makes it.
            if (progress_bar != nullptr) {
                startProgress();
            }
        });
        return true;
    };
    events.progress = [this, run](int i, const maintenance::UpgradeProgress& progress) {
        runner->call([this, run, i, progress] {
            if (progress_bar == nullptr) {
                startProgress();
            }
            // The device and its place in the batch, beside the percentage.
            progress_bar->setFormat(QStringLiteral("%1  %2/%3  ")
                                        .arg(run->targets[i].address)
                                        .arg(i + 1)
                                        .arg(run->targets.size()) +
                                    QStringLiteral("%p%"));
            showProgress(progress);
            setRowStatus(run->rows[i], QStringLiteral("%1%").arg(progress.percent));
        });
    };
    events.outcome = [this, run](int i, const maintenance::UpgradeOutcome& outcome) {
        runner->call([this, run, i, outcome] {
            const QString& address = run->targets[i].address;
            const int row = run->rows[i];
            if (outcome.result == 1) {
                run->upgraded << row;
                setRowStatus(row, rowStateText(RowState::Upgraded));
                return;
            }
            setRowStatus(row, corvane::outcome_texts::upgradeFailure(outcome.step));
            if (run->go_on) {
                run->failed << corvane::outcome_texts::upgradeFailureLine(outcome.step, address);
            } else {
                // A failure is told at once and does not stop the batch.
                report_upgrade(this, address, outcome.step);
                run->failed << address;
            }
        });
    };
    const std::atomic<bool>* cancel = &runner->cancelFlag();
    const QString image = update_file;
    startWork(
        Work::Upgrade,
        [run_taken = &run->taken, targets = run->targets, image, events, cancel] {
            // The worker's own socket: a socket serves the thread it was made on.
            QTcpSocket socket;
            const int taken =
                maintenance::upgrade_devices(socket, targets, image, events, {}, cancel);
            *run_taken = taken;
        },
        [this, run] {
            for (int i = run->taken; i < run->rows.size(); ++i) {
                setRowStatus(run->rows[i], run->before[i]);
            }
            watchRows(run->upgraded, true);
            removeRows(ui->tableWidget, run->upgraded);
            ui->update_widget->hide();
            ui->update->setEnabled(true);
            // Failed devices stay ticked; the summary names them, so none is taken for
            // upgraded.
            if (!close_pending) {
                showNotice(corvane::outcome_texts::upgradeSummary(run->rows.size(),
                                                                  run->upgraded.size(), run->failed,
                                                                  run->rows.size() - run->taken));
            }
        });
}

void Base_Frame::on_file_path_clicked() {
    // A cancelled dialog empties the path; the upgrade button is offered all the same.
    ui->file_pathname->setText(corvane::OperatorMessages::openFileName());
    ui->file_update->setEnabled(true);
}

void Base_Frame::on_file_update_clicked() {
    // The panel goes when the batch has ended (update_start's end).
    update_start();
}

void Base_Frame::on_file_cacle_clicked() {
    if (running == Work::Upgrade) {
        // The device being loaded finishes; the batch ends before the next one.
        runner->cancel();
        ui->file_cacle->setEnabled(false);
        return;
    }
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
        startSearch([table, ticks] {
            for (int row = 0; row < table->rowCount(); ++row) {
                QTableWidgetItem* item = cell(table, row, Column::Tick);
                const auto tick = ticks.constFind(cellText(table, row, Column::Address));
                if (hasTickBox(item) && tick != ticks.constEnd()) {
                    item->setCheckState(*tick);
                }
            }
        });
    }
}

void Base_Frame::setWatchTiming(int interval_ms, int limit_ms) {
    watch_interval_ms = interval_ms;
    watch_limit_ms = limit_ms;
}

bool Base_Frame::watching() const {
    return !watches.empty();
}

void Base_Frame::watchRows(const QList<int>& rows, bool versions, const QStringList& addresses,
                           const QStringList& macs) {
    std::vector<maintenance::WatchedDevice> devices;
    for (int i = 0; i < rows.size(); ++i) {
        maintenance::WatchedDevice device;
        device.last = rowDevice(ui->tableWidget, rows[i]);
        if (device.last.ip[0] == '\0') {
            continue;
        }
        device.expected_address = addresses.value(i);
        device.expected_mac = macs.value(i);
        devices.push_back(device);
    }
    if (devices.empty()) {
        return;
    }
    maintenance::WatchOptions options;
    options.interval_ms = watch_interval_ms;
    options.limit_ms = watch_limit_ms;
    options.compare_versions = versions;
    watches.push_back(std::make_unique<maintenance::Watch>(std::move(devices), options));
    if (!watch_timer.isActive()) {
        watch_timer.start(watch_interval_ms);
    }
}

void Base_Frame::watchSweep() {
    if (watches.empty()) {
        return;
    }
    // One job at a time: while the operator's work runs, the sweep waits for it, and it waits
    // while a configuration window is open, whose writes take the same worker and would be
    // refused while a sweep ran.
    const bool window_open = video_dialog->isVisible() || network_dialog->isVisible() ||
                             rx_audio_dialog->isVisible() || tx_audio_dialog->isVisible();
    if (busy() || window_open) {
        watch_timer.start(100);
        return;
    }
    auto swept = std::make_shared<std::vector<Device_Info>>();
    startWork(
        Work::Watch,
        [swept] {
            // A list of its own: the device list stays the operator's last search, which the
            // table and the network window's address check go by.
            DeviceList list;
            int nothing_found = 0;
            list.collect_devices(nothing_found);
            *swept = list.snapshot();
        },
        [this, swept] {
            feedWatches(*swept);
            if (!watches.empty() && !close_pending) {
                watch_timer.start(watch_interval_ms);
            }
        });
}

void Base_Frame::feedWatches(const std::vector<Device_Info>& swept) {
    using maintenance::WatchOutcome;
    for (auto it = watches.begin(); it != watches.end();) {
        maintenance::Watch& watch = **it;
        for (const maintenance::WatchReturn& back : watch.feed(swept)) {
            showBack(back.found, back.outcome == WatchOutcome::NewVersion    ? tr("已升级")
                                 : back.outcome == WatchOutcome::SameVersion ? tr("版本未变")
                                                                             : tr("已恢复"));
        }
        // A device counts as not back only once a sweep that ended after the time was up
        // missed it, however long the operator's own work held the sweeps back.
        if (!watch.all_back() && watch.elapsed_ms() < watch.options().limit_ms) {
            ++it;
            continue;
        }
        QTableWidget* table = ui->tableWidget;
        for (int index : watch.missing()) {
            const int row = table->rowCount();
            table->setRowCount(row + 1);
            fillRow(table, row, watch.devices()[std::size_t(index)].last);
            makeDisplayOnly(table, row);
            setRowStatus(row, tr("未恢复"));
            cell(table, row, Column::Status)->setForeground(Qt::red);
        }
        it = watches.erase(it);
    }
}

void Base_Frame::showBack(const Device_Info& found, const QString& status) {
    QTableWidget* table = ui->tableWidget;
    // The row the device has already (the operator searched meanwhile), or a new one at the end.
    int row = 0;
    while (row < table->rowCount() &&
           !(QString::fromUtf8(rowDevice(table, row).mac)
                     .compare(QString::fromUtf8(found.mac), Qt::CaseInsensitive) == 0 &&
             rowAddress(table, row) == QString::fromUtf8(found.ip))) {
        ++row;
    }
    if (row == table->rowCount()) {
        table->setRowCount(row + 1);
    }
    fillRow(table, row, found);
    setRowStatus(row, status);
    table->show();
}

void Base_Frame::warnAtBound() {
    if (device_list().last_report().bound_reached) {
        showNotice(tr("设备太多，部分设备可能未列出，请缩小网段后重新搜索"));
    }
}
