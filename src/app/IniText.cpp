#include "IniText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryFile>
#include <atomic>

namespace app::IniText {

namespace {

// QSettings syncs its files to the disk (and its lock file too), which costs milliseconds
// on a real disk for a file that is thrown away at once: a memory-backed folder is preferred.
QString scratchFolder()
{
    static const QString folder = [] {
        const QString candidates[] = {qEnvironmentVariable("XDG_RUNTIME_DIR"),
                                      QStringLiteral("/dev/shm")};
        for (const QString &candidate : candidates) {
            const QFileInfo info(candidate);
            if (!candidate.isEmpty() && info.isDir() && info.isWritable())
                return candidate;
        }
        return QDir::tempPath();
    }();
    return folder;
}

QString scratchTemplate()
{
    static std::atomic<quint64> counter{0};
    return scratchFolder() + QStringLiteral("/vistarel-ombrix-%1-%2-XXXXXX.ini")
                                  .arg(QCoreApplication::applicationPid())
                                  .arg(++counter);
}

} // namespace

std::optional<Entries> parse(const QByteArray &bytes)
{
    try {
        QTemporaryFile scratch(scratchTemplate());
        if (!scratch.open() || scratch.write(bytes) != bytes.size() || !scratch.flush())
            return std::nullopt;
        const QSettings settings(scratch.fileName(), QSettings::IniFormat);
        Entries entries;
        const QStringList keys = settings.allKeys();
        entries.reserve(keys.size());
        for (const QString &key : keys)
            entries.append({key, settings.value(key)});
        return entries;
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<QByteArray> serialize(const Entries &entries)
{
    try {
        QTemporaryFile scratch(scratchTemplate());
        if (!scratch.open())
            return std::nullopt;
        scratch.close();
        {
            QSettings settings(scratch.fileName(), QSettings::IniFormat);
            for (const Entry &entry : entries)
                settings.setValue(entry.key, entry.value);
            settings.sync();
            if (settings.status() != QSettings::NoError)
                return std::nullopt;
        }
        // QSettings has replaced the scratch file by a new one of the same name.
        QFile written(scratch.fileName());
        if (!written.open(QIODevice::ReadOnly))
            return std::nullopt;
        QByteArray bytes = written.readAll();
        if (written.error() != QFileDevice::NoError)
            return std::nullopt;
        return bytes;
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace app::IniText
