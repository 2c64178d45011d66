#include "engine/failure_text.h"

#include <Poco/Exception.h>

#include <exception>

std::string currentFailureText() {
    try {
        throw;
    } catch (const Poco::Exception& e) {
        return e.displayText();
    } catch (const std::exception& e) {
        return *e.what() ? e.what() : "Unknown exception";
    } catch (...) {
        return "Unknown exception";
    }
}
