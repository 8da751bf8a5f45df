#include "StartUpPreload.h"

#include "IniText.h"

#include <fontconfig/fontconfig.h>
#include <system_error>

namespace startup {

StartUpPreload::StartUpPreload(QStringList iconPaths)
    : m_fontsReady(m_fontsLoaded.get_future())
{
    for (const QString &path : iconPaths)
        m_images.insert(path, QImage());
    try {
        m_thread = std::thread([this] {
            // Fontconfig keeps its configuration for the whole process and is thread-safe: the
            // toolkit's font database finds it loaded.
            FcInit();
            m_fontsLoaded.set_value();
            app::IniText::prepare();
            for (auto entry = m_images.begin(); entry != m_images.end(); ++entry)
                entry.value() = QImage(entry.key());
        });
    } catch (const std::system_error &) {
        // No thread: the toolkit loads fontconfig itself, and image() reads the images.
        m_fontsLoaded.set_value();
    }
}

StartUpPreload::~StartUpPreload()
{
    waitForThread();
}

void StartUpPreload::waitForFontConfiguration()
{
    m_fontsReady.wait();
}

void StartUpPreload::waitForThread()
{
    if (m_thread.joinable())
        m_thread.join();
}

QImage StartUpPreload::image(const QString &path)
{
    waitForThread();
    const QImage preloaded = m_images.value(path);
    return preloaded.isNull() ? QImage(path) : preloaded;
}

} // namespace startup
