#pragma once
// WaylandConnection: this program's own connection to the Wayland compositor (never the GUI
// toolkit's), with the globals the screen capture needs: wl_shm, the ext-image-copy-capture
// managers, the wlroots screencopy manager and every wl_output with its name and place.
// Single-threaded: one thread at a time sends and dispatches; only destroying proxies (a released
// buffer) may happen on any thread, which libwayland allows. Shared by everything made on it, so it
// outlives their proxies.

#include <QDeadlineTimer>
#include <QRect>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct wl_display;
struct wl_registry;
struct wl_shm;
struct wl_output;
struct zwlr_screencopy_manager_v1;
struct ext_image_copy_capture_manager_v1;
struct ext_output_image_capture_source_manager_v1;

namespace platform {

class WaylandConnection
{
public:
    struct Output
    {
        wl_output *output = nullptr;
        std::uint32_t globalName = 0;
        QString name;    // e.g. "HEADLESS-1" (wl_output version 4); empty before
        QPoint position; // in the compositor's layout (logical pixels)
        QSize modeSize;  // current mode, in buffer pixels
        int scale = 1;
        int refreshMilliHz = 0;

        // The output's area in the layout, in logical pixels.
        QRect logicalRect() const;
    };

    // Connects to displayName (as for wl_display_connect: an absolute path, a socket name in
    // XDG_RUNTIME_DIR, or nullptr for $WAYLAND_DISPLAY / "wayland-0") and reads the globals.
    // nullptr when no compositor answers.
    static std::shared_ptr<WaylandConnection> open(const char *displayName = nullptr);
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection &) = delete;
    WaylandConnection &operator=(const WaylandConnection &) = delete;

    wl_display *display() const { return m_display; }
    wl_shm *shm() const { return m_shm; }
    zwlr_screencopy_manager_v1 *screencopyManager() const { return m_screencopy; }
    std::uint32_t screencopyVersion() const { return m_screencopyVersion; }
    ext_image_copy_capture_manager_v1 *imageCopyCaptureManager() const { return m_imageCopy; }
    ext_output_image_capture_source_manager_v1 *outputCaptureSourceManager() const
    {
        return m_outputSource;
    }
    // In the compositor's order: the order in which it announced the outputs' globals.
    const std::vector<std::unique_ptr<Output>> &outputs() const { return m_outputs; }

    // The primary output: the first in the compositor's order. Wayland has no "primary"; the
    // first output announced is the one Qt makes its primary screen. nullptr without outputs.
    const Output *primaryOutput() const;

    // The output named name; else the one whose layout area holds point (when given); else the
    // one at the layout's origin; else the first. nullptr without outputs.
    const Output *chooseOutput(const QString &name, const QPoint *point = nullptr) const;

    enum class Dispatch {
        Blocking,         // sleeps on the connection alone
        ProcessingEvents, // runs a local Qt event loop meanwhile (GUI thread only)
    };

    // Sends what is queued and dispatches events until done() holds, the connection fails or
    // the deadline passes. Returns done().
    bool dispatchUntil(const std::function<bool()> &done, QDeadlineTimer deadline,
                       Dispatch how = Dispatch::Blocking);
    // Sends what is queued and dispatches what has arrived, without waiting.
    bool dispatchAvailable();
    bool roundTrip();
    bool hasError() const;

private:
    WaylandConnection() = default;
    bool dispatchBlocking(const std::function<bool()> &done, QDeadlineTimer deadline);
    static void onGlobal(void *data, wl_registry *registry, std::uint32_t name,
                         const char *interface, std::uint32_t version);
    static void onGlobalRemove(void *data, wl_registry *registry, std::uint32_t name);

    wl_display *m_display = nullptr;
    wl_registry *m_registry = nullptr;
    wl_shm *m_shm = nullptr;
    zwlr_screencopy_manager_v1 *m_screencopy = nullptr;
    std::uint32_t m_screencopyVersion = 0;
    ext_image_copy_capture_manager_v1 *m_imageCopy = nullptr;
    ext_output_image_capture_source_manager_v1 *m_outputSource = nullptr;
    std::vector<std::unique_ptr<Output>> m_outputs; // listeners hold pointers to the entries
};

} // namespace platform
