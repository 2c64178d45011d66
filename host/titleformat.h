#pragma once
// The player's title-format language, small as it is:
//   text            copied as it stands
//   %name%          a field of the track (or of the caller's hook); "?"
//                   when it has no value
//   'text'          quoted text; % [ ] lose their meaning there
//   ''              one quote, inside or outside quoted text
//   [ ... ]         shown only when every field inside has a value
// An unclosed %, ' or [, an unmatched ] or an empty field name is a syntax
// error: the script does not compile.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host_services.h"

namespace kestrune_host {

class titleformat_script {
public:
    // Null on a syntax error.
    static std::unique_ptr<titleformat_script> compile(const std::string& text);

    // Looks a field up: true and the value when it has one.
    using field_lookup = std::function<bool(const std::string& name, std::string& value)>;
    // Formats; field values pass through `filter` when one is given.
    std::string run(const field_lookup& lookup, titleformat_text_filter* filter) const;

    struct node {
        enum kind_t { literal, field, section } kind;
        std::string text;
        std::vector<node> children;
    };

private:
    std::vector<node> m_nodes;
};

// The compiled script as a service.
class host_titleformat_object : public titleformat_object {
public:
    explicit host_titleformat_object(std::unique_ptr<titleformat_script> script) : m_script(std::move(script)) {}
    void run(titleformat_hook* hook, zof::string_base& out, titleformat_text_filter* filter) override;
    const titleformat_script& script() const { return *m_script; }

private:
    std::unique_ptr<titleformat_script> m_script;
};

class host_titleformat_compiler : public titleformat_compiler {
public:
    bool compile(service_ptr_t<titleformat_object>& out, const char* script) override;
};

// Asks a hook for a field; true and the value when it knows one.
bool titleformat_hook_field(titleformat_hook* hook, const std::string& name, std::string& value);

} // namespace kestrune_host
