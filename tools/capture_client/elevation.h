// The two calls that asking for administrator rights makes to the system:
// whether this process already has them, and starting qmcapture with them.
// Camera commands reach them only through this interface, so that tests
// can answer them without starting processes or asking anyone.
#pragma once

#include <string>

namespace qmcapture {

class Elevation {
public:
    virtual ~Elevation() = default;

    // Whether this process runs with administrator rights: its token's
    // elevation (TokenElevation).
    virtual bool IsProcessElevated() const = 0;

    // Runs qmcapture.exe beside the running program with administrator
    // rights (the system asks the user) and `parameters` as its command
    // line, waits for it and returns its exit status. When it cannot be
    // started, kExitFailure and `failure` says why.
    virtual int RunElevated(const std::wstring& parameters, std::wstring* failure) const = 0;
};

// The system's own answers.
const Elevation& SystemElevation();

}  // namespace qmcapture
