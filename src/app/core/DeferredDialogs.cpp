#include "DeferredDialogs.h"

#include "CollectingDialogs.h"

#include <cstdio>

namespace app {

void DeferredDialogs::showMessage(const QString &title, const QString &text, Icon icon)
{
    std::fprintf(stderr, "%s\n", qUtf8Printable(CollectingDialogs::plainLine(title, text)));
    std::fflush(stderr);
    m_messages.append({title, text, icon});
}

void DeferredDialogs::replay(Dialogs &shown)
{
    for (const Message &message : std::exchange(m_messages, {}))
        shown.showMessage(message.title, message.text, message.icon);
}

} // namespace app
