#pragma once
// StartUpPreload: the start-up work that needs neither the window nor the display, done on a
// thread of its own while the toolkit connects to the display: loading fontconfig's
// configuration (the first text the window lays out would otherwise load it, about a quarter
// of the start-up's work), finding the settings reader's scratch folders (IniText::prepare) and
// decoding the program icon's images from the resources. Start it first thing in main; it needs
// no QCoreApplication. The destructor waits for the thread.

#include <QHash>
#include <QImage>
#include <QString>

#include <future>
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

    // Waits until fontconfig's configuration is loaded. Call it before the toolkit lays out the
    // first text: fontconfig lets every thread that finds no configuration load one of its own,
    // so a toolkit that came first would parse the whole configuration a second time.
    void waitForFontConfiguration();

    // The image at path: the decoded one for a path given at construction (waiting for the
    // thread), otherwise read now. A null image when it cannot be read.
    QImage image(const QString &path);

private:
    void waitForThread();

    QHash<QString, QImage> m_images;
    std::promise<void> m_fontsLoaded;
    std::future<void> m_fontsReady;
    std::thread m_thread;
};

} // namespace startup
