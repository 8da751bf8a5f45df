// A second copy of the program's settings code for tst_settingsprocesses:
//   settings-writer get FILE KEY            prints the stored text
//   settings-writer set FILE KEY VALUE      stores it; exit 2 with the error on failure
//   settings-writer storm FILE TAG COUNT    for i = 1..COUNT (0: until killed) stores
//                                           key TAG = i and "Text1" = stormValue(TAG, i),
//                                           and says "first written" after i = 1
#include "SettingsStore.h"
#include "core/Error.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

// A value whose completeness can be checked: TAG-i-<n pads>-n, n varying with i.
static QString stormValue(const QString &tag, int i)
{
    const int n = (i * 37) % 300;
    return QString("%1-%2-%3-%4").arg(tag).arg(i).arg(QString(n, QChar('p'))).arg(n);
}

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments();
    if (args.size() < 4)
        return 1;
    app::SettingsStore store(args[2]);
    try {
        if (args[1] == "get") {
            std::fputs(qPrintable(store.GetSetting(args[3], "<absent>")), stdout);
        } else if (args[1] == "set" && args.size() == 5) {
            store.SaveSetting(args[3], args[4]);
        } else if (args[1] == "storm" && args.size() == 5) {
            const int count = args[4].toInt();
            for (int i = 1; count == 0 || i <= count; ++i) {
                store.SaveSetting(args[3], QString::number(i));
                store.SaveSetting("Text1", stormValue(args[3], i));
                if (i == 1) {
                    std::fputs("first written\n", stdout);
                    std::fflush(stdout);
                }
            }
        } else {
            return 1;
        }
    } catch (const core::Error &error) {
        std::fprintf(stderr, "%d %s\n", error.number(), qPrintable(error.description()));
        return 2;
    }
    return 0;
}
