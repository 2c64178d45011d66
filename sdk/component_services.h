#pragma once
// The services a component offers the player through its factory list.
// Each interface lists its own operations in table order after the three of
// service_base.
#include <cstdint>

#include "guid.h"
#include "service.h"
#include "zof/string_base.h"

// Name, version and about text of a component.
class componentversion : public service_base {
public:
    static constexpr GUID class_guid = {0x10BB3EBD, 0xDDF7, 0x4975, {0xA3, 0xCC, 0x23, 0x08, 0x48, 0x29, 0x45, 0x3E}};
    typedef service_base parent_class;
    virtual void module_file(zof::string_base& out) = 0;
    virtual void display_name(zof::string_base& out) = 0;
    virtual void version_text(zof::string_base& out) = 0;
    virtual void about_text(zof::string_base& out) = 0;
protected:
    ~componentversion() = default;
};

// The player's check that a component's module carries its expected name.
class component_installation_validator : public service_base {
public:
    static constexpr GUID class_guid = {0x0639283E, 0x3004, 0x4E5C, {0xB1, 0xB3, 0x6D, 0xFF, 0x08, 0xA7, 0x92, 0x84}};
    typedef service_base parent_class;
    virtual bool file_name_matches() = 0;
protected:
    ~component_installation_validator() = default;
};

// Called once when the player has started and once before it quits.
class initquit : public service_base {
public:
    static constexpr GUID class_guid = {0x113773C4, 0xB387, 0x4B48, {0x8B, 0xDF, 0xAB, 0x58, 0xBC, 0x6C, 0xE5, 0x38}};
    typedef service_base parent_class;
    virtual void at_start() = 0;
    virtual void at_quit() = 0;
protected:
    ~initquit() = default;
};

// Commands a component adds to one of the player's main menus.
class mainmenu_commands : public service_base {
public:
    static constexpr GUID class_guid = {0x35077B8C, 0x6E70, 0x47BA, {0xB9, 0xDD, 0xD5, 0x15, 0x00, 0xE1, 0x2F, 0x2E}};
    typedef service_base parent_class;
    // Display flags: greyed, checked.
    enum : std::uint32_t { flag_disabled = 1, flag_checked = 2 };

    virtual std::uint32_t command_total() = 0;
    virtual GUID command_guid(std::uint32_t index) = 0;
    virtual void command_label(std::uint32_t index, zof::string_base& out) = 0;
    virtual bool command_help(std::uint32_t index, zof::string_base& out) = 0;
    // The menu group that receives the commands.
    virtual GUID parent_menu_guid() = 0;
    // Position within that group.
    virtual std::uint32_t menu_order() = 0;
    // Label and flags for the menu as shown now; false hides the command.
    virtual bool display_state(std::uint32_t index, zof::string_base& out, std::uint32_t& flags) = 0;
    // Runs a command on the player's main thread. `callback` is the
    // player's reference for the call; the command releases it.
    virtual void run_command(std::uint32_t index, service_ptr callback) = 0;
protected:
    ~mainmenu_commands() = default;
};
