// Persisted configuration variables: the registries and the walkers that
// write and read the player's per-component configuration block.
#include "cfg_var.h"

#include <array>
#include <map>
#include <vector>

namespace {

persisted_variable_loader* g_loaders = nullptr;
persisted_variable_saver* g_savers = nullptr;

using guid_bytes = std::array<unsigned char, 16>;

void put_le(unsigned char* out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

// The identifier in its in-memory layout, fields little-endian.
guid_bytes to_bytes(const GUID& id) {
    guid_bytes b;
    put_le(&b[0], id.Data1, 4);
    put_le(&b[4], id.Data2, 2);
    put_le(&b[6], id.Data3, 2);
    for (int i = 0; i < 8; ++i) b[8 + i] = id.Data4[i];
    return b;
}


// A writer into a growable byte buffer, checking for abort before each
// write.
class memory_writer final : public byte_writer {
public:
    void write(const void* buffer, t_size n, kestrune_io::abort_callback& abort) override {
        abort.check();
        const t_size size = zof::add_size(static_cast<t_size>(m_data.size()), n);
        const auto* bytes = static_cast<const unsigned char*>(buffer);
        m_data.reserve(size);
        m_data.insert(m_data.end(), bytes, bytes + n);
    }
    void clear() { m_data.clear(); }
    const std::vector<unsigned char>& data() const { return m_data; }

private:
    std::vector<unsigned char> m_data;
};

} // namespace

persisted_variable_loader::persisted_variable_loader(const GUID& id) : m_id(id), m_next(g_loaders) {
    g_loaders = this;
}

persisted_variable_loader::~persisted_variable_loader() {
    for (persisted_variable_loader** p = &g_loaders; *p != nullptr; p = &(*p)->m_next) {
        if (*p == this) {
            *p = m_next;
            break;
        }
    }
}

persisted_variable_saver::persisted_variable_saver(const GUID& id) : m_id(id), m_next(g_savers) { g_savers = this; }

persisted_variable_saver::~persisted_variable_saver() {
    for (persisted_variable_saver** p = &g_savers; *p != nullptr; p = &(*p)->m_next) {
        if (*p == this) {
            *p = m_next;
            break;
        }
    }
}

persisted_variable_loader* persisted_loaders() { return g_loaders; }
persisted_variable_saver* persisted_savers() { return g_savers; }

void config_write(byte_writer& writer, kestrune_io::abort_callback& abort) {
    memory_writer buffer;
    for (persisted_variable_saver* saver = g_savers; saver != nullptr; saver = saver->next()) {
        buffer.clear();
        saver->save(buffer, abort);
        const guid_bytes id = to_bytes(saver->get_id());
        unsigned char size[4];
        put_le(size, static_cast<std::uint32_t>(buffer.data().size()), 4);
        writer.write(id.data(), 16, abort);
        writer.write(size, 4, abort);
        if (!buffer.data().empty()) writer.write(buffer.data().data(), static_cast<t_size>(buffer.data().size()), abort);
    }
}

void config_read(byte_reader& reader, kestrune_io::abort_callback& abort) {
    // Identifier to loader, in memcmp order of the 16 bytes; the first
    // registered loader of an identifier wins.
    std::map<guid_bytes, persisted_variable_loader*> index;
    for (persisted_variable_loader* loader = g_loaders; loader != nullptr; loader = loader->next()) {
        index.emplace(to_bytes(loader->get_id()), loader);
    }
    for (;;) {
        guid_bytes id;
        if (reader.read(id.data(), 16, abort) < 16) return;
        unsigned char size_bytes[4];
        reader.read_object(size_bytes, 4, abort);
        const t_size size = std::uint32_t(size_bytes[0]) | std::uint32_t(size_bytes[1]) << 8 |
                            std::uint32_t(size_bytes[2]) << 16 | std::uint32_t(size_bytes[3]) << 24;
        const auto found = index.find(id);
        if (found == index.end()) {
            reader.skip_object(size, abort);
            continue;
        }
        limited_reader record(reader, size);
        try {
            found->second->load(record, size, abort);
        } catch (const kestrune_io::exception_io_data&) {
            // A corrupt record loses only its own variable.
        }
        record.skip_object(record.remaining(), abort);
    }
}
