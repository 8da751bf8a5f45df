#include "ChoiceTables.h"

namespace ui {

namespace {

// Text2 covers the 50 blanks in the middle: the line reads as one sentence.
constexpr char CountedCaption[] = "These characters                                                "
                                  "  followed by a counting number";
static_assert(sizeof CountedCaption - 1 == 95);

// clang-format off
constexpr NamingOption Naming[] = {
    {"Option1", true,  "Use current time and date as filename", NamingMode::DateTime,      {240, 300, 3705, 255}, 132},
    {"Option2", false, CountedCaption,                          NamingMode::CountedPrefix, {240, 645, 7455, 255}, 134},
    {"Option3", false, "Specify filename",                      NamingMode::AskedName,     {240, 1000, 2175, 255}, 136},
};

// Three options one above the other in the frame's left column, 20 pixels apart.
constexpr FormatOption Formats[] = {
    {"Option4", true,  "JPG", imaging::ImageFormat::Jpeg, {240, 300, 700, 255}, 138},
    {"Option5", false, "BMP", imaging::ImageFormat::Bmp,  {240, 600, 735, 255}, 140},
    {"Option6", false, "PNG", imaging::ImageFormat::Png,  {240, 900, 735, 255}, 142},
};
// clang-format on

} // namespace

std::span<const NamingOption> namingOptions()
{
    return Naming;
}

std::span<const FormatOption> formatOptions()
{
    return Formats;
}

} // namespace ui
