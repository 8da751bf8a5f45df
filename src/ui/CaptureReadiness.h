#pragma once
// CaptureReadiness: tells the capture backend when a capture is likely to come soon, and when
// none has been for a while, so that it holds the memory a fast capture needs only around the
// time it is used. Cues: the pointer entering the window or any of its controls, the window
// becoming active, the "Capture Now" button getting the keyboard focus or being pressed. On a
// cue the backend prepares (CaptureBackend::prepareForCapture, in the background); once
// quietTime has passed without a cue, it releases what it prepared or kept
// (releasePreparation). While busy() answers true (a capture is running) the backend is left
// alone and the quiet time starts again. Holds references; the window, the button and the
// backend must outlive it.

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

class QWidget;

namespace platform {
class CaptureBackend;
}

namespace ui {

class CaptureReadiness : public QObject
{
public:
    static constexpr std::chrono::milliseconds DefaultQuietTime{30000};

    CaptureReadiness(QWidget &window, QWidget &captureButton, platform::CaptureBackend &backend,
                     std::function<bool()> busy,
                     std::chrono::milliseconds quietTime = DefaultQuietTime);

    // A cue of the program's own: prepares, and starts the quiet time again.
    void cue();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void watch(QObject *object);
    void quietTimeOver();

    QWidget &m_window;
    QWidget &m_captureButton;
    platform::CaptureBackend &m_backend;
    std::function<bool()> m_busy;
    QTimer m_quiet;
};

} // namespace ui
