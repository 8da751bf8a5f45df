#pragma once
// Opens a web address with the desktop's URL opener (QDesktopServices, which hands it to the
// desktop's handler, e.g. xdg-open) and returns without waiting for the browser.

#include "UrlOpener.h"

namespace app {

class DesktopUrlOpener : public UrlOpener
{
public:
    // Throws core::Error 5 when the desktop has no opener that accepts the address.
    void openUrl(const QUrl &url) override;
};

} // namespace app
