#pragma once
// Wires the component's SDK code (linked statically into the test) to a
// stand-in player in the same process.
#include <gtest/gtest.h>

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

    kestrune_host::player host;
    component_client* client = nullptr;
};
