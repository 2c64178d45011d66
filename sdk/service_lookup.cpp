// Service lookup by class identifier.
#include "service_lookup.h"

void create_host_service(service_ptr& out, const GUID& cls) {
    kestrune_api* api = core_api();
    if (!api) throw exception_service_not_found();
    service_class_ref c = api->service_class_find(cls);
    const std::uint32_t count = api->service_instance_count(c);
    if (count == 0) throw exception_service_not_found();
    if (count > 1) throw exception_service_duplicated();
    // A player that counts an instance but then refuses to make it has
    // none to give.
    service_ptr made;
    if (!api->service_instance_create(made, c, 0) || made.is_empty()) throw exception_service_not_found();
    out = std::move(made);
}

service_class_enum::service_class_enum(const GUID& cls) {
    if (kestrune_api* api = core_api()) m_class = api->service_class_find(cls);
}

bool service_class_enum::next(service_ptr& out) {
    kestrune_api* api = core_api();
    if (!api || !m_class) return false;
    service_ptr made;
    if (!api->service_instance_create(made, m_class, m_index)) return false;
    ++m_index;
    // An empty answer counts as an instance that offers nothing: the
    // caller's narrowing skips it.
    out = std::move(made);
    return true;
}
