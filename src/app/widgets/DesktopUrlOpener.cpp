#include "DesktopUrlOpener.h"

#include "core/Error.h"

#include <QDesktopServices>

namespace app {

void DesktopUrlOpener::openUrl(const QUrl &url)
{
    if (!QDesktopServices::openUrl(url))
        throw core::Error(core::Error::InvalidArgument,
                          QStringLiteral("The desktop cannot open %1").arg(url.toString()));
}

} // namespace app
