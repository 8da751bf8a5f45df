#pragma once
// The per-user settings store: an INI file read and written through QSettings at
// $XDG_CONFIG_HOME/Kestrelby/Vistarel Ombrix.conf (~/.config when the variable is unset),
// keys at the file's top level. No cache: every read goes to the file, every write is on disk
// before SaveSetting returns, and the file is replaced atomically, never left half-written.

#include <QString>

namespace app {

class SettingsStore
{
public:
    // Uses the given INI file; defaultFilePath() is the user's own.
    explicit SettingsStore(QString filePath);
    static QString defaultFilePath();
    QString filePath() const { return m_filePath; }

    // The stored text, or the default (a number as its decimal digits) when absent or
    // unreadable. Never writes and never throws.
    QString GetSetting(const QString &key, const QString &defaultValue) const;
    QString GetSetting(const QString &key, int defaultValue) const;

    // Stores the text under key. Throws core::Error when the write did not reach the disk;
    // the description names the settings file.
    void SaveSetting(const QString &key, const QString &value);

private:
    QString m_filePath;
};

} // namespace app
