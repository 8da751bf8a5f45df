#include "MainWindow.h"

#include "ChoiceTables.h"
#include "OptionButton.h"
#include "OptionText.h"
#include "SettingsStore.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>

#include <limits>
#include <optional>
#include <span>

namespace ui {

namespace {

// Design positions are in twips; 15 twips make one pixel.
constexpr int px(int twips)
{
    return (twips + 7) / 15;
}

QRect twipRect(int left, int top, int width, int height)
{
    return {px(left), px(top), px(width), px(height)};
}

QRect twipRect(const TwipRect &place)
{
    return twipRect(place.left, place.top, place.width, place.height);
}

QFont arialBold(qreal points)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

} // namespace

// Watches the window and its controls for the events that have handlers: mouse moves over the
// background, the frames and the push buttons, Text1 getting the focus, the window closing and
// its first showing.
class MainWindowEvents : public QObject
{
public:
    explicit MainWindowEvents(MainWindow &window)
        : QObject(&window)
        , m_window(window)
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    MainWindow &m_window;
    bool m_placed = false;
};

struct MainWindow::Controls
{
    explicit Controls(app::SettingsStore &store)
        : settings(store)
    {
    }

    app::SettingsStore &settings;
    SettingObserver observer;

    QPushButton *pushButton1 = nullptr;
    QPushButton *pushButton2 = nullptr;
    QGroupBox *frame1 = nullptr;
    QGroupBox *frame2 = nullptr;
    QGroupBox *frame3 = nullptr;
    QLineEdit *text1 = nullptr;
    QLineEdit *text2 = nullptr;
    // The option buttons of each group, in the order of their table's rows.
    QList<OptionButton *> namingButtons;
    QList<OptionButton *> formatButtons;
    QLabel *label1 = nullptr;
    QSlider *slider1 = nullptr;

    int mousePointer = PointerDefault;
    std::optional<QCursor> customPointer;
    // The controls' own pointers (the text boxes' I-beam), shown again with pointer value 0.
    QHash<QWidget *, QCursor> ownCursors;

    app::FailureRouting failures;
    QPointer<QWidget> focusedBeforeStepAside;

    template <typename Row, typename Choice>
    static OptionButton *buttonFor(std::span<const Row> rows, const QList<OptionButton *> &buttons,
                                   Choice choice)
    {
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (rows[i].choice == choice)
                return buttons.value(static_cast<qsizetype>(i));
        return nullptr;
    }

    OptionButton *namingButton(NamingMode mode) const
    {
        return buttonFor(namingOptions(), namingButtons, mode);
    }

    OptionButton *formatButton(imaging::ImageFormat format) const
    {
        return buttonFor(formatOptions(), formatButtons, format);
    }

    // The click handler of every option: switches the rest of its group off, then writes each
    // option's key of the group, in the table's order.
    template <typename Row>
    void optionClicked(std::span<const Row> rows, const QList<OptionButton *> &group,
                       OptionButton *chosen)
    {
        failures.handle(QStringLiteral("Form1.%1_Click").arg(chosen->objectName()), [&] {
            for (OptionButton *other : group)
                if (other != chosen)
                    other->setChecked(false);
            for (std::size_t i = 0; i < rows.size(); ++i)
                write(QLatin1String(rows[i].key),
                      app::OptionText(group[static_cast<qsizetype>(i)]->isChecked()));
        });
    }

    void write(const QString &key, const QString &value)
    {
        settings.SaveSetting(key, value);
        if (observer)
            observer(key, value);
    }
};

MainWindow::MainWindow(app::SettingsStore &settings, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint)
    , m_controls(std::make_unique<Controls>(settings))
{
    Controls &c = *m_controls;

    setObjectName(QStringLiteral("Form1"));
    setFixedSize(px(8040), px(4215));
    setFont(arialBold(9));
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::Button, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);
    setMouseTracking(true);
    // Frames with their caption on the top border line; a skin's sheet follows this one.
    setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid #c8c8c8; border-radius: 2px; margin-top: 7px; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
        " left: 7px; padding: 0px 2px; }"));

    const auto frame = [this](const char *name, const QString &caption, QRect geometry) {
        auto *box = new QGroupBox(caption, this);
        box->setObjectName(QLatin1String(name));
        box->setGeometry(geometry);
        box->setMouseTracking(true);
        return box;
    };
    const auto pushButton = [](const char *name, const QString &caption, QWidget *container,
                               QRect geometry) {
        auto *button = new QPushButton(caption, container);
        button->setObjectName(QLatin1String(name));
        button->setGeometry(geometry);
        button->setFont(arialBold(11.25));
        button->setMouseTracking(true);
        return button;
    };
    const auto option = [](const char *name, const QString &caption, QWidget *container,
                           QRect geometry) {
        auto *button = new OptionButton(caption, container);
        button->setObjectName(QLatin1String(name));
        button->setGeometry(geometry);
        return button;
    };
    const auto textBox = [](const char *name, QWidget *container, QRect geometry) {
        auto *box = new QLineEdit(QLatin1String(name), container);
        box->setObjectName(QLatin1String(name));
        box->setGeometry(geometry);
        box->setMaxLength(std::numeric_limits<int>::max());
        return box;
    };

    c.pushButton1 = pushButton("PushButton1", QStringLiteral("Capture Now"), this,
                               twipRect(120, 120, 7800, 405));

    c.frame1 = frame("Frame1", QStringLiteral("Save Results To This Folder"),
                     twipRect(120, 570, 7800, 825));
    c.text1 = textBox("Text1", c.frame1, twipRect(240, 300, 6615, 345));
    c.pushButton2 =
        pushButton("PushButton2", QStringLiteral("..."), c.frame1, twipRect(6960, 300, 615, 345));

    c.frame3 = frame("Frame3", QStringLiteral("Format"), twipRect(120, 1440, 7800, 1260));
    for (const FormatOption &row : formatOptions())
        c.formatButtons.append(
            option(row.key, QLatin1String(row.caption), c.frame3, twipRect(row.place)));
    c.label1 = new QLabel(QStringLiteral(" JPG Quality:"), c.frame3);
    c.label1->setObjectName(QStringLiteral("Label1"));
    c.label1->setGeometry(twipRect(1200, 300, 1215, 255));
    c.slider1 = new QSlider(Qt::Horizontal, c.frame3);
    c.slider1->setObjectName(QStringLiteral("Slider1"));
    c.slider1->setGeometry(twipRect(1200, 540, 6360, 555));
    c.slider1->setRange(0, 100);
    c.slider1->setValue(85);
    c.slider1->setSingleStep(1);
    c.slider1->setPageStep(5);
    c.slider1->setTickPosition(QSlider::TicksBelow);
    c.slider1->setTickInterval(10);

    c.frame2 = frame("Frame2", QStringLiteral("Filename"), twipRect(120, 2715, 7800, 1400));
    for (const NamingOption &row : namingOptions())
        c.namingButtons.append(
            option(row.key, QLatin1String(row.caption), c.frame2, twipRect(row.place)));
    // Text2 lies in front of the blanks of Option2's caption: the line reads as one sentence.
    c.text2 = textBox("Text2", c.frame2, twipRect(2160, 600, 1935, 345));
    c.text2->raise();

    // The design state: the options that are on at the first start.
    for (std::size_t i = 0; i < namingOptions().size(); ++i)
        c.namingButtons[static_cast<qsizetype>(i)]->setChecked(namingOptions()[i].initial);
    for (std::size_t i = 0; i < formatOptions().size(); ++i)
        c.formatButtons[static_cast<qsizetype>(i)]->setChecked(formatOptions()[i].initial);

    // Tab order by tab index; frames, the label and the picture boxes take no focus.
    QList<QWidget *> tabOrder = {c.text1, c.pushButton2};
    for (OptionButton *button : c.formatButtons + c.namingButtons)
        tabOrder.append(button);
    tabOrder += {c.pushButton1, c.text2, c.slider1};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    c.text1->setFocus(Qt::OtherFocusReason);

    // Mouse moves over a control without a handler of its own must not reach the frame below.
    QList<QWidget *> quietControls = {c.text1, c.text2, c.label1, c.slider1};
    for (OptionButton *button : c.formatButtons + c.namingButtons)
        quietControls.append(button);
    for (QWidget *control : quietControls)
        control->setAttribute(Qt::WA_NoMousePropagation);

    // Each control gets its font itself: a style sheet on the window stops fonts from passing
    // from the window to its controls.
    for (QWidget *widget : findChildren<QWidget *>())
        if (widget != c.pushButton1 && widget != c.pushButton2)
            widget->setFont(font());

    for (QWidget *widget : findChildren<QWidget *>())
        if (widget->testAttribute(Qt::WA_SetCursor))
            c.ownCursors.insert(widget, widget->cursor());

    // The handlers. Option buttons run theirs when switched on, by the user or the program;
    // switching a button off runs none.
    for (OptionButton *button : c.namingButtons)
        connect(button, &QAbstractButton::toggled, this, [this, button](bool on) {
            if (on)
                m_controls->optionClicked(namingOptions(), m_controls->namingButtons, button);
        });
    for (OptionButton *button : c.formatButtons)
        connect(button, &QAbstractButton::toggled, this, [this, button](bool on) {
            if (on)
                m_controls->optionClicked(formatOptions(), m_controls->formatButtons, button);
        });
    connect(c.text1, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_controls->failures.handle(QStringLiteral("Form1.Text1_Change"), [this, text] {
            m_controls->write(QStringLiteral("Text1"), text);
        });
    });
    connect(c.text2, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_controls->failures.handle(QStringLiteral("Form1.Text2_Change"), [this, text] {
            m_controls->write(QStringLiteral("Text2"), text);
        });
    });

    auto *events = new MainWindowEvents(*this);
    for (QObject *watched :
         {static_cast<QObject *>(this), static_cast<QObject *>(c.frame1),
          static_cast<QObject *>(c.frame2), static_cast<QObject *>(c.frame3),
          static_cast<QObject *>(c.pushButton1), static_cast<QObject *>(c.pushButton2),
          static_cast<QObject *>(c.text1), static_cast<QObject *>(c.text2)})
        watched->installEventFilter(events);
}

MainWindow::~MainWindow() = default;

bool MainWindowEvents::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseMove: {
        const MainWindow::Controls &c = *m_window.m_controls;
        const bool overButton = watched == c.pushButton1 || watched == c.pushButton2;
        const bool overBackground = watched == &m_window || watched == c.frame1 ||
                                    watched == c.frame2 || watched == c.frame3;
        if (!overButton && !overBackground)
            break;
        // Pointer feedback: the hourglass belongs to a running capture and stays.
        if (m_window.mousePointer() != MainWindow::PointerHourglass)
            m_window.setMousePointer(overButton ? MainWindow::PointerCustom
                                                : MainWindow::PointerDefault);
        // A push button passes moves without a pressed mouse button on to its frame, whose
        // handler would take the custom pointer away again.
        const auto *move = static_cast<QMouseEvent *>(event);
        if (overButton && move->buttons() == Qt::NoButton)
            return true;
        break;
    }
    case QEvent::FocusIn:
        if (watched == m_window.m_controls->text1) {
            m_window.m_controls->text1->selectAll(); // Text1_GotFocus
        } else if (watched == m_window.m_controls->text2) {
            // Text2 has no GotFocus handler. A line edit selects its whole text when the Tab
            // key brings the focus: handed the focus for another reason, it keeps its caret.
            const auto reason = static_cast<QFocusEvent *>(event)->reason();
            if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                reason == Qt::ShortcutFocusReason) {
                QFocusEvent plain(QEvent::FocusIn, Qt::OtherFocusReason);
                QCoreApplication::sendEvent(watched, &plain);
                return true;
            }
        }
        break;
    case QEvent::Close:
        if (watched == &m_window) {
            // Form_Unload: every choice is already stored; the program ends here.
            QCoreApplication::quit();
        }
        break;
    case QEvent::Show:
        if (watched == &m_window && !m_placed) {
            m_placed = true;
            if (const QScreen *screen = m_window.screen()) {
                QRect area = m_window.frameGeometry();
                area.moveCenter(screen->availableGeometry().center());
                m_window.move(area.topLeft());
            }
        }
        break;
    default:
        break;
    }
    return false;
}

QPushButton *MainWindow::captureButton() const
{
    return m_controls->pushButton1;
}

QPushButton *MainWindow::browseButton() const
{
    return m_controls->pushButton2;
}

QString MainWindow::folder() const
{
    return m_controls->text1->text();
}

void MainWindow::setFolder(const QString &folder)
{
    m_controls->text1->setText(folder);
}

QString MainWindow::prefix() const
{
    return m_controls->text2->text();
}

void MainWindow::setPrefix(const QString &prefix)
{
    m_controls->text2->setText(prefix);
}

NamingMode MainWindow::namingMode() const
{
    for (const NamingOption &row : namingOptions())
        if (m_controls->namingButton(row.choice)->isChecked())
            return row.choice;
    return NoNamingOption;
}

void MainWindow::setNamingOption(NamingMode mode, bool on)
{
    if (OptionButton *button = m_controls->namingButton(mode))
        button->setChecked(on);
}

imaging::ImageFormat MainWindow::imageFormat() const
{
    for (const FormatOption &row : formatOptions())
        if (m_controls->formatButton(row.choice)->isChecked())
            return row.choice;
    return NoFormatOption;
}

void MainWindow::setFormatOption(imaging::ImageFormat format, bool on)
{
    if (OptionButton *button = m_controls->formatButton(format))
        button->setChecked(on);
}

int MainWindow::jpegQuality() const
{
    return m_controls->slider1->value();
}

QWindow *MainWindow::shownWindow() const
{
    return isVisible() ? windowHandle() : nullptr;
}

void MainWindow::stepAside()
{
    m_controls->focusedBeforeStepAside = focusWidget();
    hide();
}

void MainWindow::comeBack()
{
    show();
    raise();
    activateWindow();
    // Hidden and shown again faster than the toolkit notices a focus change, the window keeps
    // the input focus but loses its active state: restore both.
    // QApplication::setActiveWindow is deprecated since Qt 6.5 for activateWindow(), which only
    // asks the window manager again: here the focus has not moved, so no event would come.
    if (QGuiApplication::focusWindow() == windowHandle() && !isActiveWindow()) {
        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        QApplication::setActiveWindow(this);
        QT_WARNING_POP
    }
    if (QWidget *focused = m_controls->focusedBeforeStepAside)
        focused->setFocus(Qt::ActiveWindowFocusReason);
}

int MainWindow::mousePointer() const
{
    return m_controls->mousePointer;
}

void MainWindow::setMousePointer(int value)
{
    Controls &c = *m_controls;
    c.mousePointer = value;
    std::optional<QCursor> shown;
    if (value == PointerHourglass)
        shown = QCursor(Qt::WaitCursor);
    else if (value == PointerCustom)
        shown = c.customPointer.value_or(QCursor(Qt::PointingHandCursor));

    QList<QWidget *> widgets = findChildren<QWidget *>();
    widgets.prepend(this);
    for (QWidget *widget : widgets) {
        if (widget->window() != this)
            continue; // dialogs owned by the window keep their own pointers
        if (shown)
            widget->setCursor(*shown);
        else if (const auto own = c.ownCursors.constFind(widget); own != c.ownCursors.cend())
            widget->setCursor(*own);
        else
            widget->unsetCursor();
    }
}

void MainWindow::setCustomPointer(const QCursor &cursor)
{
    m_controls->customPointer = cursor;
    if (m_controls->mousePointer == PointerCustom)
        setMousePointer(PointerCustom);
}

void MainWindow::setSettingObserver(SettingObserver observer)
{
    m_controls->observer = std::move(observer);
}

app::FailureRouting &MainWindow::failureRouting()
{
    return m_controls->failures;
}

} // namespace ui
