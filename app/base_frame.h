#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QTranslator>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QAction;
class QCloseEvent;
class QMenu;
class QProgressBar;
class QResizeEvent;
class QTcpSocket;
struct Device_Info;
namespace corvane {
class JobRunner;
}
namespace corvane::maintenance {
struct UpgradeProgress;
class Watch;
}  // namespace corvane::maintenance

// The four configuration windows; created once by the main window, without parent.
class Video_Parameters;
class Network_Set;
class Set_Audio;
class Set_audio_tx;

namespace Ui {
class Base_Frame;
}

// True while an "RX" row's context menu is open and reading its audio settings succeeded.
extern bool rx_audio_loaded;

// The main window: device table, the update/reboot/search buttons, the upgrade panel, the
// language switch and the table's context menus. No layouts: fixed geometry, moved on resize.
class Base_Frame : public QWidget {
    Q_OBJECT

public:
    explicit Base_Frame(QWidget* parent = nullptr);
    ~Base_Frame() override;

    // Column headers of the device table in one language (Chinese or English).
    static QStringList tableHeaderLabels(bool english);

    // Loads the image named in the upgrade panel into the device of one table row and tells
    // the operator of a failure. Returns 1 when the image was delivered and the device told to
    // restart, 2 for a connection or protocol failure, 3 for a local file problem, 4 when the
    // end command did not go out.
    int update_device(int row);

    // True while a sweep, a row's reads or a batch runs on the worker thread.
    bool busy() const;

    // Devices that left the table (a reboot, an upgrade, a network change) are looked for
    // every `interval_ms` until all are back or `limit_ms` has passed; 5 s and 3 minutes unless
    // set (tests shorten them). Applies to the watches that start afterwards.
    void setWatchTiming(int interval_ms, int limit_ms);
    // True while devices that left are still looked for.
    bool watching() const;

public slots:
    void Click_Event(int row, int col);
    void Double_Click_Event(int row, int col);
    void Show_menu(QPoint pos);
    void on_search_clicked();
    void on_reboot_clicked();
    void Serach_Show_table();
    void remove_row(int row);
    void on_update_clicked();
    void update_start();
    void on_file_path_clicked();
    void on_file_update_clicked();
    void on_file_cacle_clicked();
    void on_select_all_stateChanged(int state);
    void slotActionInsert();
    void setAudio_tx();
    void Set_audio();
    void set_resolution();
    void on_checkBox_clicked(bool checked);

protected:
    void resizeEvent(QResizeEvent* event) override;
    // During an upgrade asks first; any running work then stops after its current device and
    // the window closes when it has.
    void closeEvent(QCloseEvent* event) override;
    // Keeps the table's ticks, double-clicks and menus away while work runs.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Work { None, Search, Reads, Reboot, Upgrade, Watch };
    // Runs `work` on the worker with the controls that would start more held, then `done` here.
    bool startWork(Work kind, std::function<void()> work, std::function<void()> done);
    void holdControls(bool busy);
    // A sweep; `after` runs once its rows are shown.
    void startSearch(std::function<void()> after = {});
    void setRowStatus(int row, const QString& text);
    // Starts looking for the devices of these rows, which are about to leave the table.
    // `addresses` and `macs`, when given, are where and as what each comes back (a network
    // change); `versions`: an upgrade, whose devices come back with a version to compare.
    void watchRows(const QList<int>& rows, bool versions, const QStringList& addresses = {},
                   const QStringList& macs = {});
    // One sweep of the watch on the worker, when it is free; the table stays as it is.
    void watchSweep();
    // A sweep's records (the watch's or the operator's) against the devices looked for: those
    // back take their row again, and watches whose time is up end.
    void feedWatches(const std::vector<Device_Info>& swept);
    void showBack(const Device_Info& found, const QString& status);
    // After a sweep the operator started: tells when a socket stopped at its datagram bound.
    void warnAtBound();

    // Header labels, widths, style and font of the table for one language. The constructor
    // and the language switch both run it; the header itself is made once.
    void setupTable(bool english);
    void setActionTexts(bool english);
    // reenable_timer's handler after a search.
    void reenable_search();
    // reenable_timer's handler after a reboot.
    void reenable_reboot();
    // The progress bar of the upgrade, made at the first attempt, hidden and reset.
    void startProgress();
    void showProgress(const corvane::maintenance::UpgradeProgress& progress);

    QTranslator translator;
    QAction* video_action = nullptr;
    QAction* tx_audio_action = nullptr;
    QMenu* tx_menu = nullptr;
    QAction* rx_audio_action = nullptr;
    QMenu* rx_menu = nullptr;
    Ui::Base_Frame* ui;
    Video_Parameters* video_dialog = nullptr;
    Network_Set* network_dialog = nullptr;
    Set_Audio* rx_audio_dialog = nullptr;
    Set_audio_tx* tx_audio_dialog = nullptr;
    QProgressBar* progress_bar = nullptr;
    QTcpSocket* update_socket = nullptr;
    QString update_file;
    QTimer reenable_timer;
    corvane::JobRunner* runner = nullptr;
    Work running = Work::None;
    // Enabled controls disabled while work runs, enabled again when it ends.
    QList<QWidget*> held;
    // A close asked for while work ran; the window closes when the work has ended.
    bool close_pending = false;
    std::vector<std::unique_ptr<corvane::maintenance::Watch>> watches;
    QTimer watch_timer;
    int watch_interval_ms;
    int watch_limit_ms;
};
