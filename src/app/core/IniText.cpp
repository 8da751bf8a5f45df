#include "IniText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryFile>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <functional>
#include <limits>

namespace app::IniText {

namespace {

// Scratch files of copies that were killed while they used one (their names carry the process
// id): left alone, each kill would leave a file in memory until the next restart. Only names of
// the exact form this file makes are touched, "vistarel-ombrix-<pid>-<n>-XXXXXX.ini", and the
// lock file and new file QSettings writes beside one ("<scratch>.lock", "<scratch>.XXXXXX"); a
// file of the user's own that merely starts with the program's name stays.
void removeOrphans(const QString &folder)
{
    static const QRegularExpression scratchName(
        QStringLiteral("^vistarel-ombrix-([0-9]{1,10})-[0-9]{1,20}-[A-Za-z0-9]{6}\\.ini(\\.lock|\\."
                       "[A-Za-z0-9]{6})?$"));
    const QStringList names =
        QDir(folder).entryList({QStringLiteral("vistarel-ombrix-*")}, QDir::Files | QDir::Hidden);
    for (const QString &name : names) {
        const QRegularExpressionMatch match = scratchName.match(name);
        if (!match.hasMatch())
            continue;
        const qint64 pid = match.captured(1).toLongLong();
        if (pid > 0 && pid <= std::numeric_limits<pid_t>::max() &&
            pid != QCoreApplication::applicationPid() && ::kill(pid_t(pid), 0) != 0 &&
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
