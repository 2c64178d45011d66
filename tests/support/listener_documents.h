#pragma once
// Listener documents in the shapes that SHOUTcast servers give from their
// admin.cgi: the v1 statistics (mode=viewxml) and the v2 listener page
// (mode=viewxml&page=3). The scripted servers serve them; tests of the
// listener view can parse them as they are.
#include <string>
#include <vector>

struct ListenerEntry {
    std::string host;
    std::string user_agent;
    // As the server gives it: seconds, or a text such as "1h 2m".
    std::string connect_time;
};

// The v1 server's whole statistics document: stream statistics, the
// listeners in their <LISTENERS> block and the song history.
std::string shoutcast1Statistics(const std::vector<ListenerEntry>& listeners, const std::string& song_title);

// The v2 server's listener page: <SHOUTCASTSERVER> with one <LISTENERS>
// block.
std::string shoutcast2Listeners(const std::vector<ListenerEntry>& listeners);

// Three listeners, the second one without a user agent.
std::vector<ListenerEntry> sampleListeners();
