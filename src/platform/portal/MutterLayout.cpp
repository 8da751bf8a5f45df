#include "MutterLayout.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QHash>
#include <QLoggingCategory>
#include <QVariantMap>

#include <cmath>

Q_DECLARE_LOGGING_CATEGORY(lcPlatform)

namespace platform {

std::optional<QRect> primaryMonitorInPicture(const MutterLayout &layout, QSize picture)
{
    if (layout.monitors.size() < 2 || picture.isEmpty())
        return std::nullopt;
    QRect bounds;
    QRect primary;
    for (const MutterLogicalMonitor &monitor : layout.monitors) {
        if (monitor.mode.isEmpty() || !(monitor.scale > 0))
            return std::nullopt;
        // Transforms 1, 3, 5 and 7 turn the monitor by a quarter.
        QSize size = monitor.transform % 2 ? monitor.mode.transposed() : monitor.mode;
        if (!layout.physical)
            size = QSize(int(std::lround(size.width() / monitor.scale)),
                         int(std::lround(size.height() / monitor.scale)));
        const QRect rect(QPoint(monitor.x, monitor.y), size);
        bounds = bounds.united(rect);
        if (monitor.primary && primary.isNull())
            primary = rect;
    }
    if (primary.isNull())
        return std::nullopt;
    const double perUnitX = double(picture.width()) / bounds.width();
    const double perUnitY = double(picture.height()) / bounds.height();
    if (std::abs(perUnitX - perUnitY) > 0.01 * perUnitX)
        return std::nullopt;
    const auto left = int(std::lround((primary.x() - bounds.x()) * perUnitX));
    const auto top = int(std::lround((primary.y() - bounds.y()) * perUnitY));
    const auto right = int(std::lround((primary.x() + primary.width() - bounds.x()) * perUnitX));
    const auto bottom = int(std::lround((primary.y() + primary.height() - bounds.y()) * perUnitY));
    const QRect cut = QRect(QPoint(left, top), QPoint(right - 1, bottom - 1))
                          .intersected(QRect(QPoint(0, 0), picture));
    if (cut.isEmpty())
        return std::nullopt;
    return cut;
}

std::optional<MutterLayout> readMutterLayout()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return std::nullopt;
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.gnome.Mutter.DisplayConfig"),
        QStringLiteral("/org/gnome/Mutter/DisplayConfig"),
        QStringLiteral("org.gnome.Mutter.DisplayConfig"), QStringLiteral("GetCurrentState"));
    const QDBusMessage reply = bus.call(call, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 4 ||
        reply.signature() !=
            QLatin1String("ua((ssss)a(siiddada{sv})a{sv})a(iiduba(ssss)a{sv})a{sv}"))
        return std::nullopt;

    // The monitors: their connector and the size of their current mode.
    QHash<QString, QSize> modes;
    {
        const auto monitors = qvariant_cast<QDBusArgument>(reply.arguments().at(1));
        monitors.beginArray();
        while (!monitors.atEnd()) {
            QString connector, vendor, product, serial;
            monitors.beginStructure();
            monitors.beginStructure();
            monitors >> connector >> vendor >> product >> serial;
            monitors.endStructure();
            monitors.beginArray();
            while (!monitors.atEnd()) {
                QString id;
                int width = 0, height = 0;
                double refresh = 0, preferredScale = 0;
                QList<double> scales;
                QVariantMap properties;
                monitors.beginStructure();
                monitors >> id >> width >> height >> refresh >> preferredScale >> scales >>
                    properties;
                monitors.endStructure();
                if (properties.value(QStringLiteral("is-current")).toBool())
                    modes.insert(connector, QSize(width, height));
            }
            monitors.endArray();
            QVariantMap properties;
            monitors >> properties;
            monitors.endStructure();
        }
        monitors.endArray();
    }

    MutterLayout layout;
    {
        const auto logical = qvariant_cast<QDBusArgument>(reply.arguments().at(2));
        logical.beginArray();
        while (!logical.atEnd()) {
            MutterLogicalMonitor monitor;
            logical.beginStructure();
            logical >> monitor.x >> monitor.y >> monitor.scale >> monitor.transform >>
                monitor.primary;
            logical.beginArray();
            while (!logical.atEnd()) {
                QString connector, vendor, product, serial;
                logical.beginStructure();
                logical >> connector >> vendor >> product >> serial;
                logical.endStructure();
                if (monitor.mode.isEmpty())
                    monitor.mode = modes.value(connector);
            }
            logical.endArray();
            QVariantMap properties;
            logical >> properties;
            logical.endStructure();
            layout.monitors.push_back(monitor);
        }
        logical.endArray();
    }
    QVariantMap properties;
    qvariant_cast<QDBusArgument>(reply.arguments().at(3)) >> properties;
    layout.physical = properties.value(QStringLiteral("layout-mode"), 2u).toUInt() == 2;
    return layout;
}

} // namespace platform
