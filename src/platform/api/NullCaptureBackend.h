#pragma once
// NullCaptureBackend: the backend of a session that offers no way to capture the screen. It never
// yields a picture, and it carries why, in words for the user (empty: nothing more to say than
// that no picture came, as for VO_CAPTURE_BACKEND=null). The loader returns it where no route
// fits, so the program always has a backend to call.

#include "CaptureBackend.h"

#include <utility>

namespace platform {

class NullCaptureBackend final : public CaptureBackend
{
public:
    explicit NullCaptureBackend(QString reason = {})
        : m_reason(std::move(reason))
    {
    }

    imaging::Picture captureScreen() override { return {}; }
    void sync() override {}
    QString failureReason() const override { return m_reason; }

private:
    QString m_reason;
};

} // namespace platform
