#pragma once
// One start of the program for a test: a private HOME (with a Desktop folder), XDG_CONFIG_HOME,
// program folder and data folder under a temporary directory; the real settings store and main
// window; recording fakes for the dialogs, URL opener and random draw.

#include "ErrorReporter.h"
#include "MainWindow.h"
#include "RecordingDialogs.h"
#include "SettingsStore.h"
#include "StartUp.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <map>

namespace testsupport {

class StartUpFixture
{
    QTemporaryDir m_root;
    // Runs before the members below: the store's default path follows XDG_CONFIG_HOME.
    bool m_environment = [this] {
        for (const char *folder : {"home/Desktop", "config", "program", "data"})
            QDir().mkpath(m_root.filePath(QLatin1String(folder)));
        qputenv("HOME", m_root.filePath("home").toLocal8Bit());
        return qputenv("XDG_CONFIG_HOME", m_root.filePath("config").toLocal8Bit());
    }();

public:
    explicit StartUpFixture(int draw = 1)
        : random(draw)
    {
        startUp.setSearchFolders({path("program"), path("data")});
        dialogs.setParentWindow(&window);
        window.setSettingObserver(
            [this](const QString &key, const QString &value) { writes.append(key + '=' + value); });
    }

    QString path(const QString &relative) const { return m_root.filePath(relative); }

    void prepareSettings(const std::map<QString, QString> &values) const
    {
        QSettings ini(settings.filePath(), QSettings::IniFormat);
        for (const auto &[key, value] : values)
            ini.setValue(key, value);
    }

    // The stored text of key; a null QString when absent.
    QString stored(const QString &key) const
    {
        const QSettings ini(settings.filePath(), QSettings::IniFormat);
        return ini.contains(key) ? ini.value(key).toString() : QString();
    }

    void writeFile(const QString &relative, const QByteArray &bytes) const
    {
        QDir().mkpath(QFileInfo(path(relative)).absolutePath());
        QFile file(path(relative));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
    }

    app::SettingsStore settings{app::SettingsStore::defaultFilePath()};
    RecordingDialogs dialogs;
    app::ErrorReporter reporter{dialogs};
    FixedRandomSource random;
    RecordingUrlOpener urlOpener;
    ui::MainWindow window{settings};
    startup::StartUp startUp{window, settings, reporter, random, urlOpener};
    QStringList writes; // "key=value" for each write of the window's handlers, in order
};

} // namespace testsupport
