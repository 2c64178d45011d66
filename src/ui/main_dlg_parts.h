#pragma once
// The option sheet and the meter updater the main window uses; stand-ins
// until they are in the tree.
#include <atomic>
#include <cstdint>
#include <memory>

#include "plugin/settings.h"
#include "ui/vu_meter.h"

#if __has_include("ui/option_sheet.h")
#include "ui/option_sheet.h"
#else
class OptionSheet {
public:
    OptionSheet(EncoderSettings*, ServerSettings*, const wchar_t*) {}
    INT_PTR DoModal(HWND) { return -1; }
};
#endif

#if __has_include("ui/vu_meter_updater.h")
#include "ui/vu_meter_updater.h"
#else
struct MeterControls {
    std::atomic<int> volume{100};
    std::atomic<bool> mute{false};
};
class VUMeterUpdater {
public:
    VUMeterUpdater(CStaticVUMeter*, CStaticVUMeter*, std::int64_t, std::shared_ptr<const MeterControls>) {}
};
#endif
