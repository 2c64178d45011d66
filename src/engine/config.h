#pragma once
// The settings store: "velmora.xml" in the player's profile folder, read
// when the store is made and written when it is deleted.
//
// Keys are dotted paths below the root element `velmora`; three groups
// exist: "common." (the window's settings), "stream[%d]." (one per stream,
// with a "server." and an "encoder." part) and "encoder_setting[%d]." (one
// per saved encoder preset). Groups are never updated in place: the caller
// removes a kind of group and writes it again from index 0.
//
// Used on the player's main thread only; there is no lock.
#include <Poco/AutoPtr.h>
#include <Poco/DOM/Document.h>
#include <Poco/Util/XMLConfiguration.h>

#include <climits>
#include <functional>
#include <string>

#include "plugin/settings.h"

class Config {
public:
    // Finds the file in the profile folder and loads it; with no file the
    // store starts from an empty document. A file that does not load is
    // put aside under another name, with a console line, and the store
    // starts from the empty document.
    Config();
    // Saves the document (to a temporary file, renamed over the old one
    // once it reads back as the document).
    ~Config();
    Config(const Config&) = delete;
    Config& operator=(const Config&) = delete;

    // Called by the save with the path of the file it has written, before
    // it reads it back; for tests that change what was written.
    static void setWrittenHook(std::function<void(const std::string&)> hook);

    void loadCommon(CommonSettings& common);
    void saveCommon(const CommonSettings& common);
    void removeCommon();

    // A negative index reads a group that never exists: every default.
    void loadStream(int index, EncoderSettings& encoder, ServerSettings& server);
    void saveStream(int index, const EncoderSettings& encoder, const ServerSettings& server);
    void removeStreams();
    int countStreams();

    void loadEncoderSetting(int index, EncoderSettings& encoder);
    void saveEncoderSetting(int index, const EncoderSettings& encoder);
    void removeEncoderSettings();
    int countEncoderSettings();

private:
    void loadEncoder(const std::string& prefix, EncoderSettings& encoder, const char* description);
    void saveEncoder(const std::string& prefix, const EncoderSettings& encoder);
    // Typed reads with the key's default; a value that does not parse, or
    // a number outside [low, high], gives the default and a console line.
    // A number outside takes the nearer end of the range instead where
    // that is asked for.
    enum class OutOfRange { useDefault, useNearest };
    int readInt(const std::string& key, int fallback, int low = INT_MIN, int high = INT_MAX,
                OutOfRange outside = OutOfRange::useDefault);
    bool readBool(const std::string& key, bool fallback);
    std::string readString(const std::string& key, const std::string& fallback);
    // Stores a text as the file can hold it and read it back: without what
    // XML cannot carry, and empty when only white space is left; one console
    // line names a key whose value lost something.
    void writeString(const std::string& key, const std::string& value);
    int count(const char* probe);
    void load(std::istream& in);

    // The document the configuration works on, kept so that the save can
    // write it with a writer of its own.
    Poco::AutoPtr<Poco::XML::Document> document;
    Poco::AutoPtr<Poco::Util::XMLConfiguration> config;
    std::wstring path;
    // False when a broken file could not be put aside: it is then kept as
    // it is, and this run's settings are not saved over it.
    bool writable = true;
};

// The one store, made on first use.
Config* getConfig();
// Deletes the store (which saves the file); the next getConfig reads the
// file again.
void deleteConfig();
