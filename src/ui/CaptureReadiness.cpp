#include "CaptureReadiness.h"

#include "CaptureBackend.h"

#include <QEvent>
#include <QWidget>

namespace ui {

CaptureReadiness::CaptureReadiness(QWidget &window, QWidget &captureButton,
                                   platform::CaptureBackend &backend, std::function<bool()> busy,
                                   std::chrono::milliseconds quietTime)
    : m_window(window)
    , m_captureButton(captureButton)
    , m_backend(backend)
    , m_busy(std::move(busy))
{
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(quietTime);
    connect(&m_quiet, &QTimer::timeout, this, [this] { quietTimeOver(); });
    // Enter events reach every widget the pointer comes over, so watching them all follows the
    // pointer through the window; the controls are made before this object.
    watch(&m_window);
    for (QWidget *control : m_window.findChildren<QWidget *>())
        watch(control);
}

void CaptureReadiness::watch(QObject *object)
{
    object->installEventFilter(this);
}

void CaptureReadiness::cue()
{
    if (!m_busy || !m_busy())
        m_backend.prepareForCapture();
    m_quiet.start();
}

void CaptureReadiness::quietTimeOver()
{
    if (m_busy && m_busy()) {
        m_quiet.start();
        return;
    }
    m_backend.releasePreparation();
}

bool CaptureReadiness::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Enter:
        cue();
        break;
    case QEvent::WindowActivate:
        if (watched == &m_window)
            cue();
        break;
    case QEvent::FocusIn:
    case QEvent::MouseButtonPress:
    case QEvent::KeyPress:
        if (watched == &m_captureButton)
            cue();
        break;
    default:
        break;
    }
    return false;
}

} // namespace ui
