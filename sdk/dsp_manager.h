#pragma once
// Runs audio chunks through a chain of the player's DSP instances built from
// a chain of presets. Instances are made on the first run after the chain
// changed; when only one preset's data changed the others are kept, and
// the instances that go are asked to flush what they hold.
#include <cstdint>

#include "dsp_config.h"
#include "kestrune_io.h"
#include "zof/exceptions.h"

// A factory that is installed refused to make an instance from its own
// preset. The run that needed the instance fails with it; nothing else
// stops.
ZOF_DECLARE_EXCEPTION(exception_dsp_instantiate, zof::exception_bug_check, "DSP factory refused to create an instance");

class dsp_chain_entry;

// The live instances in processing order. Each node carries an atomic
// reference count: the chain holds one reference, a run holds another
// while it uses the node.
class dsp_chain_list {
public:
    dsp_chain_list() = default;
    dsp_chain_list(const dsp_chain_list&) = delete;
    dsp_chain_list& operator=(const dsp_chain_list&) = delete;
    ~dsp_chain_list() { remove_all(); }

    // Links `node` at the end, taking a reference to it.
    void append(dsp_chain_entry* node);
    void remove_all();
    void swap(dsp_chain_list& other);

    dsp_chain_entry* first() const { return m_first; }
    zof::t_size count() const { return m_count; }

private:
    dsp_chain_entry* m_first = nullptr;
    dsp_chain_entry* m_last = nullptr;
    zof::t_size m_count = 0;
};

class dsp_manager {
public:
    dsp_manager() = default;
    dsp_manager(const dsp_manager&) = delete;
    dsp_manager& operator=(const dsp_manager&) = delete;
    ~dsp_manager();

    // Keeps a copy of `config`; the instances change on the next run.
    void set_config(const dsp_chain_config& config);
    // Runs the chunks of `list` in place through the chain and answers the
    // summed latency of the instances that ran. Bad chunks are removed
    // before each DSP and after the last. Whatever throws empties the list
    // and passes on; the floating-point control state is the caller's
    // again on every way out.
    double run(dsp_chunk_list* list, track_handle* track, std::uint32_t flags, kestrune_io::abort_callback& abort);
    // Drops every instance; the next run makes them afresh from the kept
    // chain.
    void release_instances();

    const dsp_chain_config& config() const { return m_config; }
    // The live instances, in processing order.
    zof::t_size instance_total() const { return m_chain.count(); }
    service_ptr_t<dsp> instance_at(zof::t_size index) const;

private:
    dsp_chain_list m_chain;
    dsp_chain_config_impl m_config;
    bool m_config_changed = false;
};
