#include "WaylandTools.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRect>
#include <QThread>

#include <algorithm>
#include <optional>

namespace waylandtools {

QImage grimScreen(const QString &output)
{
    QStringList arguments{"-t", "ppm"};
    if (!output.isEmpty())
        arguments << "-o" << output;
    arguments << "-";
    const QString program = qEnvironmentVariable("VO_GRIM", QStringLiteral("grim"));
    QProcess grim;
    grim.start(program, arguments);
    if (!grim.waitForFinished(10000) || grim.exitCode() != 0)
        return {};
    return QImage::fromData(grim.readAllStandardOutput(), "PPM")
        .convertToFormat(QImage::Format_RGB32);
}

QImage settledScreen()
{
    QImage previous = grimScreen();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000) {
        QThread::msleep(50);
        QImage next = grimScreen();
        if (next == previous)
            return next;
        previous = std::move(next);
    }
    return previous;
}

namespace {

std::optional<QByteArray> runSwaymsg(const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("SWAYSOCK", qEnvironmentVariable("VO_SWAY_FOLDER") + "/swaysock");
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("swaymsg"), arguments);
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

// Whether node or a node below it is a window of that app id, tiled.
bool holdsTiled(const QJsonObject &node, const QString &appId)
{
    if (node.value("app_id").toString() == appId && node.value("type").toString() == "con")
        return true;
    const QJsonArray children = node.value("nodes").toArray();
    return std::any_of(children.begin(), children.end(), [&](const QJsonValue &child) {
        return holdsTiled(child.toObject(), appId);
    });
}

} // namespace

bool swaymsg(const QStringList &arguments)
{
    const std::optional<QByteArray> output = runSwaymsg(arguments);
    return output && !output->contains("\"success\": false");
}

bool isTiled(const QString &appId)
{
    const std::optional<QByteArray> tree = runSwaymsg({"-t", "get_tree"});
    return tree && holdsTiled(QJsonDocument::fromJson(*tree).object(), appId);
}

QString differences(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return QStringLiteral("sizes %1x%2 and %3x%4")
            .arg(a.width())
            .arg(a.height())
            .arg(b.width())
            .arg(b.height());
    QRect box;
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y)) {
                box |= QRect(x, y, 1, 1);
                ++count;
            }
        }
    }
    return QStringLiteral("%1 pixels within %2,%3 %4x%5")
        .arg(count)
        .arg(box.x())
        .arg(box.y())
        .arg(box.width())
        .arg(box.height());
}

} // namespace waylandtools
