#include "CommandLine.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace startup {

namespace {

constexpr auto Version = VO_VERSION;

} // namespace

CommandLine CommandLine::parse(const QStringList &arguments)
{
    const QString program = arguments.isEmpty() ? QStringLiteral("vistarel-ombrix")
                                                : QFileInfo(arguments.first()).fileName();
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Captures the whole primary screen to a JPG, BMP or PNG file in the chosen folder.\n"
        "Without options it opens its window; the choices made there are saved."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays this help."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Displays version information."));
    const QCommandLineOption capture(
        QStringLiteral("capture"),
        QStringLiteral("Captures once with the saved choices, without the window (an open "
                       "window of the program takes it, with its own choices, and steps aside), "
                       "prints the written file's path and exits (status 0 only when a file was "
                       "written)."));
    const QCommandLineOption noNotify(
        QStringLiteral("no-notify"),
        QStringLiteral("With --capture: shows no notification of the written file."));
    QCommandLineOption notifyWritten(QStringLiteral("notify-written"), QString(),
                                     QStringLiteral("path"));
    notifyWritten.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({help, version, capture, noNotify, notifyWritten});
    // Qt's own options (-platform xcb, -display :1, ...) pass through to the application object.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const char *name :
         {"platform", "platformpluginpath", "platformtheme", "plugin", "display", "qwindowgeometry",
          "qwindowtitle", "qwindowicon", "style", "stylesheet", "session", "dialogs"}) {
        QCommandLineOption qtOption(QLatin1String(name), QString(), QStringLiteral("value"));
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }
    for (const char *name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption qtOption{QString::fromLatin1(name)};
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }

    CommandLine result;
    // The usage line names the program as it was called (the parser would name it only once an
    // application object exists).
    const auto helpText = [&] {
        QString text = parser.helpText();
        text.replace(QLatin1String("<executable_name>"), program);
        return text;
    };
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty()) {
        result.action = Action::UsageError;
        const QString error = parser.errorText().isEmpty()
                                  ? QStringLiteral("Unexpected argument '%1'.")
                                        .arg(parser.positionalArguments().value(0))
                                  : parser.errorText();
        result.text =
            QStringLiteral("%1: %2\nUsage: %1 [--capture [--no-notify] | --help | --version]\n")
                .arg(program, error);
    } else if (parser.isSet(help)) {
        result.action = Action::Help;
        result.text = helpText();
    } else if (parser.isSet(version)) {
        result.action = Action::Version;
        result.text = QStringLiteral("%1 %2\n").arg(program, QLatin1String(Version));
    } else if (parser.isSet(capture)) {
        result.action = Action::Capture;
        result.notify = !parser.isSet(noNotify);
    } else if (parser.isSet(notifyWritten)) {
        result.action = Action::NotifyWritten;
        result.text = parser.value(notifyWritten);
    }
    return result;
}

} // namespace startup
