#include "SaveError.h"

#include <cerrno>

namespace imaging {

core::Error saveError(SaveStatus status)
{
    return core::Error(core::Error::InvalidArgument,
                       QStringLiteral("Cannot save the image. GDI+ Error:") +
                           QString::number(static_cast<int>(status)));
}

SaveStatus statusFromErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return SaveStatus::FileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return SaveStatus::AccessDenied;
    case ENOMEM:
        return SaveStatus::OutOfMemory;
    default:
        return SaveStatus::Win32Error;
    }
}

} // namespace imaging
