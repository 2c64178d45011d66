#pragma once
// The four services Velmora registers with the player.
#include "component_services.h"

class componentversion_myimpl : public componentversion {
public:
    void module_file(zof::string_base& out) override;
    void display_name(zof::string_base& out) override;
    void version_text(zof::string_base& out) override;
    void about_text(zof::string_base& out) override;
};

// Answers whether the module's file name is exactly the expected one.
class component_installation_validator_filename : public component_installation_validator {
public:
    explicit component_installation_validator_filename(const char* expected) : m_expected(expected) {}
    bool file_name_matches() override;
    // The test on a given path: the part after the last of "\", "/", "|"
    // and ":" (the whole path when there is none) equals the expected name,
    // byte for byte.
    static bool name_matches(const char* path, const char* expected);
private:
    const char* m_expected;
};

class initquit_velmora : public initquit {
public:
    void at_start() override {}
    // Empty where the window runs the streams (closing it saves the
    // settings); on Linux it ends what the menu command started.
    void at_quit() override;
};

class mainmenu_commands_velmora : public mainmenu_commands {
public:
    std::uint32_t command_total() override;
    GUID command_guid(std::uint32_t index) override;
    void command_label(std::uint32_t index, zof::string_base& out) override;
    bool command_help(std::uint32_t index, zof::string_base& out) override;
    GUID parent_menu_guid() override;
    std::uint32_t menu_order() override;
    bool display_state(std::uint32_t index, zof::string_base& out, std::uint32_t& flags) override;
    void run_command(std::uint32_t index, service_ptr callback) override;

    static constexpr GUID command_open_guid = {0xA45A0E2F, 0x8581, 0x4DDD, {0xBF, 0x8E, 0xBB, 0xAA, 0x61, 0x15, 0xD1, 0x53}};
    static constexpr GUID menu_group_guid = {0xF8BE5604, 0x165F, 0x4BB9, {0xB6, 0xA9, 0x15, 0xE5, 0x5E, 0x0E, 0x0D, 0x3A}};
};

// Opens (or shows) the main window, owned by the player's main window.
void velmora_show_main_window(host_window owner);
