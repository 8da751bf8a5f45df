#pragma once
// One start of the program for a test: a private HOME (with a Desktop folder), XDG_CONFIG_HOME
// and program folder under a temporary directory, the real settings store and main window,
// recording fakes for the dialogs, URL opener and random draw, and the start-up sequence
// looking for its optional files in the private program folder (then in a private data folder).

#include "ErrorReporter.h"
#include "MainWindow.h"
#include "RecordingDialogs.h"
#include "SettingsStore.h"
#include "StartUp.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <map>

namespace testsupport {

class StartUpFixture
{
public:
    explicit StartUpFixture(int draw = 1)
        : m_paths(m_root), settings(m_paths.settingsFile), random(draw), window(settings),
          startUp(window, settings, reporter, random, urlOpener)
    {
        startUp.setSearchFolders({programFolder(), dataFolder()});
        dialogs.setParentWindow(&window);
        window.setSettingObserver([this](const QString &key, const QString &value) {
            writes.append(key + QLatin1Char('=') + value);
        });
    }

    QString home() const { return m_root.filePath(QStringLiteral("home")); }
    QString programFolder() const { return m_root.filePath(QStringLiteral("program")); }
    QString dataFolder() const { return m_root.filePath(QStringLiteral("data")); }
    QString settingsFile() const { return m_paths.settingsFile; }

    // Writes the settings file as an earlier run left it.
    void prepareSettings(const std::map<QString, QString> &values) const
    {
        QSettings ini(settingsFile(), QSettings::IniFormat);
        for (const auto &[key, value] : values)
            ini.setValue(key, value);
        ini.sync();
    }

    // The stored text of key, or a null QString when the key is absent.
    QString stored(const QString &key) const
    {
        const QSettings ini(settingsFile(), QSettings::IniFormat);
        return ini.contains(key) ? ini.value(key).toString() : QString();
    }

    // Writes a file under the temporary root, creating its folders.
    void writeFile(const QString &path, const QByteArray &bytes) const
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

private:
    struct Paths
    {
        explicit Paths(const QTemporaryDir &root)
        {
            QDir().mkpath(root.filePath(QStringLiteral("home/Desktop")));
            QDir().mkpath(root.filePath(QStringLiteral("config")));
            QDir().mkpath(root.filePath(QStringLiteral("program")));
            QDir().mkpath(root.filePath(QStringLiteral("data")));
            qputenv("HOME", root.filePath(QStringLiteral("home")).toLocal8Bit());
            qputenv("XDG_CONFIG_HOME", root.filePath(QStringLiteral("config")).toLocal8Bit());
            settingsFile = app::SettingsStore::defaultFilePath();
        }
        QString settingsFile;
    };

    QTemporaryDir m_root;
    Paths m_paths;

public:
    app::SettingsStore settings;
    RecordingDialogs dialogs;
    app::ErrorReporter reporter{dialogs};
    FixedRandomSource random;
    RecordingUrlOpener urlOpener;
    ui::MainWindow window;
    app::StartUp startUp;
    QStringList writes; // "key=value" for each write of the window's handlers, in order
};

} // namespace testsupport
