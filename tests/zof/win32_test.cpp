// Win32 error texts and events.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "zof/win32.h"

namespace {

std::string text_of(DWORD code) { return win32_error_text(code).text(); }

TEST(Win32ErrorText, FixedSystemAndUnknownTextsKeepTheLastError) {
    EXPECT_EQ("Undefined error", text_of(0));
    EXPECT_EQ("Not a valid Win32 application.", text_of(193));
    EXPECT_EQ("Unable to modify a signed binary.", text_of(217));
    EXPECT_EQ(text_of(217), text_of(218));
    EXPECT_EQ("Unknown error code (3758096383)", text_of(0xDFFFFFFFu));
    // System texts come on one line; 34 has inserts and is formatted
    // without an argument list.
    for (DWORD code : {2u, 5u, 6u, 32u, 34u, 87u, 109u, 232u}) {
        const std::string text = text_of(code);
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(std::string::npos, text.find_first_of("\r\n")) << code;
        EXPECT_EQ(std::string::npos, text.find("Unknown error code")) << code;
    }
    for (DWORD code : {0u, 193u, 5u, 0xDFFFFFFFu}) {
        SetLastError(1234);
        (void)text_of(code);
        EXPECT_EQ(1234u, GetLastError()) << code;
    }
    try {
        throw exception_win32(193);
    } catch (const std::exception& e) {
        EXPECT_STREQ("Not a valid Win32 application.", e.what());
        const auto* w = dynamic_cast<const exception_win32*>(&e);
        ASSERT_NE(nullptr, w);
        EXPECT_EQ(193u, exception_win32(*w).get_code());
    }
}

TEST(Win32Event, WaitsTimeoutsAndManualReset) {
    EXPECT_EQ(50u, win32_timeout_ms(0.05));
    EXPECT_EQ(1u, win32_timeout_ms(0.0));

    win32_event event;
    event.create();
    ASSERT_TRUE(event.is_valid());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(event.wait());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));

    event.set_state(true);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(event.wait()); // manual reset
    event.set_state(false);
    EXPECT_FALSE(event.wait());

    std::thread setter([&] { SetEvent(event.get()); });
    bool signalled = false;
    for (int i = 0; i < 100 && !signalled; ++i) signalled = event.wait();
    setter.join();
    EXPECT_TRUE(signalled);
}

TEST(Win32Event, CreatingAgainReplacesTheHandle) {
    HANDLE holder = nullptr;
    win32_event_create(holder);
    SetEvent(holder);
    win32_event_create(holder);
    ASSERT_NE(nullptr, holder);
    EXPECT_FALSE(win32_event_wait(holder)); // a fresh, unsignalled event
    win32_event_close(holder);
    EXPECT_EQ(nullptr, holder);
    win32_event_close(holder); // closing nothing is harmless
    EXPECT_THROW(win32_event_wait(nullptr), exception_win32);
}

} // namespace
