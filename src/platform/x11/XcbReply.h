#pragma once
// XcbReply<T>: owns a reply (or error) that xcb allocated with malloc; own() deduces T.
// roundTrip(): returns once the server has processed every request sent on the connection
// before it, so that every event it produced before then is in the connection's queue.

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace platform {

struct XcbFree
{
    void operator()(void *p) const { std::free(p); }
};

template <typename T> using XcbReply = std::unique_ptr<T, XcbFree>;

template <typename T> XcbReply<T> own(T *reply)
{
    return XcbReply<T>(reply);
}

inline void roundTrip(xcb_connection_t *connection)
{
    own(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
}

} // namespace platform
