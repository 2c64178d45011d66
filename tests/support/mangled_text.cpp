#include "mangled_text.h"

#include <algorithm>
#include <vector>

std::string mangled(const std::string& text, std::mt19937& random)
{
    static const std::vector<std::string> pieces = {
        "<", ">", "</", "/>", "&", "&amp;", "&#0;", "\r\n", "\r\n\r\n", "\0", "\xFF", "\xC3", "<![CDATA[", "]]>",
        "<!DOCTYPE a [<!ENTITY e \"x\">]>", "<?x?>", "<!--", "ACK", "NAK:", "OK2", "HTTP/1.0 ", "200 OK",
        "Content-Length: 999999\r\n", "Content-Length: -1\r\n", "\x5A", "${source}", "<listener>", "<LISTENERS>",
        "</LISTENERS>", "successful", "unsuccessful"};
    std::string out = text;
    auto at = [&](std::size_t size) { return std::uniform_int_distribution<std::size_t>(0, size)(random); };
    const int changes = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < changes; ++i) {
        const std::size_t pos = at(out.size());
        switch (random() % 6) {
        case 0:  // flip a byte
            if (pos < out.size())
                out[pos] = static_cast<char>(out[pos] ^ (1 << (random() % 8)));
            break;
        case 1:  // drop a stretch
            out.erase(pos, at(std::min<std::size_t>(out.size() - pos, 32)));
            break;
        case 2: {  // repeat a stretch
            const std::string stretch = out.substr(pos, at(64));
            out.insert(pos, stretch);
            break;
        }
        case 3: {  // put markup or protocol words in
            const std::string& piece = pieces[random() % pieces.size()];
            out.insert(pos, piece.empty() ? std::string(1, '\0') : piece);
            break;
        }
        case 4:  // a number where there was one
            out.insert(pos, std::to_string(static_cast<int>(random())));
            break;
        default:  // cut the text short
            out.resize(pos);
            break;
        }
    }
    return out;
}
