// vo-colour-window X Y WIDTH HEIGHT COLOUR|quadrants [PAINT_MS]
// Another program's window for the capture tests: a borderless window at the given place,
// filled with one colour ("#rrggbb") or with four quadrants (red, green, blue, yellow). Prints
// "ready" once it has painted, and stays until its standard input closes or it is killed.
// PAINT_MS makes every paint take that long, like a program slow to redraw after a resize.

#include <QApplication>
#include <QPainter>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <unistd.h>

namespace {

class ColourWindow : public QWidget
{
public:
    ColourWindow(QString colour, int paintMilliseconds)
        : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint)
        , m_colour(std::move(colour))
        , m_paintMilliseconds(paintMilliseconds)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
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
        std::fputs("usage: vo-colour-window X Y WIDTH HEIGHT COLOUR|quadrants [PAINT_MS]\n",
                   stderr);
        return 2;
    }
    ColourWindow window(args[5], args.size() == 7 ? args[6].toInt() : 0);
    window.setGeometry(args[1].toInt(), args[2].toInt(), args[3].toInt(), args[4].toInt());
    window.show();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[64];
        if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            QApplication::quit();
    });
    return QApplication::exec();
}
