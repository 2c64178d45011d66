#pragma once
// Class identifiers: 16-byte GUIDs in their in-memory layout (32-bit,
// 16-bit, 16-bit fields in the machine's byte order, then 8 bytes).
#include <cstdint>
#include <cstring>

#if defined(_WIN32)
#  include <windows.h>
// Windows' own GUID, with its == and != from <guiddef.h>.
#else
struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
inline bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
#endif

static_assert(sizeof(GUID) == 16, "GUID must be 16 bytes");

// All 16 bytes compared.
inline bool guid_equal(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

inline constexpr GUID guid_null = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// The owner window of the component's window: the player's main window.
#if defined(_WIN32)
typedef HWND host_window;
#else
typedef void* host_window;
#endif
