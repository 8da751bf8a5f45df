// vo-colour-window X Y WIDTH HEIGHT COLOUR|quadrants
// Another program's window for the capture tests: a borderless window at the given place,
// filled with one colour ("#rrggbb") or with four quadrants (red, green, blue, yellow). Prints
// "ready" once it has painted, and stays until its standard input closes or it is killed.
// WIDTH and HEIGHT 0: full screen, the way to cover a Wayland desktop's panels.

#include <QApplication>
#include <QPainter>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <unistd.h>

namespace {

class ColourWindow : public QWidget
{
public:
    explicit ColourWindow(QString colour)
        : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint)
        , m_colour(std::move(colour))
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
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
    bool m_ready = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() != 6) {
        std::fputs("usage: vo-colour-window X Y WIDTH HEIGHT COLOUR|quadrants\n", stderr);
        return 2;
    }
    ColourWindow window(args[5]);
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
