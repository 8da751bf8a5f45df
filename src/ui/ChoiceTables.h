#pragma once
// The main window's two groups of option buttons, one table each: Filename (the naming modes)
// and Format (the file formats). A row gives the option's settings key (also its object name),
// its state at the first start (the default its key reads with), its caption, the choice it
// stands for, its place in its frame and the statement of Form_Load that restores it. The
// window builds its buttons and their click handlers from these rows, the start-up restores
// them row by row, and the saved choices of a capture from the command line read them the same
// way. Rows are in key order, which is the order the click handlers write the keys in.

#include "ImageFormat.h"
#include "NamingMode.h"

#include <span>

namespace ui {

// A control's place in its container, in twips (15 twips make one pixel).
struct TwipRect
{
    int left;
    int top;
    int width;
    int height;
};

template <typename Choice> struct OptionRow
{
    const char *key; // settings key and object name: "Option4"
    bool initial;    // on at the first start (its key's default: 1, else 0)
    const char *caption;
    Choice choice;
    TwipRect place; // in the group's frame
    int restoreStatement;
};

using NamingOption = OptionRow<NamingMode>;
using FormatOption = OptionRow<imaging::ImageFormat>;

std::span<const NamingOption> namingOptions();
std::span<const FormatOption> formatOptions();

// What a group stands for when none of its options is on.
constexpr NamingMode NoNamingOption = NamingMode::None;
constexpr imaging::ImageFormat NoFormatOption = imaging::ImageFormat::Bmp;

} // namespace ui
