#pragma once
// PendingSave: a save prepared ahead. start() writes a Picture in a format into a temporary file
// beside its target, on a thread of its own, while the caller waits for something else (the
// pause after a capture). commit() then puts that file in place, if it was made for the same
// picture, path, format and quality; otherwise (a choice changed meanwhile) it drops it and saves
// anew. The target appears only at commit(). drop() or the destructor removes an uncommitted
// file; both wait for the writing, and so for the picture's transfer from the screen.
//
// A failure of the prepared writing (no temporary file, the writer's, no thread) is kept and
// thrown by commit(), exactly as savePicture would have thrown it then.

#include "ImageFormat.h"
#include "NameSequence.h"
#include "Picture.h"

#include <QString>
#include <cstdint>
#include <memory>

namespace imaging {

class PendingSave
{
public:
    PendingSave();
    ~PendingSave();
    PendingSave(const PendingSave &) = delete;
    PendingSave &operator=(const PendingSave &) = delete;

    // Starts writing picture for path in format at quality; drops an earlier pending save.
    // Never throws (without memory or a thread, commit() saves then).
    void start(const Picture &picture, const QString &path, ImageFormat format,
               std::uint8_t quality) noexcept;

    // Puts picture in place as savePicture would: at path, replacing a file there, or, when
    // names is given (names(0) is path), at the first free of names. Returns the path written.
    // Throws the save error; nothing is pending afterwards.
    QString commit(const Picture &picture, const QString &path, const NameSequence &names,
                   ImageFormat format, std::uint8_t quality);

    // Removes the pending file, if any, once its writing has ended.
    void drop() noexcept;

private:
    class Job;
    std::unique_ptr<Job> m_job;
};

} // namespace imaging
