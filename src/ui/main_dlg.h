#pragma once
// The main window: the one window of the component and the owner of
// everything that runs while it exists: the settings store, one Stream per
// stream group, the capture and playback callbacks, the level meters'
// updater and the window's own worker, which sends titles and fetches
// listener lists one at a time. The object is made by the player's menu
// command (getInstance), its modeless dialog shown owned by the player's
// main window; closing the dialog deletes the object, which writes the
// settings back.
//
// Threads: the window, its commands and the settings belong to the
// player's main thread (the dialog's thread). Stream events arrive on the
// thread that raises them: statistics, reconnection rows and errors are
// handled there through window messages, while what starts and ends the
// window's worker and the meter updater (the started and stopped events)
// is handed to the dialog's thread, so each is made and ended there, one
// at a time. Error message boxes of stream workers are posted to the
// dialog's thread as well; the worker goes on at once.
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/command_signal.h"
#include "engine/psc_callback.h"
#include "engine/stream.h"
#include "plugin/settings.h"
#include "res/resource.h"
#include "ui/controls.h"
#include "ui/ddx.h"
#include "ui/list_box_streams.h"
#include "ui/list_view_clients.h"
#include "ui/list_view_history.h"
#include "ui/list_view_monitor.h"
#include "ui/option_sheet.h"
#include "ui/playback_callback.h"
#include "ui/tab_view.h"
#include "ui/tray_icon_impl.h"
#include "ui/vu_meter.h"
#include "ui/vu_meter_updater.h"

class CMainDlg : public CTrayIconImpl<CMainDlg>,
                 public ATL::CDialogImpl<CMainDlg>,
                 public WTL::CWinDataExchange<CMainDlg>,
                 public ListBoxEventListener,
                 public StreamEventListener {
public:
    enum { IDD = IDD_MAIN };

    // Window worker commands; title requests are its task
    // (CommandSignal::kDue), which is never refused.
    enum : int { WORKER_CLIENTS = 2, WORKER_EXIT = 3 };

    // The one object, made (settings read, streams made) when none exists.
    static CMainDlg* getInstance();
    // The object while it exists, else null; never makes one.
    static CMainDlg* existingInstance();

    // Creates the modeless dialog owned by `owner` when the object has none.
    void show(HWND owner);

    CMainDlg(const CMainDlg&) = delete;
    CMainDlg& operator=(const CMainDlg&) = delete;

    // ---- the playback callback's roads
    // Formats the title pattern of the edit field for the playing track.
    void formatCurrentTitle();
    // Formats and shows the title, then has the worker send it for every
    // running stream (all) or the selected one.
    void requestMetadataUpdate(bool all);
    // Records the playing artist and title in every running stream (all)
    // or in the selected stream, and shows the selected one's history.
    void updateTitle(bool all);
    bool autoUpdateMetadata() const { return common.auto_update_metadata; }

    bool isAnyStreamRunning() const;
    void refreshControls();

    void onListBoxEvent(CListBoxStreams* list, int kind) override;
    void onStreamEvent(Stream* stream, int event) override;
    // A SHOUTcast v2 stream whose stream id another running stream uses
    // does not start.
    void checkStart(Stream* stream) override;

    // Overrides the tray popup's Connect item while the selected stream runs.
    void adjustMenu(HMENU menu) override;

    // For tests and the stand-in player's keyboard: read-only looks.
    const CommonSettings& commonSettings() const { return common; }
    const std::vector<std::unique_ptr<Stream>>& allStreams() const { return streams; }
    Stream* selectedStream() const { return selected_stream.load(); }
    bool workerRunning() const { return worker.joinable(); }
    // The worker takes a request now (a listener request posted while it
    // is busy is dropped; a title waits for it).
    bool workerIdle() { return worker_signal.idle() && titles_due.load() == 0; }
    bool meterDriven() const { return meter_updater != nullptr; }
    std::string currentTitle() const;

    // Private messages of the dialog.
    enum : UINT {
        // A started or stopped event raised on another thread: wParam the
        // Stream, lParam the code; sent, so that the raising thread waits.
        WM_STREAM_EVENT = WM_APP + 1,
        // Shows the oldest pending error message box.
        WM_ERROR_BOX = WM_APP + 2,
        // Sets a stream's row text: wParam the Stream, lParam the UTF-8
        // std::string; sent.
        WM_STREAM_ROW = WM_APP + 3,
        // Shows the statistics of the selected stream when wParam (a
        // Stream) still is it; posted.
        WM_STREAM_STATISTICS = WM_APP + 4,
    };

    BOOL ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                              DWORD dwMsgMapID = 0) override;

    BEGIN_DDX_MAP(CMainDlg)
        DDX_CONTROL(IDC_TAB_VIEW, tab_view)
        DDX_CONTROL(IDC_STREAM_LIST, stream_list)
        DDX_CONTROL_HANDLE(IDC_STREAM_UP, up_button)
        DDX_CONTROL_HANDLE(IDC_STREAM_DOWN, down_button)
        DDX_CONTROL_HANDLE(IDC_ADD_STREAM, add_button)
        DDX_CONTROL_HANDLE(IDC_REMOVE_STREAM, remove_button)
        DDX_CONTROL_HANDLE(IDC_TITLE_FORMAT, title_edit)
        DDX_CONTROL_HANDLE(IDC_UPDATE_METADATA, metadata_button)
        DDX_CONTROL_HANDLE(IDC_AUTO_UPDATE, auto_update_check)
        DDX_CONTROL_HANDLE(IDC_UPDATE_CLIENTS, clients_button)
        DDX_CONTROL_HANDLE(IDC_CONNECT, connect_button)
        DDX_CONTROL_HANDLE(IDC_CONFIG, config_button)
        DDX_CONTROL_HANDLE(IDC_CONNECT_ON_STARTUP, startup_check)
        DDX_CONTROL_HANDLE(IDC_AUTO_RECONNECT, reconnect_check)
        DDX_CONTROL_HANDLE(IDC_VU_SWITCH, vu_check)
        DDX_CONTROL_HANDLE(IDC_MUTE, mute_check)
        DDX_CONTROL(IDC_VU_RIGHT, vu_right)
        DDX_CONTROL(IDC_VU_LEFT, vu_left)
        DDX_CONTROL_HANDLE(IDC_VOLUME, volume_trackbar)
        DDX_CONTROL_HANDLE(IDC_VOLUME_GROUP, volume_group)
    END_DDX_MAP()

private:
    CMainDlg();
    ~CMainDlg() override;
    void OnFinalMessage(HWND) override;

    // ---- lifecycle
    LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&);
    void initControls();
    LRESULT OnSysCommand(UINT, WPARAM wParam, LPARAM, BOOL& bHandled);
    LRESULT OnClose(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled);
    // Brings the saved position onto a monitor when it lies outside every
    // one.
    void placeWindow();

    // ---- commands
    LRESULT OnVScroll(UINT, WPARAM, LPARAM lParam, BOOL& bHandled);
    LRESULT OnCommand(WORD id, BOOL& bHandled);
    void OnAddStream();
    void OnRemoveStream();
    void OnStreamUp();
    void OnStreamDown();
    void OnConnect();
    void OnConfig();
    void OnUpdateMetadata();
    void OnUpdateClients();
    void OnMute();
    void OnVuMeter();
    void OnOpen();
    void OnCopyListenUrl();
    void OnCopyStreamUrl();
    void OnExit();

    // ---- volume
    void setVolumeCaption();
    void applyGain();

    // ---- stream events
    // `bytes_per_second`: the stream's bytes of the second that ended.
    void showStatistics(Stream* stream, std::uint32_t bytes_per_second);
    void onStarted(Stream* stream, const StreamStatus& status, const std::string& name);
    void onStopped(Stream* stream, const std::string& name);
    void onError(Stream* stream, const StreamStatus& status, const std::string& name);
    // Runs on the dialog's thread: at once when called there (or when no
    // dialog exists), else sent to it.
    bool onWindowThread() const;
    void setRowText(Stream* stream, const std::string& text);
    void showErrorBox(const std::wstring& text, const std::wstring& caption);
    LRESULT OnErrorBox();

    // ---- worker and meters (dialog's thread)
    void startStreaming();
    void startWorker();
    // Ends the worker; with `restart`, starts it again when a stream
    // started meanwhile.
    void endWorker(bool restart);
    void createMeterUpdater();
    void setIcon(int id);
    // Takes the worker's lock, serving window messages while it waits, so
    // that the stream list does not change under a command.
    std::unique_lock<std::mutex> lockWorkerPumping();

    // ---- the worker
    void workerThread();
    void runWorkerCommand(int command);
    void updateMetadata(Stream* stream);
    void updateClients(Stream* stream);

    std::string titlePattern();

    // Members, in declaration order (released in reverse).
    CWTLTabViewCtrl tab_view;
    CListViewMonitor monitor_view;
    CListViewClients clients_view;
    CListViewHistory history_view;
    CListBoxStreams stream_list;
    WTL::CButton up_button, down_button, add_button, remove_button;
    WTL::CEdit title_edit;
    WTL::CButton metadata_button, auto_update_check, clients_button, connect_button, config_button;
    WTL::CButton startup_check, reconnect_check, vu_check, mute_check;
    CStaticVUMeter vu_right;
    CStaticVUMeter vu_left;
    WTL::CTrackBarCtrl volume_trackbar;
    ATL::CWindow volume_group;

    mutable std::mutex title_mutex;
    std::string current_title;
    std::thread worker;
    // Set by the worker as its body returns.
    std::atomic<bool> worker_finished{true};
    // Set by the worker once it holds its lock, about to wait.
    std::atomic<bool> worker_entered{false};
    CommandSignal worker_signal;
    // Title requests not yet served (kTitleSelected, kTitleAll): a request
    // made while the worker is busy is served when it is free, with the
    // title of that moment.
    enum : int { kTitleSelected = 1, kTitleAll = 2 };
    std::atomic<int> titles_due{0};
    std::unique_ptr<playback_callback> playback_cb;
    std::unique_ptr<psc_callback> capture_callback;
    // What the meter updater reads: the window's volume and mute.
    std::shared_ptr<MeterControls> meter_controls;
    std::unique_ptr<VUMeterUpdater> meter_updater;
    std::vector<std::unique_ptr<Stream>> streams;
    std::atomic<Stream*> selected_stream{nullptr};
    CommonSettings common;
    // Read by stream workers while the window's thread writes it.
    std::atomic<bool> auto_reconnect{false};

    // True while the worker is being ended (its lock is served meanwhile).
    bool worker_ending = false;
    // The window rectangle before the last minimise.
    RECT normal_rect = {0, 0, 0, 0};
    bool have_normal_rect = false;
    std::mutex boxes_mutex;
    std::deque<std::pair<std::wstring, std::wstring>> pending_boxes;
};
