#pragma once
// How the capture command names a new file: the main window's Filename group.

namespace ui {

enum class NamingMode {
    DateTime,      // after the date and time of the capture (Option1)
    CountedPrefix, // the prefix and the first free number (Option2)
    AskedName,     // a name typed at each capture (Option3)
    None,          // no option of the group is on: nothing is captured
};

} // namespace ui
