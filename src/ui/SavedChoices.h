#pragma once
// The choices as the settings store holds them, read once at construction, for a capture
// without the main window: the
// folder ("Text1", the desktop folder when absent), the prefix ("Text2", "Screenshots"), the
// naming mode and the format as the start-up restore would leave the option buttons (the rows of
// ChoiceTables restored in order, each click handler's writes seen by the rows after it; a value
// that cannot be read leaves the button as it is), and JPG quality 85. Writes nothing. No window
// steps aside.

#include "CaptureClient.h"

namespace app {
class SettingsStore;
}

namespace ui {

class SavedChoices final : public CaptureClient
{
public:
    explicit SavedChoices(const app::SettingsStore &settings);

    QString folder() const override { return m_folder; }
    QString prefix() const override { return m_prefix; }
    NamingMode namingMode() const override { return m_namingMode; }
    imaging::ImageFormat imageFormat() const override { return m_imageFormat; }
    int jpegQuality() const override { return 85; }

    void setMousePointer(int) override {}
    QWindow *shownWindow() const override { return nullptr; }
    void stepAside() override {}
    void comeBack() override {}

private:
    QString m_folder;
    QString m_prefix;
    NamingMode m_namingMode = NamingMode::DateTime;
    imaging::ImageFormat m_imageFormat = imaging::ImageFormat::Jpeg;
};

} // namespace ui
