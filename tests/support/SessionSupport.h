#pragma once

// Reading through a session of the engine under test, for the tests of the
// engines themselves (set-up and checks go through TestSupport's direct line).

#include "oracle/Engine.h"
#include "oracle/Snapshot.h"

#include <string>
#include <vector>

namespace SessionSupport {

// Every row of a query, read through the session.
inline Snapshot read(Session& s, const std::string& sql, std::vector<Param> params = {})
{
    Snapshot snap;
    s.query(sql, params, snap);
    return snap;
}

} // namespace SessionSupport
