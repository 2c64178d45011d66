// Command-line splitting and quoting by the rules of the Windows C runtime,
// the same on both builds so one parameter text gives one set of arguments.
#include "win32/process.h"

namespace {

template <class Ch>
bool isBlank(Ch c) {
    return c == Ch(' ') || c == Ch('\t');
}

// Reads one argument starting at `i` (not at a blank); leaves `i` after it.
template <class Ch>
std::basic_string<Ch> readArgument(const std::basic_string<Ch>& text, std::size_t& i) {
    std::basic_string<Ch> argument;
    bool in_quotes = false;
    const std::size_t n = text.size();
    for (;;) {
        std::size_t backslashes = 0;
        while (i < n && text[i] == Ch('\\')) {
            ++i;
            ++backslashes;
        }
        bool copy = true;
        if (i < n && text[i] == Ch('"')) {
            if (backslashes % 2 == 0) {
                if (in_quotes && i + 1 < n && text[i + 1] == Ch('"')) {
                    ++i; // "" inside quotes: one literal quote
                } else {
                    copy = false;
                    in_quotes = !in_quotes;
                }
            }
            backslashes /= 2;
        }
        argument.append(backslashes, Ch('\\'));
        if (i >= n || (!in_quotes && isBlank(text[i])))
            break;
        if (copy)
            argument.push_back(text[i]);
        ++i;
    }
    return argument;
}

template <class Ch>
void splitRest(const std::basic_string<Ch>& text, std::size_t i, std::vector<std::basic_string<Ch>>& out) {
    for (;;) {
        while (i < text.size() && isBlank(text[i]))
            ++i;
        if (i >= text.size())
            return;
        out.push_back(readArgument(text, i));
    }
}

template <class Ch>
std::vector<std::basic_string<Ch>> splitAll(const std::basic_string<Ch>& text) {
    std::vector<std::basic_string<Ch>> out;
    splitRest(text, 0, out);
    return out;
}

template <class Ch>
std::basic_string<Ch> quote(const std::basic_string<Ch>& argument) {
    bool plain = !argument.empty();
    for (Ch c : argument) {
        if (isBlank(c) || c == Ch('"') || c == Ch('\n') || c == Ch('\v')) {
            plain = false;
            break;
        }
    }
    if (plain)
        return argument;
    std::basic_string<Ch> out(1, Ch('"'));
    std::size_t backslashes = 0;
    for (Ch c : argument) {
        if (c == Ch('\\')) {
            ++backslashes;
            continue;
        }
        if (c == Ch('"')) {
            out.append(2 * backslashes + 1, Ch('\\'));
        } else {
            out.append(backslashes, Ch('\\'));
        }
        backslashes = 0;
        out.push_back(c);
    }
    // Backslashes before the closing quote are doubled so they stay literal.
    out.append(2 * backslashes, Ch('\\'));
    out.push_back(Ch('"'));
    return out;
}

} // namespace

namespace platform {

std::vector<std::wstring> splitCommandLine(const std::wstring& line) {
    std::vector<std::wstring> out;
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (i < n && isBlank(line[i]))
        ++i;
    if (i >= n)
        return out;
    // The program: quotes group blanks and are dropped; backslashes are
    // path separators, never escapes.
    std::wstring program;
    bool in_quotes = false;
    for (; i < n; ++i) {
        wchar_t c = line[i];
        if (c == L'"') {
            in_quotes = !in_quotes;
            continue;
        }
        if (!in_quotes && isBlank(c))
            break;
        program.push_back(c);
    }
    out.push_back(program);
    splitRest(line, i, out);
    return out;
}

std::vector<std::string> splitArguments(const std::string& text) { return splitAll(text); }
std::vector<std::wstring> splitArguments(const std::wstring& text) { return splitAll(text); }
std::string quoteArgument(const std::string& argument) { return quote(argument); }
std::wstring quoteArgument(const std::wstring& argument) { return quote(argument); }

} // namespace platform
