// The real vistarel-ombrix under compositing window managers (the fixtures xfwm4 and picom with
// fading, each on an Xvfb of its own), over a desktop of four known colours: every BMP that
// "Capture Now" writes must show those colours everywhere, nothing of the window, and the
// window must come back where it was, on the screen, and (with a window manager) active.

#include "ProgramHome.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

constexpr int captures = 8;

// Runs xdotool on the display; its output, or nullopt when it failed.
std::optional<QString> xdotool(const QString &display, const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", display);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The colour of the desktop's quadrant that holds the point.
QRgb quadrantAt(int x, int y)
{
    if (y < 540)
        return x < 960 ? qRgb(220, 30, 30) : qRgb(30, 200, 40);
    return x < 960 ? qRgb(30, 40, 220) : qRgb(230, 220, 40);
}

// A connection to the display of one fixture.
class FixtureScreen
{
public:
    explicit FixtureScreen(const QString &name)
        : m_connection(xcb_connect(qPrintable(name), nullptr))
    {
    }
    ~FixtureScreen() { xcb_disconnect(m_connection); }
    FixtureScreen(const FixtureScreen &) = delete;
    FixtureScreen &operator=(const FixtureScreen &) = delete;

    // True once a compositing manager owns _NET_WM_CM_S0 (within 10 s).
    bool waitForCompositor() const
    {
        if (xcb_connection_has_error(m_connection))
            return false;
        auto *atom = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, 13, "_NET_WM_CM_S0"), nullptr);
        const xcb_atom_t selection = atom ? atom->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(atom);
        for (int i = 0; i < 100; ++i) {
            auto *owner = xcb_get_selection_owner_reply(
                m_connection, xcb_get_selection_owner(m_connection, selection), nullptr);
            const bool owned = owner && owner->owner != XCB_NONE;
            std::free(owner);
            if (owned)
                return true;
            QTest::qWait(100);
        }
        return false;
    }

    // Where a window is on the screen (xdotool counts a window manager's frame in twice).
    QRect place(xcb_window_t window) const
    {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        auto *geometry =
            xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr);
        auto *origin = xcb_translate_coordinates_reply(
            m_connection, xcb_translate_coordinates(m_connection, window, root, 0, 0), nullptr);
        QRect result;
        if (geometry && origin)
            result = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
        std::free(geometry);
        std::free(origin);
        return result;
    }

    // The colour the screen shows at a point.
    QRgb pixel(QPoint point) const
    {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        auto *image = xcb_get_image_reply(m_connection,
                                          xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP,
                                                        root, static_cast<int16_t>(point.x()),
                                                        static_cast<int16_t>(point.y()), 1, 1, ~0u),
                                          nullptr);
        QRgb value = 0;
        if (image && xcb_get_image_data_length(image) >= 4)
            std::memcpy(&value, xcb_get_image_data(image), 4);
        std::free(image);
        return value | 0xff000000;
    }

private:
    xcb_connection_t *m_connection;
};

} // namespace

class tst_CompositedCapture : public QObject
{
    Q_OBJECT

private slots:
    void capturesNeverShowTheWindow_data();
    void capturesNeverShowTheWindow();
};

void tst_CompositedCapture::capturesNeverShowTheWindow_data()
{
    QTest::addColumn<QString>("display");
    QTest::addColumn<bool>("windowManager"); // false: a compositor alone, nothing to activate

    QTest::newRow("xfwm4 compositing") << qEnvironmentVariable("VO_XFWM4_DISPLAY") << true;
    QTest::newRow("picom fading") << qEnvironmentVariable("VO_PICOM_DISPLAY") << false;
}

void tst_CompositedCapture::capturesNeverShowTheWindow()
{
    QFETCH(QString, display);
    QFETCH(bool, windowManager);
    FixtureScreen screen(display);
    QVERIFY2(screen.waitForCompositor(), "no compositing manager on the fixture's display");

    const testsupport::ProgramHome home("Text2=shot\nOption1=False\nOption2=True\nOption3=False\n"
                                        "Option4=False\nOption5=True\n");
    QVERIFY(home.isReady());
    const QString output = home.output();
    QProcessEnvironment environment = home.environment();
    environment.insert("DISPLAY", display);
    environment.remove("QT_QPA_PLATFORM");

    QProcess desktop;
    desktop.setProcessEnvironment(environment);
    desktop.start(QStringLiteral(VO_COLOUR_WINDOW),
                  {"0", "0", "1920", "1080", "quadrants", "desktop"});
    QVERIFY(desktop.waitForReadyRead(10000) && desktop.readLine().startsWith("ready"));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral(VO_PROGRAM), {});
    QVERIFY(program.waitForStarted());
    const auto stop = qScopeGuard([&] {
        for (QProcess *process : {&program, &desktop}) {
            process->kill();
            process->waitForFinished(3000);
        }
    });

    const QString window =
        xdotool(display, {"search", "--sync", "--onlyvisible", "--name", "^Vistarel Ombrix$"})
            .value_or(QString())
            .section('\n', 0, 0);
    QVERIFY2(!window.isEmpty(), "the main window did not appear");
    const QRect area = screen.place(window.toUInt());
    QCOMPARE(area.size(), QSize(536, 281));
    QTest::qWait(600); // painted, and faded in
    // What the middle of the window shows once it is there in full.
    const QRgb shown = screen.pixel(area.center());
    QVERIFY(shown != quadrantAt(area.center().x(), area.center().y()));

    // "Capture Now" spans the top of the window.
    const QPoint button = area.topLeft() + QPoint(268, 21);
    QVERIFY(
        xdotool(display, {"mousemove", QString::number(button.x()), QString::number(button.y())}));
    for (int i = 1; i <= captures; ++i) {
        QVERIFY(xdotool(display, {"click", "1"}));
        const QString file = output + QString("/shot%1.bmp").arg(i);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(file), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(
            xdotool(display, {"search", "--onlyvisible", "--name", "^Vistarel Ombrix$"}), 10000);

        const QImage picture = QImage(file).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(picture.size(), QSize(1920, 1080));
        QRect differing;
        for (int y = 0; y < picture.height(); ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
            for (int x = 0; x < picture.width(); ++x)
                if ((line[x] | 0xff000000) != quadrantAt(x, y))
                    differing |= QRect(x, y, 1, 1);
        }
        QVERIFY2(differing.isEmpty(),
                 qPrintable(QString("capture %1 differs from the desktop in %2,%3 %4x%5")
                                .arg(i)
                                .arg(differing.x())
                                .arg(differing.y())
                                .arg(differing.width())
                                .arg(differing.height())));
        // Each click once the window is back in full: a click while the compositor still fades
        // it in is another matter than the one tested here.
        QTRY_COMPARE(screen.pixel(area.center()), shown);
    }

    // Back where it was, on the screen (a compositor could keep it unseen), and active.
    QTest::qWait(600);
    QCOMPARE(screen.place(window.toUInt()), area);
    QVERIFY(screen.pixel(area.center()) != quadrantAt(area.center().x(), area.center().y()));
    if (windowManager)
        QCOMPARE(xdotool(display, {"getactivewindow"}).value_or(QString()), window);
}

QTEST_GUILESS_MAIN(tst_CompositedCapture)
#include "ProgramHome.h"
#include "tst_compositedcapture.moc"
