#pragma once
// The listener lists that servers return, read into one record per
// listener for the Clients view. Plain code with no window, so both builds
// compile it.
#include <Poco/AutoPtr.h>
#include <Poco/Util/XMLConfiguration.h>

#include <cstddef>
#include <string>
#include <vector>

// One listener as the Clients view shows it; UTF-8.
struct ClientInfo {
    std::string ip;
    std::string user_agent;
    std::string connected;
};

// Reads a server's listener text into `records`, in document order: the
// Icecast2 listener list (source/listener with IP, UserAgent, Connected) or
// a SHOUTcast admin statistics document, of which only the first
// <LISTENERS> ... </LISTENERS> piece is read (LISTENER with HOSTNAME,
// USERAGENT, CONNECTTIME). Any other document gives no records.
//
// The text comes from a server and is not trusted: a text that is not
// well-formed XML, too long, nested too deeply, with too many different
// element and attribute names or too many elements, or that declares a
// document type (and so could define entities) is refused with a
// Poco::Exception, as is a SHOUTcast document without a well-ordered
// listener block ("xml parse error") and a listener that lacks one of its
// three fields. Each field is the text of the listener's first element of
// that name, taken as it stands. `document` (the parsed document) and
// `records` change only when the whole text was read.
void parseListenerXml(const std::string& text, Poco::AutoPtr<Poco::Util::XMLConfiguration>& document,
                      std::vector<ClientInfo>& records);

// Longest listener text read (as long as a server's reply may be), deepest
// element nesting, most different names (the XML parser's name pool holds
// 509) and most elements accepted (a full-length list in icecast's shape
// has 570,000 to 840,000).
constexpr std::size_t kMaxListenerXml = 16 * 1024 * 1024;
constexpr int kMaxListenerXmlDepth = 32;
constexpr std::size_t kMaxListenerXmlNames = 500;
constexpr std::size_t kMaxListenerXmlElements = 1000000;

// A connected time as the Clients view shows it: a count of seconds (a text
// with none of the letters d, h, m, s, whose leading decimal number fits 32
// bits) becomes hours:minutes:seconds, "%02d:%02d:%02d", the hours not
// limited; any other text comes back unchanged.
std::string formatConnectedTime(const std::string& connected);
