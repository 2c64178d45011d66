// The DSP manager.
#include "dsp_manager.h"

#include <atomic>

#include "dsp_chunk_list.h"
#include "dsp_fpu.h"
#include "kestrune_shared.h"

class dsp_chain_entry {
public:
    explicit dsp_chain_entry(const dsp_preset& preset) : preset(preset) {}
    dsp_chain_entry(const dsp_chain_entry&) = delete;
    dsp_chain_entry& operator=(const dsp_chain_entry&) = delete;

    void add_ref() noexcept { m_refs.fetch_add(1); }
    void release() noexcept {
        if (m_refs.fetch_sub(1) == 1) delete this;
    }

    service_ptr_t<dsp> instance;
    dsp_preset_impl preset;
    bool recycle = false;
    dsp_chain_entry* prev = nullptr;
    dsp_chain_entry* next = nullptr;

private:
    ~dsp_chain_entry() = default;
    std::atomic<int> m_refs{0};
};

// ---------------------------------------------------------------- chain
void dsp_chain_list::append(dsp_chain_entry* node) {
    node->add_ref();
    node->prev = m_last;
    node->next = nullptr;
    if (m_last) m_last->next = node;
    else m_first = node;
    m_last = node;
    ++m_count;
}

void dsp_chain_list::remove_all() {
    while (dsp_chain_entry* node = m_first) {
        m_first = node->next;
        if (m_first) m_first->prev = nullptr;
        else m_last = nullptr;
        node->prev = node->next = nullptr;
        --m_count;
        node->release();
    }
}

void dsp_chain_list::swap(dsp_chain_list& other) {
    std::swap(m_first, other.m_first);
    std::swap(m_last, other.m_last);
    std::swap(m_count, other.m_count);
}

// ---------------------------------------------------------------- manager
namespace {

// A reference to a node for the length of one step.
class entry_ref {
public:
    explicit entry_ref(dsp_chain_entry* node) : m_node(node) { m_node->add_ref(); }
    ~entry_ref() { m_node->release(); }
    entry_ref(const entry_ref&) = delete;
    entry_ref& operator=(const entry_ref&) = delete;
    dsp_chain_entry* operator->() const { return m_node; }

private:
    dsp_chain_entry* m_node;
};

// One instance's step: the DSP sees valid chunks only, through its
// abortable run when it has one; its latency is added to `latency`.
void dsp_run_instance(dsp_chain_entry* node, dsp_chunk_list& list, track_handle* track, std::uint32_t flags,
                      double& latency, kestrune_io::abort_callback& abort) {
    const entry_ref held(node);
    dsp_chunk_list_remove_bad_chunks(list);
    {
        uCallStackTracker tracker("dsp::run");
        service_ptr_t<dsp_abortable> abortable;
        if (held->instance.query(abortable))
            abortable->run_abortable(&list, track, flags, abort);
        else
            held->instance->run(&list, track, flags);
    }
    uCallStackTracker tracker("dsp::get_latency");
    latency += held->instance->get_latency();
}

// Both chains as long as each other, compared pair by pair: instances can
// be kept when no owner differs and at most one preset's data does.
bool can_recycle(const dsp_chain_list& old_chain, const dsp_chain_list& new_chain) {
    if (old_chain.count() != new_chain.count()) return false;
    int owner_mismatches = 0, data_mismatches = 0;
    for (const dsp_chain_entry *a = old_chain.first(), *b = new_chain.first(); a && b; a = a->next, b = b->next) {
        if (!guid_equal(a->preset.owner_guid(), b->preset.owner_guid())) ++owner_mismatches;
        else if (a->preset != b->preset) ++data_mismatches;
    }
    return owner_mismatches == 0 && data_mismatches <= 1;
}

} // namespace

// The configuration goes first (its presets deleted), then the chain.
dsp_manager::~dsp_manager() = default;

void dsp_manager::set_config(const dsp_chain_config& config) {
    m_config.copy(config);
    m_config_changed = true;
}

void dsp_manager::release_instances() {
    m_chain.remove_all();
    m_config_changed = true;
}

service_ptr_t<dsp> dsp_manager::instance_at(zof::t_size index) const {
    const dsp_chain_entry* node = m_chain.first();
    for (; node && index != 0; --index) node = node->next;
    return node ? node->instance : service_ptr_t<dsp>();
}

double dsp_manager::run(dsp_chunk_list* list, track_handle* track, std::uint32_t flags,
                        kestrune_io::abort_callback& abort) {
    uCallStackTracker tracker("dsp_manager::run");
    const fpu::dsp_scope fp_state;
    if (!list) return 0.0;
    try {
        double latency = 0.0;
        bool done = false;
        if (m_config_changed) {
            dsp_chain_list fresh;
            const zof::t_size n = m_config.preset_total();
            for (zof::t_size i = 0; i < n; ++i) {
                const dsp_preset& preset = m_config.preset_at(i);
                service_ptr_t<dsp_factory> factory;
                if (find_dsp_entry(factory, preset.owner_guid())) fresh.append(new dsp_chain_entry(preset));
            }

            for (dsp_chain_entry* a = m_chain.first(); a; a = a->next) a->recycle = false;
            if (can_recycle(m_chain, fresh)) {
                for (dsp_chain_entry *a = m_chain.first(), *b = fresh.first(); a && b; a = a->next, b = b->next) {
                    if (a->preset == b->preset) {
                        a->recycle = true;
                        b->instance = a->instance;
                    }
                }
            }
            for (dsp_chain_entry* b = fresh.first(); b; b = b->next)
                if (b->instance.is_empty() && !dsp_factory_instantiate(b->instance, b->preset))
                    throw exception_dsp_instantiate();

            // The old chain hands on this run's chunks and lets go of what
            // it holds; the new chain starts with the next run.
            if (m_chain.count() != 0) {
                for (dsp_chain_entry* a = m_chain.first(); a; a = a->next)
                    dsp_run_instance(a, *list, track, a->recycle ? flags : flags | dsp::flag_flush, latency, abort);
                done = true;
            }
            m_chain.remove_all();
            m_chain.swap(fresh);
            m_config_changed = false;
        }
        if (!done)
            for (dsp_chain_entry* node = m_chain.first(); node; node = node->next)
                dsp_run_instance(node, *list, track, flags, latency, abort);
        dsp_chunk_list_remove_bad_chunks(*list);
        return latency;
    } catch (...) {
        list->erase_marked(zof::bit_array_true());
        throw;
    }
}
