// The Monitor view.
#include "ui/list_view_monitor.h"

#include "plugin/utils.h"
#include "ui/list_view_common.h"

namespace {

// Item texts in row order. The mount-point row is relabelled "Stream ID"
// for the SHOUTcast types but keeps its place in the map under this name.
const wchar_t* const kItems[] = {L"Status",      L"Name",   L"Description", L"Genre",         L"Charset",
                                 L"Metadata",    L"Server", L"Mount Point", L"Format",        L"Encoder",
                                 L"Transfer Rate", L"Bytes Sent", L"Elapsed Time"};

const wchar_t* const kServerTypes[] = {L"Icecast2", L"SHOUTcast1", L"SHOUTcast2"};
const wchar_t* const kFormats[] = {L"MP3", L"LC-AAC", L"HE-AAC", L"HE-AAC v2", L"Ogg Vorbis", L"Ogg FLAC", L"Ogg Opus"};

// A name from a table, or "Unknown" for a number outside it (a settings
// file edited by hand).
template <std::size_t N>
std::wstring nameOf(const wchar_t* const (&table)[N], std::int32_t index) {
    return index >= 0 && static_cast<std::size_t>(index) < N ? table[index] : L"Unknown";
}

std::wstring twoDigits(std::uint64_t n) {
    return (n < 10 ? L"0" : L"") + std::to_wstring(n);
}

}  // namespace

LRESULT CListViewMonitor::init(UINT uMsg, WPARAM wParam, LPARAM lParam, BOOL&) {
    if (DefWindowProc(uMsg, wParam, lParam) == -1) return -1;
    setUpReportView(m_hWnd, {{L"Item", 100}, {L"Value", 360}});
    int row = 0;
    for (const wchar_t* item : kItems) {
        LVITEMW entry = {};
        entry.mask = LVIF_TEXT | LVIF_PARAM;
        entry.iItem = row;
        entry.pszText = const_cast<wchar_t*>(item);
        entry.lParam = row;
        SendMessage(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&entry));
        rows[item] = row++;
    }
    SetColumnWidth(0, LVSCW_AUTOSIZE);
    reset();
    return 0;
}

int CListViewMonitor::rowOf(const std::wstring& item) const {
    auto found = rows.find(item);
    if (found == rows.end()) return -1;
    LVFINDINFOW find = {};
    find.flags = LVFI_PARAM;
    find.lParam = found->second;
    return static_cast<int>(SendMessage(LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)));
}

void CListViewMonitor::setValue(const std::wstring& item, const std::wstring& value) {
    int row = rowOf(item);
    if (row >= 0) SetItemText(row, 1, value.c_str());
}

void CListViewMonitor::fill(const EncoderSettings& encoder, const ServerSettings& server) {
    std::map<std::wstring, std::wstring> values;
    values[L"Name"] = fromUtf8(server.yp.name);
    values[L"Description"] = fromUtf8(server.yp.desc);
    values[L"Genre"] = fromUtf8(server.yp.genre);
    values[L"Charset"] = fromUtf8(server.yp.charset);
    values[L"Server"] = fromUtf8(server.host) + L" : " + std::to_wstring(static_cast<std::uint32_t>(server.port)) +
                        L" (" + nameOf(kServerTypes, server.type) + L")";

    // The mount-point row's label is written at once.
    int mount = rowOf(L"Mount Point");
    if (server.type == SERVER_ICECAST2) {
        if (mount >= 0) SetItemText(mount, 0, L"Mount Point");
        values[L"Mount Point"] = fromUtf8(server.mount_point);
    } else {
        if (mount >= 0) SetItemText(mount, 0, L"Stream ID");
        values[L"Mount Point"] = server.type == SERVER_SHOUTCAST2 ? std::to_wstring(server.stream_id) : L"unused";
    }

    values[L"Format"] = nameOf(kFormats, encoder.format) + L" | " + std::to_wstring(encoder.sampling_rate) + L"Hz | " +
                        (encoder.channel == 2 ? L"Stereo" : L"Mono");
    values[L"Encoder"] = fromUtf8(encoder.encoder_name) + L" (" + fromUtf8(encoder.description) + L")";

    for (const auto& row : rows) {
        auto value = values.find(row.first);
        if (value != values.end() && !value->second.empty()) setValue(row.first, value->second);
    }
}

void CListViewMonitor::setStatus(const std::wstring& status) { setValue(L"Status", status); }

void CListViewMonitor::setMetadata(const std::wstring& title) { setValue(L"Metadata", title); }

void CListViewMonitor::setTransferRate(std::uint32_t bytes_per_second) {
    // The product stays in 32 bits.
    const std::uint32_t kbps = bytes_per_second * 8u / 1000u;
    setValue(L"Transfer Rate",
             std::to_wstring(kbps) + L" [kbps] (" + std::to_wstring(bytes_per_second / 1000u) + L" [KB/s])");
}

void CListViewMonitor::setBytesSent(std::uint64_t bytes) {
    setValue(L"Bytes Sent", std::to_wstring(bytes / 1000000) + L"." + std::to_wstring(bytes / 100000 % 10) + L" [MB]");
}

void CListViewMonitor::setElapsedTime(std::uint64_t seconds) {
    setValue(L"Elapsed Time", std::to_wstring(seconds / 3600) + L":" + twoDigits(seconds % 3600 / 60) + L":" +
                                  twoDigits(seconds % 60));
}

void CListViewMonitor::reset() {
    setStatus(L"Disconnected");
    setBytesSent(0);
    setElapsedTime(0);
    setMetadata(L"");
    setTransferRate(0);
}

LRESULT CListViewMonitor::onContextMenu(UINT, WPARAM, LPARAM lParam, BOOL& bHandled) {
    // The view's parent is the tab control; the main window is its parent.
    if (!trackContextMenu(m_hWnd, lParam, 1, GetParent().GetParent())) bHandled = FALSE;
    return 0;
}
