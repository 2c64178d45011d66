// The four services Velmora registers.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "plugin/components.h"
#if defined(_WIN32)
#include "ui/main_dlg.h"
#else
#include "driver/stream_driver.h"
#endif
#include "component_loader.h"
#include "host_string.h"
#include "sdk_fixture.h"

using kestrune_host::host_string;

namespace {

using Components = with_player;

// A service that counts the references it holds.
class counted final : public service_base {
public:
    int drop_reference() override { return --count; }
    int add_reference() override { return ++count; }
    bool query_class(service_ptr&, const GUID&) override { return false; }
    int count = 0;
};

// Delegates to the stand-in player but fails when asked for its window.
class failing_window_api final : public kestrune_api {
public:
    explicit failing_window_api(kestrune_api& inner) : m_inner(inner) {}
    service_class_ref service_class_find(const GUID& c) override { return m_inner.service_class_find(c); }
    bool service_instance_create(service_ptr& out, service_class_ref c, std::uint32_t i) override {
        return m_inner.service_instance_create(out, c, i);
    }
    std::uint32_t service_instance_count(service_class_ref c) override { return m_inner.service_instance_count(c); }
    host_window main_window() override { throw std::runtime_error("no main window"); }
    bool may_open_window() override { return true; }
    bool is_main_thread() override { return true; }
    bool is_shutting_down() override { return false; }
    const char* profile_path() override { return ""; }
private:
    kestrune_api& m_inner;
};

} // namespace

TEST_F(Components, ValidatorComparesTheFileNameAfterTheLastSeparatorExactly) {
    auto matches = [](const char* path) {
        return component_installation_validator_filename::name_matches(path, "velmora.dll");
    };
    EXPECT_TRUE(matches("velmora.dll"));
    EXPECT_TRUE(matches("C:\\Program Files\\kestrune\\components\\velmora.dll"));
    EXPECT_TRUE(matches("/usr/lib/kestrune/velmora.dll"));
    EXPECT_TRUE(matches("archive.zip|velmora.dll"));
    EXPECT_TRUE(matches("C:velmora.dll"));
    EXPECT_TRUE(matches("C:\\a/b|c:velmora.dll"));
    EXPECT_FALSE(matches("Velmora.dll"));
    EXPECT_FALSE(matches("C:\\kestrune\\VELMORA.DLL"));
    EXPECT_FALSE(matches(""));
    EXPECT_FALSE(matches("C:\\velmora.dll\\"));
    EXPECT_FALSE(matches("C:\\old_velmora.dll"));
    EXPECT_FALSE(matches("velmora.dll.bak"));
    EXPECT_FALSE(matches(nullptr));

    // The installed validator reads the path the player gave.
    service_impl_single_t<component_installation_validator_filename> validator("velmora.dll");
    client->take_library_path("D:\\players\\kestrune\\velmora.dll", "velmora.dll");
    EXPECT_TRUE(validator.file_name_matches());
    client->take_library_path("", "");
    EXPECT_FALSE(validator.file_name_matches());
}

TEST_F(Components, VersionTexts) {
    service_impl_single_t<componentversion_myimpl> version;
    client->take_library_path("/x/velmora.dll", "velmora.dll");
    host_string name, ver, file, about;
    version.display_name(name);
    version.version_text(ver);
    version.module_file(file);
    version.about_text(about);
    EXPECT_EQ(name.str(), "Velmora");
    EXPECT_EQ(ver.str(), "1.4.1");
    EXPECT_EQ(file.str(), "velmora.dll");
    ASSERT_EQ(about.str().rfind("Velmora for kestrune\n", 0), 0u);
    EXPECT_EQ(std::count(about.str().begin(), about.str().end(), '\n'), 2);
    EXPECT_EQ(about.str().back(), '\n');
}

TEST(MainMenu, OneCommandInTheHostsGroup) {
    service_impl_single_t<mainmenu_commands_velmora> menu;
    EXPECT_EQ(menu.command_total(), 1u);
    EXPECT_EQ(kestrune_host::guid_text(menu.command_guid(0)), "{A45A0E2F-8581-4DDD-BF8E-BBAA6115D153}");
    EXPECT_TRUE(guid_equal(menu.command_guid(1), guid_null));
    EXPECT_EQ(kestrune_host::guid_text(menu.parent_menu_guid()), "{F8BE5604-165F-4BB9-B6A9-15E55E0E0D3A}");
    EXPECT_EQ(menu.menu_order(), 0x80000000u);

    host_string label("untouched"), help("untouched");
    menu.command_label(1, label);
    EXPECT_FALSE(menu.command_help(1, help));
    EXPECT_EQ(label.str(), "untouched");
    EXPECT_EQ(help.str(), "untouched");
    menu.command_label(0, label);
    EXPECT_TRUE(menu.command_help(0, help));
    EXPECT_EQ(label.str(), "Velmora");
    EXPECT_EQ(help.str(), "Activates Velmora window.");

    host_string shown;
    std::uint32_t flags = 99;
    EXPECT_TRUE(menu.display_state(0, shown, flags));
    EXPECT_EQ(flags, 0u);
    EXPECT_EQ(shown.str(), "Velmora");
}

TEST_F(Components, RunCommandReleasesTheCallbackAndOpensTheWindowOnlyWhenAllowed) {
    service_impl_single_t<mainmenu_commands_velmora> menu;
    counted callback;
    menu.run_command(1, service_ptr()); // no callback at all
    for (bool allowed : {false, true}) {
        host.api().set_may_open_window(allowed);
        for (std::uint32_t index : {1u, 0u}) {
            service_ptr ref = &callback;
            menu.run_command(index, std::move(ref));
            EXPECT_EQ(callback.count, 0) << "index " << index;
        }
        if (!allowed) {
            // The player said no: nothing was opened.
#if defined(_WIN32)
            EXPECT_EQ(CMainDlg::existingInstance(), nullptr);
#else
            EXPECT_EQ(StreamDriver::instance(), nullptr);
#endif
        }
    }
#if defined(_WIN32)
    // Opened once, by the allowed command: the window object with its
    // stream (this program carries no dialog resources, so its dialog
    // cannot be made and the object waits for the next command); a second
    // command makes no second object, and the quit hook does nothing.
    CMainDlg* window = CMainDlg::existingInstance();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->allStreams().size(), 1u);
    EXPECT_TRUE(host.console_log().contains("velmora: the main window could not be made"));
    menu.run_command(0, service_ptr());
    EXPECT_EQ(CMainDlg::existingInstance(), window);
    service_impl_single_t<initquit_velmora>().at_quit();
    EXPECT_EQ(CMainDlg::existingInstance(), window);
#else
    // Opened once, by the allowed command: the streams of the settings
    // run until the quit hook; a second command opens nothing more.
    EXPECT_TRUE(host.console_log().contains("velmora: 1 stream(s) from the settings file"));
    EXPECT_NE(StreamDriver::instance(), nullptr);
    menu.run_command(0, service_ptr());
    EXPECT_EQ(host.console_log().lines().back(), "velmora: the streams run already");
    service_impl_single_t<initquit_velmora>().at_quit();
    EXPECT_EQ(StreamDriver::instance(), nullptr);
#endif
}

TEST_F(Components, AFailureInsideTheCommandIsReportedNotThrown) {
    failing_window_api api(host.api());
    kestrune_get_interface(&api, nullptr);
    service_impl_single_t<mainmenu_commands_velmora> menu;
    counted callback;
    service_ptr ref = &callback;
    EXPECT_NO_THROW(menu.run_command(0, std::move(ref)));
    EXPECT_EQ(callback.count, 0);
    EXPECT_EQ(host.console_log().lines(), std::vector<std::string>{"velmora: main menu command: no main window"});
}
