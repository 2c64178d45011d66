// Title formatting through the player.
#include "titleformat_util.h"

#include "kestrune_shared.h"
#include "service_lookup.h"
#include "zof/string8.h"
#include "zof/utf8.h"

namespace {
const char error_script[] = "<ERROR>";
}

void titleformat_compile_force_error(titleformat_compiler& compiler, service_ptr_t<titleformat_object>& out) {
    if (!compiler.compile(out, error_script)) uBugCheck();
}

void titleformat_compile_safe(titleformat_compiler& compiler, service_ptr_t<titleformat_object>& out,
                              const char* script) {
    if (!compiler.compile(out, script ? script : "")) titleformat_compile_force_error(compiler, out);
}

bool formatTitle(const std::string& script, std::string& out) {
    service_ptr_t<titleformat_object> compiled;
    {
        service_ptr_t<titleformat_compiler> compiler;
        create_host_service(compiler);
        titleformat_compile_safe(*compiler, compiled, script.c_str());
    }
    service_ptr_t<playback_control> control;
    create_host_service(control);
    zof::string8 text;
    if (!control->format_title(nullptr, text, compiled, nullptr,
                               playback_control::format_flag_time | playback_control::format_flag_dynamic_info)) {
        control->is_playing();
        return false;
    }
    out.assign(text.text(), text.length());
    return true;
}

// ---------------------------------------------------------------- hooks
bool titleformat_hook_splitter::process_field(titleformat_text_out* out, const char* name, zof::t_size name_length,
                                              bool& found) {
    if (m_first && m_first->process_field(out, name, name_length, found)) return true;
    return m_second && m_second->process_field(out, name, name_length, found);
}

bool titleformat_hook_splitter::process_function(titleformat_text_out* out, const char* name, zof::t_size name_length,
                                                 titleformat_hook_function_params* params, bool& found) {
    if (m_first && m_first->process_function(out, name, name_length, params, found)) return true;
    return m_second && m_second->process_function(out, name, name_length, params, found);
}

void titleformat_write_filtered(titleformat_text_out& out, const GUID& output, const char* data, zof::t_size length,
                                const char* replaced, char replacement) {
    if (!data) return;
    const char* const set = replaced ? replaced : "";
    auto in_set = [set](std::uint32_t c) {
        std::uint32_t s;
        for (const char* p = set; zof::t_size n = zof::utf8_decode_char(p, s); p += n)
            if (s == c) return true;
        return false;
    };
    zof::t_size run = 0, pos = 0;
    while (pos < length && data[pos]) {
        std::uint32_t c;
        const zof::t_size n = zof::utf8_decode_char(data + pos, c, length - pos);
        if (n == 0) break; // a broken sequence ends the text
        if (in_set(c)) {
            if (pos > run) out.write(output, data + run, pos - run);
            out.write(output, &replacement, 1);
            run = pos + n;
        }
        pos += n;
    }
    if (pos > run) out.write(output, data + run, pos - run);
}

void titleformat_write_output(titleformat_text_out& out, const GUID& output, const char* data, zof::t_size length,
                              const char* replaced, char replacement) {
    if (guid_equal(output, guid_titleformat_output_unfiltered))
        out.write(output, data, length);
    else
        titleformat_write_filtered(out, output, data, length, replaced, replacement);
}
