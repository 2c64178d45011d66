#pragma once
// The text of an exception as the engine reports it.
#include <string>

// Called inside a handler: the text of the exception being handled (a Poco
// exception's display text, a standard exception's what, or "Unknown
// exception" when it has none or is of another type).
std::string currentFailureText();
