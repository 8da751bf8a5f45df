#include "PhotoWindow.h"

#include "PhotoContent.h"

#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>

#include <unistd.h>

namespace bench {

namespace {

class PhotoWindow : public QRasterWindow
{
public:
    explicit PhotoWindow(ContentMaker content)
        : m_content(content)
    {
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const QSize size = this->size() * devicePixelRatio();
        if (m_image.size() != size)
            m_image = m_content(size.width(), size.height());
        QPainter(this).drawImage(QRect(QPoint(0, 0), this->size()), m_image);
        if (size.width() >= 1920 && !m_ready) {
            m_ready = true;
            QTimer::singleShot(500, [] {
                std::puts("ready");
                std::fflush(stdout);
            });
        }
    }

private:
    ContentMaker m_content;
    QImage m_image;
    bool m_ready = false;
};

} // namespace

int photoWindowMain(int argc, char *argv[], bool fullScreen, ContentMaker content)
{
    QGuiApplication application(argc, argv);
    PhotoWindow window(content ? content : photoContent);
    if (fullScreen)
        window.showFullScreen();
    else
        window.show();
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[64];
        if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            QGuiApplication::quit();
    });
    return QGuiApplication::exec();
}

} // namespace bench
