#pragma once
// The stream list: the main window's list view (control 40010) with one
// row per stream of the window, in the order of the window's streams. Rows
// of running streams are bold, of reconnecting ones bold gray; the attempt
// count that the window appends to a reconnecting stream's name stays whole
// however narrow the list is. The window hears of selections and double
// clicks through ListBoxEventListener.
//
// The list works on the window's vector of streams: row i always shows
// element i. Its notifications reach it reflected by the main window.
#include <memory>
#include <string>
#include <vector>

#include "ui/controls.h"
#include "ui/gdi.h"

class CListBoxStreams;
class Stream;
class StreamEventListener;
struct StreamStatus;

class ListBoxEventListener {
public:
    enum : int { EVENT_SELECTED = 0, EVENT_DOUBLE_CLICK = 1 };
    virtual void onListBoxEvent(CListBoxStreams* list, int kind) = 0;

protected:
    ~ListBoxEventListener() = default;
};

class CListBoxStreams : public ATL::CWindowImpl<CListBoxStreams, WTL::CListViewCtrlT<ATL::CWindow>>,
                        public WTL::CCustomDraw<CListBoxStreams> {
public:
    using Streams = std::vector<std::unique_ptr<Stream>>;

    explicit CListBoxStreams(ListBoxEventListener* listener) : listener(listener) {}
    ~CListBoxStreams() override = default;

    // Takes the window's streams: the column, one row per stream, row 0
    // selected (which raises the selection event).
    void init(Streams* streams);
    // Appends a stream with the default server settings and the first saved
    // encoder preset, and its row; the selection stays.
    void addStream(StreamEventListener* stream_listener);
    // Removes the selected stream unless it is the last one or runs (false
    // then); the row at its place, or the new last row, is selected. The
    // stream ends once the list is whole again, or goes to `removed` when
    // given, for the caller to end.
    bool deleteSelected(std::unique_ptr<Stream>* removed = nullptr);
    // Moves the selected stream one place up or down; nothing at the ends.
    void moveUp();
    void moveDown();
    // The row text of that stream (UTF-8), when the list holds it.
    void updateStreamName(Stream* stream, const std::string& name);
    // What the window appends to a reconnecting stream's name in its row:
    // the attempt under way of the three, as "(2/3)".
    static std::string attemptCount(const StreamStatus& status);

    BEGIN_MSG_MAP(CListBoxStreams)
        REFLECTED_NOTIFY_CODE_HANDLER(LVN_ITEMCHANGED, OnItemChanged)
        REFLECTED_NOTIFY_CODE_HANDLER(NM_DBLCLK, OnDblClick)
        CHAIN_MSG_MAP(WTL::CCustomDraw<CListBoxStreams>)
        DEFAULT_REFLECTION_HANDLER()
    END_MSG_MAP()

    DWORD OnPrePaint(int, NMCUSTOMDRAW*) { return CDRF_NOTIFYITEMDRAW; }
    DWORD OnItemPrePaint(int, NMCUSTOMDRAW* draw);
    LRESULT OnItemChanged(int, NMHDR* header, BOOL&);
    LRESULT OnDblClick(int, NMHDR*, BOOL&);

private:
    void move(int from, int to);
    // Draws a reconnecting stream's row, whose text ends in its attempt
    // count, keeping that count whole; false when the text does not end so.
    bool drawWithAttemptCount(NMLVCUSTOMDRAW* item, bool selected, const std::string& attempt);

    WTL::CFont bold_font;
    ListBoxEventListener* const listener;
    Streams* streams = nullptr;
};
