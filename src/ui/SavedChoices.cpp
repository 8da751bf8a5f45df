#include "SavedChoices.h"

#include "ChoiceTables.h"
#include "FileRoutines.h"
#include "OptionText.h"
#include "SettingsStore.h"

#include <QHash>
#include <span>
#include <vector>

namespace ui {

namespace {

// One option group as start-up restores it, row by row: a button switched on runs its click
// handler, which switches the others off and writes the group's keys, so that a later row reads
// what that handler wrote; switching one off runs nothing; a value that cannot be read leaves
// the button as it is. Here the handler's writes are only remembered.
template <typename Row, typename Choice>
Choice restoredChoice(const app::SettingsStore &settings, std::span<const Row> rows, Choice none)
{
    std::vector<bool> on;
    for (const Row &row : rows)
        on.push_back(row.initial);
    QHash<QString, QString> written;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const QString key = QLatin1String(rows[i].key);
        bool value = false;
        try {
            value = app::OptionValue(written.contains(key)
                                         ? written.value(key)
                                         : settings.GetSetting(key, rows[i].initial ? 1 : 0));
        } catch (...) {
            continue;
        }
        if (value && !on[i]) {
            on.assign(rows.size(), false);
            on[i] = true;
            for (std::size_t j = 0; j < rows.size(); ++j)
                written.insert(QLatin1String(rows[j].key), app::OptionText(on[j]));
        } else {
            on[i] = value;
        }
    }
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (on[i])
            return rows[i].choice;
    return none;
}

} // namespace

SavedChoices::SavedChoices(const app::SettingsStore &settings)
    : m_folder(settings.GetSetting(QStringLiteral("Text1"), app::DesktopFolderPath()))
    , m_prefix(settings.GetSetting(QStringLiteral("Text2"), QStringLiteral("Screenshots")))
    , m_namingMode(restoredChoice(settings, namingOptions(), NoNamingOption))
    , m_imageFormat(restoredChoice(settings, formatOptions(), NoFormatOption))
{
}

} // namespace ui
