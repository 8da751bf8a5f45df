#include "HandOffChannel.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace app::handoff {

namespace {

// A folder this user owns, not a symbolic link, that nobody else may enter or write to.
bool isPrivateFolder(const QByteArray &path)
{
    struct stat info
    {
    };
    return ::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::geteuid() && (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

bool ensurePrivateFolder(const QByteArray &path, bool create)
{
    if (create && ::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    return isPrivateFolder(path);
}

} // namespace

QString socketFolder(bool create)
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    QByteArray folder;
    if (!runtime.isEmpty() && runtime.startsWith('/')) {
        // The runtime folder itself is the desktop's; only our own folder inside it is checked.
        folder = runtime + "/vistarel-ombrix";
    } else {
        folder = "/tmp/vistarel-ombrix-" + QByteArray::number(::geteuid());
    }
    return ensurePrivateFolder(folder, create) ? QFile::decodeName(folder) : QString();
}

QString screenKey()
{
    QString key = QString::fromLocal8Bit(qgetenv("WAYLAND_DISPLAY"));
    if (key.isEmpty()) {
        // ":0" and ":0.0" are the same screen.
        key = QString::fromLocal8Bit(qgetenv("DISPLAY"));
        const qsizetype colon = key.lastIndexOf(QLatin1Char(':'));
        const qsizetype dot = key.indexOf(QLatin1Char('.'), colon + 1);
        if (colon >= 0 && dot > colon)
            key.truncate(dot);
    }
    if (key.isEmpty())
        key = QStringLiteral("none");
    // A path (WAYLAND_DISPLAY may be one) becomes one file-name part; "." marks the pid.
    key.replace(QLatin1Char('/'), QLatin1Char('_'));
    key.replace(QLatin1Char('.'), QLatin1Char('_'));
    // A socket's whole path must fit in 107 bytes: a long one (a compositor's socket given by
    // its path) is named by its hash instead.
    if (key.size() > MaxScreenKeyLength)
        key = QLatin1String("screen-") +
              QString::fromLatin1(QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256)
                                      .toHex()
                                      .left(24));
    return key;
}

QStringList windowSockets(const QString &folder)
{
    if (folder.isEmpty())
        return {};
    const QString prefix = screenKey() + QLatin1Char('.');
    struct Entry
    {
        QString path;
        struct timespec changed;
    };
    std::vector<Entry> entries;
    const QStringList names = QDir(folder).entryList(QDir::System | QDir::Hidden | QDir::Files);
    for (const QString &name : names) {
        if (!name.startsWith(prefix) || !name.endsWith(QLatin1String(".sock")))
            continue;
        const QString path = folder + QLatin1Char('/') + name;
        struct stat info
        {
        };
        if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISSOCK(info.st_mode) ||
            info.st_uid != ::geteuid())
            continue;
        entries.push_back({path, info.st_mtim});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        if (a.changed.tv_sec != b.changed.tv_sec)
            return a.changed.tv_sec > b.changed.tv_sec;
        return a.changed.tv_nsec > b.changed.tv_nsec;
    });
    QStringList paths;
    for (const Entry &entry : entries)
        paths.append(entry.path);
    return paths;
}

QByteArray encode(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    bytes.replace("%", "%25");
    bytes.replace("\n", "%0A");
    bytes.replace("\r", "%0D");
    return bytes;
}

QString decode(const QByteArray &field)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(field));
}

} // namespace app::handoff
