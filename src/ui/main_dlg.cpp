// The main window: lifecycle, commands, stream events and the worker.
#include "ui/main_dlg.h"

#include <Poco/Exception.h>
#include <Poco/Format.h>

#include <algorithm>
#include <exception>
#include <stdexcept>

#include "console.h"
#include "engine/config.h"
#include "engine/failure_text.h"
#include "engine/message_pump.h"
#include "engine/output_gain.h"
#include "plugin/utils.h"
#include "titleformat_util.h"
#include "ui/dlg_auth.h"

namespace {

CMainDlg* g_instance = nullptr;

// Longest title pattern read from the edit field, in UTF-16 units.
constexpr int kPatternLength = 256;
// Period of the level meters, in milliseconds.
constexpr std::int64_t kMeterInterval = 50;

HICON loadSmallIcon(int id) {
    return static_cast<HICON>(::LoadImageW(ATL::ModuleInstance(), MAKEINTRESOURCEW(id), IMAGE_ICON,
                                           ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                           LR_SHARED));
}

bool isOggFormat(std::int32_t format) {
    return format == FORMAT_OGG_VORBIS || format == FORMAT_OGG_FLAC || format == FORMAT_OGG_OPUS;
}

// Text for a control or message box; a text that is not valid UTF-8 shows
// as far as it converts rather than failing the caller.
std::wstring wide(const std::string& text) {
    try {
        return fromUtf8(text);
    } catch (...) {
        std::wstring out;
        for (unsigned char c : text) out += c < 0x80 ? static_cast<wchar_t>(c) : L'?';
        return out;
    }
}

std::string streamName(Stream* stream) { return stream->serverSettings().yp.name; }

// Reports what escaped a handler of the window.
void reportFailure(const char* what) {
    try {
        console_printf("velmora: %s failed: %s", what, currentFailureText().c_str());
    } catch (...) {
    }
}

} // namespace

// ---------------------------------------------------------------- the object
CMainDlg* CMainDlg::getInstance() {
    if (!g_instance) g_instance = new CMainDlg();
    return g_instance;
}

CMainDlg* CMainDlg::existingInstance() { return g_instance; }

CMainDlg::CMainDlg() : stream_list(this), meter_controls(std::make_shared<MeterControls>()) {
    // Whatever fails here is reported and the window goes on with the
    // defaults: nothing leaves the constructor into the player.
    common.title_format = "%artist% - %title%";
    common.vol = 100;
    common.auto_update_metadata = true;
    common.vumeter_switch = true;
    common.window_top = 200;
    common.window_left = 200;
    try {
        Config* config = getConfig();
        config->loadCommon(common);
        const int count = config->countStreams();
        EncoderSettings encoder;
        ServerSettings server;
        for (int i = 0; i < (count == 0 ? 1 : count); ++i) {
            config->loadStream(i, encoder, server);
            streams.push_back(std::make_unique<Stream>(this, encoder, server));
        }
    } catch (...) {
        reportFailure("reading the settings");
    }
    common.vol = std::clamp<std::int32_t>(common.vol, 0, 100);
    if (streams.empty()) {
        try {
            EncoderSettings encoder;
            ServerSettings server;
            try {
                getConfig()->loadStream(-1, encoder, server);
            } catch (...) {
                server.yp.name = "Stream";
            }
            streams.push_back(std::make_unique<Stream>(this, encoder, server));
        } catch (...) {
            reportFailure("making the default stream");
        }
    }
    auto_reconnect = common.auto_reconnect;
    meter_controls->volume = common.vol;
    meter_controls->mute = common.mute;
}

CMainDlg::~CMainDlg() {
    try {
        Config* config = getConfig();
        config->removeCommon();
        config->removeStreams();
        config->saveCommon(common);
        for (std::size_t i = 0; i < streams.size(); ++i)
            config->saveStream(static_cast<int>(i), streams[i]->encoderSettings(), streams[i]->serverSettings());
    } catch (...) {
        reportFailure("writing the settings");
    }
    try {
        deleteConfig();
    } catch (...) {
        reportFailure("saving the settings file");
    }
    try {
        // A worker started again while the window went (by a stream that
        // started meanwhile) ends before the streams it reads go.
        if (worker.joinable()) {
            while (!worker_signal.post(WORKER_EXIT)) serveMessagesOrSleep();
            worker.join();
        }
        // The rest in reverse order of declaration; the streams were
        // stopped when the window went.
        streams.clear();
        meter_updater.reset();
        capture_callback.reset();
        playback_cb.reset();
    } catch (...) {
        reportFailure("releasing the window's parts");
    }
}

void CMainDlg::show(HWND owner) {
    if (m_hWnd) return;
    if (!Create(owner)) console_printf("velmora: the main window could not be made (error %lu)", ::GetLastError());
}

void CMainDlg::OnFinalMessage(HWND) {
    if (g_instance == this) g_instance = nullptr;
    delete this;
}

// ---------------------------------------------------------------- message map
BOOL CMainDlg::ProcessWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult,
                                    DWORD) {
    BOOL bHandled = TRUE;
    // Each handler catches what it throws: no exception leaves the
    // window's procedure.
    try {
        switch (uMsg) {
        case WM_VSCROLL:
            lResult = OnVScroll(uMsg, wParam, lParam, bHandled);
            if (bHandled) return TRUE;
            break;
        case WM_INITDIALOG:
            lResult = OnInitDialog(uMsg, wParam, lParam, bHandled);
            return TRUE;
        case WM_DESTROY:
            lResult = OnDestroy(uMsg, wParam, lParam, bHandled);
            if (bHandled) return TRUE;
            break;
        case WM_SYSCOMMAND:
            lResult = OnSysCommand(uMsg, wParam, lParam, bHandled);
            if (bHandled) return TRUE;
            break;
        case WM_CLOSE:
            lResult = OnClose(uMsg, wParam, lParam, bHandled);
            return TRUE;
        case WM_COMMAND:
            lResult = OnCommand(LOWORD(wParam), bHandled);
            if (bHandled) return TRUE;
            break;
        case WM_STREAM_EVENT:
            onStreamEvent(reinterpret_cast<Stream*>(wParam), static_cast<int>(lParam));
            lResult = 0;
            return TRUE;
        case WM_STREAM_ROW:
            stream_list.updateStreamName(reinterpret_cast<Stream*>(wParam), *reinterpret_cast<const std::string*>(lParam));
            lResult = 0;
            return TRUE;
        case WM_STREAM_STATISTICS:
            showStatistics(reinterpret_cast<Stream*>(wParam), static_cast<std::uint32_t>(lParam));
            lResult = 0;
            return TRUE;
        case WM_ERROR_BOX:
            lResult = OnErrorBox();
            return TRUE;
        default:
            if (uMsg == TrayMessage()) {
                lResult = OnTrayIcon(uMsg, wParam, lParam, bHandled);
                return TRUE;
            }
            break;
        }
    } catch (...) {
        reportFailure("a window message");
        lResult = 0;
        return TRUE;
    }
    (void)hWnd;
    // Notifications (list, tabs, custom draw) go back to their controls.
    bHandled = TRUE;
    lResult = ReflectNotifications(uMsg, wParam, lParam, bHandled);
    return bHandled;
}

// ---------------------------------------------------------------- lifecycle
LRESULT CMainDlg::OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    DoDataExchange(FALSE);
    placeWindow();
    SetWindowText(L"Velmora");

    HICON idle = loadSmallIcon(IDI_IDLE);
    SetIcon(idle, FALSE);
    InstallIcon(idle);
    up_button.SetIcon(loadSmallIcon(IDI_STREAM_UP));
    down_button.SetIcon(loadSmallIcon(IDI_STREAM_DOWN));

    // The three views, each a tab labelled with its class name.
    const RECT none = {0, 0, 0, 0};
    if (monitor_view.Create(tab_view, none, nullptr, WS_CHILD, WS_EX_STATICEDGE))
        tab_view.AddTab(L"Monitor", monitor_view);
    if (clients_view.Create(tab_view, none, nullptr, WS_CHILD, WS_EX_STATICEDGE))
        tab_view.AddTab(L"Clients", clients_view);
    if (history_view.Create(tab_view, none, nullptr, WS_CHILD, WS_EX_STATICEDGE))
        tab_view.AddTab(L"History", history_view);

    vu_left.prerender();
    vu_right.prerender();

    stream_list.init(&streams);
    initControls();

    try {
        playback_callback::create(playback_cb, this);
    } catch (...) {
        reportFailure("registering for track changes");
    }
    try {
        psc_callback::create(capture_callback);
    } catch (...) {
        reportFailure("registering for the played audio");
    }

    if (common.connect_on_startup) {
        connect_button.SendMessage(WM_ACTIVATE, WA_ACTIVE);
        connect_button.SendMessage(BM_CLICK);
    }
    return FALSE;
}

void CMainDlg::placeWindow() {
    RECT at = {common.window_left, common.window_top, common.window_left, common.window_top};
    RECT frame = {};
    GetWindowRect(&frame);
    at.right = at.left + (frame.right - frame.left);
    at.bottom = at.top + (frame.bottom - frame.top);
    // A position outside every monitor (a screen that went, a broken
    // file) comes back onto the nearest one's work area.
    if (!::MonitorFromRect(&at, MONITOR_DEFAULTTONULL)) {
        MONITORINFO monitor = {};
        monitor.cbSize = sizeof(monitor);
        if (::GetMonitorInfoW(::MonitorFromRect(&at, MONITOR_DEFAULTTONEAREST), &monitor)) {
            const RECT& work = monitor.rcWork;
            const LONG width = at.right - at.left, height = at.bottom - at.top;
            at.left = std::max(work.left, std::min(at.left, work.right - width));
            at.top = std::max(work.top, std::min(at.top, work.bottom - height));
        }
    }
    SetWindowPos(HWND_TOP, at.left, at.top, 0, 0, SWP_NOSIZE);
}

void CMainDlg::initControls() {
    volume_trackbar.SetRange(-100, 0, TRUE);
    volume_trackbar.SetTicFreq(25);
    volume_trackbar.SetPageSize(10);
    volume_trackbar.SetLineSize(1);
    volume_trackbar.SetPos(-common.vol);
    setVolumeCaption();
    applyGain();
    title_edit.SetWindowText(wide(common.title_format).c_str());
    auto_update_check.SetCheck(common.auto_update_metadata ? BST_CHECKED : BST_UNCHECKED);
    startup_check.SetCheck(common.connect_on_startup ? BST_CHECKED : BST_UNCHECKED);
    reconnect_check.SetCheck(common.auto_reconnect ? BST_CHECKED : BST_UNCHECKED);
    mute_check.SetCheck(common.mute ? BST_CHECKED : BST_UNCHECKED);
    vu_check.SetCheck(common.vumeter_switch ? BST_CHECKED : BST_UNCHECKED);
}

LRESULT CMainDlg::OnSysCommand(UINT, WPARAM wParam, LPARAM, BOOL& bHandled) {
    if ((wParam & 0xFFF0) != SC_MINIMIZE) {
        bHandled = FALSE;
        return 0;
    }
    // Kept for the settings: a minimised window's rectangle lies far off
    // the screen.
    if (!::IsIconic(m_hWnd) && GetWindowRect(&normal_rect)) have_normal_rect = true;
    // Minimised, then hidden: the default minimising would show the
    // hidden window again.
    ShowWindow(SW_MINIMIZE);
    ShowWindow(SW_HIDE);
    return 0;
}

LRESULT CMainDlg::OnClose(UINT, WPARAM, LPARAM, BOOL&) {
    if (isAnyStreamRunning()) {
        const int answer = MessageBox(L"Disconnect all and exit?", L"Velmora",
                                      MB_OKCANCEL | MB_ICONINFORMATION | MB_DEFBUTTON2);
        if (answer != IDOK) return 0;
    }
    DestroyWindow();
    return 0;
}

LRESULT CMainDlg::OnDestroy(UINT, WPARAM, LPARAM, BOOL& bHandled) {
    bHandled = FALSE;
    // The streams stop before the worker is waited for: a stop ends the
    // title or listener request the worker may be in (a server that
    // trickles its reply would hold it up to the exchange limit). Each is
    // asked before any is waited for: none then starts a program (an Ogg
    // title's restart) while the ones before it end.
    for (auto& stream : streams) {
        try {
            if (stream->status().running) stream->askStop();
        } catch (...) {
            reportFailure("stopping a stream");
        }
    }
    for (auto& stream : streams) {
        try {
            if (stream->status().running) stream->stop();
        } catch (...) {
            reportFailure("stopping a stream");
        }
    }
    try {
        endWorker(false);
    } catch (...) {
        reportFailure("ending the window's worker");
    }
    // A hidden window keeps its rectangle; a minimised one gives the one
    // it had before.
    RECT rect = {};
    if (::IsIconic(m_hWnd) && have_normal_rect) {
        rect = normal_rect;
    } else if (::IsIconic(m_hWnd)) {
        WINDOWPLACEMENT placement = {};
        placement.length = sizeof(placement);
        ::GetWindowPlacement(m_hWnd, &placement);
        rect = placement.rcNormalPosition;
    } else {
        GetWindowRect(&rect);
    }
    common.window_top = rect.top;
    common.window_left = rect.left;
    try {
        common.title_format = titlePattern();
    } catch (...) {
        reportFailure("reading the title pattern");
    }
    return 0;
}

// ---------------------------------------------------------------- commands
LRESULT CMainDlg::OnCommand(WORD id, BOOL& bHandled) {
    switch (id) {
    case IDC_ADD_STREAM: OnAddStream(); break;
    case IDC_REMOVE_STREAM: OnRemoveStream(); break;
    case IDC_STREAM_UP: OnStreamUp(); break;
    case IDC_STREAM_DOWN: OnStreamDown(); break;
    case IDC_CONNECT:
    case ID_TRAY_CONNECT: OnConnect(); break;
    case IDC_CONFIG: OnConfig(); break;
    case IDC_UPDATE_METADATA: OnUpdateMetadata(); break;
    case IDC_UPDATE_CLIENTS: OnUpdateClients(); break;
    case IDC_MUTE: OnMute(); break;
    case IDC_AUTO_UPDATE: common.auto_update_metadata = auto_update_check.GetCheck() == BST_CHECKED; break;
    case IDC_CONNECT_ON_STARTUP: common.connect_on_startup = startup_check.GetCheck() == BST_CHECKED; break;
    case IDC_AUTO_RECONNECT:
        common.auto_reconnect = reconnect_check.GetCheck() == BST_CHECKED;
        auto_reconnect = common.auto_reconnect;
        break;
    case IDC_VU_SWITCH: OnVuMeter(); break;
    case ID_TRAY_OPEN: OnOpen(); break;
    case ID_COPY_LISTEN_URL: OnCopyListenUrl(); break;
    case ID_COPY_STREAM_URL: OnCopyStreamUrl(); break;
    case ID_TRAY_EXIT: OnExit(); break;
    default: bHandled = FALSE; break;
    }
    return 0;
}

std::unique_lock<std::mutex> CMainDlg::lockWorkerPumping() {
    std::unique_lock<std::mutex> lock(worker_signal.mutex(), std::defer_lock);
    while (!lock.try_lock()) serveMessagesOrSleep();
    return lock;
}

void CMainDlg::OnAddStream() {
    auto lock = lockWorkerPumping();
    stream_list.addStream(this);
}

void CMainDlg::OnRemoveStream() {
    std::unique_ptr<Stream> removed;
    {
        auto lock = lockWorkerPumping();
        // The selection follows the row that takes the removed one's place.
        if (stream_list.deleteSelected(&removed)) onListBoxEvent(&stream_list, EVENT_SELECTED);
    }
    // Ended without the worker's lock: it may wait for a worker of its own
    // that is still ending, serving window messages meanwhile, and a
    // command served then posts to the window's worker.
    removed.reset();
}

void CMainDlg::OnStreamUp() {
    auto lock = lockWorkerPumping();
    stream_list.moveUp();
}

void CMainDlg::OnStreamDown() {
    auto lock = lockWorkerPumping();
    stream_list.moveDown();
}

void CMainDlg::OnConnect() {
    Stream* stream = selected_stream.load();
    if (!stream) return;
    if (stream->status().running)
        stream->stop();
    else
        stream->start(capture_callback.get());
}

void CMainDlg::OnConfig() {
    Stream* stream = selected_stream.load();
    if (!stream) return;
    EncoderSettings encoder = stream->encoderSettings();
    ServerSettings server = stream->serverSettings();
    OptionSheet sheet(&encoder, &server, L"Configuration");
    if (sheet.DoModal(m_hWnd) != IDOK) return;
    if (server.type == SERVER_SHOUTCAST2 || isOggFormat(encoder.format)) server.yp.charset = "UTF-8";
    stream->setEncoderSettings(encoder);
    stream->setServerSettings(server);
    monitor_view.fill(encoder, server);
    stream_list.updateStreamName(stream, server.yp.name);
}

void CMainDlg::OnUpdateMetadata() { requestMetadataUpdate(false); }

void CMainDlg::OnUpdateClients() {
    Stream* stream = selected_stream.load();
    if (!stream) return;
    const StreamStatus status = stream->status();
    if (!status.running) {
        clients_view.DeleteAllItems();
        return;
    }
    if (stream->serverSettings().type == SERVER_SHOUTCAST2 && !status.clients_requested) {
        std::string user, password;
        CDlgAuth dialog(&user, &password);
        if (dialog.DoModal(m_hWnd) != IDOK) return;
        stream->setAdminCredentials(user, password);
    }
    worker_signal.post(WORKER_CLIENTS);
}

void CMainDlg::setVolumeCaption() {
    const std::string caption = common.mute ? std::string("Volume 0%") : Poco::format("Volume %d%%", static_cast<int>(common.vol));
    volume_group.SetWindowText(wide(caption).c_str());
}

void CMainDlg::applyGain() {
    setOutputGain(common.mute ? 0.0f : static_cast<float>(static_cast<double>(common.vol) / 100.0));
    meter_controls->volume = common.vol;
    meter_controls->mute = common.mute;
}

LRESULT CMainDlg::OnVScroll(UINT, WPARAM, LPARAM lParam, BOOL& bHandled) {
    if (reinterpret_cast<HWND>(lParam) != volume_trackbar.m_hWnd || !volume_trackbar.m_hWnd) {
        bHandled = FALSE;
        return 0;
    }
    if (common.mute) {
        mute_check.SetCheck(BST_UNCHECKED);
        common.mute = false;
    }
    common.vol = std::clamp(-volume_trackbar.GetPos(), 0, 100);
    applyGain();
    setVolumeCaption();
    return 0;
}

void CMainDlg::OnMute() {
    common.mute = mute_check.GetCheck() == BST_CHECKED;
    applyGain();
    setVolumeCaption();
}

void CMainDlg::OnVuMeter() {
    common.vumeter_switch = vu_check.GetCheck() == BST_CHECKED;
    if (common.vumeter_switch) {
        if (!meter_updater && isAnyStreamRunning()) createMeterUpdater();
    } else {
        meter_updater.reset();
    }
}

void CMainDlg::OnOpen() {
    ShowWindow(SW_SHOWNORMAL);
    SetForegroundWindow();
}

void CMainDlg::OnCopyListenUrl() {
    Stream* stream = selected_stream.load();
    if (!stream) return;
    const ServerSettings server = stream->serverSettings();
    std::string url = Poco::format("http://%s:%d/", server.host, static_cast<int>(server.port));
    if (server.type == SERVER_ICECAST2)
        url += server.mount_point.compare(0, 1, "/") == 0 ? server.mount_point.substr(1) : server.mount_point;
    else if (server.type == SERVER_SHOUTCAST2)
        url += "listen.pls?sid=" + std::to_string(server.stream_id);
    copyToClipboard(m_hWnd, wide(url));
}

void CMainDlg::OnCopyStreamUrl() {
    Stream* stream = selected_stream.load();
    if (!stream) return;
    copyToClipboard(m_hWnd, wide(stream->serverSettings().yp.url));
}

void CMainDlg::OnExit() { PostMessage(WM_CLOSE); }

void CMainDlg::adjustMenu(HMENU menu) {
    Stream* stream = selected_stream.load();
    const bool running = stream && stream->status().running;
    WTL::CMenuHandle(menu).SetItemText(ID_TRAY_CONNECT, running ? L"Disconnect(&D)" : L"Connect(&C)");
}

// ---------------------------------------------------------------- selection
void CMainDlg::onListBoxEvent(CListBoxStreams* list, int kind) {
    const int row = list->GetNextItem(-1, LVNI_SELECTED);
    if (row < 0 || static_cast<std::size_t>(row) >= streams.size()) return;
    Stream* stream = streams[static_cast<std::size_t>(row)].get();
    selected_stream = stream;
    refreshControls();
    if (kind == EVENT_DOUBLE_CLICK && !stream->status().running) config_button.SendMessage(BM_CLICK);
}

void CMainDlg::refreshControls() {
    Stream* stream = selected_stream.load();
    if (!stream) return;
    const StreamStatus status = stream->status();
    connect_button.SetWindowText(status.running ? L"Disconnect" : L"Connect");
    config_button.EnableWindow(!status.running);
    monitor_view.setStatus(status.running ? L"Connected" : L"Disconnected");
    monitor_view.fill(stream->encoderSettings(), stream->serverSettings());
    monitor_view.setTransferRate(static_cast<std::uint32_t>(status.bytes_this_second));
    monitor_view.setBytesSent(status.bytes_sent);
    monitor_view.setElapsedTime(status.seconds);
    clients_view.DeleteAllItems();
    history_view.fill(stream->titleRecords());
}

bool CMainDlg::isAnyStreamRunning() const {
    for (const auto& stream : streams)
        if (stream->status().running) return true;
    return false;
}

// ---------------------------------------------------------------- titles
std::string CMainDlg::titlePattern() {
    if (!title_edit.m_hWnd) return common.title_format;
    return toUtf8(title_edit.GetLine(0, kPatternLength));
}

void CMainDlg::formatCurrentTitle() {
    const std::string pattern = titlePattern();
    std::string title;
    if (!formatTitle(pattern, title)) return;
    std::lock_guard<std::mutex> lock(title_mutex);
    current_title = title;
}

std::string CMainDlg::currentTitle() const {
    std::lock_guard<std::mutex> lock(title_mutex);
    return current_title;
}

void CMainDlg::requestMetadataUpdate(bool all) {
    formatCurrentTitle();
    monitor_view.setMetadata(wide(currentTitle()));
    if (!worker.joinable()) return;
    // Never refused: a busy worker serves it as soon as it is free.
    titles_due.fetch_or(all ? kTitleAll : kTitleSelected);
    worker_signal.markDue();
}

void CMainDlg::updateTitle(bool all) {
    std::string title, artist;
    const bool has_title = formatTitle("%title%", title);
    const bool has_artist = formatTitle("%artist%", artist);
    if (!has_title && !has_artist) return;
    Stream* selected = selected_stream.load();
    if (all) {
        for (auto& stream : streams) {
            if (!stream->status().running) continue;
            stream->addTitle(artist, title);
            if (stream.get() == selected) history_view.fill(stream->titleRecords());
        }
    } else if (selected) {
        selected->addTitle(artist, title);
        history_view.fill(selected->titleRecords());
    }
}

// ---------------------------------------------------------------- stream events
bool CMainDlg::onWindowThread() const {
    return !m_hWnd || ::GetWindowThreadProcessId(m_hWnd, nullptr) == ::GetCurrentThreadId();
}

void CMainDlg::checkStart(Stream* stream) {
    const ServerSettings server = stream->serverSettings();
    if (server.type != SERVER_SHOUTCAST2) return;
    for (const auto& other : streams) {
        if (other.get() == stream || !other->status().running) continue;
        if (other->serverSettings().stream_id == server.stream_id)
            throw std::runtime_error("streamid is already used by another stream.");
    }
}

void CMainDlg::onStreamEvent(Stream* stream, int event) {
    // Nothing leaves this handler into the stream.
    try {
        if ((event == EVENT_STARTED || event == EVENT_STOPPED || event == EVENT_RECONNECTING) &&
            !onWindowThread()) {
            // The window's thread makes and ends the worker and the meter
            // updater, one event at a time, and alone changes the stream
            // list; this thread waits meanwhile.
            SendMessage(WM_STREAM_EVENT, reinterpret_cast<WPARAM>(stream), event);
            return;
        }
        const StreamStatus status = stream->status();
        const std::string name = streamName(stream);
        switch (event) {
        case EVENT_STARTED:
            onStarted(stream, status, name);
            break;
        case EVENT_STOPPED:
            onStopped(stream, name);
            break;
        case EVENT_RECONNECTING:
            if (stream == selected_stream.load()) monitor_view.setStatus(L"Reconnecting...");
            stream_list.updateStreamName(stream, name + CListBoxStreams::attemptCount(status));
            break;
        case EVENT_STATISTICS:
            // The bytes of the second just ended are in the status only
            // while this event lasts (the stream starts counting the next
            // second after it): the rate goes with the message.
            if (!onWindowThread()) {
                // Shown when the window's thread comes to it: the stream's
                // worker never waits for the window for its statistics.
                if (stream == selected_stream.load())
                    PostMessage(WM_STREAM_STATISTICS, reinterpret_cast<WPARAM>(stream),
                                static_cast<LPARAM>(static_cast<std::uint32_t>(status.bytes_this_second)));
            } else {
                showStatistics(stream, static_cast<std::uint32_t>(status.bytes_this_second));
            }
            break;
        case EVENT_ERROR:
            onError(stream, status, name);
            break;
        default:
            break;
        }
    } catch (...) {
        reportFailure("handling a stream event");
    }
}

void CMainDlg::showStatistics(Stream* stream, std::uint32_t bytes_per_second) {
    // Only the selected stream's, and only while the window holds it (a
    // posted tick may come after the stream was removed).
    if (stream != selected_stream.load()) return;
    const StreamStatus status = stream->status();
    monitor_view.setTransferRate(bytes_per_second);
    monitor_view.setBytesSent(status.bytes_sent);
    monitor_view.setElapsedTime(status.seconds);
}

void CMainDlg::onStarted(Stream* stream, const StreamStatus& status, const std::string& name) {
    startStreaming();
    if (stream == selected_stream.load()) refreshControls();
    if (!status.reconnecting) {
        if (common.auto_update_metadata && status.running) requestMetadataUpdate(false);
        updateTitle(false);
    } else {
        console_printf("velmora: Reconnection succeeded: %s", name.c_str());
    }
    stream_list.Invalidate(TRUE);
    console_printf("velmora: Streaming start: %s", name.c_str());
}

void CMainDlg::onStopped(Stream* stream, const std::string& name) {
    if (!isAnyStreamRunning()) {
        meter_updater.reset();
        setIcon(IDI_IDLE);
        endWorker(true);
    }
    if (stream == selected_stream.load()) refreshControls();
    stream_list.Invalidate(TRUE);
    console_printf("velmora: Streaming finish: %s", name.c_str());
}

void CMainDlg::onError(Stream* stream, const StreamStatus& status, const std::string& name) {
    console_printf("velmora: Error: %s", name.c_str());
    if (auto_reconnect.load() && status.running) {
        // A running stream failed: its worker reconnects it here.
        connect_button.EnableWindow(FALSE);
        if (stream->reconnect()) console_printf("velmora: metadata update: %s", name.c_str());
        connect_button.EnableWindow(TRUE);
        if (stream->status().reconnect_count == 3) stream->stop();
        setRowText(stream, name);
        return;
    }
    // A start that failed (the stream-id clash among them), or no
    // reconnection wanted.
    stream->stop();
    showErrorBox(wide(status.error_text), wide(name));
}

void CMainDlg::setRowText(Stream* stream, const std::string& text) {
    if (onWindowThread())
        stream_list.updateStreamName(stream, text);
    else
        SendMessage(WM_STREAM_ROW, reinterpret_cast<WPARAM>(stream), reinterpret_cast<LPARAM>(&text));
}

void CMainDlg::showErrorBox(const std::wstring& text, const std::wstring& caption) {
    // Shown by the window's thread once this thread has gone on: a stream
    // worker never waits for the user.
    {
        std::lock_guard<std::mutex> lock(boxes_mutex);
        pending_boxes.emplace_back(text, caption);
    }
    if (!m_hWnd || !PostMessage(WM_ERROR_BOX)) {
        std::lock_guard<std::mutex> lock(boxes_mutex);
        if (!pending_boxes.empty()) pending_boxes.pop_back();
        console_printf("velmora: %s: %s", toUtf8(caption).c_str(), toUtf8(text).c_str());
    }
}

LRESULT CMainDlg::OnErrorBox() {
    std::pair<std::wstring, std::wstring> box;
    {
        std::lock_guard<std::mutex> lock(boxes_mutex);
        if (pending_boxes.empty()) return 0;
        box = std::move(pending_boxes.front());
        pending_boxes.pop_front();
    }
    MessageBox(box.first.c_str(), box.second.c_str(), MB_OK | MB_ICONINFORMATION);
    return 0;
}

// ---------------------------------------------------------------- worker and meters
void CMainDlg::setIcon(int id) {
    HICON icon = loadSmallIcon(id);
    SetIcon(icon, FALSE);
    ChangeIcon(icon);
}

void CMainDlg::createMeterUpdater() {
    try {
        meter_updater = std::make_unique<VUMeterUpdater>(&vu_left, &vu_right, kMeterInterval,
                                                         std::shared_ptr<const MeterControls>(meter_controls));
    } catch (...) {
        // The window goes on without moving meters.
        reportFailure("starting the level meters");
    }
}

void CMainDlg::startStreaming() {
    if (common.vumeter_switch && !meter_updater) createMeterUpdater();
    // While the worker is being ended, whoever ends it starts it again
    // when a stream runs by then.
    if (!worker.joinable() && !worker_ending) {
        setIcon(IDI_STREAMING);
        startWorker();
    }
}

void CMainDlg::startWorker() {
    worker_signal.reset();
    titles_due = 0;
    worker_finished = false;
    worker_entered = false;
    worker = std::thread(&CMainDlg::workerThread, this);
    // Returns once the worker waits for its first command: a post made
    // while it was still on its way there would be refused and lost (a
    // listener request; titles are marked due instead). The worker holds
    // the lock only until it waits, and does nothing else meanwhile.
    while (!worker_entered.load() && !worker_finished.load()) std::this_thread::yield();
    std::lock_guard<std::mutex> waiting(worker_signal.mutex());
}

void CMainDlg::endWorker(bool restart) {
    if (!worker.joinable() || worker_ending) return;
    worker_ending = true;
    std::thread ending = std::move(worker);
    while (!worker_signal.post(WORKER_EXIT)) serveMessagesOrSleep();
    // The worker may be waiting for this thread (it fills the Clients
    // view through window messages).
    while (!worker_finished.load()) serveMessagesOrSleep();
    ending.join();
    worker_signal.reset();
    worker_ending = false;
    // A stream started while the worker ended (its start was served here).
    if (restart && isAnyStreamRunning() && m_hWnd) startStreaming();
}

void CMainDlg::workerThread() {
    struct Finished {
        std::atomic<bool>& flag;
        ~Finished() { flag = true; }
    } finished{worker_finished};
    try {
        for (;;) {
            std::unique_lock<std::mutex> lock(worker_signal.mutex());
            worker_entered = true;
            const int command = worker_signal.wait(lock);
            if (command == WORKER_EXIT) return;
            try {
                runWorkerCommand(command);
            } catch (...) {
                reportFailure("a request of the window's worker");
            }
        }
    } catch (...) {
        reportFailure("the window's worker");
    }
}

void CMainDlg::runWorkerCommand(int command) {
    switch (command) {
    case CommandSignal::kDue: {
        // Every title request made since the last one is served here, with
        // the current title; all streams take in the selected one.
        const int due = titles_due.exchange(0);
        if (due & kTitleAll) {
            if (isAnyStreamRunning())
                for (auto& stream : streams) updateMetadata(stream.get());
        } else if (due & kTitleSelected) {
            updateMetadata(selected_stream.load());
        }
        break;
    }
    case WORKER_CLIENTS:
        updateClients(selected_stream.load());
        break;
    default:
        break;
    }
}

void CMainDlg::updateMetadata(Stream* stream) {
    if (!stream || !stream->status().running) return;
    const std::string name = streamName(stream);
    try {
        if (stream->updateMetadata(currentTitle()))
            console_printf("velmora: metadata update: %s", name.c_str());
        // A stream whose worker has just failed is stopped instead when
        // the reconnection is off.
        else if ((auto_reconnect.load() || stream->status().reconnecting) && stream->reconnectionNoticeDue())
            console_printf("velmora: metadata update postponed: %s (will be sent when the stream reconnects)",
                           name.c_str());
    } catch (const StreamStopped&) {
        // Ended by the stream's stop: no error.
    } catch (...) {
        console_printf("velmora: metadata update error: %s: %s", name.c_str(), currentFailureText().c_str());
    }
}

void CMainDlg::updateClients(Stream* stream) {
    if (!stream || !stream->status().running) return;
    const std::string name = streamName(stream);
    try {
        const std::string text = stream->listClients();
        clients_view.refresh(text);
        console_printf("velmora: client list update: %s", name.c_str());
    } catch (const StreamReconnecting&) {
        if (stream->reconnectionNoticeDue())
            console_printf("velmora: client list update skipped: %s: the stream is reconnecting", name.c_str());
    } catch (const StreamStopped&) {
        // Ended by the stream's stop: no error.
    } catch (...) {
        console_printf("velmora: client list update error: %s: %s", name.c_str(), currentFailureText().c_str());
    }
}
