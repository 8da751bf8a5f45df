#pragma once
// An exclusive lock between processes on a lock file (flock). The lock file stays in place; the
// kernel drops the lock when its holder closes the file or dies, so a copy of the program that
// is killed while it holds the lock never leaves it taken. Taking it writes nothing and syncs
// nothing to the disk. Released by the destructor.

#include <QByteArray>
#include <QString>

#include <functional>

namespace app {

class FileLock
{
public:
    explicit FileLock(QString path);
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    // Creates the lock file when needed and takes the lock, retrying with short pauses of
    // varying length until timeoutMs have passed. On failure returns false and sets *why.
    // progress, when given, tells what the holders have done (e.g. the guarded file's identity):
    // while its answer changes, other copies are taking turns with the lock, and the timeout
    // starts again; a polling waiter may lose many turns in a row to a busy writer.
    bool lock(int timeoutMs, QString *why, const std::function<QByteArray()> &progress = {});

private:
    QString m_path;
    int m_fd = -1;
};

} // namespace app
