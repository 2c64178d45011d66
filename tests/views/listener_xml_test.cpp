// Listener lists as the three kinds of server send them, and texts that no
// server should send.
#include <gtest/gtest.h>

#include <Poco/Exception.h>

#include <random>
#include <string>
#include <vector>

#include "listener_documents.h"
#include "mangled_text.h"
#include "ui/listener_xml.h"

namespace {

using Document = Poco::AutoPtr<Poco::Util::XMLConfiguration>;

std::string repeat(const std::string& piece, std::size_t times)
{
    std::string text;
    text.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        text += piece;
    return text;
}

std::string icecastListener(const std::string& ip, const std::string& agent, const std::string& connected)
{
    return "<listener><IP>" + ip + "</IP><UserAgent>" + agent + "</UserAgent><Connected>" + connected +
           "</Connected><ID>7</ID></listener>";
}

// The shape of icecast's listclients reply.
std::string icecastList(const std::string& listeners)
{
    return "<?xml version=\"1.0\"?>\n<icestats><source mount=\"/stream\"><Listeners>3</Listeners>" + listeners +
           "</source></icestats>\n";
}

std::string shoutcastListener(const std::string& host, const std::string& agent, const std::string& time)
{
    return "<LISTENER><HOSTNAME>" + host + "</HOSTNAME><USERAGENT>" + agent +
           "</USERAGENT><UNDERRUNS>0</UNDERRUNS><CONNECTTIME>" + time +
           "</CONNECTTIME><POINTER>0</POINTER><UID>12</UID></LISTENER>";
}

std::vector<std::string> fields(const std::vector<ClientInfo>& records)
{
    std::vector<std::string> out;
    for (const ClientInfo& r : records)
        out.push_back(r.ip + "|" + r.user_agent + "|" + r.connected);
    return out;
}

std::vector<std::string> parse(const std::string& text)
{
    Document document;
    std::vector<ClientInfo> records;
    parseListenerXml(text, document, records);
    EXPECT_FALSE(document.isNull());
    return fields(records);
}

}  // namespace

TEST(ListenerXml, ReadsIcecastListenersInDocumentOrder)
{
    std::string text = icecastList(icecastListener("10.1.2.3", "velmora-test-player/2.0", "5") +
                                   icecastListener("host.example", "Unknown", "3725") +
                                   icecastListener("::1", "Caf\xc3\xa9 Radio/1.0 <&>", "360000"));
    // Escaped markup in a field arrives as text.
    text.replace(text.find("<&>"), 3, "&lt;&amp;&gt;");
    EXPECT_EQ(parse(text), (std::vector<std::string>{"10.1.2.3|velmora-test-player/2.0|5",
                                                     "host.example|Unknown|3725",
                                                     "::1|Caf\xc3\xa9 Radio/1.0 <&>|360000"}));
}

TEST(ListenerXml, ReadsOnlyTheListenerBlockOfShoutcastDocuments)
{
    // A first-generation server's statistics whose other sections are no
    // XML: a title in Latin-1 and with bare markup characters.
    std::string v1 = shoutcast1Statistics(sampleListeners(), "Caf\xe9 <live> & more");
    const std::string history = "<SONGHISTORY>";
    v1.insert(v1.find(history) + history.size(), "<SONG><TITLE>A <b> & B</TITLE></SONGHISTORY>");
    std::vector<std::string> expected;
    for (const ListenerEntry& l : sampleListeners())
        expected.push_back(l.host + "|" + l.user_agent + "|" + l.connect_time);
    EXPECT_EQ(parse(v1), expected);
}

// Many other elements before many listeners: every listener is read, in
// order, in one walk (the time is measured in bench/listener_xml). Fields
// are the server's text as it stands.
TEST(ListenerXml, ListenersBehindManyOtherElements)
{
    std::string text = "<icestats><source>" + repeat("<x/>", 125000);
    for (int i = 0; i < 10970; ++i)
        text += "<listener><x/><IP>" + std::to_string(i) + "</IP><UserAgent>${source}</UserAgent><Connected>" +
                std::to_string(i % 60) + "</Connected><IP>not the first</IP></listener><x/>";
    text += "</source></icestats>";
    const std::vector<std::string> rows = parse(text);
    ASSERT_EQ(rows.size(), 10970u);
    for (std::size_t i : {0, 1, 5000, 10969})
        EXPECT_EQ(rows[i], std::to_string(i) + "|${source}|" + std::to_string(i % 60));
}

TEST(ListenerXml, DocumentsWithoutListenersGiveNone)
{
    const std::vector<std::string> none;
    EXPECT_EQ(parse(icecastList("")), none);
    EXPECT_EQ(parse("<icestats><source mount=\"" + repeat("m", 900 * 1024) + "\"/></icestats>"), none);
    EXPECT_EQ(parse("<SHOUTCASTSERVER><LISTENERS></LISTENERS></SHOUTCASTSERVER>"), none);
    EXPECT_EQ(parse("<?xml version=\"1.0\"?><iceresponse><message>ok</message></iceresponse>"), none);
    // An Icecast2 source without listeners: its SHOUTcast-named elements
    // are not looked at.
    EXPECT_EQ(parse("<icestats><source/><LISTENERS>" + shoutcastListener("a", "b", "1") +
                    "</LISTENERS></icestats>"),
              none);
}

// Texts a broken or hostile server may send: each is refused with an error
// that says why, quickly and with bounded memory, and what the last good
// list gave stays.
TEST(ListenerXml, RefusedTextsKeepTheLastList)
{
    const std::string laughs =
        "<?xml version=\"1.0\"?><!DOCTYPE icestats [<!ENTITY a \"" + repeat("x", 100) + "\">" +
        "<!ENTITY b \"" + repeat("&a;", 100) + "\"><!ENTITY c \"" + repeat("&b;", 100) + "\">" +
        "<!ENTITY d \"" + repeat("&c;", 100) + "\">]><icestats><source>" +
        icecastListener("&d;", "x", "1") + "</source></icestats>";
    const std::string external = "<?xml version=\"1.0\"?><!DOCTYPE icestats SYSTEM \"file:///etc/passwd\">"
                                 "<icestats/>";
    const std::string deep = repeat("<a>", 100000) + repeat("</a>", 100000);
    const std::string deep_listeners =
        "<SHOUTCASTSERVER><LISTENERS>" + repeat("<LISTENER>", 20000) + repeat("</LISTENER>", 20000) +
        "</LISTENERS></SHOUTCASTSERVER>";
    const std::string huge_attribute =
        "<icestats><source mount=\"" + repeat("m", kMaxListenerXml) + "\"/></icestats>";
    // More names than the parser's name pool holds: in elements, and in the
    // attributes of one start tag.
    std::string names = "<icestats><source>";
    for (int i = 0; i < 600; ++i)
        names += "<n" + std::to_string(i) + "/>";
    names += "</source></icestats>";
    std::string attributes = "<icestats><source";
    for (int i = 0; i < 90000; ++i)
        attributes += " a" + std::to_string(i) + "=\"\"";
    attributes += "/></icestats>";
    const std::string full = icecastList(icecastListener("1.1.1.1", "ok", "5"));

    const struct {
        const char* what;
        std::string text;
        const char* message;  // a part of the error's text
    } cases[] = {
        {"empty", "", "No element found"},
        {"no XML", "HTTP/1.0 200 OK", "Invalid token"},
        {"an HTML page", "<html><body><p>Unauthorized<br></body></html>", "Tag mismatch"},
        {"cut off", full.substr(0, full.size() / 2), "No element found"},
        {"entity expansion", laughs, "document type"},
        {"external entity", external, "document type"},
        {"deep nesting", deep, "nested too deeply"},
        {"deep nesting in a listener block", deep_listeners, "nested too deeply"},
        {"a huge attribute", huge_attribute, "too long"},
        {"600 different element names", names, "too many different names"},
        {"a start tag with 90,000 attributes", attributes, "too many different names"},
        {"too many elements", "<icestats>" + repeat("<x/>", kMaxListenerXmlElements) + "</icestats>",
         "too many elements"},
        {"a listener without its time", icecastList(icecastListener("1.1.1.1", "ok", "5") +
                                                     "<listener><IP>2.2.2.2</IP><UserAgent>x</UserAgent></listener>"),
         "source.listener.Connected"},
        {"SHOUTcast without a listener block", "<SHOUTCASTSERVER><SONGHISTORY/></SHOUTCASTSERVER>",
         "xml parse error"},
        {"SHOUTcast without its block's end", "<SHOUTCASTSERVER><LISTENERS><LISTENER>", "xml parse error"},
        {"SHOUTcast block ends before it starts",
         "<SHOUTCASTSERVER></LISTENERS>" + shoutcastListener("a", "b", "1") + "<LISTENERS></SHOUTCASTSERVER>",
         "xml parse error"},
        {"SHOUTcast block that is not XML",
         "<SHOUTCASTSERVER><LISTENERS><LISTENER><HOSTNAME>a & b</LISTENERS></SHOUTCASTSERVER>", "Invalid token"},
    };

    Document document;
    std::vector<ClientInfo> records;
    parseListenerXml(icecastList(icecastListener("9.9.9.9", "kept", "77")), document, records);
    const Poco::Util::XMLConfiguration* kept_document = document.get();
    const std::vector<std::string> kept = fields(records);
    ASSERT_EQ(kept.size(), 1u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string message = "(no exception)";
        try {
            parseListenerXml(c.text, document, records);
        } catch (const Poco::Exception& e) {
            message = e.displayText();
        }
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
        EXPECT_EQ(document.get(), kept_document);
        EXPECT_EQ(fields(records), kept);
    }
}

// Mangled lists, reproducibly: each is read or refused with a Poco
// exception, never more listeners than the text holds elements for, and
// (under the sanitizers) no memory error and nothing left behind.
TEST(ListenerXml, MangledListsAreReadOrRefused)
{
    const std::string documents[] = {
        icecastList(icecastListener("10.1.2.3", "a &amp; b", "5") + icecastListener("::1", "Unknown", "3725")),
        shoutcast1Statistics(sampleListeners(), "Title <b>"),
        shoutcast2Listeners(sampleListeners()),
    };
    std::mt19937 random(20261207);
    int read = 0;
    for (int i = 0; i < 3000; ++i) {
        const std::string text = mangled(documents[i % 3], random);
        Document document;
        std::vector<ClientInfo> records;
        try {
            parseListenerXml(text, document, records);
            ++read;
        } catch (const Poco::Exception&) {
            EXPECT_TRUE(records.empty());
            continue;
        }
        std::size_t elements = 0;
        for (std::size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1))
            ++elements;
        EXPECT_LE(records.size() * 4, elements) << text;
        for (const ClientInfo& r : records)
            formatConnectedTime(r.connected);
    }
    // The changes are small enough that many lists still read.
    EXPECT_GT(read, 300);
}

TEST(ListenerXml, ConnectedTimes)
{
    // Counts of seconds.
    EXPECT_EQ(formatConnectedTime("5"), "00:00:05");
    EXPECT_EQ(formatConnectedTime("3725"), "01:02:05");
    EXPECT_EQ(formatConnectedTime("360000"), "100:00:00");
    EXPECT_EQ(formatConnectedTime(" +61,7"), "00:01:01");
    EXPECT_EQ(formatConnectedTime("2147483647"), "596523:14:07");
    // Texts that say their own unit, or are no count that fits 32 bits,
    // stay as they came.
    for (const char* text : {"1h 2m", "12s", "3 days", "", "   ", "abc", "-", "2147483648", "99999999999999999999999"})
        EXPECT_EQ(formatConnectedTime(text), text);
}
