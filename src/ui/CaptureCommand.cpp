#include "CaptureCommand.h"

#include "CaptureBackend.h"
#include "CaptureClient.h"
#include "Dialogs.h"
#include "ErrorReporter.h"
#include "FileNaming.h"
#include "ImageFormat.h"
#include "ReportLocations.h"
#include "ScreenSettler.h"
#include "Trap.h"
#include "WaitSeconds.h"
#include "core/Error.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <limits>

namespace ui {

namespace {

using app::Trap;

// The mouse-pointer values of statements 150 and 178.
constexpr int PointerDefault = 0;
constexpr int PointerHourglass = 11;

std::int32_t incremented(std::int32_t counter)
{
    if (counter == std::numeric_limits<std::int32_t>::max())
        throw core::Error(core::Error::Overflow, QStringLiteral("Overflow"));
    return counter + 1;
}

std::uint8_t toByte(int value)
{
    if (value < 0 || value > std::numeric_limits<std::uint8_t>::max())
        throw core::Error(core::Error::Overflow, QStringLiteral("Overflow"));
    return static_cast<std::uint8_t>(value);
}

// Each character of the Unicode categories Cc, Cf, Zl and Zp (one character, even where it
// takes two UTF-16 units) becomes a blank.
QString blankedInvisibles(const QString &text)
{
    QString blanked;
    blanked.reserve(text.size());
    for (const char32_t character : text.toUcs4()) {
        switch (QChar::category(character)) {
        case QChar::Other_Control:
        case QChar::Other_Format:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            blanked.append(QLatin1Char(' '));
            break;
        default:
            blanked.append(QStringView(QChar::fromUcs4(character)));
        }
    }
    return blanked;
}

// The caption of the command's boxes: QGuiApplication::applicationDisplayName(), read through
// its property so that a capture from the command line needs no Qt Gui; without the GUI, the
// application name it would answer.
QString appTitle()
{
    const QCoreApplication *application = QCoreApplication::instance();
    const QVariant displayName =
        application ? application->property("applicationDisplayName") : QVariant();
    return displayName.isValid() ? displayName.toString() : QCoreApplication::applicationName();
}

} // namespace

void CaptureCommand::saveAhead(const QString &baseName) noexcept
{
    m_pendingSave.drop();
    const imaging::ImageFormat format = m_client.imageFormat();
    const int quality = imaging::formatRow(format).usesQuality ? m_client.jpegQuality() : 0;
    if (quality < 0 || quality > std::numeric_limits<std::uint8_t>::max())
        return; // statement 172 reports the quality
    m_pendingSave.start(m_picSS, baseName + imaging::extension(format), format,
                        static_cast<std::uint8_t>(quality));
}

CaptureCommand::CaptureCommand(CaptureClient &client, platform::CaptureBackend &backend,
                               platform::ScreenSettler *settler, app::Dialogs &dialogs,
                               app::ErrorReporter &reporter)
    : m_client(client)
    , m_backend(backend)
    , m_settler(settler)
    , m_dialogs(dialogs)
    , m_reporter(reporter)
    , m_clock([] { return QDateTime::currentDateTime(); })
{
}

CaptureCommand::~CaptureCommand() = default;

void CaptureCommand::setClock(Clock clock)
{
    m_clock = std::move(clock);
}

bool CaptureCommand::FolderExists(const QString &path)
{
    try {
        return !path.isEmpty() && QFileInfo(path).isDir();
    } catch (...) {
        return false;
    }
}

void CaptureCommand::PushButton1_Click()
{
    using imaging::ImageFormat;
    CaptureClient &w = m_client;
    const QString separator = QStringLiteral("/");

    QString BaseName;
    std::int32_t counter = 0;
    bool steppedAside = false;
    bool finalFailure = false;
    QString candidate;
    ImageFormat format = ImageFormat::Jpeg;
    bool noPicture = false;
    // An automatic name and the ones to move on to, claimed only at the save: BaseName is
    // baseNames(0), and another copy of the program may take it before then. Empty for an
    // asked name, which replaces a file of that name.
    std::function<QString(int)> baseNames;
    // Statements 172 and 174: the file prepared during the wait put in place, or written now.
    const auto save = [&](const imaging::Picture &picture, ImageFormat chosen,
                          std::uint8_t quality) {
        const QString extension = imaging::extension(chosen);
        imaging::NameSequence names;
        if (baseNames)
            names = [&baseNames, extension](int attempt) { return baseNames(attempt) + extension; };
        m_writtenPath = m_pendingSave.commit(picture, BaseName + extension, names, chosen, quality);
    };

    // The prefix with "/" blanked, as in a typed name: "../up" would leave the folder.
    const auto prefix = [&w] {
        QString text = w.prefix();
        text.replace(QLatin1Char('/'), QLatin1Char(' '));
        return text;
    };
    // Statements 116 and 118: the counted name of the chosen format, to test for a file.
    const auto countedCandidate = [&] {
        candidate = w.folder() + separator + prefix() + QString::number(counter) +
                    imaging::extension(format);
    };
    // Statements 130 to 144 each blank out one character of the typed name.
    const QString pathCharacters = QStringLiteral("/\\*:?<>|");
    const auto blankOut = [&BaseName](QChar character) {
        return [&BaseName, character] {
            BaseName.replace(character, QLatin1Char(' '));
            return Trap::Next;
        };
    };

    app::Trap trap(m_reporter, QLatin1String(app::ReportLocation::PushButton1Click));
    // The statement table keeps one statement a line, as it reads.
    // clang-format off
    trap.run({
        {100, [&] { return m_capturing ? Trap::Return : Trap::Next; }},
        {102, [&] {
             m_capturing = true;
             m_writtenPath.clear();
             return Trap::Next;
         }},
        {104, [&] { return FolderExists(w.folder()) ? 106 : 180; }},
        {106, [&] { return w.namingMode() == NamingMode::DateTime ? 108 : 110; }},
        // A date-time name never replaces an earlier capture of the same second.
        {108, [&] {
             const QString base =
                 w.folder() + separator + DateTimeText(m_clock(), QLocale::system());
             const int copy = UnusedCopy(base, imaging::extension(w.imageFormat()));
             baseNames = [base, copy](int attempt) { return CopyName(base, copy + attempt); };
             BaseName = baseNames(0);
             return 148;
         }, 148},
        {110, [&] { return w.namingMode() == NamingMode::CountedPrefix ? 112 : 126; }},
        {112, [&] { counter = 1; return Trap::Next; }},
        {114, [&] {
             format = w.imageFormat();
             return format == ImageFormat::Jpeg ? 116 : 118;
         }},
        {116, [&] { countedCandidate(); return 120; }, 120},
        {118, [&] { countedCandidate(); return Trap::Next; }},
        {120, [&] { counter = incremented(counter); return Trap::Next; }},
        {122, [&] { return NormalFileExists(candidate) ? 114 : Trap::Next; }},
        {124, [&] {
             const QString stem = w.folder() + separator + prefix();
             const qint64 number = counter - 1;
             baseNames = [stem, number](int attempt) {
                 return stem + QString::number(number + attempt);
             };
             BaseName = baseNames(0);
             return 148;
         }, 148},
        {126, [&] { return w.namingMode() == NamingMode::AskedName ? 128 : 148; }},
        {128, [&] {
             BaseName = m_dialogs.askText(QLatin1String(PromptCaption), QLatin1String(PromptMessage))
                            .value_or(QString());
             return Trap::Next;
         }},
        {130, blankOut(pathCharacters[0])},
        {132, blankOut(pathCharacters[1])},
        {134, blankOut(pathCharacters[2])},
        {136, blankOut(pathCharacters[3])},
        {138, blankOut(pathCharacters[4])},
        {140, blankOut(pathCharacters[5])},
        {142, blankOut(pathCharacters[6])},
        {144, blankOut(pathCharacters[7])},
        // Control, format and line or paragraph separator characters are blanked like the path
        // characters: a pasted line break would end up in the file name, and a right-to-left
        // override makes "gpj.exe" show as "exe.jpg". Cancel, or a name of blanks only,
        // captures nothing.
        {146, [&] {
             BaseName = blankedInvisibles(BaseName);
             BaseName = BaseName.trimmed().isEmpty() ? QString() : w.folder() + separator + BaseName;
             return Trap::Next;
         }},
        {148, [&] { return BaseName.isEmpty() ? 182 : Trap::Next; }},
        {150, [&] { w.setMousePointer(PointerHourglass); return Trap::Next; }},
        {152, [&] {
             if (QWindow *shown = w.shownWindow()) {
                 if (m_settler)
                     m_settler->prepare(*shown);
                 w.stepAside();
                 steppedAside = !w.shownWindow();
             }
             return Trap::Next;
         }},
        // Pending events, then wait until the screen no longer shows the window.
        {154, [&] {
             QCoreApplication::processEvents();
             m_backend.sync();
             if (m_settler && steppedAside)
                 m_settler->waitUntilRepainted();
             return Trap::Next;
         }},
        // The previous command's picture goes first: a failed capture can never save it again,
        // and its memory is free before the new capture needs as much.
        {156, [&] {
             counter = 0;
             m_picSS = {};
             m_creator = {};
             return Trap::Next;
         }},
        // A final failure (a refusal, no answer in time) ends the attempts: ten of them would
        // only repeat it, or its wait.
        {158, [&] { return m_picSS.isNull() && counter < 10 && !finalFailure ? 160 : 166; }},
        {160, [&] {
             m_picSS = {};
             m_picSS = m_backend.captureScreen();
             finalFailure = m_picSS.isNull() && m_backend.failureIsFinal();
             saveAhead(BaseName);
             return Trap::Next;
         }},
        {162, [&] { counter = incremented(counter); return Trap::Next; }},
        {164, [&] { WaitSeconds(0.01); return 158; }, 158},
        {166, [&] {
             m_backend.endCapture();
             noPicture = m_picSS.isNull();
             return noPicture ? 176 : Trap::Next;
         }},
        {168, [&] { return w.imageFormat() == ImageFormat::Jpeg ? Trap::Next : 174; }},
        {170, [&] { m_creator = m_picSS; return Trap::Next; }},
        // The file written during the wait is put in place here, if it is still the one asked for.
        {172, [&] { save(m_creator, ImageFormat::Jpeg, toByte(w.jpegQuality())); return 176; }, 176},
        {174, [&] {
             const ImageFormat chosen = w.imageFormat();
             save(m_picSS, chosen,
                  imaging::formatRow(chosen).usesQuality ? toByte(w.jpegQuality()) : 0);
             return Trap::Next;
         }},
        {176, [&] { w.comeBack(); return Trap::Next; }},
        // A capture that yielded nothing is no success: say so, and why, with the window back.
        {178, [&] {
             w.setMousePointer(PointerDefault);
             if (noPicture) {
                 QString reason = m_backend.failureReason();
                 if (reason.isEmpty())
                     reason = QLatin1String(NoPictureReason);
                 m_dialogs.showMessage(appTitle(),
                                       QLatin1String(NoCaptureText).arg(reason),
                                       app::Dialogs::Icon::Warning);
             }
             return 182;
         }, 182},
        {180, [&] {
             m_dialogs.showMessage(appTitle(),
                                   QLatin1String(FolderMissingText), app::Dialogs::Icon::None);
             return Trap::Next;
         }},
        // Nothing reads the pictures after the command: their memory goes now (a kept segment
        // of the backend, until the backend is told it may free it).
        {182, [&] {
             m_pendingSave.drop();
             m_picSS = {};
             m_creator = {};
             m_capturing = false;
             return Trap::Return;
         }},
    });
    // clang-format on
}

} // namespace ui
