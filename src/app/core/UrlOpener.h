#pragma once
// Opens a web address with the desktop's URL opener without waiting. Replaceable in tests.

#include <QUrl>

namespace app {

class UrlOpener
{
public:
    virtual ~UrlOpener() = default;
    virtual void openUrl(const QUrl &url) = 0;
};

} // namespace app
