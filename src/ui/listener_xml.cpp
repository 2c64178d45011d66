// Listener lists of Icecast2 and SHOUTcast servers.
#include "ui/listener_xml.h"

#include <Poco/DOM/DOMParser.h>
#include <Poco/DOM/Document.h>
#include <Poco/DOM/Element.h>
#include <Poco/DOM/Node.h>
#include <Poco/Exception.h>
#include <Poco/SAX/Attributes.h>
#include <Poco/SAX/DefaultHandler.h>
#include <Poco/SAX/LexicalHandler.h>
#include <Poco/SAX/SAXParser.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace {

// A first reading that finds what the document parser would take whole or
// not at all: a document type (whose entities could grow a small text into
// gigabytes), nesting deep enough to exhaust the stack when the tree is
// freed, more names than the parser's name pool holds (it would throw from
// inside the parser) and more elements than a listener list has.
// Nothing is thrown from the handlers: an exception through the XML
// parser's own frames leaves the parser's memory behind.
class DocumentGuard : public Poco::XML::DefaultHandler, public Poco::XML::LexicalHandler {
public:
    void startElement(const Poco::XML::XMLString&, const Poco::XML::XMLString&, const Poco::XML::XMLString& name,
                      const Poco::XML::Attributes& attributes) override
    {
        if (++depth_ > kMaxListenerXmlDepth)
            too_deep = true;
        if (++elements_ > kMaxListenerXmlElements)
            too_many_elements = true;
        addName(name);
        for (int i = 0; i < attributes.getLength() && !too_many_names; ++i)
            addName(attributes.getQName(i));
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
    bool too_many_names = false;
    bool too_many_elements = false;

private:
    void addName(const Poco::XML::XMLString& name)
    {
        if (too_many_names || names_.count(name))
            return;
        if (names_.size() == kMaxListenerXmlNames)
            too_many_names = true;
        else
            names_.insert(name);
    }

    int depth_ = 0;
    std::size_t elements_ = 0;
    std::set<Poco::XML::XMLString> names_;
};

void checkDocument(const char* text, std::size_t size)
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
        parser.parseMemoryNP(text, size);
    } catch (const Poco::Exception&) {
        if (guard.document_type)
            throw Poco::ApplicationException(kDocumentType);
        throw;
    }
    if (guard.document_type)
        throw Poco::ApplicationException(kDocumentType);
    if (guard.too_deep)
        throw Poco::ApplicationException("listener list nested too deeply");
    if (guard.too_many_names)
        throw Poco::ApplicationException("listener list with too many different names refused");
    if (guard.too_many_elements)
        throw Poco::ApplicationException("listener list with too many elements refused");
}

// The SHOUTcast statistics document is cut down to its listener block, so
// that its other sections (song history, titles) cannot spoil the parse:
// true when `text` is one, with the piece to parse in `piece`.
bool cutShoutcastDocument(const std::string& text, std::string& piece)
{
    static const std::string kServer = "<SHOUTCASTSERVER>";
    static const std::string kOpen = "<LISTENERS>";
    static const std::string kClose = "</LISTENERS>";
    if (text.find(kServer) == std::string::npos)
        return false;
    const std::size_t begin = text.find(kOpen);
    const std::size_t end = text.find(kClose);
    if (begin == std::string::npos || end == std::string::npos || end < begin)
        throw Poco::ApplicationException("xml parse error");
    piece.reserve(kServer.size() + end + kClose.size() - begin + kServer.size() + 1);
    piece = kServer;
    piece.append(text, begin, end + kClose.size() - begin);
    piece += "</SHOUTCASTSERVER>";
    return true;
}

// The first child element of `parent` named `name`, as a configuration
// path step finds it.
Poco::XML::Element* firstChild(Poco::XML::Node* parent, const char* name)
{
    for (Poco::XML::Node* n = parent ? parent->firstChild() : nullptr; n; n = n->nextSibling())
        if (n->nodeType() == Poco::XML::Node::ELEMENT_NODE && n->nodeName() == name)
            return static_cast<Poco::XML::Element*>(n);
    return nullptr;
}

// Reads every `item` element under `list`, in order, in one walk over the
// children: the text of the first element of each of the three fields. A
// listener without one of them fails as the configuration path of that
// field would ("Not found: source.listener.Connected").
void readListeners(Poco::XML::Element& list, const char* item, const std::string& path,
                   const char* const (&field_names)[3], std::vector<ClientInfo>& records)
{
    for (Poco::XML::Node* n = list.firstChild(); n; n = n->nextSibling()) {
        if (n->nodeType() != Poco::XML::Node::ELEMENT_NODE || n->nodeName() != item)
            continue;
        Poco::XML::Node* fields[3] = {nullptr, nullptr, nullptr};
        for (Poco::XML::Node* f = n->firstChild(); f; f = f->nextSibling()) {
            if (f->nodeType() != Poco::XML::Node::ELEMENT_NODE)
                continue;
            for (int i = 0; i < 3; ++i)
                if (!fields[i] && f->nodeName() == field_names[i])
                    fields[i] = f;
        }
        for (int i = 0; i < 3; ++i)
            if (!fields[i])
                throw Poco::NotFoundException(path + field_names[i]);
        records.push_back(ClientInfo{fields[0]->innerText(), fields[1]->innerText(), fields[2]->innerText()});
    }
}

}  // namespace

void parseListenerXml(const std::string& text, Poco::AutoPtr<Poco::Util::XMLConfiguration>& document,
                      std::vector<ClientInfo>& records)
{
    if (text.size() > kMaxListenerXml)
        throw Poco::ApplicationException("listener list too long");
    // The text is read where it stands; only a SHOUTcast document's
    // listener block is copied.
    std::string piece;
    const bool cut = cutShoutcastDocument(text, piece);
    const char* data = cut ? piece.data() : text.data();
    const std::size_t size = cut ? piece.size() : text.size();
    checkDocument(data, size);

    // Read as a configuration file is read.
    Poco::XML::DOMParser parser;
    parser.setFeature(Poco::XML::XMLReader::FEATURE_NAMESPACES, false);
    parser.setFeature(Poco::XML::DOMParser::FEATURE_FILTER_WHITESPACE, true);
    Poco::AutoPtr<Poco::XML::Document> parsed = parser.parseMemory(data, size);

    // Icecast2 (a source under the root; the SHOUTcast names are not looked
    // at then), else SHOUTcast, else nothing.
    std::vector<ClientInfo> read;
    Poco::XML::Element* root = parsed->documentElement();
    if (Poco::XML::Element* source = firstChild(root, "source")) {
        static const char* const kFields[3] = {"IP", "UserAgent", "Connected"};
        readListeners(*source, "listener", "source.listener.", kFields, read);
    } else if (Poco::XML::Element* listeners = firstChild(root, "LISTENERS")) {
        static const char* const kFields[3] = {"HOSTNAME", "USERAGENT", "CONNECTTIME"};
        readListeners(*listeners, "LISTENER", "LISTENERS.LISTENER.", kFields, read);
    }

    document = new Poco::Util::XMLConfiguration(parsed.get());
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
