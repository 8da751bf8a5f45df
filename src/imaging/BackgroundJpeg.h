#pragma once
// BackgroundJpeg: encodes a Picture as a JPEG into a temporary file beside its target, on a
// thread of its own, so that the encoding runs while the caller waits for something else. The
// target path appears only when the caller commits the finished file; dropping the object
// instead removes the temporary file. Either way the destructor waits for the encoding, and so
// for the picture's transfer from the screen.
//
// A failure (no temporary file, the encoder's, no thread) is kept and thrown by finished(), as
// SaveJPG would have thrown it.

#include "AtomicFile.h"
#include "Picture.h"

#include <QString>
#include <cstdint>
#include <exception>
#include <optional>
#include <thread>

namespace imaging {

class BackgroundJpeg
{
public:
    // Starts the encoding at once. Never throws.
    BackgroundJpeg(Picture picture, QString path, std::uint8_t quality) noexcept;
    ~BackgroundJpeg();
    BackgroundJpeg(const BackgroundJpeg &) = delete;
    BackgroundJpeg &operator=(const BackgroundJpeg &) = delete;

    // Whether this is the JPEG of that picture (the same pixels) for path at quality.
    bool encodes(const Picture &picture, const QString &path, std::uint8_t quality) const;

    // Waits for the encoding to end. Throws its failure (core::Error 5, as SaveJPG), or returns
    // the complete temporary file for the caller to commit.
    AtomicFile &finished();

private:
    void encode() noexcept;

    const Picture m_picture;
    const QString m_path;
    const std::uint8_t m_quality;
    std::optional<AtomicFile> m_file;
    std::exception_ptr m_failure;
    std::thread m_worker;
    bool m_done = false;
};

} // namespace imaging
