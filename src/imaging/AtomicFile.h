#pragma once
// AtomicFile: writes a new file next to its target and puts it in place with one rename, so the
// target path holds either the old file or the complete new one, never a partial file.
// The constructor creates a temporary file (".vo-XXXXXXXX.tmp", eight hex digits) in the target's
// folder; commit() renames it over the target, commitExclusive() renames it to a name only when
// nothing has that name yet; the destructor removes the temporary file if no commit happened.
// Every failure throws the writers' save error (core::Error 5) with the status of the failing
// call's errno. The new file's mode is 0666 & ~umask, narrowed to the mode of a regular file it
// replaces, never widened by it nor by a link's target. The constructor also removes temporary
// files of that pattern which a killed copy left in the folder: those of the user's own that are
// regular files unchanged for a minute (no save takes that long between two writes), looked for
// at most once a minute per folder.
// The data is not flushed to the disk before the rename (an fdatasync would add about 25 ms to a
// 4K BMP and 5 to 15 ms to its JPEG, several times the save itself): in normal operation the
// target is never partial either way, and across a power cut the file system's own ordering
// applies (ext4 writes a file renamed over another before the rename is committed).

#include "NameSequence.h"

#include <QByteArray>
#include <QString>
#include <sys/types.h>
#include <sys/uio.h>

namespace imaging {

class AtomicFile
{
public:
    explicit AtomicFile(const QString &targetPath);
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // Writes all of the buffers, in order, at the file's current end (short writes resumed).
    void append(const iovec *buffers, int count);
    // Writes all of the buffers, in order, starting at offset.
    void writeAt(off_t offset, const iovec *buffers, int count);
    // Closes the file and renames it over the target.
    void commit();
    // Closes the file (on the first call) and renames it to path, which must be in the target's
    // folder, only if nothing has that name: false when the name is taken, and the temporary
    // file stays for another call. Any other failure throws.
    bool commitExclusive(const QString &path);
    // commitExclusive() with names(0), names(1), ... until one is free; returns that name. After
    // MaxNameAttempts taken names it fails as for a taken file (status 7).
    static constexpr int MaxNameAttempts = 10000;
    QString commitFirstFree(const NameSequence &names);

private:
    void close();

    QByteArray m_targetPath;
    QByteArray m_temporaryPath;
    int m_fd = -1;
    off_t m_end = 0;
    bool m_committed = false;
};

} // namespace imaging
