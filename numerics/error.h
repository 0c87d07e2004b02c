// The failure type of the host-free core.
//
// Computations report a bad input by throwing partiscope::Error with a fixed,
// user-facing message. Only the gateway turns it into a host error, after the
// computation's own memory has been released by unwinding.
#pragma once

#include <stdexcept>

namespace partiscope {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace partiscope
