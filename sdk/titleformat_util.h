#pragma once
// Title formatting through the player: the playing track's text for a
// script, safe compiling, and the pieces title-format hooks are made of.
#include <string>

#include "host_services.h"

// Formats the playing track with `script` (UTF-8): true and the text in
// `out`; false, with `out` as it was, when nothing plays. A script that
// does not compile is formatted as "<ERROR>".
bool formatTitle(const std::string& script, std::string& out);

// Compiles `script`; when that fails, "<ERROR>"; when that fails too the
// player's bug check stops the program.
void titleformat_compile_safe(titleformat_compiler& compiler, service_ptr_t<titleformat_object>& out,
                              const char* script);
// Compiles "<ERROR>" (bug check when the player refuses even that).
void titleformat_compile_force_error(titleformat_compiler& compiler, service_ptr_t<titleformat_object>& out);

// Asks `first` for each field or function and, when it does not know the
// name, `second`. Either may be null.
class titleformat_hook_splitter : public titleformat_hook {
public:
    titleformat_hook_splitter(titleformat_hook* first, titleformat_hook* second) : m_first(first), m_second(second) {}
    bool process_field(titleformat_text_out* out, const char* name, zof::t_size name_length, bool& found) override;
    bool process_function(titleformat_text_out* out, const char* name, zof::t_size name_length,
                          titleformat_hook_function_params* params, bool& found) override;

private:
    titleformat_hook* m_first;
    titleformat_hook* m_second;
};

// Writes `data` (up to `length` bytes or its zero byte) to `out` for
// `output`, each character of `replaced` (UTF-8, a set of characters)
// written as `replacement` and the runs between them as they stand.
void titleformat_write_filtered(titleformat_text_out& out, const GUID& output, const char* data, zof::t_size length,
                                const char* replaced, char replacement);
// The same, but unfiltered for the output that must not be filtered
// (guid_titleformat_output_unfiltered).
void titleformat_write_output(titleformat_text_out& out, const GUID& output, const char* data, zof::t_size length,
                              const char* replaced, char replacement);
