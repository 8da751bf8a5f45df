#include "NoDisplay.h"

#include <QGuiApplication>
#include <QList>
#include <QRegularExpression>
#include <QStringList>
#include <cstdio>
#include <unistd.h>

namespace startup {

namespace {

// The platforms Qt said it could not load while the application object was made.
QStringList &failedPlatforms()
{
    static QStringList platforms;
    return platforms;
}

QtMessageHandler previousHandler = nullptr;

// The message for the Qt platforms that could not be opened ("xcb", "wayland", ...) with the
// environment's DISPLAY and WAYLAND_DISPLAY.
QString noDisplayMessage(const QStringList &platforms, const QString &display,
                         const QString &waylandDisplay)
{
    QStringList tried;
    for (const QString &platform : platforms) {
        QString route;
        if (platform == QLatin1String("xcb")) {
            route =
                display.isEmpty()
                    ? QStringLiteral("X11 (DISPLAY is not set)")
                    : QStringLiteral("the X11 display \"%1\" (no X server answers)").arg(display);
        } else if (platform.startsWith(QLatin1String("wayland"))) {
            route = waylandDisplay.isEmpty()
                        ? QStringLiteral("Wayland (WAYLAND_DISPLAY is not set)")
                        : QStringLiteral("the Wayland display \"%1\" (no compositor answers)")
                              .arg(waylandDisplay);
        } else {
            route = QStringLiteral("the Qt platform \"%1\"").arg(platform);
        }
        if (!tried.contains(route))
            tried.append(route);
    }
    if (tried.isEmpty())
        tried.append(QStringLiteral("the Qt platform plugins"));
    return QStringLiteral("vistarel-ombrix: cannot connect to a display: tried %1")
        .arg(tried.join(QStringLiteral(", then ")));
}

// The messages held back while the application object is made, to be passed on when it is.
struct HeldMessage
{
    QtMsgType type;
    QByteArray category, file, function;
    int line;
    QString text;
};
QList<HeldMessage> &heldMessages()
{
    static QList<HeldMessage> messages;
    return messages;
}

void passOn(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (previousHandler)
        previousHandler(type, context, text);
    else
        std::fprintf(stderr, "%s\n", qUtf8Printable(qFormatLogMessage(type, context, text)));
}

void handleMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtFatalMsg) {
        const QString line = noDisplayMessage(failedPlatforms(), qEnvironmentVariable("DISPLAY"),
                                              qEnvironmentVariable("WAYLAND_DISPLAY"));
        std::fprintf(stderr, "%s\n", qUtf8Printable(line));
        std::fflush(stderr);
        ::_exit(1);
    }
    static const QRegularExpression plugin(
        QStringLiteral("Could not load the Qt platform plugin \"([^\"]+)\""));
    if (const QRegularExpressionMatch match = plugin.match(text); match.hasMatch())
        failedPlatforms().append(match.captured(1));
    // Qt's own words about the display would only repeat the message in its terms; when a
    // display is found, they are passed on as they came.
    heldMessages().append({type, QByteArray(context.category), QByteArray(context.file),
                           QByteArray(context.function), context.line, text});
}

} // namespace

NoDisplayExit::NoDisplayExit()
    : m_previous(qInstallMessageHandler(handleMessage))
{
    previousHandler = m_previous;
}

NoDisplayExit::~NoDisplayExit()
{
    qInstallMessageHandler(m_previous);
    for (const HeldMessage &message : std::as_const(heldMessages())) {
        const QMessageLogContext context(message.file.constData(), message.line,
                                         message.function.constData(),
                                         message.category.constData());
        passOn(message.type, context, message.text);
    }
    heldMessages().clear();
}

bool showsNoWindows()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

std::optional<QString> UnshownDialogs::askText(const QString &caption, const QString &)
{
    std::fprintf(stderr, "%s: no box can be shown on the Qt platform \"%s\"; taken as Cancel\n",
                 qUtf8Printable(caption), qUtf8Printable(QGuiApplication::platformName()));
    std::fflush(stderr);
    return std::nullopt;
}

} // namespace startup
