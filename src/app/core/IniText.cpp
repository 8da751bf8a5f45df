#include "IniText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryFile>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <functional>

namespace app::IniText {

namespace {

// Scratch files of copies that were killed while they used one (their names carry the process
// id): left alone, each kill would leave a file in memory until the next restart.
void removeOrphans(const QString &folder)
{
    const QStringList names =
        QDir(folder).entryList({QStringLiteral("vistarel-ombrix-*")}, QDir::Files | QDir::Hidden);
    for (const QString &name : names) {
        const qint64 pid = name.section(u'-', 2, 2).toLongLong();
        if (pid > 0 && pid != QCoreApplication::applicationPid() && ::kill(pid_t(pid), 0) != 0 &&
            errno == ESRCH)
            QFile::remove(folder + u'/' + name);
    }
}

// QSettings syncs its files to the disk (and its lock file too), which costs milliseconds
// on a real disk for a file that is thrown away at once: memory-backed folders come first, the
// system's temporary folder last, each tried in turn when a scratch file fails in the one
// before.
const QStringList &scratchFolders()
{
    static const QStringList folders = [] {
        QStringList list;
        for (const QString &candidate :
             {qEnvironmentVariable("XDG_RUNTIME_DIR"), QStringLiteral("/dev/shm")}) {
            const QFileInfo info(candidate);
            if (!candidate.isEmpty() && info.isDir() && info.isWritable())
                list.append(candidate);
        }
        if (!list.contains(QDir::tempPath()))
            list.append(QDir::tempPath());
        for (const QString &folder : list)
            removeOrphans(folder);
        return list;
    }();
    return folders;
}

QString scratchTemplate(const QString &folder)
{
    static std::atomic<quint64> counter{0};
    return folder + QStringLiteral("/vistarel-ombrix-%1-%2-XXXXXX.ini")
                        .arg(QCoreApplication::applicationPid())
                        .arg(++counter);
}

template <typename Result>
std::optional<Result>
inScratchFile(const std::function<std::optional<Result>(const QString &fileTemplate)> &attempt)
{
    for (const QString &folder : scratchFolders()) {
        try {
            if (std::optional<Result> result = attempt(scratchTemplate(folder)))
                return result;
        } catch (...) {
            // Out of memory at worst; the next folder may still do.
        }
    }
    return std::nullopt;
}

} // namespace

void prepare()
{
    scratchFolders();
}

std::optional<Entries> parse(const QByteArray &bytes)
{
    return inScratchFile<Entries>([&](const QString &fileTemplate) -> std::optional<Entries> {
        QTemporaryFile scratch(fileTemplate);
        if (!scratch.open() || scratch.write(bytes) != bytes.size() || !scratch.flush())
            return std::nullopt;
        const QSettings settings(scratch.fileName(), QSettings::IniFormat);
        Entries entries;
        const QStringList keys = settings.allKeys();
        entries.reserve(keys.size());
        for (const QString &key : keys)
            entries.append({key, settings.value(key)});
        return entries;
    });
}

std::optional<QByteArray> serialize(const Entries &entries)
{
    return inScratchFile<QByteArray>([&](const QString &fileTemplate) -> std::optional<QByteArray> {
        QTemporaryFile scratch(fileTemplate);
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
    });
}

} // namespace app::IniText
