// The player's title-format language.
#include "titleformat.h"

#include "host_string.h"

namespace kestrune_host {

namespace {

// Identifies field text on its way through a caller's filter.
constexpr GUID output_field = {0x01769D58, 0x849A, 0x4D79, {0x86, 0x07, 0xCF, 0x67, 0x28, 0x0C, 0xD0, 0xAE}};

class parser {
public:
    explicit parser(const std::string& text) : m_text(text) {}

    bool parse(std::vector<titleformat_script::node>& out) {
        if (!parse_sequence(out, false)) return false;
        return m_pos == m_text.size();
    }

private:
    bool parse_sequence(std::vector<titleformat_script::node>& out, bool in_section) {
        std::string literal;
        auto flush = [&] {
            if (!literal.empty()) {
                out.push_back({titleformat_script::node::literal, literal, {}});
                literal.clear();
            }
        };
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos];
            if (c == '%') {
                const std::size_t end = m_text.find('%', m_pos + 1);
                if (end == std::string::npos || end == m_pos + 1) return false;
                flush();
                out.push_back({titleformat_script::node::field, m_text.substr(m_pos + 1, end - m_pos - 1), {}});
                m_pos = end + 1;
            } else if (c == '\'' && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '\'') {
                literal += '\'';
                m_pos += 2;
            } else if (c == '\'') {
                ++m_pos;
                for (;;) {
                    if (m_pos >= m_text.size()) return false;
                    if (m_text[m_pos] == '\'') {
                        if (m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '\'') {
                            literal += '\'';
                            m_pos += 2;
                            continue;
                        }
                        ++m_pos;
                        break;
                    }
                    literal += m_text[m_pos++];
                }
            } else if (c == '[') {
                flush();
                ++m_pos;
                titleformat_script::node section{titleformat_script::node::section, {}, {}};
                if (!parse_sequence(section.children, true)) return false;
                if (m_pos >= m_text.size() || m_text[m_pos] != ']') return false;
                ++m_pos;
                out.push_back(std::move(section));
            } else if (c == ']') {
                if (!in_section) return false;
                flush();
                return true;
            } else {
                literal += c;
                ++m_pos;
            }
        }
        flush();
        return !in_section;
    }

    const std::string& m_text;
    std::size_t m_pos = 0;
};

// Formats a sequence; answers whether every field in it had a value.
bool run_nodes(const std::vector<titleformat_script::node>& nodes, const titleformat_script::field_lookup& lookup,
               titleformat_text_filter* filter, std::string& out) {
    bool all_found = true;
    for (const auto& n : nodes) {
        switch (n.kind) {
        case titleformat_script::node::literal:
            out += n.text;
            break;
        case titleformat_script::node::field: {
            std::string value;
            if (lookup && lookup(n.text, value)) {
                if (filter) {
                    host_string filtered;
                    filter->write(output_field, filtered, value.data(), static_cast<zof::t_size>(value.size()));
                    out += filtered.str();
                } else {
                    out += value;
                }
            } else {
                out += '?';
                all_found = false;
            }
            break;
        }
        case titleformat_script::node::section: {
            std::string inner;
            if (run_nodes(n.children, lookup, filter, inner)) out += inner;
            break;
        }
        }
    }
    return all_found;
}

class collecting_out final : public titleformat_text_out {
public:
    void write(const GUID&, const char* data, zof::t_size length) override {
        if (!data) return;
        zof::t_size n = 0;
        while (n < length && data[n]) ++n;
        text.append(data, n);
    }
    std::string text;
};

} // namespace

std::unique_ptr<titleformat_script> titleformat_script::compile(const std::string& text) {
    auto script = std::unique_ptr<titleformat_script>(new titleformat_script());
    if (!parser(text).parse(script->m_nodes)) return nullptr;
    return script;
}

std::string titleformat_script::run(const field_lookup& lookup, titleformat_text_filter* filter) const {
    std::string out;
    run_nodes(m_nodes, lookup, filter, out);
    return out;
}

bool titleformat_hook_field(titleformat_hook* hook, const std::string& name, std::string& value) {
    if (!hook) return false;
    collecting_out out;
    bool found = false;
    if (!hook->process_field(&out, name.c_str(), static_cast<zof::t_size>(name.size()), found)) return false;
    if (!found) return false;
    value = out.text;
    return true;
}

void host_titleformat_object::run(titleformat_hook* hook, zof::string_base& out, titleformat_text_filter* filter) {
    const std::string text = m_script->run(
        [hook](const std::string& name, std::string& value) { return titleformat_hook_field(hook, name, value); },
        filter);
    out.assign(text.c_str(), static_cast<zof::t_size>(text.size()));
}

bool host_titleformat_compiler::compile(service_ptr_t<titleformat_object>& out, const char* script) {
    auto compiled = titleformat_script::compile(script ? script : "");
    if (!compiled) return false;
    out = make_service<host_titleformat_object>(std::move(compiled));
    return true;
}

} // namespace kestrune_host
