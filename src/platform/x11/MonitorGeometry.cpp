#include "MonitorGeometry.h"

#include "X11Connection.h"
#include "XcbReply.h"

#include <algorithm>
#include <xcb/randr.h>

namespace platform {

ScreenRect primaryScreenRect(int rootWidth, int rootHeight, const std::vector<Monitor> &monitors)
{
    const ScreenRect root{0, 0, rootWidth, rootHeight};
    if (monitors.size() < 2)
        return root;
    const auto primary =
        std::find_if(monitors.begin(), monitors.end(), [](const Monitor &m) { return m.primary; });
    if (primary == monitors.end())
        return root;
    const ScreenRect &r = primary->rect;
    const int left = std::max(r.x, 0);
    const int top = std::max(r.y, 0);
    const int right = std::min(r.x + r.width, rootWidth);
    const int bottom = std::min(r.y + r.height, rootHeight);
    if (right <= left || bottom <= top)
        return root;
    return {left, top, right - left, bottom - top};
}

std::vector<Monitor> queryMonitors(const X11Connection &connection)
{
    std::vector<Monitor> monitors;
    if (connection.randrMinorVersion() < 5)
        return monitors;
    xcb_connection_t *c = connection.get();
    XcbReply<xcb_randr_get_monitors_reply_t> reply(
        xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, connection.root(), 1), nullptr));
    if (!reply)
        return monitors;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
         xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t *info = it.data;
        monitors.push_back({{info->x, info->y, info->width, info->height}, info->primary != 0});
    }
    return monitors;
}

} // namespace platform
