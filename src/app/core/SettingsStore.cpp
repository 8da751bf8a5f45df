#include "SettingsStore.h"

#include "FileLock.h"
#include "IniText.h"
#include "core/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <algorithm>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace app {

namespace {

constexpr qint64 MaxReadBytes = 16 * 1024 * 1024;
constexpr int LockWaitMs = 5000;

// The bytes of the settings file: empty when there is no file; nullopt (with the reason) when
// there is one that cannot be read. A file beyond MaxReadBytes is cut after its last whole line
// within that size, so that a damaged file cannot exhaust the memory.
std::optional<QByteArray> readStoreFile(const QString &path, QString *why)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return QByteArray();
    if (info.isDir()) {
        *why = QStringLiteral("it is a folder");
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!file.exists())
            return QByteArray();
        *why = file.errorString();
        return std::nullopt;
    }
    QByteArray bytes = file.read(MaxReadBytes);
    if (file.error() != QFileDevice::NoError) {
        *why = file.errorString();
        return std::nullopt;
    }
    if (bytes.size() == MaxReadBytes && !file.atEnd())
        bytes.truncate(bytes.lastIndexOf('\n') + 1);
    return bytes;
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
        const auto found = std::find_if(readBack->begin(), readBack->end(),
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
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// A copy killed while it wrote leaves its new file ("<file>.XXXXXX", QSaveFile's name for it)
// beside the settings file. Every writer holds the lock while its new file exists, so under
// the lock any such file is an orphan.
void removeOrphanedSaveFiles(const QString &filePath)
{
    const QFileInfo info(filePath);
    const QRegularExpression orphan(
        QStringLiteral("^%1\\.[A-Za-z0-9]{6}$").arg(QRegularExpression::escape(info.fileName())));
    QDir folder = info.absoluteDir();
    const QStringList names = folder.entryList({info.fileName() + QStringLiteral(".*")},
                                               QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        if (orphan.match(name).hasMatch())
            folder.remove(name);
    }
}

} // namespace

SettingsStore::SettingsStore(QString filePath) : m_filePath(std::move(filePath)) {}

QString SettingsStore::defaultFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/Kestrelby/Vistarel Ombrix.conf");
}

QString SettingsStore::GetSetting(const QString &key, const QString &defaultValue) const
{
    try {
        QString why;
        const std::optional<QByteArray> bytes = readStoreFile(m_filePath, &why);
        if (!bytes || bytes->isEmpty())
            return defaultValue;
        if (const std::optional<IniText::Entries> entries = IniText::parse(*bytes)) {
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

QString SettingsStore::GetSetting(const QString &key, int defaultValue) const
{
    return GetSetting(key, QString::number(defaultValue));
}

void SettingsStore::SaveSetting(const QString &key, const QString &value)
{
    auto fail = [&](const QString &why) {
        throw core::Error(WriteFailed, QStringLiteral("Cannot save the setting \"%1\" in the "
                                                      "settings file \"%2\": %3")
                                           .arg(key, m_filePath, why));
    };

    const QString folder = QFileInfo(m_filePath).absolutePath();
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
        fail(QStringLiteral("its folder \"%1\" cannot be created").arg(folder));

    QString why;
    FileLock lock(m_filePath + QStringLiteral(".lock"));
    if (!lock.lock(LockWaitMs, &why))
        fail(why);

    removeOrphanedSaveFiles(m_filePath);

    const std::optional<QByteArray> old = readStoreFile(m_filePath, &why);
    if (!old)
        fail(why);
    std::optional<IniText::Entries> entries = IniText::Entries();
    if (!old->isEmpty())
        entries = IniText::parse(*old);
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

    // QSaveFile writes a new file beside the old one, syncs it to the disk and renames it over
    // the old one: a reader, or a copy killed in the middle, sees either file whole.
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly))
        fail(file.errorString());
    if (file.write(*bytes) != bytes->size() || !file.flush()) {
        const QString error = file.errorString();
        file.cancelWriting();
        fail(error);
    }
    if (!file.commit())
        fail(file.errorString());
    syncFolder(folder);
}

} // namespace app
