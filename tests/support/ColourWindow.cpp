// vo-colour-window X Y WIDTH HEIGHT COLOUR|quadrants [desktop|PAINT_MS]
// Another program's window for the capture tests: a borderless window at the given place,
// filled with one colour ("#rrggbb") or with four quadrants (red, green, blue, yellow). Prints
// "ready" once it has painted, and stays until its standard input closes or it is killed.
// It bypasses the window manager, or with "desktop" is the desktop that a window manager keeps
// below every other window (_NET_WM_WINDOW_TYPE_DESKTOP). PAINT_MS makes every paint take that
// long, like a program slow to redraw after a resize.
// WIDTH and HEIGHT 0: full screen, the way to cover a Wayland desktop's panels.

#include <QApplication>
#include <QPainter>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// Qt writes the window type when it creates the window; this replaces it before the map.
void markAsDesktop(xcb_window_t window)
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    const auto atom = [connection](const char *name) {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return value;
    };
    const xcb_atom_t desktop = atom("_NET_WM_WINDOW_TYPE_DESKTOP");
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_WINDOW_TYPE"),
                        XCB_ATOM_ATOM, 32, 1, &desktop);
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    xcb_disconnect(connection);
}

class ColourWindow : public QWidget
{
public:
    ColourWindow(QString colour, bool desktop, int paintMilliseconds)
        : QWidget(nullptr,
                  desktop ? Qt::Window | Qt::FramelessWindowHint
                          : Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint)
        , m_colour(std::move(colour))
        , m_paintMilliseconds(paintMilliseconds)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        if (desktop)
            markAsDesktop(static_cast<xcb_window_t>(winId()));
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (m_paintMilliseconds > 0)
            QThread::msleep(static_cast<unsigned long>(m_paintMilliseconds));
        QPainter painter(this);
        if (m_colour == QLatin1String("quadrants")) {
            const int w = width() / 2;
            const int h = height() / 2;
            painter.fillRect(0, 0, w, h, QColor(220, 30, 30));
            painter.fillRect(w, 0, width() - w, h, QColor(30, 200, 40));
            painter.fillRect(0, h, w, height() - h, QColor(30, 40, 220));
            painter.fillRect(w, h, width() - w, height() - h, QColor(230, 220, 40));
        } else {
            painter.fillRect(rect(), QColor::fromString(m_colour));
        }
        if (!m_ready) {
            m_ready = true;
            QTimer::singleShot(0, [] {
                std::puts("ready");
                std::fflush(stdout);
            });
        }
    }

private:
    QString m_colour;
    int m_paintMilliseconds = 0;
    bool m_ready = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() != 6 && args.size() != 7) {
        std::fputs("usage: vo-colour-window X Y WIDTH HEIGHT COLOUR|quadrants [desktop|PAINT_MS]\n",
                   stderr);
        return 2;
    }
    const bool desktop = args.size() == 7 && args[6] == QLatin1String("desktop");
    const int paintMilliseconds = args.size() == 7 && !desktop ? args[6].toInt() : 0;
    ColourWindow window(args[5], desktop, paintMilliseconds);
    if (args[3].toInt() == 0 && args[4].toInt() == 0) {
        window.showFullScreen();
    } else {
        window.setGeometry(args[1].toInt(), args[2].toInt(), args[3].toInt(), args[4].toInt());
        window.show();
    }

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[64];
        if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            QApplication::quit();
    });
    return QApplication::exec();
}
