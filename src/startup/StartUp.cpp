#include "StartUp.h"

#include "ChoiceTables.h"
#include "CursorFile.h"
#include "ErrorReporter.h"
#include "FileRoutines.h"
#include "MainWindow.h"
#include "OptionText.h"
#include "RandomSource.h"
#include "ReportLocations.h"
#include "SettingsStore.h"
#include "Trap.h"
#include "UrlOpener.h"
#include "core/Error.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QPalette>
#include <QPixmap>
#include <QUrl>
#include <atomic>
#include <functional>

#ifndef VO_DATA_DIR
#define VO_DATA_DIR ""
#endif

namespace startup {

using app::DesktopFolderPath;
using app::FileExists;
using app::OptionValue;
using app::Trap;
using app::ReportLocation::FormLoad;

namespace {

// Qt does not refuse a style sheet it cannot parse: it warns "Could not parse stylesheet ..."
// and ignores the sheet. The skin step catches that warning on a throwaway widget.
std::atomic_bool s_styleSheetRejected = false;
QtMessageHandler s_previousHandler = nullptr;

void watchStyleSheetWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg && text.startsWith(QLatin1String("Could not parse")))
        s_styleSheetRejected = true;
    if (s_previousHandler)
        s_previousHandler(type, context, text);
}

bool styleSheetParses(const QString &sheet)
{
    s_styleSheetRejected = false;
    s_previousHandler = qInstallMessageHandler(watchStyleSheetWarnings);
    {
        QWidget probe;
        probe.setStyleSheet(sheet);
        probe.ensurePolished();
    }
    qInstallMessageHandler(s_previousHandler);
    s_previousHandler = nullptr;
    return !s_styleSheetRejected;
}

// The window's own style sheet would take back colours set through palettes when it polishes
// the controls, so the skin's colours are rules of the window's sheet too: this one, for the
// window itself and its option buttons, check boxes, frames and labels.
QString buttonFaceRule(const QString &windowName, const QColor &buttonFace)
{
    return QStringLiteral(
               "QWidget#%1, QRadioButton, QCheckBox, QGroupBox, QLabel { background-color: %2; }")
        .arg(windowName, buttonFace.name());
}

void appendStyleSheet(QWidget &window, const QString &sheet)
{
    const QString current = window.styleSheet();
    // A sheet that replaces another one before the window was first shown has no effect in
    // Qt 6.4 (the window keeps drawing with the old one); taking the old one off first works.
    window.setStyleSheet(QString());
    window.setStyleSheet(current.isEmpty() ? sheet : current + QLatin1Char('\n') + sheet);
}

} // namespace

QStringList IconImagePaths()
{
    QStringList paths;
    for (const int size : {32, 48, 128, 256})
        paths.append(QStringLiteral(":/icons/vistarel-ombrix-%1.png").arg(size));
    return paths;
}

QString ProgramFolder()
{
    return QCoreApplication::applicationDirPath();
}

QStringList OptionalFileFolders()
{
    QStringList folders{ProgramFolder()};
    const QString dataFolder = QString::fromUtf8(VO_DATA_DIR);
    if (!dataFolder.isEmpty() && QDir(dataFolder) != QDir(folders.first()))
        folders.append(dataFolder);
    return folders;
}

StartUp::StartUp(ui::MainWindow &window, app::SettingsStore &settings, app::ErrorReporter &reporter,
                 app::RandomSource &random, app::UrlOpener &urlOpener)
    : m_window(window)
    , m_settings(settings)
    , m_reporter(reporter)
    , m_random(random)
    , m_urlOpener(urlOpener)
    , m_searchFolders(OptionalFileFolders())
{
}

QString StartUp::findOptionalFile(const QString &name, bool listedOnly) const
{
    for (const QString &folder : m_searchFolders) {
        const QString path = folder + QLatin1Char('/') + name;
        if (!listedOnly) {
            if (FileExists(path))
                return path;
            continue;
        }
        // The directory listing names ordinary files only: no folders, hidden files, devices,
        // sockets or dangling links.
        const QFileInfo info(path);
        const QStringList listed =
            info.dir().entryList({info.fileName()}, QDir::Files | QDir::CaseSensitive);
        if (listed.contains(info.fileName()))
            return path;
    }
    return {};
}

void StartUp::ApplySkin()
{
    const QString skinPath = findOptionalFile(QString::fromUtf8(SkinFileName), true);
    if (skinPath.isEmpty())
        return;

    if (m_window.objectName().isEmpty())
        m_window.setObjectName(QStringLiteral("Form1"));
    appendStyleSheet(m_window, buttonFaceRule(m_window.objectName(),
                                              QApplication::palette().color(QPalette::Button)));

    QFile file(skinPath);
    if (!file.open(QIODevice::ReadOnly))
        throw core::Error(
            core::Error::InvalidArgument,
            QStringLiteral("Cannot load the skin %1: %2").arg(skinPath, file.errorString()));
    const QString sheet = QString::fromUtf8(file.readAll());
    QDir::setSearchPaths(QStringLiteral("skin"), {QFileInfo(skinPath).absolutePath()});
    if (!styleSheetParses(sheet))
        throw core::Error(
            core::Error::InvalidArgument,
            QStringLiteral("Cannot load the skin %1: it is not a valid style sheet").arg(skinPath));

    appendStyleSheet(m_window, sheet);
}

void StartUp::Form_Load()
{
    constexpr int Next = Trap::Next;
    QString pointerPath;
    // One statement per option of the two groups' tables (132 to 142). Switching an option on
    // runs its click handler, which switches the rest of its group off; switching one off runs
    // nothing.
    const auto restoreOption = [this](const auto &row, const auto &setOption) {
        return app::Trap::Statement{
            row.restoreStatement, [this, &row, setOption] {
                const bool on = OptionValue(
                    m_settings.GetSetting(QString::fromLatin1(row.key), row.initial ? 1 : 0));
                m_window.failureRouting().runTrapped([&] { setOption(row.choice, on); });
                return Next;
            }};
    };

    Trap trap(m_reporter, QString::fromUtf8(FormLoad));
    // The statement table keeps one statement a line, as it reads.
    // clang-format off
    std::vector<Trap::Statement> statements{
        {100, [&] { ApplySkin(); return Next; }},
        {104, [&] {
             pointerPath = findOptionalFile(QString::fromUtf8(PointerFileName), false);
             return pointerPath.isEmpty() ? 108 : Next;
         }},
        {106, [&] { m_window.setCustomPointer(CursorFile::read(pointerPath).cursor()); return Next; }},
        {108, [&] {
             if (m_random.drawPercent() == 7)
                 m_urlOpener.openUrl(QUrl(QString::fromUtf8(HomePageAddress)));
             return Next;
         }},
        {126, [&] {
             m_window.setWindowTitle(QString::fromUtf8(ProductName));
             return Next;
         }},
        {126, [&] {
             QIcon icon;
             for (const QString &path : IconImagePaths()) {
                 const QImage image = m_iconImages ? m_iconImages(path) : QImage(path);
                 if (image.isNull())
                     throw core::Error(core::Error::InvalidArgument,
                                       QStringLiteral("The program icon image %1 is missing").arg(path));
                 icon.addPixmap(QPixmap::fromImage(image));
             }
             m_window.setWindowIcon(icon);
             return Next;
         }},
        {126, [&] { SetAppTitle(); return Next; }},
        {128, [&] {
             const QString desktop = DesktopFolderPath();
             const QString folder = m_settings.GetSetting(QStringLiteral("Text1"), desktop);
             m_window.failureRouting().runTrapped([&] { m_window.setFolder(folder); });
             return Next;
         }},
        {130, [&] {
             const QString prefix = m_settings.GetSetting(QStringLiteral("Text2"), QStringLiteral("Screenshots"));
             m_window.failureRouting().runTrapped([&] { m_window.setPrefix(prefix); });
             return Next;
         }},
    };
    // clang-format on
    for (const ui::NamingOption &row : ui::namingOptions())
        statements.push_back(restoreOption(
            row, [this](ui::NamingMode mode, bool on) { m_window.setNamingOption(mode, on); }));
    for (const ui::FormatOption &row : ui::formatOptions())
        statements.push_back(restoreOption(row, [this](imaging::ImageFormat format, bool on) {
            m_window.setFormatOption(format, on);
        }));
    trap.run(statements);
}

} // namespace startup
