#include "XwaylandCheck.h"

#include "X11Connection.h"
#include "XcbReply.h"

#include <cstring>
#include <xcb/randr.h>
#include <xcb/xcb.h>

namespace platform {

namespace {

bool hasXwaylandExtension(xcb_connection_t *c)
{
    static constexpr char name[] = "XWAYLAND";
    const auto reply =
        own(xcb_query_extension_reply(c, xcb_query_extension(c, sizeof name - 1, name), nullptr));
    return reply && reply->present;
}

bool hasXwaylandOutputs(xcb_connection_t *c, xcb_window_t root)
{
    const xcb_query_extension_reply_t *randr = xcb_get_extension_data(c, &xcb_randr_id);
    if (!randr || !randr->present)
        return false;
    const auto resources = own(xcb_randr_get_screen_resources_current_reply(
        c, xcb_randr_get_screen_resources_current(c, root), nullptr));
    if (!resources)
        return false;
    const xcb_randr_output_t *outputs =
        xcb_randr_get_screen_resources_current_outputs(resources.get());
    const int count = xcb_randr_get_screen_resources_current_outputs_length(resources.get());
    for (int i = 0; i < count; ++i) {
        const auto info = own(xcb_randr_get_output_info_reply(
            c, xcb_randr_get_output_info(c, outputs[i], resources->config_timestamp), nullptr));
        if (!info)
            continue;
        const auto *name =
            reinterpret_cast<const char *>(xcb_randr_get_output_info_name(info.get()));
        const int length = xcb_randr_get_output_info_name_length(info.get());
        if (length >= 8 && std::strncmp(name, "XWAYLAND", 8) == 0)
            return true;
    }
    return false;
}

} // namespace

bool isXwayland(const X11Connection &connection)
{
    xcb_connection_t *c = connection.get();
    return hasXwaylandExtension(c) || hasXwaylandOutputs(c, connection.root());
}

} // namespace platform
