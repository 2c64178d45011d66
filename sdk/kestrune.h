#pragma once
// The contract between the player kestrune and its components: everything
// both sides compile against.
//
// Where a table of operations is not fixed by the player's documentation,
// it is fixed here once and marked in the header concerned:
// - core_api.h: the core API's seventh operation (is_shutting_down) and the
//   client object's seventh (is_debug);
// - host_services.h: playback_control's first own operation (is_playing,
//   called after format_title failed), the play notifications beyond the
//   two that components act on, track_handle, titleformat_object's class;
// - dsp.h: dsp, dsp_abortable's run_abortable, the factory operations after
//   get_guid (name and configuration popup).
#include "guid.h"
#include "service.h"
#include "core_api.h"
#include "host_services.h"
#include "component_services.h"
#include "audio_chunk.h"
#include "dsp.h"
#include "kestrune_shared.h"
