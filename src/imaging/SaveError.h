#pragma once
// The writers' failure: core::Error number 5, "Cannot save the image. GDI+ Error:" directly
// followed by a nonzero status. Statuses follow the GDI+ numbering where one fits.

#include <core/Error.h>

namespace imaging {

enum class SaveStatus : int {
    GenericError = 1,     // the encoder failed, or the picture's transfer from the screen failed
    InvalidParameter = 2, // empty picture, or one too large for the format
    OutOfMemory = 3,
    Win32Error = 7,    // any other I/O failure: disk full, file too large, name too long, ...
    FileNotFound = 10, // the folder does not exist
    AccessDenied = 12, // not writable: permissions, read-only file system
};

core::Error saveError(SaveStatus status);

// The status that describes a failed file-system call's errno.
SaveStatus statusFromErrno(int error);

} // namespace imaging
