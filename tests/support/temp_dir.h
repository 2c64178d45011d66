#pragma once
// Scratch folders for tests.
#include <string>

// A fresh, empty folder for files a test writes, of its own even when
// several test programs run at once, removed with its content at the end;
// path() ends with a separator.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};
