#include "SettingsStore.h"

#include "FileLock.h"
#include "IniText.h"
#include "core/Error.h"
#include "core/ExclusiveRename.h"

#include <QByteArrayView>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace app {

namespace {

// Far more than the program ever writes (its seven keys take a few hundred bytes).
constexpr qint64 MaxSettingsBytes = 1024 * 1024;
constexpr int LockWaitMs = 5000;

// What the settings path holds.
struct StoreFile
{
    enum class Kind { Absent, Settings, Foreign, Unreadable };
    Kind kind = Kind::Absent;
    QByteArray bytes; // Settings: the file's bytes
    QString why;      // Foreign: what is wrong with it; Unreadable: the reason
};

// Whether bytes read as a settings file, one that a person may have edited: no control
// character but tab, line feed and carriage return (binary data has them; the INI writer
// escapes them all), and at least half of the lines that are neither blank nor comments (";",
// "#") are "[section]" or "key=value" lines. Comments, blank lines, indents, other keys and
// sections, any spelling of the values and a stray line or two all pass.
bool readsAsSettings(QByteArrayView bytes)
{
    if (bytes.startsWith("\xef\xbb\xbf"))
        bytes = bytes.sliced(3);
    qsizetype content = 0, settingsLines = 0;
    while (!bytes.isEmpty()) {
        const qsizetype end = bytes.indexOf('\n');
        QByteArrayView line = end < 0 ? bytes : bytes.first(end);
        bytes = end < 0 ? QByteArrayView() : bytes.sliced(end + 1);
        for (const char c : line) {
            if (static_cast<uchar>(c) < 0x20 && c != '\t' && c != '\r')
                return false;
        }
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
            continue;
        ++content;
        if (line.startsWith('[') || line.indexOf('=') > 0)
            ++settingsLines;
    }
    return settingsLines * 2 >= content;
}

// Whether bytes that read as settings are another program's INI file (a link to a git
// configuration, say): sections of its own, but neither a [General] section nor any of the
// program's seven keys in any section.
bool isOtherProgramsIni(QByteArrayView bytes)
{
    static const QRegularExpression ownKey(QStringLiteral("^(text[12]|option[1-5])$"),
                                           QRegularExpression::CaseInsensitiveOption);
    if (bytes.startsWith("\xef\xbb\xbf"))
        bytes = bytes.sliced(3);
    bool sections = false;
    for (const QByteArray &rawLine : bytes.toByteArray().split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith('[')) {
            if (line.startsWith("[General]"))
                return false;
            sections = true;
        } else if (const qsizetype equals = line.indexOf('='); equals > 0) {
            if (ownKey.match(QString::fromUtf8(line.first(equals).trimmed())).hasMatch())
                return false;
        }
    }
    return sections;
}

// The settings file, symbolic links followed. Never reads more than MaxSettingsBytes + 1.
StoreFile readStoreFile(const QString &path)
{
    using Kind = StoreFile::Kind;
    const QByteArray name = QFile::encodeName(path);
    struct stat status;
    if (::stat(name.constData(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) // nothing there, or a link that leads nowhere
            return {};
        return {Kind::Unreadable, {}, QString::fromLocal8Bit(std::strerror(errno))};
    }
    if (S_ISDIR(status.st_mode))
        return {Kind::Unreadable, {}, QStringLiteral("it is a folder")};
    if (!S_ISREG(status.st_mode))
        return {Kind::Foreign, {}, QStringLiteral("it is no ordinary file")};
    const auto tooLarge = [](qint64 size) {
        return StoreFile{
            Kind::Foreign,
            {},
            QStringLiteral("it holds %1 bytes, far more than any settings file").arg(size)};
    };
    if (status.st_size > MaxSettingsBytes)
        return tooLarge(status.st_size);

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!file.exists())
            return {};
        return {Kind::Unreadable, {}, file.errorString()};
    }
    QByteArray bytes = file.read(MaxSettingsBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return {Kind::Unreadable, {}, file.errorString()};
    if (bytes.size() > MaxSettingsBytes)
        return tooLarge(file.size());
    if (!readsAsSettings(bytes))
        return {Kind::Foreign, {}, QStringLiteral("it does not read as settings")};
    if (isOtherProgramsIni(bytes))
        return {Kind::Foreign, {}, QStringLiteral("it holds another program's settings")};
    return {Kind::Settings, std::move(bytes), {}};
}

// Moves what the settings path holds (a link itself, not its target) to a name of its own
// beside it, "<file>.damaged-<date>", "-2", "-3"... on the same day; never over another file.
// Returns the new path, or the empty text with *why set.
QString moveAside(const QString &path, QString *why)
{
    const QString base =
        path + QStringLiteral(".damaged-") + QDate::currentDate().toString(Qt::ISODate);
    const QByteArray from = QFile::encodeName(path);
    for (int copy = 1; copy <= 1000; ++copy) {
        const QString aside = copy == 1 ? base : base + QStringLiteral("-%1").arg(copy);
        const int error =
            core::renameNoReplace(from.constData(), QFile::encodeName(aside).constData());
        if (error == 0)
            return aside;
        if (error != EEXIST) {
            *why = QString::fromLocal8Bit(std::strerror(error));
            return {};
        }
    }
    *why = QStringLiteral("every name for it is taken");
    return {};
}

// The text of a stored value; nullopt for a value that is no text (QSettings reads a list
// written without quotes, a, b, as a string list: it is given back as it was written).
std::optional<QString> textOf(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    if (!value.isValid() || !value.canConvert<QString>())
        return std::nullopt;
    return value.toString();
}

// Whether text read back from a new file holds every entry it was written from. Texts must be
// equal; other values (read from a damaged file) need only keep their type.
bool holdsAll(const std::optional<IniText::Entries> &readBack, const IniText::Entries &written)
{
    if (!readBack || readBack->size() != written.size())
        return false;
    for (const IniText::Entry &entry : written) {
        const auto found =
            std::find_if(readBack->begin(), readBack->end(),
                         [&](const IniText::Entry &e) { return e.key == entry.key; });
        if (found == readBack->end() || found->value.metaType() != entry.value.metaType())
            return false;
        if (entry.value.metaType().id() == QMetaType::QString && found->value != entry.value)
            return false;
    }
    return true;
}

// Makes the rename that replaced the file durable. Not every file system can sync a folder;
// the file's own data has been synced already, so a failure here is not an error.
void syncFolder(const QString &folder)
{
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// The file a write replaces: the settings path with its symbolic links followed, as far as
// they lead (a link to a file not yet there gets that file).
QString writtenFile(const QString &path)
{
    QString current = path;
    for (int hop = 0; hop < 40; ++hop) {
        const QFileInfo info(current);
        if (!info.isSymLink())
            break;
        current = info.symLinkTarget();
    }
    return current;
}

// The name of a new file that replaces target: "<target's name>.vo-XXXXXXXX.tmp", eight
// lower-case hex digits, a name no person gives a file.
QRegularExpression newFileName(const QString &target)
{
    return QRegularExpression(QStringLiteral("^%1\\.vo-[0-9a-f]{8}\\.tmp$")
                                  .arg(QRegularExpression::escape(QFileInfo(target).fileName())));
}

// A copy killed while it wrote leaves its new file beside the file it replaces. Every writer
// holds the lock while its new file exists, so under the lock any such file is an orphan. Other
// files there (a user's "Vistarel Ombrix.conf.backup") are never touched.
void removeOrphanedNewFiles(const QString &target)
{
    const QFileInfo info(target);
    const QRegularExpression orphan = newFileName(target);
    QDir folder = info.absoluteDir();
    const QStringList names = folder.entryList({info.fileName() + QStringLiteral(".vo-*.tmp")},
                                               QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        if (orphan.match(name).hasMatch())
            folder.remove(name);
    }
}

// Writes bytes to a new file beside target, syncs it to the disk and renames it over target: a
// reader, or a copy killed in the middle, sees either file whole. A file that is there keeps
// its permission bits, and one that may not be written is not replaced. Returns the empty text,
// or why it failed.
QString replaceFile(const QString &target, const QByteArray &bytes)
{
    const QByteArray path = QFile::encodeName(target);
    const auto failure = [](int error) { return QString::fromLocal8Bit(std::strerror(error)); };
    struct stat old;
    const bool existed = ::stat(path.constData(), &old) == 0;
    if (existed && ::access(path.constData(), W_OK) != 0)
        return failure(errno);

    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary =
            path + ".vo-" +
            QByteArray::number(QRandomGenerator::global()->generate(), 16).rightJustified(8, '0') +
            ".tmp";
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                    0666);
        if (fd < 0 && errno != EEXIST)
            return failure(errno);
    }
    if (fd < 0)
        return failure(EEXIST);
    const auto abandon = [&](int error) {
        ::close(fd);
        ::unlink(temporary.constData());
        return failure(error);
    };
    if (existed && ::fchmod(fd, old.st_mode & 0777) != 0)
        return abandon(errno);
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return abandon(written < 0 ? errno : ENOSPC);
        done += written;
    }
    if (::fsync(fd) != 0)
        return abandon(errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.constData());
        return failure(error);
    }
    if (::rename(temporary.constData(), path.constData()) != 0) {
        const int error = errno;
        ::unlink(temporary.constData());
        return failure(error);
    }
    return {};
}

} // namespace

SettingsStore::SettingsStore(QString filePath)
    : m_filePath(std::move(filePath))
{
}

QString SettingsStore::defaultFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Kestrelby/Vistarel Ombrix.conf");
}

std::optional<IniText::Entries> SettingsStore::parsed(const QByteArray &bytes) const
{
    if (!m_parsed || bytes != m_parsedBytes) {
        m_parsed = IniText::parse(bytes);
        m_parsedBytes = m_parsed ? bytes : QByteArray();
    }
    return m_parsed;
}

QString SettingsStore::GetSetting(const QString &key, const QString &defaultValue) const
{
    try {
        const StoreFile file = readStoreFile(m_filePath);
        if (file.kind != StoreFile::Kind::Settings || file.bytes.isEmpty())
            return defaultValue;
        if (const std::optional<IniText::Entries> entries = parsed(file.bytes)) {
            for (const IniText::Entry &entry : *entries) {
                if (entry.key == key)
                    return textOf(entry.value).value_or(defaultValue);
            }
            return defaultValue;
        }
        // No scratch file to be had: QSettings reads the file itself, trusting its cache.
        const QSettings settings(m_filePath, QSettings::IniFormat);
        return textOf(settings.value(key)).value_or(defaultValue);
    } catch (...) {
        return defaultValue;
    }
}

std::optional<QString> SettingsStore::storedText(const QString &key) const
{
    try {
        const StoreFile file = readStoreFile(m_filePath);
        if (file.kind != StoreFile::Kind::Settings || file.bytes.isEmpty())
            return std::nullopt;
        if (const std::optional<IniText::Entries> entries = parsed(file.bytes)) {
            for (const IniText::Entry &entry : *entries) {
                if (entry.key == key && entry.value.metaType().id() == QMetaType::QString)
                    return entry.value.toString();
            }
        }
    } catch (...) {
    }
    return std::nullopt;
}

QString SettingsStore::GetSetting(const QString &key, int defaultValue) const
{
    return GetSetting(key, QString::number(defaultValue));
}

void SettingsStore::SaveSetting(const QString &key, const QString &value)
{
    QString setAside; // what was done with a file that was no settings file
    auto fail = [&](const QString &why) {
        throw core::Error(WriteFailed, QStringLiteral("Cannot save the setting \"%1\" in the "
                                                      "settings file \"%2\": %3")
                                               .arg(key, m_filePath, why) +
                                           (setAside.isEmpty() ? QString() : u' ' + setAside));
    };

    // A write that would not change the stored text is not made, and so cannot fail: the
    // start-up restore writes back every value it reads, and a folder that cannot be written
    // would otherwise give a box for each. Checked again under the lock below.
    if (storedText(key) == value)
        return;

    const QString folder = QFileInfo(m_filePath).absolutePath();
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
        fail(QStringLiteral("its folder \"%1\" cannot be created").arg(folder));

    QString why;
    FileLock lock(m_filePath + QStringLiteral(".lock"));
    // Another copy that writes again and again (its file changes each time) is not stuck.
    const auto written = [this] {
        struct stat status
        {
        };
        if (::stat(QFile::encodeName(m_filePath).constData(), &status) != 0)
            return QByteArray();
        return QByteArray::number(qulonglong(status.st_ino)) + ' ' +
               QByteArray::number(qlonglong(status.st_mtim.tv_sec)) + '.' +
               QByteArray::number(qlonglong(status.st_mtim.tv_nsec));
    };
    if (!lock.lock(LockWaitMs, &why, written))
        fail(why);

    const StoreFile old = readStoreFile(m_filePath);
    if (old.kind == StoreFile::Kind::Unreadable)
        fail(old.why);
    // What is no settings file is never overwritten: it goes aside, and the settings start
    // afresh. A link goes aside itself, so that its target stays as it was, where it was.
    if (old.kind == StoreFile::Kind::Foreign) {
        const QString linkTarget = QFileInfo(m_filePath).symLinkTarget();
        const QString aside = moveAside(m_filePath, &why);
        if (aside.isEmpty())
            fail(QStringLiteral("%1, and it cannot be moved aside: %2").arg(old.why, why));
        setAside = linkTarget.isEmpty()
                       ? QStringLiteral("The settings file \"%1\" was moved to \"%2\"")
                             .arg(m_filePath, aside)
                       : QStringLiteral("The settings file \"%1\", a link to \"%2\", was moved "
                                        "to \"%3\" (\"%2\" is as it was)")
                             .arg(m_filePath, linkTarget, aside);
        setAside += QStringLiteral(" because %1; the settings start afresh.").arg(old.why);
    }
    std::optional<IniText::Entries> entries = IniText::Entries();
    if (old.kind == StoreFile::Kind::Settings && !old.bytes.isEmpty())
        entries = parsed(old.bytes);
    if (!entries)
        fail(QStringLiteral("no temporary file can be made"));

    bool replaced = false;
    for (IniText::Entry &entry : *entries) {
        if (entry.key == key) {
            // Already stored (the start-up restore writes back every value it reads): the file
            // holds what was asked, and rewriting it would only cost two syncs to the disk.
            if (entry.value.metaType().id() == QMetaType::QString && entry.value == value)
                return;
            entry.value = value;
            replaced = true;
        }
    }
    if (!replaced)
        entries->append({key, value});

    const std::optional<QByteArray> bytes = IniText::serialize(*entries);
    if (!bytes)
        fail(QStringLiteral("no temporary file can be written"));
    // QSettings reports success even when its file was cut short (a write error at its final
    // flush goes unnoticed), so the new text is read back before it replaces the file.
    if (!holdsAll(IniText::parse(*bytes), *entries))
        fail(QStringLiteral("the new settings could not be written whole"));

    const QString target = writtenFile(m_filePath);
    removeOrphanedNewFiles(target);
    why = replaceFile(target, *bytes);
    if (!why.isEmpty())
        fail(why);
    syncFolder(QFileInfo(target).absolutePath());
    if (!setAside.isEmpty())
        throw core::Error(FileSetAside, setAside);
}

} // namespace app
