#pragma once
// The per-user settings store: an INI file read and written through QSettings at
// $XDG_CONFIG_HOME/Kestrelby/Vistarel Ombrix.conf (~/.config when the variable is unset),
// keys at the file's top level. No cache: every read goes to the file (the text of the last
// bytes read is remembered, so an unchanged file is not parsed again), every write is on disk
// before SaveSetting returns, and the file is replaced atomically, never left half-written.
// A write holds an flock on "<file>.lock" (FileLock; the file stays in place) around its
// read-modify-write, so running copies writing at once lose none of each other's keys; a
// killed copy's lock goes with it. Symbolic links are followed. The new text is written to
// "<file>.vo-XXXXXXXX.tmp" (eight hex digits) beside the file it replaces and renamed over it;
// a killed copy's such file is removed by the next write, and nothing else beside the file is.
// A file that reads as settings is used as far as QSettings can read it (a stray line reads as
// absent and is dropped by the next write). One that does not (binary data, text with more
// non-settings lines than settings lines, more than 1 MiB, no ordinary file) is never read
// into QSettings nor overwritten: reads give the defaults, and the next write moves it aside to
// "<file>.damaged-<yyyy-MM-dd>" ("-2", "-3"... for more on one day; a link is moved itself, its
// target stays untouched), starts a fresh file and then tells so (FileSetAside).

#include "IniText.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace app {

class SettingsStore
{
public:
    // Error number of a write that did not reach the disk ("Path/File access error").
    static constexpr int WriteFailed = 75;
    // Error number of the notice that a file which was no settings file was moved aside.
    static constexpr int FileSetAside = 75;

    // Uses the given INI file; defaultFilePath() is the user's own.
    explicit SettingsStore(QString filePath);
    static QString defaultFilePath();
    QString filePath() const { return m_filePath; }

    // The stored text, or the default (a number as its decimal digits) when absent or
    // unreadable. Never writes and never throws.
    QString GetSetting(const QString &key, const QString &defaultValue) const;
    QString GetSetting(const QString &key, int defaultValue) const;

    // Stores the text under key, keeping every other entry of the file; when the file holds
    // that text under key already, nothing is written (nor can fail). Throws core::Error
    // WriteFailed when the write did not reach the disk (the folder cannot be made, the file or
    // its lock cannot be written, the disk is full, another program holds the lock for more
    // than a few seconds); the description names the settings file and the reason, and the
    // file is left as it was. Throws core::Error FileSetAside after a write that succeeded on a
    // fresh file because the file there was no settings file: the description names both paths.
    void SaveSetting(const QString &key, const QString &value);

private:
    // The text stored under key in a file that reads as settings; nullopt when there is none,
    // or the value is no text. Never throws.
    std::optional<QString> storedText(const QString &key) const;
    // IniText::parse(bytes), remembered for the last bytes parsed: the start-up reads an
    // unchanged file nine times.
    std::optional<IniText::Entries> parsed(const QByteArray &bytes) const;

    QString m_filePath;
    mutable QByteArray m_parsedBytes;
    mutable std::optional<IniText::Entries> m_parsed;
};

} // namespace app
