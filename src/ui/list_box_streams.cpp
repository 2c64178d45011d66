// The stream list.
#include "ui/list_box_streams.h"

#include <utility>

#include "engine/config.h"
#include "engine/stream.h"
#include "plugin/utils.h"

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
    if (!status.running) return result;
    if (bold_font.m_hObject) ::SelectObject(draw->hdc, bold_font.m_hObject);
    if (status.reconnecting) item->clrText = selected ? RGB(192, 192, 192) : RGB(128, 128, 128);
    return CDRF_NEWFONT;
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
