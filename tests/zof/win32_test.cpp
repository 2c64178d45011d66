// Win32 error texts and events.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "zof/win32.h"

namespace {

std::string text_of(DWORD code) { return win32_error_text(code).text(); }

TEST(Win32ErrorText, FixedTexts) {
    EXPECT_EQ("Undefined error", text_of(0));
    EXPECT_EQ("Not a valid Win32 application.", text_of(193));
    EXPECT_EQ("Unable to modify a signed binary.", text_of(217));
    EXPECT_EQ(text_of(217), text_of(218));
}

TEST(Win32ErrorText, SystemTextsComeOnOneLine) {
    for (DWORD code : {2u, 5u, 6u, 32u, 87u, 109u, 232u}) {
        const std::string text = text_of(code);
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(std::string::npos, text.find_first_of("\r\n")) << code;
        EXPECT_EQ(std::string::npos, text.find("Unknown error code")) << code;
    }
}

TEST(Win32ErrorText, InsertsAreLeftAsTheyStand) {
    // A system text with inserts: formatted without an argument list.
    const std::string text = text_of(34);
    EXPECT_EQ(std::string::npos, text.find("Unknown error code")) << text;
    EXPECT_EQ(std::string::npos, text.find_first_of("\r\n"));
}

TEST(Win32ErrorText, UnknownCode) {
    EXPECT_EQ("Unknown error code (" + std::to_string(0xDFFFFFFFu) + ")", text_of(0xDFFFFFFFu));
}

TEST(Win32ErrorText, LastErrorIsPreserved) {
    for (DWORD code : {0u, 193u, 5u, 0xDFFFFFFFu}) {
        SetLastError(1234);
        (void)text_of(code);
        EXPECT_EQ(1234u, GetLastError()) << code;
    }
}

TEST(ExceptionWin32, CarriesCodeAndText) {
    try {
        throw exception_win32(193);
    } catch (const std::exception& e) {
        EXPECT_STREQ("Not a valid Win32 application.", e.what());
        const auto* w = dynamic_cast<const exception_win32*>(&e);
        ASSERT_NE(nullptr, w);
        EXPECT_EQ(193u, w->get_code());
        exception_win32 copy(*w);
        EXPECT_EQ(193u, copy.get_code());
        EXPECT_STREQ(e.what(), copy.what());
    }
}

TEST(Win32Event, WaitsAndTimeouts) {
    EXPECT_EQ(50u, win32_timeout_ms(0.05));
    EXPECT_EQ(1u, win32_timeout_ms(0.0));

    win32_event event;
    event.create();
    ASSERT_TRUE(event.is_valid());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(event.wait());
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(40));

    event.set_state(true);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(event.wait()); // manual reset
    event.set_state(false);
    EXPECT_FALSE(event.wait());
}

TEST(Win32Event, SignalFromAnotherThreadEndsTheWait) {
    win32_event event;
    event.create();
    std::thread setter([&] { SetEvent(event.get()); });
    bool signalled = false;
    for (int i = 0; i < 100 && !signalled; ++i) signalled = event.wait();
    setter.join();
    EXPECT_TRUE(signalled);
}

TEST(Win32Event, CreatingAgainReplacesTheHandle) {
    HANDLE holder = nullptr;
    win32_event_create(holder);
    HANDLE first = holder;
    SetEvent(first);
    win32_event_create(holder);
    ASSERT_NE(nullptr, holder);
    EXPECT_FALSE(win32_event_wait(holder)); // a fresh, unsignalled event
    win32_event_close(holder);
    EXPECT_EQ(nullptr, holder);
    win32_event_close(holder); // closing nothing is harmless
}

TEST(Win32Event, WaitOnNoHandleThrowsWin32) {
    EXPECT_THROW(win32_event_wait(nullptr), exception_win32);
}

} // namespace
