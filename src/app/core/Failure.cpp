#include "Failure.h"

#include "core/Error.h"

#include <exception>

namespace app {

Failure CurrentFailure() noexcept
{
    try {
        throw;
    } catch (const core::Error &error) {
        return {error.description(), error.number()};
    } catch (const std::exception &error) {
        return {QString::fromUtf8(error.what()), 0};
    } catch (...) {
        return {};
    }
}

} // namespace app
