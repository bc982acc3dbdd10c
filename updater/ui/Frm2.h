// Frm2.h: the game options dialog Form1.
//
// Edits a few options of the game's own system/option.ini and the updater's backup choice.
// Created hidden at program start, right after the main window, and loaded once then;
// the main window's options button shows it, Apply writes and hides it, Cancel hides it.
#pragma once

#include "platform/Errors.h"
#include "updater/ui/DraggableForm.h"

#include <QWidget>
#include <cstdint>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QToolButton;

namespace velmoran {

class TFMain;

// A text that should be a Boolean and is not: "'%s' is not a valid boolean value".
class EBooleanConvertError : public platform::Exception {
public:
    explicit EBooleanConvertError(const std::string& text);
};

// "true" and "false" in any letter case, or a whole number (0 is false, any other true).
bool StrToBool(const std::string& text);

// The game's option file: the current directory and "system\option.ini".
std::string OptionFilePath();

class TForm1 : public TDraggableForm {
public:
    // Shapes the dialog and loads the options (FormCreate); an error of the loading is
    // shown in a message box and leaves the later controls as they were.
    explicit TForm1(TFMain& main);

    // Controls.
    QLabel* Image1 = nullptr; // the background and shape picture, hidden
    QLabel* Label6 = nullptr;
    QCheckBox* CheckBox3 = nullptr; // CreateBackup
    QLabel* Label5 = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* ComboBox1 = nullptr; // resolution
    QLabel* Label2 = nullptr;
    QComboBox* ComboBox2 = nullptr; // colour depth
    QLabel* Label3 = nullptr;
    QComboBox* ComboBox3 = nullptr; // refresh rate
    QCheckBox* CheckBox1 = nullptr; // IsKeepMinFrameRate
    QCheckBox* CheckBox2 = nullptr; // StartupFullScreen
    QLabel* Label4 = nullptr;
    QComboBox* ComboBox4 = nullptr;      // party loot rule
    QToolButton* SpeedButton1 = nullptr; // Apply
    QToolButton* SpeedButton2 = nullptr; // Cancel

    // Event handlers; an error ends them (RunHandler shows it).
    void FormCreate();
    void SpeedButton1Click();
    void SpeedButton2Click();
    // FormMouseDown, FormMouseMove and FormMouseUp drag the dialog (TDraggableForm).

    // Fills the controls from the option file and ClientSettings.
    void LoadGameOptions();
    // Writes the controls into the option file and the backup choice into ClientSettings
    // and _settings.ini. A box without a choice leaves its key as it is stored.
    void SaveGameOptions();

private:
    void CreateControls();
    void CloseDialog();

    TFMain& FMain;
};

} // namespace velmoran
