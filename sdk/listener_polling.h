#pragma once
// A service of the stand-in player (a real player offers none): how often
// a front end without a window asks each running stream for its listener
// list, and the admin credentials to ask with where a server wants them
// (SHOUTcast v2), as a user would type them into the window.
#include <cstdint>

#include "service.h"
#include "zof/string_base.h"

class listener_polling : public service_base {
public:
    static constexpr GUID class_guid = {0x6C2B9E57, 0x1D4F, 0x4A83, {0x9E, 0x21, 0x7B, 0x5A, 0x0C, 0x3D, 0x88, 0x14}};
    typedef service_base parent_class;
    // 4: seconds between two requests; 0 for none.
    virtual std::uint32_t interval_seconds() = 0;
    // 5: the admin user and password; false, leaving both alone, when
    // none were given.
    virtual bool admin_credentials(zof::string_base& user, zof::string_base& password) = 0;
protected:
    ~listener_polling() = default;
};
