#include "listener_documents.h"

namespace {

std::string escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string element(const std::string& name, const std::string& value)
{
    return "<" + name + ">" + escape(value) + "</" + name + ">";
}

}  // namespace

std::vector<ListenerEntry> sampleListeners()
{
    return {{"127.0.0.1", "Murmelo/5.66, Zentra/2.1", "5"},
            {"192.0.2.17", "", "3725"},
            {"listener.example", "Quabble/3.0.18 LibQuabble/3.0.18", "1h 2m"}};
}

std::string shoutcast1Statistics(const std::vector<ListenerEntry>& listeners, const std::string& song_title)
{
    std::string xml = "<?xml version=\"1.0\" standalone=\"yes\" ?>\n<SHOUTCASTSERVER>";
    xml += element("CURRENTLISTENERS", std::to_string(listeners.size())) + element("PEAKLISTENERS", "4") +
           element("MAXLISTENERS", "32") + element("REPORTEDLISTENERS", std::to_string(listeners.size())) +
           element("AVERAGETIME", "1204") + element("SERVERGENRE", "Jazz") +
           element("SERVERURL", "http://example.org/") + element("SERVERTITLE", "Velmora Test") +
           element("SONGTITLE", song_title) + element("SONGURL", "") + element("IRC", "N/A") + element("ICQ", "0") +
           element("AIM", "N/A") + element("WEBHITS", "112") + element("STREAMHITS", "37") +
           element("STREAMSTATUS", "1") + element("BITRATE", "128") + element("CONTENT", "audio/mpeg") +
           element("VERSION", "1.9.8 (posix(linux x86))");
    xml += "<LISTENERS>";
    for (std::size_t i = 0; i < listeners.size(); ++i) {
        const ListenerEntry& l = listeners[i];
        xml += "<LISTENER>" + element("HOSTNAME", l.host) + element("USERAGENT", l.user_agent) +
               element("UNDERRUNS", "0") + element("CONNECTTIME", l.connect_time) + element("POINTER", "0") +
               element("UID", std::to_string(i + 1)) + "</LISTENER>";
    }
    xml += "</LISTENERS><SONGHISTORY>";
    xml += "<SONG>" + element("PLAYEDAT", "1733532000") + element("TITLE", song_title) + "</SONG>";
    xml += "<SONG>" + element("PLAYEDAT", "1733531700") + element("TITLE", "Earlier & Before") + "</SONG>";
    xml += "</SONGHISTORY></SHOUTCASTSERVER>";
    return xml;
}

std::string shoutcast2Listeners(const std::vector<ListenerEntry>& listeners)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<SHOUTCASTSERVER><LISTENERS>";
    for (std::size_t i = 0; i < listeners.size(); ++i) {
        const ListenerEntry& l = listeners[i];
        xml += "<LISTENER>" + element("HOSTNAME", l.host) + element("USERAGENT", l.user_agent) +
               element("CONNECTTIME", l.connect_time) + element("UID", std::to_string(i + 1)) +
               element("TYPE", "1") + element("REFERER", "") + element("XFF", "") +
               element("GRID", std::to_string(1001 + i)) + element("TRIGGERS", "0") + "</LISTENER>";
    }
    xml += "</LISTENERS></SHOUTCASTSERVER>\n";
    return xml;
}
