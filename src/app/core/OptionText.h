#pragma once
// The text forms of on/off settings.

#include <QString>

namespace app {

// "True" or "False".
QString OptionText(bool on);

// "True"/"False" in any letter case; a decimal number is off for zero and on otherwise.
// Anything else, the empty text included, throws core::Error 13 "Type mismatch".
bool OptionValue(const QString &text);

} // namespace app
