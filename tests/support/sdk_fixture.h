#pragma once
// Wires the component's SDK code (linked statically into the test) to a
// stand-in player in the same process, and byte streams over memory.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "filesystem.h"
#include "player.h"
#include "service_lookup.h"

class with_player : public ::testing::Test {
protected:
    void SetUp() override {
        client = kestrune_get_interface(&host.api(), nullptr);
        client->mark_services_ready(true);
    }
    void TearDown() override {
        client->mark_services_ready(false);
        kestrune_get_interface(nullptr, nullptr);
    }

    // Lines of the player's console that contain `text`.
    std::size_t console_count(const std::string& text) {
        std::size_t n = 0;
        for (const std::string& line : host.console_log().lines())
            if (line.find(text) != std::string::npos) ++n;
        return n;
    }

    kestrune_host::player host;
    component_client* client = nullptr;
};

class memory_writer final : public byte_writer {
public:
    void write(const void* buffer, zof::t_size n, kestrune_io::abort_callback&) override {
        const auto* p = static_cast<const unsigned char*>(buffer);
        bytes.insert(bytes.end(), p, p + n);
    }
    std::vector<unsigned char> bytes;
};

class memory_reader final : public byte_reader {
public:
    explicit memory_reader(std::vector<unsigned char> data) : bytes(std::move(data)) {}
    zof::t_size read(void* buffer, zof::t_size n, kestrune_io::abort_callback&) override {
        const std::size_t left = bytes.size() - position;
        const std::size_t take = n < left ? n : left;
        if (take) std::memcpy(buffer, bytes.data() + position, take);
        position += take;
        return static_cast<zof::t_size>(take);
    }
    std::vector<unsigned char> bytes;
    std::size_t position = 0;
};
