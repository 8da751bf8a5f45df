#pragma once
// The locations the error report names for the three trapped handlers: the text before
// "at line " and the statement number.

namespace app::ReportLocation {

inline constexpr auto FormLoad = "in Orrindale2021/08/31.Form1.Form_Load ";
inline constexpr auto PushButton1Click = "in Orrindale2021/08/31.Form1.PushButton1_Click ";
inline constexpr auto PushButton2Click = "in Orrindale2021/08/31.Form1.PushButton2_Click ";

} // namespace app::ReportLocation
