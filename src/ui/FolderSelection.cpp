#include "FolderSelection.h"

#include "ErrorReporter.h"
#include "FolderBrowser.h"
#include "MainWindow.h"
#include "Trap.h"

#include <QLineEdit>

namespace ui {

using app::Trap;

FolderSelection::FolderSelection(MainWindow &window, FolderBrowser &browser, app::ErrorReporter &reporter)
    : m_window(window), m_browser(browser), m_reporter(reporter)
{
}

void FolderSelection::PushButton2_Click()
{
    QString chosen;
    QLineEdit &text1 = *m_window.Text1();

    // A failing test enters what it guards: here the early return.
    Trap trap(m_reporter, QString::fromUtf8(PushButton2Location));
    trap.run({
        {100, [&] {
             chosen = m_browser.ShowFolderBrowser(QString::fromUtf8(FolderBrowserTitle), QString());
             return Trap::Next;
         }},
        {102, [&] { return chosen.isEmpty() ? Trap::Return : Trap::Next; }, Trap::Return},
        {104, [&] { m_window.runTrapped([&] { text1.setText(chosen); }); return Trap::Next; }},
        {106, [&] { return text1.text().endsWith(QLatin1Char('/')) ? Trap::Return : Trap::Next; }, Trap::Return},
        {108, [&] {
             m_window.runTrapped([&] { text1.setText(text1.text() + QLatin1Char('/')); });
             return Trap::Next;
         }},
    });
}

} // namespace ui
