#include "AppTitle.h"

#include <QCoreApplication>

namespace startup {

namespace {
constexpr int AppTitleMaxLength = 40;
} // namespace

QString AppTitle(const QString &productName)
{
    QString title = productName;
    do {
        const qsizetype blank = title.lastIndexOf(QLatin1Char(' '));
        title.truncate(blank < 0 ? 0 : blank);
    } while (title.size() > AppTitleMaxLength);
    return title;
}

void SetAppTitle()
{
    QCoreApplication::setApplicationName(AppTitle(QString::fromUtf8(ProductName)));
}

} // namespace startup
