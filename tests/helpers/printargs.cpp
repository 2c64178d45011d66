// Prints its arguments as its C runtime split them: the count on the first
// line, then each argument (UTF-8) on a line of its own. Then reads its
// input to the end, like an encoder.
#include "helper_io.h"

#include <string>
#include <vector>

#if defined(_WIN32)
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int expand, int* startup);

static std::vector<std::string> arguments(int, char**) {
    int argc = 0;
    wchar_t** argv = nullptr;
    wchar_t** env = nullptr;
    int startup = 0;
    __wgetmainargs(&argc, &argv, &env, 0, &startup);
    std::vector<std::string> out;
    for (int i = 1; i < argc; ++i) {
        int size = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string text(size > 0 ? size - 1 : 0, '\0');
        if (size > 1)
            WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, &text[0], size, nullptr, nullptr);
        out.push_back(text);
    }
    return out;
}
#else
static std::vector<std::string> arguments(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }
#endif

int main(int argc, char** argv) {
    std::string text;
    const std::vector<std::string> args = arguments(argc, argv);
    text += std::to_string(args.size()) + "\n";
    for (const std::string& arg : args)
        text += arg + "\n";
    helper::writeAll(1, text.data(), text.size());
    static char buffer[4096];
    while (helper::readSome(buffer, sizeof(buffer)) > 0) {
    }
    return 0;
}
