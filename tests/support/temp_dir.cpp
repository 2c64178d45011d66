// Scratch folders for tests.
#include "temp_dir.h"

#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Path.h>

#include <chrono>
#include <random>

TempDir::TempDir() {
    static std::mt19937 random(static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (;;) {
        Poco::Path dir(Poco::Path::temp());
        dir.pushDirectory("velmora-test-" + std::to_string(random()));
        if (Poco::File(dir).createDirectory()) {
            path_ = dir.toString();
            return;
        }
    }
}

TempDir::~TempDir() {
    try {
        Poco::File(path_).remove(true);
    } catch (const Poco::Exception&) {
        // A file still open elsewhere: leave the folder.
    }
}
