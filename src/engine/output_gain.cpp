#include "engine/output_gain.h"

#include <atomic>

namespace {
std::atomic<float> g_gain{1.0f};
}

float outputGain() { return g_gain.load(std::memory_order_relaxed); }

void setOutputGain(float gain) { g_gain.store(gain, std::memory_order_relaxed); }
