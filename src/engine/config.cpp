// The settings store and the settings file.
#include "engine/config.h"

#include <Poco/DOM/DOMParser.h>
#include <Poco/DOM/DOMSerializer.h>
#include <Poco/DOM/Element.h>
#include <Poco/DOM/NamedNodeMap.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/Format.h>
#include <Poco/SAX/InputSource.h>
#include <Poco/SAX/LexicalHandler.h>
#include <Poco/String.h>
#include <Poco/XML/XMLWriter.h>

#include <algorithm>
#include <exception>
#include <sstream>
#include <stdexcept>

#include "audio_chunk.h"
#include "console.h"
#include "plugin/utils.h"
#include "service_lookup.h"

namespace {

Config* g_config = nullptr;

const char* const kEmptyDocument = "<velmora version=\"1.4.1\"></velmora>";

// The group a negative index reads: never written, so every key of it
// takes its default.
const char* const kDummyPrefix = "dummy.";

// The ranges of the numbers, as the option pages and the engine take them:
// a value outside would keep the option sheet from closing with OK, or the
// stream from starting. Ports and stream id as the Server page checks
// them, the volume as the window's slider goes, the server type, format
// and PCM format as the engine knows them, channels and sampling rate as a
// stream accepts them. Only the volume has a nearest value in its range
// (a quieter or louder stream); the others name a server, a port, a format
// or a layout, where another one in the range means something else.
const int kMaxPort = 65535;
const int kMaxStreamId = INT_MAX;
const int kMaxVolume = 100;
const int kMaxServerType = SERVER_SHOUTCAST2;
const int kMaxFormat = FORMAT_OGG_OPUS;
const int kMaxWaveFormat = WAVE_FLOAT32;
const int kMaxChannels = 2;
const int kMaxSamplingRate = static_cast<int>(audio_chunk::sample_rate_max);

std::string reason(const Poco::Exception& e) {
    return e.message().empty() ? e.displayText() : e.message();
}

// The file system's name for the path: UTF-8, and where the native
// separator is not the backslash the component joins with, that one.
std::string nativePath(const std::wstring& path) {
    std::string name = toUtf8(path);
#if !defined(_WIN32)
    std::replace(name.begin(), name.end(), '\\', '/');
#endif
    return name;
}

std::string groupPrefix(const char* pattern, int index) {
    return index < 0 ? std::string(kDummyPrefix) : Poco::format(std::string(pattern), index);
}

// Moves a file that did not load out of the way, to the first free name
// "<file>.broken", "<file>.broken.1", ...; the name it got, or "" when it
// could not be moved.
std::string putAside(const std::string& file) {
    for (int n = 0; n < 1000; ++n) {
        const std::string target = file + ".broken" + (n == 0 ? std::string() : "." + std::to_string(n));
        try {
            if (Poco::File(target).exists()) continue;
            Poco::File(file).renameTo(target, Poco::File::OPT_FAIL_ON_OVERWRITE);
            return target;
        } catch (const Poco::FileExistsException&) {
            continue;
        } catch (const Poco::Exception& e) {
            console_printf("velmora: load config: %s", reason(e).c_str());
            return std::string();
        }
    }
    return std::string();
}

// The file's writer. XMLWriter puts a carriage return of a text into the
// file as it stands, and every XML reader turns that into a line feed (a
// CR LF pair too); as a character reference it reads back unchanged. The
// other characters a reader would change in a text are escaped already,
// and attribute values are escaped whole.
class SettingsWriter : public Poco::XML::XMLWriter {
public:
    using XMLWriter::XMLWriter;
    using XMLWriter::characters;

    void characters(const Poco::XML::XMLChar ch[], int start, int length) override {
        const int end = start + length;
        int from = start;
        for (int i = start; i < end; ++i) {
            if (ch[i] != '\r') continue;
            XMLWriter::characters(ch, from, i - from);
            rawCharacters("&#13;");
            from = i + 1;
        }
        XMLWriter::characters(ch, from, end - from);
    }
};

// As XMLConfiguration::save writes: pretty-printed, "\n" line ends, no
// XML declaration.
void writeDocument(std::ostream& out, const Poco::XML::Document* document) {
    SettingsWriter writer(out, Poco::XML::XMLWriter::PRETTY_PRINT);
    writer.setNewLine("\n");
    Poco::XML::DOMSerializer serializer;
    serializer.setContentHandler(&writer);
    serializer.setDTDHandler(&writer);
    serializer.setProperty(Poco::XML::XMLReader::PROPERTY_LEXICAL_HANDLER,
                           static_cast<Poco::XML::LexicalHandler*>(&writer));
    serializer.serialize(document);
}

// Parsed as XMLConfiguration parses (no namespaces, white space between
// elements dropped): the reader of the start and of the save's check.
Poco::AutoPtr<Poco::XML::Document> parseDocument(std::istream& in) {
    Poco::XML::DOMParser parser;
    parser.setFeature(Poco::XML::XMLReader::FEATURE_NAMESPACES, false);
    parser.setFeature(Poco::XML::DOMParser::FEATURE_FILTER_WHITESPACE, true);
    Poco::XML::InputSource source(in);
    return parser.parse(&source);
}

// The text an element holds itself, as a value reads.
std::string ownText(const Poco::XML::Node* element) {
    std::string text;
    for (const Poco::XML::Node* n = element->firstChild(); n; n = n->nextSibling()) {
        if (n->nodeType() == Poco::XML::Node::TEXT_NODE || n->nodeType() == Poco::XML::Node::CDATA_SECTION_NODE)
            text += n->nodeValue();
    }
    return text;
}

const Poco::XML::Node* nextElement(const Poco::XML::Node* n) {
    while (n && n->nodeType() != Poco::XML::Node::ELEMENT_NODE) n = n->nextSibling();
    return n;
}

// True when both elements read the same: names, attributes, texts and
// the elements below, in order.
bool sameElement(const Poco::XML::Node* a, const Poco::XML::Node* b) {
    if (a->nodeName() != b->nodeName() || ownText(a) != ownText(b)) return false;
    const Poco::AutoPtr<Poco::XML::NamedNodeMap> attributesA = a->attributes();
    const Poco::AutoPtr<Poco::XML::NamedNodeMap> attributesB = b->attributes();
    if (attributesA->length() != attributesB->length()) return false;
    for (unsigned long i = 0; i < attributesA->length(); ++i) {
        const Poco::XML::Node* attribute = attributesA->item(i);
        const Poco::XML::Node* other = attributesB->getNamedItem(attribute->nodeName());
        if (!other || other->nodeValue() != attribute->nodeValue()) return false;
    }
    const Poco::XML::Node* childA = nextElement(a->firstChild());
    const Poco::XML::Node* childB = nextElement(b->firstChild());
    for (; childA && childB; childA = nextElement(childA->nextSibling()), childB = nextElement(childB->nextSibling())) {
        if (!sameElement(childA, childB)) return false;
    }
    return !childA && !childB;
}

// Refuses a written file that does not read back as the document: one cut
// short, one the reader does not take, one that reads otherwise.
void checkWritten(const std::string& file, const Poco::XML::Document* document) {
    const char* const refused = "the file written does not read back as saved";
    Poco::AutoPtr<Poco::XML::Document> written;
    try {
        Poco::FileInputStream in(file);
        written = parseDocument(in);
    } catch (const Poco::Exception& e) {
        throw Poco::DataFormatException(Poco::format("%s (%s)", std::string(refused), reason(e)));
    }
    if (!sameElement(written->documentElement(), document->documentElement()))
        throw Poco::DataFormatException(refused);
}

std::function<void(const std::string&)>& writtenHook() {
    static std::function<void(const std::string&)> hook;
    return hook;
}

} // namespace

// ---------------------------------------------------------------- file

void Config::setWrittenHook(std::function<void(const std::string&)> hook) { writtenHook() = std::move(hook); }

// The document is kept for the save.
void Config::load(std::istream& in) {
    document = parseDocument(in);
    config = new Poco::Util::XMLConfiguration(document.get());
}

Config::Config() {
    std::string file;
    try {
        kestrune_api* api = core_api();
        std::string folder = api && api->profile_path() ? api->profile_path() : "";
        Poco::replaceInPlace(folder, std::string("file://"), std::string());
        if (folder.empty()) throw std::runtime_error("the player gives no profile folder");
        path = fromUtf8(folder + "\\velmora.xml");
        file = nativePath(path);
    } catch (const std::exception& e) {
        // No usable name: nothing can be read, and nothing is written.
        console_printf("velmora: load config: profile folder: %s", e.what());
        writable = false;
    }
    try {
        if (writable && Poco::File(file).exists()) {
            Poco::FileInputStream in(file);
            load(in);
            return;
        }
    } catch (const Poco::Exception& e) {
        console_printf("velmora: load config: %s", reason(e).c_str());
        // Never overwrite what could not be read: keep it beside.
        const std::string kept = putAside(file);
        if (kept.empty()) {
            console_printf("velmora: the settings file %s is left as it is; settings of this session will not be saved",
                           file.c_str());
            writable = false;
        } else {
            console_printf("velmora: the settings file that did not load was kept as %s", kept.c_str());
        }
    }
    std::istringstream empty(kEmptyDocument);
    load(empty);
}

Config::~Config() {
    if (!writable) return;
    std::string temp;
    try {
        // Written whole beside the old file and renamed over it, so the
        // file is always either the old one or the new one.
        const std::string file = nativePath(path);
        temp = file + ".tmp";
        {
            Poco::FileOutputStream out(temp);
            writeDocument(out, document);
            out.close();
            if (!out.good()) throw Poco::WriteFileException(temp);
        }
        if (writtenHook())
            writtenHook()(temp);
        checkWritten(temp, document);
        Poco::File(temp).renameTo(file);
    } catch (const Poco::Exception& e) {
        console_printf("velmora: save config to file: %s", reason(e).c_str());
    } catch (const std::exception& e) {
        console_printf("velmora: save config to file: %s", e.what());
    }
    try {
        // What a failed write left behind (never a folder of that name).
        Poco::File left(temp);
        if (!temp.empty() && left.exists() && left.isFile()) left.remove();
    } catch (...) {
        // The next save replaces it.
    }
}

// ---------------------------------------------------------------- values
int Config::readInt(const std::string& key, int fallback, int low, int high, OutOfRange outside) {
    int value;
    try {
        value = config->getInt(key, fallback);
    } catch (const Poco::Exception&) {
        console_printf("velmora: load config: %s: \"%s\" is not a number; %d is used", key.c_str(),
                       config->getRawString(key, "").c_str(), fallback);
        return fallback;
    }
    if (value >= low && value <= high) return value;
    const int used = outside == OutOfRange::useDefault ? fallback : value < low ? low : high;
    console_printf("velmora: load config: %s: %d is out of range (%d to %d); %d is used", key.c_str(), value, low, high,
                   used);
    return used;
}

bool Config::readBool(const std::string& key, bool fallback) {
    try {
        return config->getBool(key, fallback);
    } catch (const Poco::Exception&) {
        console_printf("velmora: load config: %s: \"%s\" is not a flag; %s is used", key.c_str(),
                       config->getRawString(key, "").c_str(), fallback ? "true" : "false");
        return fallback;
    }
}

std::string Config::readString(const std::string& key, const std::string& fallback) {
    // As stored: "${...}" in a password or a parameter is text, not a
    // reference to another key.
    return config->getRawString(key, fallback);
}

void Config::writeString(const std::string& key, const std::string& value) {
    std::string text = xmlCharacters(value);
    // The reader drops a text of white space alone.
    if (text.find_first_not_of(" \t\n\r") == std::string::npos) text.clear();
    if (text != value)
        console_printf("velmora: save config: %s: what the settings file cannot hold is left out", key.c_str());
    config->setString(key, text);
}

int Config::count(const char* probe) {
    int n = 0;
    while (config->hasProperty(Poco::format(std::string(probe), n))) ++n;
    return n;
}

// ---------------------------------------------------------------- common
void Config::loadCommon(CommonSettings& c) {
    c.title_format = readString("common.title_format", "%artist% - %title%");
    c.vol = readInt("common.vol", 100, 0, kMaxVolume, OutOfRange::useNearest);
    c.mute = readBool("common.mute", false);
    c.auto_update_metadata = readBool("common.auto_update_metadata", true);
    c.connect_on_startup = readBool("common.connect_on_startup", false);
    c.auto_reconnect = readBool("common.auto_reconnect", false);
    c.vumeter_switch = readBool("common.vumeter_switch", true);
    c.window_top = readInt("common.window_top", 200);
    c.window_left = readInt("common.window_left", 200);
}

void Config::saveCommon(const CommonSettings& c) {
    writeString("common.title_format", c.title_format);
    config->setInt("common.vol", c.vol);
    config->setInt("common.mute", c.mute ? 1 : 0);
    config->setInt("common.auto_update_metadata", c.auto_update_metadata ? 1 : 0);
    config->setInt("common.connect_on_startup", c.connect_on_startup ? 1 : 0);
    config->setInt("common.auto_reconnect", c.auto_reconnect ? 1 : 0);
    config->setInt("common.vumeter_switch", c.vumeter_switch ? 1 : 0);
    config->setInt("common.window_top", c.window_top);
    config->setInt("common.window_left", c.window_left);
}

// Every group of that name: one left behind would take the values written
// next, mixed with its own.
void Config::removeCommon() {
    while (config->hasProperty("common")) config->remove("common");
}

// ---------------------------------------------------------------- streams
void Config::loadStream(int index, EncoderSettings& encoder, ServerSettings& server) {
    const std::string p = groupPrefix("stream[%d].", index);
    server.type = readInt(p + "server.type", 0, 0, kMaxServerType);
    server.host = readString(p + "server.host", "127.0.0.1");
    server.port = readInt(p + "server.port", 8000, 0, kMaxPort);
    server.use_proxy = readBool(p + "server.use_proxy", false) ? 1 : 0;
    server.proxy_host = readString(p + "server.proxy_host", "127.0.0.1");
    server.proxy_port = readInt(p + "server.proxy_port", 9050, 0, kMaxPort);
    server.username = readString(p + "server.username", "");
    server.password = readString(p + "server.password", "wombat");
    server.mount_point = readString(p + "server.mount_point", "/stream");
    server.stream_id = readInt(p + "server.stream_id", 1, 1, kMaxStreamId);
    server.yp.pub = readBool(p + "server.yp.pub", false);
    server.yp.name = readString(p + "server.yp.name", "Stream Name");
    server.yp.desc = readString(p + "server.yp.desc", "Stream Description");
    server.yp.genre = readString(p + "server.yp.genre", "Genre");
    server.yp.url = readString(p + "server.yp.url", "http://");
    server.yp.charset = readString(p + "server.yp.charset", "UTF-8");
    loadEncoder(p, encoder, "CBR 128kbps j-stereo");
}

void Config::saveStream(int index, const EncoderSettings& encoder, const ServerSettings& server) {
    const std::string p = groupPrefix("stream[%d].", index);
    config->setInt(p + "server.type", server.type);
    writeString(p + "server.host", server.host);
    config->setInt(p + "server.port", server.port);
    // The proxy keys too: a group rewrite would drop them otherwise.
    config->setBool(p + "server.use_proxy", server.use_proxy != 0);
    writeString(p + "server.proxy_host", server.proxy_host);
    config->setInt(p + "server.proxy_port", server.proxy_port);
    writeString(p + "server.username", server.username);
    writeString(p + "server.password", server.password);
    writeString(p + "server.mount_point", server.mount_point);
    config->setInt(p + "server.stream_id", server.stream_id);
    config->setBool(p + "server.yp.pub", server.yp.pub);
    writeString(p + "server.yp.name", server.yp.name);
    writeString(p + "server.yp.desc", server.yp.desc);
    writeString(p + "server.yp.genre", server.yp.genre);
    writeString(p + "server.yp.url", server.yp.url);
    writeString(p + "server.yp.charset", server.yp.charset);
    saveEncoder(p, encoder);
}

void Config::removeStreams() {
    while (config->hasProperty("stream")) config->remove("stream");
}

int Config::countStreams() { return count("stream[%d]"); }

// ---------------------------------------------------------------- encoder presets
void Config::loadEncoderSetting(int index, EncoderSettings& encoder) {
    loadEncoder(groupPrefix("encoder_setting[%d].", index), encoder, "CBR j-stereo");
}

void Config::saveEncoderSetting(int index, const EncoderSettings& encoder) {
    saveEncoder(groupPrefix("encoder_setting[%d].", index), encoder);
}

void Config::removeEncoderSettings() {
    while (config->hasProperty("encoder_setting")) config->remove("encoder_setting");
}

int Config::countEncoderSettings() { return count("encoder_setting[%d]"); }

void Config::loadEncoder(const std::string& p, EncoderSettings& e, const char* description) {
    e.encoder_file = readString(p + "encoder.encoder_file", "lame.exe");
    e.encoder_params = readString(p + "encoder.encoder_params", "-r --flush --quiet -");
    e.format = readInt(p + "encoder.format", 0, 0, kMaxFormat);
    e.program_file = readString(p + "encoder.program_file", "");
    e.program_params = readString(p + "encoder.program_params", "");
    e.wave_format = readInt(p + "encoder.wave_format", 0, 0, kMaxWaveFormat);
    e.wave_header = readBool(p + "encoder.wave_header", false);
    e.sampling_rate = readInt(p + "encoder.sampling_rate", 44100, 1, kMaxSamplingRate);
    e.channel = readInt(p + "encoder.channel", 2, 1, kMaxChannels);
    e.encoder_name = readString(p + "encoder.encoder_name", "LAME");
    e.bitrate = readInt(p + "encoder.bitrate", 128);
    e.description = readString(p + "encoder.description", description);
}

void Config::saveEncoder(const std::string& p, const EncoderSettings& e) {
    writeString(p + "encoder.encoder_file", e.encoder_file);
    writeString(p + "encoder.encoder_params", e.encoder_params);
    config->setInt(p + "encoder.format", e.format);
    writeString(p + "encoder.program_file", e.program_file);
    writeString(p + "encoder.program_params", e.program_params);
    config->setInt(p + "encoder.wave_format", e.wave_format);
    config->setBool(p + "encoder.wave_header", e.wave_header);
    config->setInt(p + "encoder.sampling_rate", e.sampling_rate);
    config->setInt(p + "encoder.channel", e.channel);
    writeString(p + "encoder.encoder_name", e.encoder_name);
    config->setInt(p + "encoder.bitrate", e.bitrate);
    writeString(p + "encoder.description", e.description);
}

// ---------------------------------------------------------------- the one store
Config* getConfig() {
    if (!g_config) g_config = new Config();
    return g_config;
}

void deleteConfig() {
    Config* store = g_config;
    g_config = nullptr;
    delete store;
}
