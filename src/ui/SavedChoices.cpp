#include "SavedChoices.h"

#include "FileRoutines.h"
#include "OptionText.h"
#include "SettingsStore.h"

#include <utility>

namespace ui {

SavedChoices::SavedChoices(const app::SettingsStore &settings)
    : m_folder(settings.GetSetting(QStringLiteral("Text1"), app::DesktopFolderPath()))
    , m_prefix(settings.GetSetting(QStringLiteral("Text2"), QStringLiteral("Screenshots")))
{
    const auto option = [&settings](const char *key, bool initial) {
        try {
            return app::OptionValue(settings.GetSetting(QLatin1String(key), initial ? 1 : 0));
        } catch (...) {
            return initial;
        }
    };

    // Option1 starts on, the others off; switching one on switches the rest of its group off.
    const std::pair<const char *, NamingMode> namingOptions[] = {
        {"Option1", NamingMode::DateTime},
        {"Option2", NamingMode::CountedPrefix},
        {"Option3", NamingMode::AskedName}};
    for (const auto &[key, mode] : namingOptions) {
        if (option(key, mode == NamingMode::DateTime))
            m_namingMode = mode;
        else if (m_namingMode == mode)
            m_namingMode = NamingMode::None;
    }
    // JPG when its option is on and BMP's (restored after it) did not switch it off.
    const bool jpeg = option("Option4", true);
    const bool bmp = option("Option5", false);
    m_imageFormat = jpeg && !bmp ? imaging::ImageFormat::Jpeg : imaging::ImageFormat::Bmp;
}

} // namespace ui
