#include "shoutcast_servers.h"

#include <Poco/AutoPtr.h>
#include <Poco/Base64Decoder.h>
#include <Poco/DOM/DOMParser.h>
#include <Poco/DOM/Document.h>
#include <Poco/DOM/Node.h>
#include <Poco/DOM/NodeList.h>
#include <Poco/Exception.h>
#include <Poco/NumberParser.h>
#include <Poco/StringTokenizer.h>
#include <Poco/URI.h>

#include <chrono>
#include <map>
#include <sstream>
#include <thread>

namespace {

template <class T>
T locked(std::mutex& lock, const T& value)
{
    std::lock_guard<std::mutex> guard(lock);
    return value;
}

// Reads exactly `length` bytes unless the client closes or the server
// stops; the client may pause as long as it likes between packets.
bool readExactly(FakeConnection& c, std::size_t length, std::string& out)
{
    out.clear();
    while (out.size() < length && !c.closed() && !c.stopping())
        out += c.readBytes(length - out.size());
    return out.size() == length;
}

// Query parameters of an HTTP request line, percent-decoded.
std::map<std::string, std::string> queryOf(const std::string& request_line, std::string* path)
{
    std::map<std::string, std::string> query;
    std::size_t start = request_line.find(' ') + 1;
    std::string target = request_line.substr(start, request_line.find(' ', start) - start);
    std::size_t mark = target.find('?');
    *path = target.substr(0, mark);
    if (mark == std::string::npos)
        return query;
    Poco::StringTokenizer pairs(target.substr(mark + 1), "&");
    for (const std::string& pair : pairs) {
        std::size_t eq = pair.find('=');
        std::string value;
        Poco::URI::decode(eq == std::string::npos ? "" : pair.substr(eq + 1), value, true);
        query[pair.substr(0, eq)] = value;
    }
    return query;
}

std::string headerValue(const std::string& head, const std::string& name)
{
    std::size_t at = head.find("\r\n" + name + ": ");
    if (at == std::string::npos)
        return "";
    at += name.size() + 4;
    return head.substr(at, head.find("\r\n", at) - at);
}

std::string base64Decoded(const std::string& text)
{
    std::istringstream in(text);
    Poco::Base64Decoder decoder(in);
    return std::string(std::istreambuf_iterator<char>(decoder), std::istreambuf_iterator<char>());
}

// XTEA as published: 32 cycles, deciphering.
void decipherBlock(std::uint32_t v[2], const std::uint32_t k[4])
{
    const std::uint32_t delta = 0x9E3779B9;
    std::uint32_t v0 = v[0], v1 = v[1], sum = delta * 32;
    for (int i = 0; i < 32; ++i) {
        v1 -= (((v0 << 4) ^ (v0 >> 5)) + v0) ^ (sum + k[(sum >> 11) & 3]);
        sum -= delta;
        v0 -= (((v1 << 4) ^ (v1 >> 5)) + v1) ^ (sum + k[sum & 3]);
    }
    v[0] = v0;
    v[1] = v1;
}

std::uint32_t word(const std::string& bytes, std::size_t at)
{
    std::uint32_t w = 0;
    for (std::size_t i = 0; i < 4; ++i)
        w = w << 8 | static_cast<unsigned char>(bytes[at + i]);
    return w;
}

// Deciphers lowercase hex cipher text; false when it is no such text.
bool decipherHex(const std::string& hex, std::string key, std::string& plain)
{
    plain.clear();
    if (hex.size() % 16 != 0 || hex.find_first_not_of("0123456789abcdef") != std::string::npos)
        return false;
    key.resize(16, '\0');
    std::uint32_t k[4] = {word(key, 0), word(key, 4), word(key, 8), word(key, 12)};
    for (std::size_t at = 0; at < hex.size(); at += 16) {
        std::uint32_t v[2] = {static_cast<std::uint32_t>(std::stoul(hex.substr(at, 8), nullptr, 16)),
                              static_cast<std::uint32_t>(std::stoul(hex.substr(at + 8, 8), nullptr, 16))};
        decipherBlock(v, k);
        for (std::uint32_t w : v)
            for (int shift = 24; shift >= 0; shift -= 8)
                plain += static_cast<char>((w >> shift) & 0xFF);
    }
    while (!plain.empty() && plain.back() == '\0')
        plain.pop_back();
    return true;
}

// The data message (class << 12 | type) a content type asks for.
int dataMessageOf(const std::string& content_type)
{
    if (content_type == "audio/mpeg")
        return 0x7000;
    if (content_type == "audio/aac")
        return 0x8001;
    if (content_type == "audio/aacp")
        return 0x8003;
    if (content_type == "audio/ogg")
        return 0x8004;
    return -1;
}

}  // namespace

bool waitUntil(const std::function<bool()>& ready)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// ---------------------------------------------------------------- v1

Shoutcast1Server::Shoutcast1Server(Shoutcast1Options options) : options_(std::move(options))
{
    auto services = LoopbackService::pair([this](FakeConnection& c) { admin(c); },
                                          [this](FakeConnection& c) { source(c); });
    admin_service_ = std::move(services.first);
    source_service_ = std::move(services.second);
}

Shoutcast1Server::~Shoutcast1Server()
{
    source_service_.reset();
    admin_service_.reset();
}

int Shoutcast1Server::port() const { return admin_service_->port(); }
std::string Shoutcast1Server::sourceHead() const { return locked(lock_, head_); }
std::string Shoutcast1Server::audio() const { return locked(lock_, audio_); }
std::vector<std::string> Shoutcast1Server::titles() const { return locked(lock_, titles_); }
std::vector<std::string> Shoutcast1Server::requests() const { return locked(lock_, requests_); }
std::vector<std::string> Shoutcast1Server::passwordLines() const { return locked(lock_, password_lines_); }
std::vector<std::string> Shoutcast1Server::errors() const { return locked(lock_, errors_); }

void Shoutcast1Server::error(const std::string& what)
{
    std::lock_guard<std::mutex> guard(lock_);
    errors_.push_back(what);
}

void Shoutcast1Server::source(FakeConnection& c)
{
    std::string line = c.readUntil("\n");
    {
        std::lock_guard<std::mutex> guard(lock_);
        password_lines_.push_back(line);
    }
    if (!options_.password_answer.empty()) {
        c.send(options_.password_answer, options_.bytewise);
        return;
    }
    if (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0)
        return error("password line without CR LF: " + line);
    if (line.substr(0, line.size() - 2) != options_.password) {
        c.send("invalid password\r\n", options_.bytewise);
        return;
    }
    c.send("OK2\r\nicy-caps:11\r\n\r\n", options_.bytewise);
    std::string head = c.readHead();
    if (head.size() < 4 || head.compare(head.size() - 4, 4, "\r\n\r\n") != 0)
        return error("header block without its blank line: " + head);
    static const char* const known[] = {"icy-name", "icy-genre", "icy-url", "icy-irc", "icy-icq",
                                        "icy-aim",  "icy-pub",   "icy-br",  "content-type"};
    Poco::StringTokenizer lines(head.substr(0, head.size() - 4), "\r\n", Poco::StringTokenizer::TOK_IGNORE_EMPTY);
    for (const std::string& l : lines) {
        bool ok = false;
        for (const char* name : known)
            ok = ok || l.compare(0, std::string(name).size() + 2, std::string(name) + ": ") == 0;
        if (!ok)
            error("unknown header line: " + l);
    }
    if (head.find("\r\n\r\n") != head.size() - 4 || head.find('\n') != head.find("\r\n") + 1)
        error("stray line breaks in the header block");
    {
        std::lock_guard<std::mutex> guard(lock_);
        head_ = head;
    }
    while (!c.closed() && !c.stopping()) {
        std::string bytes = c.readAvailable();
        std::lock_guard<std::mutex> guard(lock_);
        audio_ += bytes;
    }
}

void Shoutcast1Server::admin(FakeConnection& c)
{
    std::string head = c.readHead();
    {
        std::lock_guard<std::mutex> guard(lock_);
        requests_.push_back(head);
    }
    std::string path;
    auto query = queryOf(head.substr(0, head.find("\r\n")), &path);
    if (path != "/admin.cgi" || head.compare(head.find("\r\n") - 9, 9, " HTTP/1.0") != 0)
        return error("not an admin.cgi request: " + head);
    if (query["pass"] != options_.password) {
        c.send("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html><head><title>SHOUTcast "
               "Administrator</title></head><body>Invalid password</body></html>",
               options_.bytewise);
        return;
    }
    if (query["mode"] == "updinfo") {
        std::lock_guard<std::mutex> guard(lock_);
        titles_.push_back(query["song"]);
        return;  // taken: the server closes without a word
    }
    if (query["mode"] == "viewxml") {
        std::string title = titles().empty() ? std::string() : titles().back();
        c.send("HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n" + shoutcast1Statistics(options_.listeners, title),
               options_.bytewise);
        return;
    }
    error("unknown admin.cgi mode: " + query["mode"]);
}

// ---------------------------------------------------------------- v2

Shoutcast2Server::Shoutcast2Server(Shoutcast2Options options)
    : options_(std::move(options)), service_(new LoopbackService([this](FakeConnection& c) { serve(c); }))
{
}

Shoutcast2Server::~Shoutcast2Server()
{
    service_.reset();
}

int Shoutcast2Server::port() const { return service_->port(); }
std::vector<Shoutcast2Server::Packet> Shoutcast2Server::packets() const { return locked(lock_, packets_); }
std::string Shoutcast2Server::audio() const { return locked(lock_, audio_); }
std::vector<std::string> Shoutcast2Server::titles() const { return locked(lock_, titles_); }
std::string Shoutcast2Server::credentials() const { return locked(lock_, credentials_); }
int Shoutcast2Server::sourcesEnded() const { return locked(lock_, sources_ended_); }
std::size_t Shoutcast2Server::sourceBytes() const { return locked(lock_, source_bytes_); }
std::vector<std::string> Shoutcast2Server::requests() const { return locked(lock_, requests_); }
std::vector<std::string> Shoutcast2Server::errors() const { return locked(lock_, errors_); }

void Shoutcast2Server::error(const std::string& what)
{
    std::lock_guard<std::mutex> guard(lock_);
    errors_.push_back(what);
}

void Shoutcast2Server::serve(FakeConnection& c)
{
    // Sources speak in packets, browsers and admins in HTTP.
    std::string first;
    if (!readExactly(c, 1, first))
        return;
    if (first[0] == 'G')
        return admin(c);
    source(c);
    std::lock_guard<std::mutex> guard(lock_);
    ++sources_ended_;
    source_bytes_ += c.received().size();
}

void Shoutcast2Server::reply(FakeConnection& c, int message_class, int type, const std::string& text)
{
    // The reply's text ends in a zero byte inside the payload.
    std::size_t length = text.size() + 1;
    std::string frame = {'\x5A', '\x00', static_cast<char>(message_class << 4 | type >> 8),
                         static_cast<char>(type & 0xFF), static_cast<char>(length >> 8),
                         static_cast<char>(length & 0xFF)};
    frame += text;
    frame += '\0';
    frame += '\0';
    c.send(frame, options_.bytewise);
}

void Shoutcast2Server::source(FakeConnection& c)
{
    enum { Start, KeySent, LoggedIn, Streaming } state = Start;
    int data_message = -1;
    std::string key;
    std::map<int, std::string> metadata;  // by metadata id, the pieces so far
    std::string head = c.received();      // the sync byte read by serve()
    for (;;) {
        std::string more;
        if (!readExactly(c, 6 - head.size(), more)) {
            if (!(head + more).empty())
                error("packet cut off in its header");
            return;
        }
        head += more;
        auto byte = [&head](int i) { return static_cast<unsigned char>(head[i]); };
        if (byte(0) != 0x5A)
            return error("bad sync byte " + std::to_string(byte(0)));
        if (byte(1) != 0)
            return error("reserved bits set");
        int message_class = byte(2) >> 4;
        int type = (byte(2) & 0x0F) << 8 | byte(3);
        std::size_t length = static_cast<std::size_t>(byte(4)) << 8 | byte(5);
        if (length > 16377)
            return error("payload of " + std::to_string(length) + " bytes");
        std::string rest;
        if (!readExactly(c, length + 1, rest))
            return error("packet cut off in its payload");
        if (rest[length] != '\0')
            return error("packet does not end in a zero byte: its length field is wrong");
        Packet packet{message_class, type, rest.substr(0, length), head + rest};
        head.clear();
        {
            std::lock_guard<std::mutex> guard(lock_);
            packets_.push_back(packet);
        }
        const std::string& payload = packet.payload;
        int message = message_class << 12 | type;
        if (message == 0x1000 + options_.refuse_type) {
            reply(c, message_class, type, options_.refusal);
            return;
        }
        if (message == 0x1009) {
            if (state != Start || payload != "2.1")
                return error("cipher request out of order or not 2.1: " + payload);
            key = options_.key;
            reply(c, message_class, type, "ACK:" + key);
            state = KeySent;
        } else if (message == 0x1001) {
            Poco::StringTokenizer fields(payload, ":");
            std::string user, password;
            if (state != KeySent || fields.count() != 4 || fields[0] != "2.1" ||
                !decipherHex(fields[2], key, user) || !decipherHex(fields[3], key, password))
                return error("authentication out of order or malformed: " + payload);
            {
                std::lock_guard<std::mutex> guard(lock_);
                credentials_ = user + ":" + password;
            }
            if (fields[1] != std::to_string(options_.stream_id)) {
                reply(c, message_class, type, "NAK:2.1:Stream ID Error");
                return;
            }
            if (user != options_.user || password != options_.password) {
                reply(c, message_class, type, "NAK:2.1:Deny");
                return;
            }
            reply(c, message_class, type, "ACK:2.1:Allow");
            state = LoggedIn;
        } else if (message >= 0x1000 && message < 0x2000 && message != 0x1005 && state < LoggedIn) {
            return error("message " + std::to_string(type) + " before the login");
        } else if (message == 0x1040) {
            data_message = dataMessageOf(payload);
            if (data_message < 0)
                return error("unknown content type: " + payload);
            reply(c, message_class, type, "ACK");
        } else if (message == 0x1002 || message == 0x1003 || message == 0x1008) {
            int first = 0, second = 0;
            Poco::StringTokenizer numbers(payload, ":");
            if (numbers.count() != 2 || !Poco::NumberParser::tryParse(numbers[0], first) ||
                !Poco::NumberParser::tryParse(numbers[1], second))
                return error("set-up message " + std::to_string(type) + " malformed: " + payload);
            if (message == 0x1008 && first > 16377)
                return error("payload size above 16377: " + payload);
            reply(c, message_class, type, "ACK");
        } else if (message >= 0x1100 && message <= 0x1103) {
            if (message == 0x1103 && payload != "0" && payload != "1")
                return error("public flag not 0 or 1: " + payload);
            if (!options_.one_directory_reply || message == 0x1103)
                reply(c, message_class, type, "ACK");
        } else if (message == 0x1006) {
            // Flush cached metadata.
            reply(c, message_class, type, "ACK");
        } else if (message == 0x1004) {
            if (data_message < 0)
                return error("standby before the content type");
            state = Streaming;
            reply(c, message_class, type, "ACK:Data transfer mode");
            if (options_.close_after_standby)
                return;
            while (options_.hold && *options_.hold && !c.stopping())
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } else if (message == 0x1005) {
            return;  // the source says goodbye
        } else if (message == 0x3902) {
            if (state != Streaming || payload.size() < 6)
                return error("metadata before standby, or without its header");
            int id = static_cast<unsigned char>(payload[0]) << 8 | static_cast<unsigned char>(payload[1]);
            int span = static_cast<unsigned char>(payload[2]) << 8 | static_cast<unsigned char>(payload[3]);
            int index = static_cast<unsigned char>(payload[4]) << 8 | static_cast<unsigned char>(payload[5]);
            if (span < 1 || index < 1 || index > span)
                return error("metadata piece " + std::to_string(index) + " of " + std::to_string(span));
            metadata[id] += payload.substr(6);
            if (index < span)
                continue;
            std::string xml = metadata[id];
            metadata.erase(id);
            try {
                Poco::XML::DOMParser parser;
                Poco::AutoPtr<Poco::XML::Document> doc = parser.parseString(xml);
                Poco::AutoPtr<Poco::XML::NodeList> tit2 = doc->getElementsByTagName("TIT2");
                if (tit2->length() != 1)
                    return error("metadata without one TIT2: " + xml);
                std::lock_guard<std::mutex> guard(lock_);
                titles_.push_back(tit2->item(0)->innerText());
            } catch (Poco::Exception& e) {
                return error("metadata is not well-formed XML (" + e.displayText() + "): " + xml);
            }
        } else if (message == data_message) {
            if (state != Streaming)
                return error("audio before standby");
            std::lock_guard<std::mutex> guard(lock_);
            audio_ += payload;
        } else {
            return error("unexpected message class " + std::to_string(message_class) + " type " +
                         std::to_string(type));
        }
    }
}

void Shoutcast2Server::admin(FakeConnection& c)
{
    c.readHead();
    std::string head = c.received();  // with the first byte, read by serve()
    {
        std::lock_guard<std::mutex> guard(lock_);
        requests_.push_back(head);
    }
    if (!options_.admin_reply.empty()) {
        c.send(options_.admin_reply, options_.bytewise);
        return;
    }
    std::string path;
    auto query = queryOf(head.substr(0, head.find("\r\n")), &path);
    if (path != "/admin.cgi" || query["mode"] != "viewxml" || query["page"] != "3")
        return error("not a listener request: " + head);
    if (query["sid"] != std::to_string(options_.stream_id)) {
        c.send("HTTP/1.0 400 Bad Request\r\nContent-Type: text/html\r\n\r\nStream ID Error");
        return;
    }
    std::string authorization = headerValue(head, "Authorization");
    if (authorization.compare(0, 6, "Basic ") != 0 ||
        base64Decoded(authorization.substr(6)) != options_.admin_user + ":" + options_.admin_password) {
        c.send("HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"Shoutcast Server\"\r\n"
               "Content-Type: text/html\r\n\r\n<html><body>Unauthorized</body></html>",
               options_.bytewise);
        return;
    }
    std::string xml = shoutcast2Listeners(options_.listeners);
    c.send("HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(xml.size()) + "\r\n\r\n" +
               xml,
           options_.bytewise);
}
