#pragma once

// The layout of the colour dialog: "Main UI" and "Chat" on the left, "Transfers" on the
// right, one row per colour (label, swatch, "Change"), and the two buttons at the bottom.

#include <QApplication>
#include <QDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

class Ui_ColorSelectionDialog
{
public:
    using Swatch = QLineEdit* Ui_ColorSelectionDialog::*;
    using Button = QPushButton* Ui_ColorSelectionDialog::*;

    QLineEdit* windowBackgroundColor;
    QLineEdit* windowTextColor;
    QLineEdit* inputBackgroundColor;
    QLineEdit* inputTextColor;
    QLineEdit* buttonBackgroundColor;
    QLineEdit* buttonTextColor;
    QLineEdit* chatUsernameColor;
    QLineEdit* chatTimestampColor;
    QLineEdit* chatStatusColor;
    QLineEdit* transferQueuedColor;
    QLineEdit* transferInProgressColor;
    QLineEdit* transferCompleteColor;
    QLineEdit* transferFailedColor;
    QLineEdit* transferOtherColor;
    QPushButton* windowBackgroundButton;
    QPushButton* windowTextButton;
    QPushButton* inputBackgroundButton;
    QPushButton* inputTextButton;
    QPushButton* buttonBackgroundButton;
    QPushButton* buttonTextButton;
    QPushButton* chatUsernameButton;
    QPushButton* chatTimestampButton;
    QPushButton* chatStatusButton;
    QPushButton* transferQueuedButton;
    QPushButton* transferInProgressButton;
    QPushButton* transferCompleteButton;
    QPushButton* transferFailedButton;
    QPushButton* transferOtherButton;
    QGroupBox* mainUiGroup;
    QGroupBox* chatGroup;
    QGroupBox* transfersGroup;
    QPushButton* saveColorsButton;
    QPushButton* resetToDefaultsButton;

    struct Row
    {
        char const* m_label;
        char const* m_swatchName;
        Swatch m_swatch;
        char const* m_buttonName;
        Button m_button;
    };

    void setupUi(QDialog* ip_dialog)
    {
        static Row const c_mainUi[] = {
            {"Window Background", "windowBackgroundColor", &Ui_ColorSelectionDialog::windowBackgroundColor,
             "windowBackgroundButton", &Ui_ColorSelectionDialog::windowBackgroundButton},
            {"Window Text", "windowTextColor", &Ui_ColorSelectionDialog::windowTextColor,
             "windowTextButton", &Ui_ColorSelectionDialog::windowTextButton},
            {"Input Background", "inputBackgroundColor", &Ui_ColorSelectionDialog::inputBackgroundColor,
             "inputBackgroundButton", &Ui_ColorSelectionDialog::inputBackgroundButton},
            {"Input Text", "inputTextColor", &Ui_ColorSelectionDialog::inputTextColor,
             "inputTextButton", &Ui_ColorSelectionDialog::inputTextButton},
            {"Button Background", "buttonBackgroundColor", &Ui_ColorSelectionDialog::buttonBackgroundColor,
             "buttonBackgroundButton", &Ui_ColorSelectionDialog::buttonBackgroundButton},
            {"Button Text", "buttonTextColor", &Ui_ColorSelectionDialog::buttonTextColor,
             "buttonTextButton", &Ui_ColorSelectionDialog::buttonTextButton},
        };
        static Row const c_chat[] = {
            {"User Names", "chatUsernameColor", &Ui_ColorSelectionDialog::chatUsernameColor,
             "chatUsernameButton", &Ui_ColorSelectionDialog::chatUsernameButton},
            {"Timestamps", "chatTimestampColor", &Ui_ColorSelectionDialog::chatTimestampColor,
             "chatTimestampButton", &Ui_ColorSelectionDialog::chatTimestampButton},
            {"Status Messages", "chatStatusColor", &Ui_ColorSelectionDialog::chatStatusColor,
             "chatStatusButton", &Ui_ColorSelectionDialog::chatStatusButton},
        };
        static Row const c_transfers[] = {
            {"Queued", "transferQueuedColor", &Ui_ColorSelectionDialog::transferQueuedColor,
             "transferQueuedButton", &Ui_ColorSelectionDialog::transferQueuedButton},
            {"In Progress", "transferInProgressColor", &Ui_ColorSelectionDialog::transferInProgressColor,
             "transferInProgressButton", &Ui_ColorSelectionDialog::transferInProgressButton},
            {"Complete", "transferCompleteColor", &Ui_ColorSelectionDialog::transferCompleteColor,
             "transferCompleteButton", &Ui_ColorSelectionDialog::transferCompleteButton},
            {"Failed", "transferFailedColor", &Ui_ColorSelectionDialog::transferFailedColor,
             "transferFailedButton", &Ui_ColorSelectionDialog::transferFailedButton},
            {"Other", "transferOtherColor", &Ui_ColorSelectionDialog::transferOtherColor,
             "transferOtherButton", &Ui_ColorSelectionDialog::transferOtherButton},
        };

        if (ip_dialog->objectName().isEmpty())
            ip_dialog->setObjectName("ColorSelectionDialog");
        ip_dialog->resize(659, 557);
        QVBoxLayout* const lp_outer = new QVBoxLayout(ip_dialog);
        QHBoxLayout* const lp_columns = new QHBoxLayout();
        QVBoxLayout* const lp_left = new QVBoxLayout();
        mainUiGroup = Group(ip_dialog, "Main UI", std::begin(c_mainUi), std::end(c_mainUi));
        lp_left->addWidget(mainUiGroup);
        chatGroup = Group(ip_dialog, "Chat", std::begin(c_chat), std::end(c_chat));
        lp_left->addWidget(chatGroup);
        lp_left->addStretch();
        QVBoxLayout* const lp_right = new QVBoxLayout();
        transfersGroup =
            Group(ip_dialog, "Transfers", std::begin(c_transfers), std::end(c_transfers));
        lp_right->addWidget(transfersGroup);
        lp_right->addStretch();
        lp_columns->addLayout(lp_left);
        lp_columns->addLayout(lp_right);
        lp_outer->addLayout(lp_columns);

        QHBoxLayout* const lp_buttons = new QHBoxLayout();
        lp_buttons->addStretch();
        saveColorsButton = new QPushButton(Tr("Save Colors"), ip_dialog);
        saveColorsButton->setObjectName("saveColorsButton");
        lp_buttons->addWidget(saveColorsButton);
        resetToDefaultsButton = new QPushButton(Tr("Reset to Defaults"), ip_dialog);
        resetToDefaultsButton->setObjectName("resetToDefaultsButton");
        lp_buttons->addWidget(resetToDefaultsButton);
        lp_outer->addLayout(lp_buttons);

        ip_dialog->setWindowTitle(Tr("Select Colors"));
    }

private:
    static QString Tr(char const* ip_text)
    {
        return QApplication::translate("ColorSelectionDialog", ip_text);
    }

    QGroupBox* Group(QDialog* ip_dialog, char const* ip_title, Row const* ip_begin,
                     Row const* ip_end)
    {
        QGroupBox* const lp_group = new QGroupBox(Tr(ip_title), ip_dialog);
        QVBoxLayout* const lp_rows = new QVBoxLayout(lp_group);
        for (Row const* lp_row = ip_begin; lp_row != ip_end; ++lp_row)
        {
            QHBoxLayout* const lp_line = new QHBoxLayout();
            lp_line->addWidget(new QLabel(Tr(lp_row->m_label), lp_group));
            lp_line->addStretch();
            QLineEdit* const lp_swatch = new QLineEdit(lp_group);
            lp_swatch->setObjectName(lp_row->m_swatchName);
            lp_swatch->setReadOnly(true);
            lp_swatch->setMaximumWidth(50);
            lp_swatch->setFocusPolicy(Qt::NoFocus);
            lp_line->addWidget(lp_swatch);
            QPushButton* const lp_button = new QPushButton(Tr("Change"), lp_group);
            lp_button->setObjectName(lp_row->m_buttonName);
            lp_line->addWidget(lp_button);
            lp_rows->addLayout(lp_line);
            this->*(lp_row->m_swatch) = lp_swatch;
            this->*(lp_row->m_button) = lp_button;
        }
        return lp_group;
    }
};
