#pragma once
// Which part of the root window is "the primary screen": the primary monitor's rectangle (the
// RandR primary output's), clipped to the root; the whole root when no monitor is marked primary,
// when there is only one monitor, or when the primary one lies outside the root.
// Pure logic, plus the query that reads the monitors from an X server (RandR 1.5).

#include <vector>

namespace platform {

class X11Connection;

struct ScreenRect
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const ScreenRect &) const = default;
};

struct Monitor
{
    ScreenRect rect;
    bool primary = false;
};

ScreenRect primaryScreenRect(int rootWidth, int rootHeight, const std::vector<Monitor> &monitors);

// The active monitors RandR 1.5 reports for the connection's root; empty without RandR 1.5.
std::vector<Monitor> queryMonitors(const X11Connection &connection);

} // namespace platform
