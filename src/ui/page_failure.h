#pragma once
// What an option page does when it cannot show or take over its record.
#include <windows.h>

#include <string>

// `what`, then the reason on a line of its own (left out when it is not
// UTF-8).
std::wstring withReason(const wchar_t* what, const char* why);

// Tells it on the console as "velmora: <topic>: <why>" and in a message
// box over `page`.
void reportPageFailure(HWND page, const char* topic, const wchar_t* what, const char* why);
