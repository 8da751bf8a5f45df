#include "ScreenSettler.h"

#include "CaptureCommand.h"
#include "X11ScreenSettler.h"

#include <QGuiApplication>

namespace ui {

namespace {

// Without damage reports there is no telling when the screen has repainted: give the windows
// that were covered the whole allowance, processing events meanwhile.
class FixedScreenSettler : public ScreenSettler
{
public:
    void prepare(const QWidget &) override {}
    void waitUntilRepainted() override
    {
        CaptureCommand::WaitSeconds(std::chrono::duration<double>(limit()).count());
    }
};

} // namespace

std::unique_ptr<ScreenSettler> makeScreenSettler()
{
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        if (auto settler = X11ScreenSettler::create())
            return settler;
    return std::make_unique<FixedScreenSettler>();
}

} // namespace ui
