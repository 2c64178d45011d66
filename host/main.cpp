// kestrune, the stand-in player: loads the Velmora component and shows what
// it registers.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "component_loader.h"
#include "host_string.h"
#include "player.h"

using namespace kestrune_host;

namespace {

void usage() {
    std::printf("usage: kestrune [--component PATH]\n"
                "Loads the component (by default the one beside this program), prints its name,\n"
                "version, about text, installation check and menu command, runs the command and\n"
                "unloads it.\n");
}

void print_indented(const std::string& text) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::printf("  %s\n", text.substr(start, end - start).c_str());
        start = end + 1;
    }
}

int show_component(const std::string& path) {
    player host(true);
    host.console_log().set_echo(true, "console: ");
    component_module module(host, path);
    std::printf("component: %s\n", module.full_path().c_str());

    std::printf("factories:");
    for (const GUID& g : module.factory_classes()) std::printf(" %s", guid_text(g).c_str());
    std::printf("\n");

    if (auto version = host.registry().get<componentversion>()) {
        host_string name, ver, file, about;
        version->display_name(name);
        version->version_text(ver);
        version->module_file(file);
        version->about_text(about);
        std::printf("name: %s\nversion: %s\nmodule file: %s\nabout:\n", name.text(), ver.text(), file.text());
        print_indented(about.str());
    } else {
        std::printf("no component version\n");
    }

    if (auto validator = host.registry().get<component_installation_validator>())
        std::printf("installation check: %s\n", validator->file_name_matches() ? "file name matches" : "file name differs");

    if (auto menu = host.registry().get<mainmenu_commands>()) {
        for (std::uint32_t i = 0; i < menu->command_total(); ++i) {
            host_string label, help;
            menu->command_label(i, label);
            menu->command_help(i, help);
            std::printf("menu command %u: \"%s\" (%s) %s in %s\n", unsigned(i), label.text(), help.text(),
                        guid_text(menu->command_guid(i)).c_str(), guid_text(menu->parent_menu_guid()).c_str());
            menu->run_command(i, service_ptr());
        }
    } else {
        std::printf("no menu command\n");
    }
    host.pump();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string path;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--component") == 0 && i + 1 < argc) {
            path = argv[++i];
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            usage();
            return 0;
        } else {
            std::fprintf(stderr, "kestrune: unknown argument %s\n", argv[i]);
            usage();
            return 2;
        }
    }
    if (path.empty()) path = program_folder() + component_file_name();
    try {
        const int rc = show_component(path);
        std::printf("unloaded\n");
        std::fflush(stdout);
        return rc;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrune: %s\n", e.what());
        return 1;
    }
}
