#pragma once

// The fourteen colour settings: six for the application palette, three for chat lines and
// five for transfer rows. The palette swatches start from the live application palette,
// the others from their settings (a stored text that names no colour shows the default).
// "Change" picks one swatch's colour, "Reset to Defaults" puts the start-up palette's and
// the fixed defaults back in the swatches, and only "Save Colors" applies the palette,
// stores all fourteen settings and recolours the transfer rows, then closes. Deletes
// itself when closed; several may be open at once, and the last save wins.

#include <QColor>
#include <QDialog>

class QLineEdit;
class Ui_ColorSelectionDialog;

class ColorSelectionDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ColorSelectionDialog(QWidget* ip_parent = nullptr);
    ~ColorSelectionDialog() override;

    Ui_ColorSelectionDialog* Form() const { return ui; }
    // The colour a swatch shows.
    static QColor SwatchColor(QLineEdit const* ip_swatch);

public slots:
    void OnChangeWindowBackground();
    void OnChangeWindowText();
    void OnChangeInputBackground();
    void OnChangeInputText();
    void OnChangeButtonBackground();
    void OnChangeButtonText();
    void OnChangeChatUsername();
    void OnChangeChatTimestamp();
    void OnChangeChatStatus();
    void OnChangeTransferQueued();
    void OnChangeTransferInProgress();
    void OnChangeTransferComplete();
    void OnChangeTransferFailed();
    void OnChangeTransferOther();
    void OnResetToDefaults();
    void OnSaveColors();

private:
    void ChangeColor(QLineEdit* ip_swatch);
    static void SetSwatchColor(QLineEdit* ip_swatch, QColor const& i_color);

    Ui_ColorSelectionDialog* ui;
};
