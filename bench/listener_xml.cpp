// Reading listener lists for the Clients view: the time to parse them and
// the heap the parsed document holds afterwards.
//
// - a list with 125,000 other elements in front of 10,970 listeners (about
//   1 MiB): each listener's fields must be found without walking what
//   stands before the listeners again; target under 1 s;
// - a full-length list (16 MiB, the longest reply taken) of some 90,000
//   listeners in icecast's shape: target under 5 s and under 400 MiB of
//   heap held, so that the 32-bit player is not starved;
// - the longest refused documents (too many elements, too many names) are
//   refused within the same times.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <Poco/Exception.h>

#include "ui/listener_xml.h"

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

double heap_mib() {
#if defined(__GLIBC__)
    return static_cast<double>(mallinfo2().uordblks) / (1024.0 * 1024.0);
#else
    return -1;
#endif
}

void measure(const char* what, const std::string& text, double target_s, double target_mib) {
    Poco::AutoPtr<Poco::Util::XMLConfiguration> document;
    std::vector<ClientInfo> records;
    const double heap_before = heap_mib();
    const auto start = clock_type::now();
    std::string outcome;
    try {
        parseListenerXml(text, document, records);
        outcome = std::to_string(records.size()) + " listeners";
    } catch (const Poco::Exception& e) {
        outcome = "refused: " + e.displayText();
    }
    const double took = seconds_since(start);
    const double held = heap_mib() - heap_before;
    std::printf("%-34s %6.2f MiB  %7.3f s (target < %.1f s)  heap held %7.1f MiB (target < %.0f MiB)  %s\n", what,
                static_cast<double>(text.size()) / (1024.0 * 1024.0), took, target_s, held, target_mib,
                outcome.c_str());
}

std::string repeat(const std::string& piece, std::size_t times) {
    std::string text;
    text.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) text += piece;
    return text;
}

}  // namespace

int main() {
    measure("others before listeners",
            "<icestats><source>" + repeat("<x/>", 125000) +
                repeat("<listener><IP/><UserAgent/><Connected/></listener>", 10970) + "</source></icestats>",
            1.0, 400);

    std::string full = "<?xml version=\"1.0\"?>\n<icestats><source mount=\"/stream\"><Listeners>0</Listeners>";
    for (int i = 0; full.size() < kMaxListenerXml - 400; ++i)
        full += "<listener><IP>10." + std::to_string(i / 65536 % 256) + "." + std::to_string(i / 256 % 256) + "." +
                std::to_string(i % 256) +
                "</IP><UserAgent>Mozilla/5.0 (X11; Linux x86_64) player/" + std::to_string(i % 97) +
                "</UserAgent><Connected>" + std::to_string(i * 7 % 86400) + "</Connected><ID>" + std::to_string(i) +
                "</ID></listener>";
    full += "</source></icestats>\n";
    measure("full-length icecast list", full, 5.0, 400);

    std::string elements = "<icestats><source>" + repeat("<x/>", kMaxListenerXmlElements + 1) + "</source></icestats>";
    measure("too many elements", elements, 5.0, 400);
    std::string names = "<icestats><source";
    for (int i = 0; names.size() < kMaxListenerXml - 100; ++i) names += " a" + std::to_string(i) + "=\"\"";
    names += "/></icestats>";
    measure("one tag, too many attributes", names, 5.0, 400);
    return 0;
}
