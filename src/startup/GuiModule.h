#pragma once
// The one place that loads the program's GUI part (GuiPart.h), the library installed beside the
// executable's own libraries (<libdir>/vistarel-ombrix), or found next to the executable in the
// build tree. Loaded on the first call of part() and kept until the process ends; a library that
// cannot be loaded ends the program with a one-line message on standard error and status 1.

#include "GuiPart.h"

#include <memory>

namespace startup {

class GuiModule
{
public:
    GuiModule() = default;
    ~GuiModule();
    GuiModule(const GuiModule &) = delete;
    GuiModule &operator=(const GuiModule &) = delete;

    GuiPart &part();

private:
    std::unique_ptr<GuiPart> m_part;
};

} // namespace startup
