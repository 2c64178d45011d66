// The stream list.
#include "ui/list_box_streams.h"

#include <algorithm>
#include <utility>

#include "engine/config.h"
#include "engine/stream.h"
#include "plugin/utils.h"

namespace {

// The list view's own space on either side of a row's text.
constexpr int kTextMargin = 5;

int textWidth(HDC dc, const std::wstring& text) {
    SIZE size = {};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

// The row's text as it fits `width` pixels in the context's font: the name
// is shortened, ending in "...", so that the attempt count (from `count`
// on) stays whole.
std::wstring fitted(HDC dc, const std::wstring& text, std::size_t count, int width) {
    if (textWidth(dc, text) <= width) return text;
    const std::wstring tail = L"..." + text.substr(count);
    int keep = 0;
    SIZE size = {};
    const int room = width - textWidth(dc, tail);
    if (room > 0) ::GetTextExtentExPointW(dc, text.c_str(), static_cast<int>(count), room, &keep, nullptr, &size);
    // Never half of a surrogate pair.
    if (keep > 0 && IS_HIGH_SURROGATE(text[static_cast<std::size_t>(keep - 1)])) --keep;
    return text.substr(0, static_cast<std::size_t>(keep)) + tail;
}

}  // namespace

void CListBoxStreams::init(Streams* window_streams) {
    HFONT base = GetFont();
    if (!base) base = static_cast<HFONT>(::GetStockObject(SYSTEM_FONT));
    LOGFONTW font = {};
    if (::GetObjectW(base, sizeof(font), &font) == sizeof(font)) {
        font.lfWeight = FW_BOLD;
        bold_font.CreateFontIndirect(&font);
    }
    streams = window_streams;
    RECT client = {};
    GetClientRect(&client);
    InsertColumn(0, L"Stream", LVCFMT_LEFT, client.right - client.left - 20);
    for (std::size_t i = 0; i < streams->size(); ++i)
        InsertItem(static_cast<int>(i), fromUtf8((*streams)[i]->serverSettings().yp.name).c_str());
    SetItemState(0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    listener->onListBoxEvent(this, ListBoxEventListener::EVENT_SELECTED);
}

void CListBoxStreams::addStream(StreamEventListener* stream_listener) {
    EncoderSettings encoder;
    ServerSettings server;
    Config* config = getConfig();
    config->loadStream(-1, encoder, server);
    config->loadEncoderSetting(0, encoder);
    streams->push_back(std::make_unique<Stream>(stream_listener, encoder, server));
    InsertItem(GetItemCount(), fromUtf8(server.yp.name).c_str());
}

bool CListBoxStreams::deleteSelected(std::unique_ptr<Stream>* removed) {
    const int count = GetItemCount();
    if (count < 2) return false;
    const int selected = GetSelectedIndex();
    if (selected < 0 || selected >= static_cast<int>(streams->size())) return true;
    if ((*streams)[static_cast<std::size_t>(selected)]->status().running) return false;
    // Taken out whole before it ends: its end may wait for a worker of its
    // own that is still ending, serving window messages meanwhile, and
    // those paint the rows from the streams.
    std::unique_ptr<Stream> gone = std::move((*streams)[static_cast<std::size_t>(selected)]);
    streams->erase(streams->begin() + selected);
    DeleteItem(selected);
    SelectItem(selected < count - 1 ? selected : count - 2);
    if (removed) *removed = std::move(gone);
    return true;
}

void CListBoxStreams::move(int from, int to) {
    std::wstring moving = GetItemText(from, 0);
    std::wstring other = GetItemText(to, 0);
    SetItemText(from, 0, other.c_str());
    SetItemText(to, 0, moving.c_str());
    std::swap((*streams)[static_cast<std::size_t>(from)], (*streams)[static_cast<std::size_t>(to)]);
    SelectItem(to);
}

void CListBoxStreams::moveUp() {
    const int selected = GetSelectedIndex();
    if (selected > 0) move(selected, selected - 1);
}

void CListBoxStreams::moveDown() {
    const int selected = GetSelectedIndex();
    if (selected >= 0 && selected < GetItemCount() - 1) move(selected, selected + 1);
}

void CListBoxStreams::updateStreamName(Stream* stream, const std::string& name) {
    for (std::size_t i = 0; i < streams->size(); ++i) {
        if ((*streams)[i].get() == stream) {
            SetItemText(static_cast<int>(i), 0, fromUtf8(name).c_str());
            return;
        }
    }
}

DWORD CListBoxStreams::OnItemPrePaint(int, NMCUSTOMDRAW* draw) {
    const std::size_t index = draw->dwItemSpec;
    if (!streams || index >= streams->size()) return CDRF_DODEFAULT;
    NMLVCUSTOMDRAW* item = reinterpret_cast<NMLVCUSTOMDRAW*>(draw);
    DWORD result = CDRF_DODEFAULT;
    // The selected row keeps the highlight colours whether or not the list
    // has the focus (the control's own unfocused highlight is barely
    // visible); it is drawn as a plain row in those colours.
    const bool selected = (GetItemState(static_cast<int>(index), LVIS_SELECTED) & LVIS_SELECTED) != 0;
    if (selected) {
        draw->uItemState &= ~static_cast<UINT>(CDIS_SELECTED | CDIS_FOCUS);
        item->clrText = ::GetSysColor(COLOR_HIGHLIGHTTEXT);
        item->clrTextBk = ::GetSysColor(COLOR_HIGHLIGHT);
        result = CDRF_NEWFONT;
    }
    const StreamStatus status = (*streams)[index]->status();
    if (status.running) {
        if (bold_font.m_hObject) ::SelectObject(draw->hdc, bold_font.m_hObject);
        if (status.reconnecting) item->clrText = selected ? RGB(192, 192, 192) : RGB(128, 128, 128);
        result = CDRF_NEWFONT;
    }
    // The list view would cut an attempt count off with the end of a long
    // name: such a row is drawn here, its name shortened instead.
    if (status.reconnecting && drawWithAttemptCount(item, selected, attemptCount(status)))
        return CDRF_SKIPDEFAULT;
    return result;
}

std::string CListBoxStreams::attemptCount(const StreamStatus& status) {
    return "(" + std::to_string(status.reconnect_count + 1) + "/3)";
}

bool CListBoxStreams::drawWithAttemptCount(NMLVCUSTOMDRAW* item, bool selected, const std::string& attempt) {
    const int index = static_cast<int>(item->nmcd.dwItemSpec);
    const std::wstring text = GetItemText(index, 0);
    const std::wstring suffix = fromUtf8(attempt);
    // (Until the window has renamed the row for this attempt, it is drawn
    // as any other.)
    if (text.size() < suffix.size() || text.compare(text.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    const std::size_t count = text.size() - suffix.size();
    RECT label = {};
    label.left = LVIR_LABEL;
    if (!SendMessage(LVM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&label))) return false;
    const HDC dc = item->nmcd.hdc;
    RECT area = label;
    area.left += kTextMargin;
    area.right -= kTextMargin;
    const std::wstring shown = fitted(dc, text, count, area.right - area.left);

    COLORREF background = static_cast<COLORREF>(SendMessage(LVM_GETBKCOLOR));
    if (background == CLR_NONE || background == CLR_DEFAULT) background = ::GetSysColor(COLOR_WINDOW);
    ::SetBkColor(dc, background);
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &label, nullptr, 0, nullptr);
    RECT box = label;
    box.right = std::min<LONG>(label.right, area.left + textWidth(dc, shown) + kTextMargin);
    if (selected) {
        ::SetBkColor(dc, item->clrTextBk);
        ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &box, nullptr, 0, nullptr);
    }
    ::SetTextColor(dc, item->clrText == CLR_DEFAULT ? ::GetSysColor(COLOR_WINDOWTEXT) : item->clrText);
    ::SetBkMode(dc, TRANSPARENT);
    ::DrawTextW(dc, shown.c_str(), static_cast<int>(shown.size()), &area,
                DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    if (item->nmcd.uItemState & CDIS_FOCUS) ::DrawFocusRect(dc, &box);
    return true;
}

LRESULT CListBoxStreams::OnItemChanged(int, NMHDR* header, BOOL&) {
    const NMLISTVIEW* change = reinterpret_cast<const NMLISTVIEW*>(header);
    if ((change->uChanged & LVIF_STATE) && (change->uNewState & LVIS_FOCUSED) && GetSelectedIndex() >= 0)
        listener->onListBoxEvent(this, ListBoxEventListener::EVENT_SELECTED);
    return 0;
}

LRESULT CListBoxStreams::OnDblClick(int, NMHDR*, BOOL&) {
    if (GetSelectedIndex() >= 0) listener->onListBoxEvent(this, ListBoxEventListener::EVENT_DOUBLE_CLICK);
    return 0;
}
