#pragma once
// MutterLayout: the monitor layout GNOME's compositor publishes (org.gnome.Mutter.DisplayConfig,
// GetCurrentState), and where its primary monitor lies in the portal's picture of the whole
// desktop. The portal on GNOME hands over every monitor at once; the program's picture is the
// primary monitor alone.
//
// The layout is in logical units (layout mode "logical": a monitor at scale 2 spans half its
// pixels) or in physical pixels (layout mode "physical"). The picture's pixels per layout unit
// are read off the picture itself (its size against the layout's bounds), so the cut-out holds
// whatever the shell rendered, whichever scale it rendered the stage at.

#include <QRect>
#include <QSize>

#include <optional>
#include <vector>

namespace platform {

struct MutterLogicalMonitor
{
    int x = 0; // layout units
    int y = 0;
    double scale = 1;
    unsigned transform = 0; // 0 normal, 1 90°, 2 180°, 3 270°, 4-7 flipped
    bool primary = false;
    QSize mode; // the current mode of its (first) monitor, in physical pixels
};

struct MutterLayout
{
    std::vector<MutterLogicalMonitor> monitors;
    bool physical = false; // layout mode "physical" (2), else "logical" (1)
};

// The primary monitor's rectangle in a picture of the whole layout; nothing (keep the whole
// picture) with fewer than two monitors, no primary, or a picture whose proportions do not match
// the layout (it changed between the picture and the question).
std::optional<QRect> primaryMonitorInPicture(const MutterLayout &layout, QSize picture);

// The layout from the session bus; nothing where DisplayConfig is not there (not GNOME) or its
// answer cannot be read.
std::optional<MutterLayout> readMutterLayout();

} // namespace platform
