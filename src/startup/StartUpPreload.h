#pragma once
// StartUpPreload: the start-up work that needs neither the window nor the display, done on a
// thread of its own while the toolkit connects to the display: loading fontconfig's
// configuration (the first text the window lays out would otherwise load it, about a quarter
// of the start-up's work) and decoding the program icon's images from the resources. Start it
// first thing in main; it needs no QCoreApplication. The destructor waits for the thread.

#include <QHash>
#include <QImage>
#include <QString>

#include <thread>

namespace startup {

class StartUpPreload
{
public:
    // The icon images to decode, by resource path.
    explicit StartUpPreload(QStringList iconPaths);
    ~StartUpPreload();
    StartUpPreload(const StartUpPreload &) = delete;
    StartUpPreload &operator=(const StartUpPreload &) = delete;

    // The image at path: the decoded one for a path given at construction (waiting for the
    // thread), otherwise read now. A null image when it cannot be read.
    QImage image(const QString &path);

private:
    void waitForThread();

    QHash<QString, QImage> m_images;
    std::thread m_thread;
};

} // namespace startup
