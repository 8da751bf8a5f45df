#pragma once
// What a caught exception says about the failure: the description and the error number that a
// report shows. Call CurrentFailure() only inside a catch block.

#include <QString>

namespace app {

struct Failure
{
    QString description; // core::Error: its description; std::exception: what(); else empty
    int number = 0;      // core::Error: its number; anything else: 0
};

// Describes the exception being handled. Never throws.
Failure CurrentFailure() noexcept;

} // namespace app
