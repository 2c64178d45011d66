// Listener lists of Icecast2 and SHOUTcast servers.
#include "ui/listener_xml.h"

#include <Poco/Exception.h>
#include <Poco/SAX/Attributes.h>
#include <Poco/SAX/DefaultHandler.h>
#include <Poco/SAX/LexicalHandler.h>
#include <Poco/SAX/SAXParser.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

// A first reading that finds what the document parser would take whole: a
// document type (whose entities could grow a small text into gigabytes)
// and nesting deep enough to exhaust the stack when the tree is freed.
// Nothing is thrown from the handlers: an exception through the XML
// parser's own frames leaves the parser's memory behind.
class DocumentGuard : public Poco::XML::DefaultHandler, public Poco::XML::LexicalHandler {
public:
    void startElement(const Poco::XML::XMLString&, const Poco::XML::XMLString&, const Poco::XML::XMLString&,
                      const Poco::XML::Attributes&) override
    {
        if (++depth_ > kMaxListenerXmlDepth)
            too_deep = true;
    }
    void endElement(const Poco::XML::XMLString&, const Poco::XML::XMLString&, const Poco::XML::XMLString&) override
    {
        --depth_;
    }
    void startDTD(const Poco::XML::XMLString&, const Poco::XML::XMLString&, const Poco::XML::XMLString&) override
    {
        document_type = true;
    }
    void endDTD() override {}
    void startEntity(const Poco::XML::XMLString&) override {}
    void endEntity(const Poco::XML::XMLString&) override {}
    void startCDATA() override {}
    void endCDATA() override {}
    void comment(const Poco::XML::XMLChar[], int, int) override {}

    bool document_type = false;
    bool too_deep = false;

private:
    int depth_ = 0;
};

void checkDocument(const std::string& text)
{
    DocumentGuard guard;
    Poco::XML::SAXParser parser;
    // As the document parser reads it: names with colons are plain names.
    parser.setFeature(Poco::XML::XMLReader::FEATURE_NAMESPACES, false);
    parser.setContentHandler(&guard);
    parser.setProperty(Poco::XML::XMLReader::PROPERTY_LEXICAL_HANDLER,
                       static_cast<Poco::XML::LexicalHandler*>(&guard));
    // Entities may not grow the text much before the parser gives up.
    parser.setProperty(Poco::XML::SAXParser::PROPERTY_BLA_MAXIMUM_AMPLIFICATION, "2");
    parser.setProperty(Poco::XML::SAXParser::PROPERTY_BLA_ACTIVATION_THRESHOLD, "65536");
    static const char* const kDocumentType = "listener list with a document type refused";
    try {
        parser.parseString(text);
    } catch (const Poco::Exception&) {
        if (guard.document_type)
            throw Poco::ApplicationException(kDocumentType);
        throw;
    }
    if (guard.document_type)
        throw Poco::ApplicationException(kDocumentType);
    if (guard.too_deep)
        throw Poco::ApplicationException("listener list nested too deeply");
}

// The text to parse: a SHOUTcast statistics document is cut down to its
// listener block, so that its other sections (song history, titles) cannot
// spoil the parse.
std::string chooseText(const std::string& text)
{
    static const std::string kServer = "<SHOUTCASTSERVER>";
    static const std::string kOpen = "<LISTENERS>";
    static const std::string kClose = "</LISTENERS>";
    if (text.find(kServer) == std::string::npos)
        return text;
    const std::size_t begin = text.find(kOpen);
    const std::size_t end = text.find(kClose);
    if (begin == std::string::npos || end == std::string::npos || end < begin)
        throw Poco::ApplicationException("xml parse error");
    return kServer + text.substr(begin, end + kClose.size() - begin) + "</SHOUTCASTSERVER>";
}

// Takes the listener elements of `list` from the front of the document, one
// by one, reading the three fields of each.
void readListeners(Poco::Util::XMLConfiguration& document, const std::string& list, const char* ip,
                   const char* user_agent, const char* connected, std::vector<ClientInfo>& records)
{
    const std::string prefix = list + ".";
    while (document.hasProperty(list)) {
        ClientInfo info;
        info.ip = document.getString(prefix + ip);
        info.user_agent = document.getString(prefix + user_agent);
        info.connected = document.getString(prefix + connected);
        records.push_back(std::move(info));
        document.remove(list);
    }
}

}  // namespace

void parseListenerXml(const std::string& text, Poco::AutoPtr<Poco::Util::XMLConfiguration>& document,
                      std::vector<ClientInfo>& records)
{
    if (text.size() > kMaxListenerXml)
        throw Poco::ApplicationException("listener list too long");
    const std::string chosen = chooseText(text);
    checkDocument(chosen);
    std::istringstream in(chosen);
    Poco::AutoPtr<Poco::Util::XMLConfiguration> parsed(new Poco::Util::XMLConfiguration(in));

    std::vector<ClientInfo> read;
    if (parsed->hasProperty("source"))
        readListeners(*parsed, "source.listener", "IP", "UserAgent", "Connected", read);
    else if (parsed->hasProperty("LISTENERS"))
        readListeners(*parsed, "LISTENERS.LISTENER", "HOSTNAME", "USERAGENT", "CONNECTTIME", read);

    document = parsed;
    records.swap(read);
}

std::string formatConnectedTime(const std::string& connected)
{
    if (connected.find_first_of("dhms") != std::string::npos)
        return connected;
    // The leading decimal number, white space and sign allowed before it.
    const char* begin = connected.c_str();
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(begin, &end, 10);
    if (end == begin || errno == ERANGE || n < INT32_MIN || n > INT32_MAX)
        return connected;
    const std::int32_t seconds = static_cast<std::int32_t>(n);
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds % 3600 / 60), static_cast<int>(seconds % 60));
    return buffer;
}
