#pragma once
// renameNoReplace: renames a file to a name that nothing has yet, atomically, never replacing
// what is there. Returns 0, or the errno of the failure: EEXIST when the name is taken.
// Uses renameat2(RENAME_NOREPLACE); where the file system lacks it (NFS, some FUSE systems),
// link + unlink, which claims the name just as exclusively; where the file system has neither
// (no hard links, as on some network shares), a test for the name followed by a plain rename,
// the best such a system allows.

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace core {

inline int renameNoReplace(const char *from, const char *to)
{
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    if (::link(from, to) == 0) {
        ::unlink(from);
        return 0;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != ENOSYS && errno != EMLINK)
        return errno;
    struct stat existing;
    if (::lstat(to, &existing) == 0)
        return EEXIST;
    return ::rename(from, to) == 0 ? 0 : errno;
}

} // namespace core
