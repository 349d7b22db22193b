#include "ui/dialogs/ColorSelectionDialog.h"

#include "store/Settings.h"
#include "ui/transfers/TransfersForm.h"
#include "ui_ColorSelectionDialog.h"
#include "widgets/ApplicationWindow.h"

#include <QApplication>
#include <QColorDialog>
#include <QPalette>

namespace
{
using Swatch = QLineEdit* Ui_ColorSelectionDialog::*;

// One colour setting. A palette colour has a role and takes its default from the
// start-up palette; the others have a fixed default.
struct ColorSetting
{
    char const* m_key;
    Swatch m_swatch;
    bool m_isPaletteRole;
    QPalette::ColorRole m_role;
    char const* m_default;
};

// In the order in which they are stored.
ColorSetting const c_colorSettings[] = {
    {"color_window_background", &Ui_ColorSelectionDialog::windowBackgroundColor, true,
     QPalette::Window, nullptr},
    {"color_window_text", &Ui_ColorSelectionDialog::windowTextColor, true, QPalette::WindowText,
     nullptr},
    {"color_input_background", &Ui_ColorSelectionDialog::inputBackgroundColor, true,
     QPalette::Base, nullptr},
    {"color_input_text", &Ui_ColorSelectionDialog::inputTextColor, true, QPalette::Text, nullptr},
    {"color_button_background", &Ui_ColorSelectionDialog::buttonBackgroundColor, true,
     QPalette::Button, nullptr},
    {"color_button_text", &Ui_ColorSelectionDialog::buttonTextColor, true, QPalette::ButtonText,
     nullptr},
    {"color_transfer_queued", &Ui_ColorSelectionDialog::transferQueuedColor, false,
     QPalette::NoRole, "#3366ff"},
    {"color_transfer_complete", &Ui_ColorSelectionDialog::transferCompleteColor, false,
     QPalette::NoRole, "#006400"},
    {"color_transfer_in_progress", &Ui_ColorSelectionDialog::transferInProgressColor, false,
     QPalette::NoRole, "#0000ff"},
    {"color_transfer_failed", &Ui_ColorSelectionDialog::transferFailedColor, false,
     QPalette::NoRole, "#ff0a47"},
    {"color_transfer_other", &Ui_ColorSelectionDialog::transferOtherColor, false,
     QPalette::NoRole, "#000000"},
    {"color_chat_username", &Ui_ColorSelectionDialog::chatUsernameColor, false, QPalette::NoRole,
     "#0033ff"},
    {"color_chat_timestamp", &Ui_ColorSelectionDialog::chatTimestampColor, false,
     QPalette::NoRole, "#0066ff"},
    {"color_chat_status", &Ui_ColorSelectionDialog::chatStatusColor, false, QPalette::NoRole,
     "#339933"},
};

QColor FixedDefault(ColorSetting const& i_setting)
{
    return QColor(QString::fromLatin1(i_setting.m_default));
}
} // namespace

ColorSelectionDialog::ColorSelectionDialog(QWidget* ip_parent)
    : QDialog(ip_parent), ui(new Ui_ColorSelectionDialog)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);

    QPalette const l_palette = QApplication::palette();
    for (ColorSetting const& l_setting : c_colorSettings)
    {
        QColor l_color;
        if (l_setting.m_isPaletteRole)
            l_color = l_palette.color(l_setting.m_role);
        else
        {
            l_color = QColor(GetSetting(l_setting.m_key));
            if (!l_color.isValid())
                l_color = FixedDefault(l_setting);
        }
        SetSwatchColor(ui->*(l_setting.m_swatch), l_color);
    }

    struct Change
    {
        QPushButton* Ui_ColorSelectionDialog::*m_button;
        void (ColorSelectionDialog::*mp_slot)();
    };
    static Change const c_changes[] = {
        {&Ui_ColorSelectionDialog::windowBackgroundButton, &ColorSelectionDialog::OnChangeWindowBackground},
        {&Ui_ColorSelectionDialog::windowTextButton, &ColorSelectionDialog::OnChangeWindowText},
        {&Ui_ColorSelectionDialog::inputBackgroundButton, &ColorSelectionDialog::OnChangeInputBackground},
        {&Ui_ColorSelectionDialog::inputTextButton, &ColorSelectionDialog::OnChangeInputText},
        {&Ui_ColorSelectionDialog::buttonBackgroundButton, &ColorSelectionDialog::OnChangeButtonBackground},
        {&Ui_ColorSelectionDialog::buttonTextButton, &ColorSelectionDialog::OnChangeButtonText},
        {&Ui_ColorSelectionDialog::chatUsernameButton, &ColorSelectionDialog::OnChangeChatUsername},
        {&Ui_ColorSelectionDialog::chatTimestampButton, &ColorSelectionDialog::OnChangeChatTimestamp},
        {&Ui_ColorSelectionDialog::chatStatusButton, &ColorSelectionDialog::OnChangeChatStatus},
        {&Ui_ColorSelectionDialog::transferQueuedButton, &ColorSelectionDialog::OnChangeTransferQueued},
        {&Ui_ColorSelectionDialog::transferInProgressButton, &ColorSelectionDialog::OnChangeTransferInProgress},
        {&Ui_ColorSelectionDialog::transferCompleteButton, &ColorSelectionDialog::OnChangeTransferComplete},
        {&Ui_ColorSelectionDialog::transferFailedButton, &ColorSelectionDialog::OnChangeTransferFailed},
        {&Ui_ColorSelectionDialog::transferOtherButton, &ColorSelectionDialog::OnChangeTransferOther},
    };
    for (Change const& l_change : c_changes)
        connect(ui->*(l_change.m_button), &QPushButton::clicked, this, l_change.mp_slot);
    connect(ui->resetToDefaultsButton, &QPushButton::clicked, this,
            &ColorSelectionDialog::OnResetToDefaults);
    connect(ui->saveColorsButton, &QPushButton::clicked, this, &ColorSelectionDialog::OnSaveColors);
}

ColorSelectionDialog::~ColorSelectionDialog()
{
    delete ui;
}

QColor ColorSelectionDialog::SwatchColor(QLineEdit const* ip_swatch)
{
    return ip_swatch->palette().color(QPalette::Base);
}

void ColorSelectionDialog::SetSwatchColor(QLineEdit* ip_swatch, QColor const& i_color)
{
    QPalette l_palette = ip_swatch->palette();
    l_palette.setColor(QPalette::Base, i_color);
    ip_swatch->setPalette(l_palette);
}

void ColorSelectionDialog::ChangeColor(QLineEdit* ip_swatch)
{
    QColor const l_picked = QColorDialog::getColor(SwatchColor(ip_swatch), this);
    // A cancelled picker gives an invalid colour.
    if (l_picked.isValid())
        SetSwatchColor(ip_swatch, l_picked);
}

void ColorSelectionDialog::OnChangeWindowBackground() { ChangeColor(ui->windowBackgroundColor); }
void ColorSelectionDialog::OnChangeWindowText() { ChangeColor(ui->windowTextColor); }
void ColorSelectionDialog::OnChangeInputBackground() { ChangeColor(ui->inputBackgroundColor); }
void ColorSelectionDialog::OnChangeInputText() { ChangeColor(ui->inputTextColor); }
void ColorSelectionDialog::OnChangeButtonBackground() { ChangeColor(ui->buttonBackgroundColor); }
void ColorSelectionDialog::OnChangeButtonText() { ChangeColor(ui->buttonTextColor); }
void ColorSelectionDialog::OnChangeChatUsername() { ChangeColor(ui->chatUsernameColor); }
void ColorSelectionDialog::OnChangeChatTimestamp() { ChangeColor(ui->chatTimestampColor); }
void ColorSelectionDialog::OnChangeChatStatus() { ChangeColor(ui->chatStatusColor); }
void ColorSelectionDialog::OnChangeTransferQueued() { ChangeColor(ui->transferQueuedColor); }
void ColorSelectionDialog::OnChangeTransferInProgress() { ChangeColor(ui->transferInProgressColor); }
void ColorSelectionDialog::OnChangeTransferComplete() { ChangeColor(ui->transferCompleteColor); }
void ColorSelectionDialog::OnChangeTransferFailed() { ChangeColor(ui->transferFailedColor); }
void ColorSelectionDialog::OnChangeTransferOther() { ChangeColor(ui->transferOtherColor); }

void ColorSelectionDialog::OnResetToDefaults()
{
    for (ColorSetting const& l_setting : c_colorSettings)
        SetSwatchColor(ui->*(l_setting.m_swatch), l_setting.m_isPaletteRole
                                                      ? defaultPalette.color(l_setting.m_role)
                                                      : FixedDefault(l_setting));
}

void ColorSelectionDialog::OnSaveColors()
{
    QPalette l_palette = QApplication::palette();
    for (ColorSetting const& l_setting : c_colorSettings)
        if (l_setting.m_isPaletteRole)
            l_palette.setColor(l_setting.m_role, SwatchColor(ui->*(l_setting.m_swatch)));
    QApplication::setPalette(l_palette);

    QPalette const l_applied = QApplication::palette();
    for (ColorSetting const& l_setting : c_colorSettings)
        SetSetting(l_setting.m_key, l_setting.m_isPaletteRole
                                        ? l_applied.color(l_setting.m_role).name()
                                        : SwatchColor(ui->*(l_setting.m_swatch)).name());
    // The transfer rows take their colours when they change status; the ones shown now
    // are recoloured at once.
    if (transfersForm)
        transfersForm->RecolorEntries();
    accept();
}
