// The window side of the display settings: copies the settings controls into the
// plain window values and back, and wires the settings buttons, the colour panels,
// the editing aids, the code-page selectors and the display test page. Device work
// runs on the window's device worker; settings are gathered on the window's thread
// before a job starts.
#pragma once

#include "settings/display_info.h"
#include "settings/settings_ops.h"
#include "settings/window_values.h"

#include <QColor>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class TarselMain;

namespace tarsel::ui {
class ColorPanel;
struct WindowForms;
} // namespace tarsel::ui

class SettingsController : public QObject {
    Q_OBJECT

public:
    // Connects to the window's controls and applies the default settings.
    explicit SettingsController(TarselMain* window);

    // The settings record (the window's single DisplayInfo).
    tarsel::TDisplayInfo& displayInfo() { return m_info; }

    // Widgets <-> values.
    tarsel::WindowValues readValues() const;
    void writeValues(const tarsel::WindowValues& values);

    // Window to record, with the normalised texts written back (for the picture
    // download too).
    void gatherSettings();

    // Runs the parser on the default document (at creation and "Default Settings").
    void actDefaultSettingExecute();

    // Replace the file and colour dialogs (tests). The file hook gets whether it is
    // the save dialog, the folder the dialog would open in (the one remembered for
    // settings files) and the proposed name, and returns the chosen path (empty =
    // cancelled). The colour hook gets the starting colour and returns the chosen
    // one (nothing = cancelled).
    std::function<QString(bool save, const QString& folder, const QString& proposed)> fileDialogHook;
    std::function<std::optional<QColor>(const QColor& start)> colorDialogHook;

    // Handlers (public so that tests and other parts can drive them).
    void btn_savesettingsClick();
    void btn_loadsettingsClick();
    void btn_GetSettingClick();
    void btn_AllDownloadClick();
    void btn_ResetDisplayClick();
    void btn_RestartDisplayClick();
    void btn_FormatClick();
    void btn_DownloadSettingClick();
    void btn_HeaderSetClick();
    void btn_TextSetClick();
    void btn_FooterSetClick();
    void btn_brightness_setClick();
    void btn_baudrateSetClick();
    void btn_commandSetClick();
    void btn_SetToPlayClick();
    void btn_DownloadCodePageClick();
    void btn_TextSendClick();
    void btn_ClearDisplayClick();
    void btn_ShowQrCodeAtClick();
    void actCodePageTestExecute(int tag);

private:
    // Shows a job's box through the outlets (from the device worker).
    void box(const tarsel::Notice& notice);
    const tarsel::ui::WindowForms& forms() const;
    void connectControls();
    void pickColor(tarsel::ui::ColorPanel* panel);
    void centerWelcome();
    void centerMainText();
    void centerTestText();
    void edt_TextChange(const QString& text);
    void syncSelectors(void (*sync)(tarsel::WindowValues&));
    void updateMainTextLines();
    void showNotice(const std::string& text, int flags);
    // Gathers, then runs `job` with a copy of the record on the device worker.
    void runWithSettings(std::function<void(const tarsel::TDisplayInfo&)> job,
                         const QString& cancelledText = QStringLiteral("The operation was cancelled."));

    TarselMain* m_window;
    tarsel::TDisplayInfo m_info;
    QColor m_lastColor{Qt::black};
};
