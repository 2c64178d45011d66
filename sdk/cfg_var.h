#pragma once
// Persisted configuration variables: the player keeps one block of data
// per component and hands it over through the client object. Records of
// (identifier, 32-bit size, data), little-endian, no count, no terminator.
#include "filesystem.h"
#include "guid.h"

// Reads a variable back from its record.
class persisted_variable_loader {
public:
    explicit persisted_variable_loader(const GUID& id);
    const GUID& get_id() const { return m_id; }
    persisted_variable_loader* next() const { return m_next; }
    // `reader` ends with the record; `size` is the record's data size.
    virtual void load(byte_reader& reader, t_size size, kestrune_io::abort_callback& abort) = 0;

protected:
    ~persisted_variable_loader();

private:
    GUID m_id;
    persisted_variable_loader* m_next;
};

// Writes a variable into its record.
class persisted_variable_saver {
public:
    explicit persisted_variable_saver(const GUID& id);
    const GUID& get_id() const { return m_id; }
    persisted_variable_saver* next() const { return m_next; }
    virtual void save(byte_writer& writer, kestrune_io::abort_callback& abort) = 0;

protected:
    ~persisted_variable_saver();

private:
    GUID m_id;
    persisted_variable_saver* m_next;
};

// Heads of the two registries (a variable links itself in when it is
// constructed, at the head, and out when it is destroyed).
persisted_variable_loader* persisted_loaders();
persisted_variable_saver* persisted_savers();

// Writes every saver's record to `writer`.
void config_write(byte_writer& writer, kestrune_io::abort_callback& abort);
// Hands each record to the loader of its identifier; records nobody loads
// are skipped. A block that ends inside an identifier ends the read.
void config_read(byte_reader& reader, kestrune_io::abort_callback& abort);
