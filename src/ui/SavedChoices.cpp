#include "SavedChoices.h"

#include "FileRoutines.h"
#include "OptionText.h"
#include "SettingsStore.h"

namespace ui {

QString SavedChoices::folder() const
{
    return m_settings.GetSetting(QStringLiteral("Text1"), app::DesktopFolderPath());
}

QString SavedChoices::prefix() const
{
    return m_settings.GetSetting(QStringLiteral("Text2"), QStringLiteral("Screenshots"));
}

bool SavedChoices::option(const char *key, bool initial) const
{
    try {
        return app::OptionValue(m_settings.GetSetting(QLatin1String(key), initial ? 1 : 0));
    } catch (...) {
        return initial;
    }
}

NamingMode SavedChoices::namingMode() const
{
    // Option1 starts on, the others off; switching one on switches the rest of the group off.
    NamingMode mode = NamingMode::DateTime;
    const std::pair<const char *, NamingMode> options[] = {
        {"Option1", NamingMode::DateTime},
        {"Option2", NamingMode::CountedPrefix},
        {"Option3", NamingMode::AskedName}};
    for (const auto &[key, value] : options) {
        if (option(key, value == NamingMode::DateTime))
            mode = value;
        else if (mode == value)
            mode = NamingMode::None;
    }
    return mode;
}

imaging::ImageFormat SavedChoices::imageFormat() const
{
    // JPG when its option is on and BMP's (restored after it) did not switch it off.
    const bool jpeg = option("Option4", true) && !option("Option5", false);
    return jpeg ? imaging::ImageFormat::Jpeg : imaging::ImageFormat::Bmp;
}

} // namespace ui
