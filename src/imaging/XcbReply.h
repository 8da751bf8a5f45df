#pragma once
// XcbReply<T>: owns a reply (or error) that xcb allocated with malloc.

#include <cstdlib>
#include <memory>

namespace imaging {

struct XcbFree
{
    void operator()(void *p) const { std::free(p); }
};

template <typename T>
using XcbReply = std::unique_ptr<T, XcbFree>;

} // namespace imaging
