// The dialogs that edit settings: the fourteen colours, the user name and password, and
// the listening port for the next start; what each stores, refuses and how long it lives.

#include "DialogTestKit.h"
#include "support/StoreServices.h"

#include "app/MainWindow.h"
#include "ui/dialogs/ChangeListeningPortDialog.h"
#include "ui/dialogs/ChangeListeningPortDialogUi.h"
#include "ui/dialogs/ChangeUsernamePasswordDialog.h"
#include "ui/dialogs/ChangeUsernamePasswordDialogUi.h"
#include "ui/dialogs/ColorSelectionDialog.h"
#include "ui/dialogs/ColorSelectionDialogUi.h"

#include <QPointer>
#include <QtTest>

using namespace DialogTestKit;

namespace
{
using Swatch = Ui_ColorSelectionDialog::Swatch;

struct ColourKey
{
    char const* key;
    Swatch swatch;
    QPalette::ColorRole role; // NoRole: a fixed default
    char const* fixedDefault;
};

// In the order the dialog stores them.
ColourKey const c_keys[] = {
    {"color_window_background", &Ui_ColorSelectionDialog::windowBackgroundColor, QPalette::Window, nullptr},
    {"color_window_text", &Ui_ColorSelectionDialog::windowTextColor, QPalette::WindowText, nullptr},
    {"color_input_background", &Ui_ColorSelectionDialog::inputBackgroundColor, QPalette::Base, nullptr},
    {"color_input_text", &Ui_ColorSelectionDialog::inputTextColor, QPalette::Text, nullptr},
    {"color_button_background", &Ui_ColorSelectionDialog::buttonBackgroundColor, QPalette::Button, nullptr},
    {"color_button_text", &Ui_ColorSelectionDialog::buttonTextColor, QPalette::ButtonText, nullptr},
    {"color_transfer_queued", &Ui_ColorSelectionDialog::transferQueuedColor, QPalette::NoRole, "#3366ff"},
    {"color_transfer_complete", &Ui_ColorSelectionDialog::transferCompleteColor, QPalette::NoRole, "#006400"},
    {"color_transfer_in_progress", &Ui_ColorSelectionDialog::transferInProgressColor, QPalette::NoRole, "#0000ff"},
    {"color_transfer_failed", &Ui_ColorSelectionDialog::transferFailedColor, QPalette::NoRole, "#ff0a47"},
    {"color_transfer_other", &Ui_ColorSelectionDialog::transferOtherColor, QPalette::NoRole, "#000000"},
    {"color_chat_username", &Ui_ColorSelectionDialog::chatUsernameColor, QPalette::NoRole, "#0033ff"},
    {"color_chat_timestamp", &Ui_ColorSelectionDialog::chatTimestampColor, QPalette::NoRole, "#0066ff"},
    {"color_chat_status", &Ui_ColorSelectionDialog::chatStatusColor, QPalette::NoRole, "#339933"},
};

QStringList StoredColours()
{
    QStringList l_values;
    for (ColourKey const& l_key : c_keys)
        l_values << GetSetting(l_key.key);
    return l_values;
}

QStringList SwatchNames(ColorSelectionDialog* ip_dialog)
{
    QStringList l_names;
    for (ColourKey const& l_key : c_keys)
        l_names << ColorSelectionDialog::SwatchColor(ip_dialog->Form()->*(l_key.swatch)).name();
    return l_names;
}

QStringList PaletteNames(QPalette const& i_palette)
{
    QStringList l_names;
    for (ColourKey const& l_key : c_keys)
        if (l_key.role != QPalette::NoRole)
            l_names << i_palette.color(l_key.role).name();
    return l_names;
}

void FreeDeleted()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void RemoveSetting(char const* i_key)
{
    if (ItemPtr const l_key = d["global"]->HasItem(Value(i_key)))
        l_key.Remove();
}
} // namespace

class TestSettingsDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void coloursResetCloseAndSave();
    void colourPicker();
    void usernameAndPassword();
    void firstStartUsername();
    void listeningPort();
};

void TestSettingsDialogs::initTestCase()
{
    StartStoreServices();
    // As start-up does: the desktop's palette, then the stored colours applied over it.
    defaultPalette = QApplication::palette();
    QPalette l_applied = defaultPalette;
    int l_shade = 0x10;
    for (ColourKey const& l_key : c_keys)
    {
        QColor const l_colour(l_shade, l_shade + 1, l_shade + 2);
        l_shade += 0x08;
        if (l_key.role != QPalette::NoRole)
            l_applied.setColor(l_key.role, l_colour);
        SetSetting(l_key.key, l_colour.name());
    }
    QApplication::setPalette(l_applied);
}

void TestSettingsDialogs::coloursResetCloseAndSave()
{
    SetSetting("color_chat_status", "not a colour");
    QPalette const l_applied = QApplication::palette();
    QStringList l_expected = PaletteNames(l_applied);
    for (ColourKey const& l_key : c_keys)
        if (l_key.role == QPalette::NoRole)
            l_expected << (QColor(GetSetting(l_key.key)).isValid() ? GetSetting(l_key.key)
                                                                    : QString(l_key.fixedDefault));
    QStringList l_defaults = PaletteNames(defaultPalette);
    for (ColourKey const& l_key : c_keys)
        if (l_key.role == QPalette::NoRole)
            l_defaults << l_key.fixedDefault;
    QVERIFY(PaletteNames(l_applied) != PaletteNames(defaultPalette));

    // Opened: the live palette and the stored colours; the invalid one shows its default.
    QPointer<ColorSelectionDialog> lp_dialog = new ColorSelectionDialog;
    QCOMPARE(SwatchNames(lp_dialog), l_expected);
    QCOMPARE(l_expected.last(), QStringLiteral("#339933"));
    QCOMPARE(lp_dialog->windowTitle(), QStringLiteral("Select Colors"));

    // Reset, then closed: nothing is stored or applied.
    QStringList const l_before = StoredColours();
    lp_dialog->Form()->resetToDefaultsButton->click();
    QCOMPARE(SwatchNames(lp_dialog), l_defaults);
    lp_dialog->close();
    FreeDeleted();
    QVERIFY(!lp_dialog);
    QCOMPARE(StoredColours(), l_before);
    QCOMPARE(PaletteNames(QApplication::palette()), PaletteNames(l_applied));

    // Reset, then saved: all fourteen in their order, the palette applied, the dialog gone.
    SettingWrites l_writes({"color_window_background", "color_window_text", "color_input_background",
                            "color_input_text", "color_button_background", "color_button_text",
                            "color_transfer_queued", "color_transfer_complete",
                            "color_transfer_in_progress", "color_transfer_failed",
                            "color_transfer_other", "color_chat_username", "color_chat_timestamp",
                            "color_chat_status"});
    lp_dialog = new ColorSelectionDialog;
    lp_dialog->Form()->resetToDefaultsButton->click();
    lp_dialog->Form()->saveColorsButton->click();
    FreeDeleted();
    QVERIFY(!lp_dialog);
    QStringList l_expectedWrites;
    for (int l_index = 0; l_index < int(std::size(c_keys)); ++l_index)
        l_expectedWrites << QString(c_keys[l_index].key) + "=" + l_defaults[l_index];
    QCOMPARE(l_writes.m_writes, l_expectedWrites);
    QCOMPARE(StoredColours(), l_defaults);
    QCOMPARE(PaletteNames(QApplication::palette()), PaletteNames(defaultPalette));
    QApplication::setPalette(l_applied);
}

void TestSettingsDialogs::colourPicker()
{
    SetSetting("color_chat_username", "#123456");
    QPointer<ColorSelectionDialog> lp_dialog = new ColorSelectionDialog;
    Ui_ColorSelectionDialog* const ui = lp_dialog->Form();
    QString const l_failedBefore = ColorSelectionDialog::SwatchColor(ui->transferFailedColor).name();

    QColor l_offered;
    AnswerNextPicker(QColor(255, 10, 71), &l_offered);
    ui->transferFailedButton->click();
    QCOMPARE(l_offered.name(), l_failedBefore);
    QCOMPARE(ColorSelectionDialog::SwatchColor(ui->transferFailedColor).name(), QStringLiteral("#ff0a47"));

    // A cancelled picker leaves the swatch as it was; nothing is stored before Save.
    AnswerNextPicker(QColor(), &l_offered);
    ui->chatUsernameButton->click();
    QCOMPARE(l_offered.name(), QStringLiteral("#123456"));
    QCOMPARE(ColorSelectionDialog::SwatchColor(ui->chatUsernameColor).name(), QStringLiteral("#123456"));
    QCOMPARE(GetSetting("color_transfer_failed"), l_failedBefore);

    ui->saveColorsButton->click();
    QCOMPARE(GetSetting("color_transfer_failed"), QStringLiteral("#ff0a47"));
    QCOMPARE(GetSetting("color_chat_username"), QStringLiteral("#123456"));
    FreeDeleted();
    QVERIFY(!lp_dialog);
}

void TestSettingsDialogs::usernameAndPassword()
{
    SetSetting("username", "old");
    SetSetting("password", "secret");
    struct Case
    {
        char const* user;
        char const* password;
        bool accepted;
        char const* storedUser;
        char const* storedPassword;
    } const l_cases[] = {
        {"  ann  ", " pw 1\t", true, "ann", "pw 1"},
        {"   ", "pw", false, "ann", "pw 1"},
        {"bob", "  ", false, "ann", "pw 1"},
        {"bob", "x", true, "bob", "x"},
    };
    for (Case const& l_case : l_cases)
    {
        QString const l_shownUser = GetSetting("username");
        QPointer<ChangeUsernamePasswordDialog> lp_dialog = new ChangeUsernamePasswordDialog(false);
        Ui_ChangeUsernamePasswordDialog* const ui = lp_dialog->Form();
        QCOMPARE(lp_dialog->windowTitle(), QStringLiteral("Change Username/Password"));
        QCOMPARE(ui->usernameEdit->text(), l_shownUser);
        QCOMPARE(ui->passwordEdit->echoMode(), QLineEdit::Normal);
        lp_dialog->show();
        ui->usernameEdit->setText(l_case.user);
        ui->passwordEdit->setText(l_case.password);
        ui->buttonBox->button(QDialogButtonBox::Ok)->click();
        FreeDeleted();
        QCOMPARE(GetSetting("username"), QString(l_case.storedUser));
        QCOMPARE(GetSetting("password"), QString(l_case.storedPassword));
        // Accepted it is gone; refused it stays open until cancelled, and then goes.
        QCOMPARE(lp_dialog.isNull(), l_case.accepted);
        if (lp_dialog)
        {
            QVERIFY(lp_dialog->isVisible());
            ui->buttonBox->button(QDialogButtonBox::Cancel)->click();
            FreeDeleted();
            QVERIFY(!lp_dialog);
        }
    }
}

void TestSettingsDialogs::firstStartUsername()
{
    RemoveSetting("username");
    RemoveSetting("password");
    for (bool l_accept : {false, true})
    {
        ChangeUsernamePasswordDialog l_dialog(true, nullptr);
        QCOMPARE(l_dialog.windowTitle(), QStringLiteral("Set Username/Password"));
        QVERIFY(l_dialog.Form()->usernameEdit->text().isEmpty());
        QTimer::singleShot(0, &l_dialog, [&l_dialog, l_accept] {
            l_dialog.Form()->usernameEdit->setText(" carol ");
            l_dialog.Form()->passwordEdit->setText("pw");
            l_dialog.Form()->buttonBox->button(l_accept ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)
                ->click();
        });
        QCOMPARE(l_dialog.exec(), l_accept ? int(QDialog::Accepted) : int(QDialog::Rejected));
        FreeDeleted();
        QCOMPARE(HasSetting("username"), l_accept);
        QCOMPARE(GetSetting("username"), l_accept ? QStringLiteral("carol") : QString());
    }
}

void TestSettingsDialogs::listeningPort()
{
    SetSetting("listening_port", "2234");
    RemoveSetting("new_listening_port");
    QString const l_invalid = "Invalid Port Number|Port number must be in the range of 1 to 65535.";
    QString const l_same = "Port Number Not Changed|Port number has not been changed.";
    QString const l_pending = "Change to Listening Port Pending|Changes to the listening port will "
                              "take effect after a client restart.";
    struct Case
    {
        QString typed;
        QString box;
        char const* stored; // nullptr: nothing stored
    } const l_cases[] = {
        {"", l_invalid, nullptr},       {"65536", l_invalid, nullptr}, {"99999", l_invalid, nullptr},
        {"2234", l_same, nullptr},      {"4000", l_pending, "4000"},   {"2234", l_same, "4000"},
        {"65535", l_pending, "65535"},  {"1", l_pending, "1"},
    };
    for (Case const& l_case : l_cases)
    {
        QPointer<ChangeListeningPortDialog> lp_dialog = new ChangeListeningPortDialog;
        Ui_ChangeListeningPortDialog* const ui = lp_dialog->Form();
        QCOMPARE(ui->portEdit->text(), QStringLiteral("2234"));
        lp_dialog->show();
        ui->portEdit->setText(l_case.typed);
        QCOMPARE(ui->portEdit->text(), l_case.typed);
        QString l_seen;
        AnswerNextBox(&l_seen);
        ui->buttonBox->button(QDialogButtonBox::Ok)->click();
        FreeDeleted();
        QCOMPARE(l_seen, l_case.box);
        QCOMPARE(GetSetting("new_listening_port"), QString(l_case.stored ? l_case.stored : ""));
        bool const l_accepted = l_case.box == l_pending;
        QCOMPARE(lp_dialog.isNull(), l_accepted);
        if (lp_dialog)
        {
            ui->buttonBox->button(QDialogButtonBox::Cancel)->click();
            FreeDeleted();
            QVERIFY(!lp_dialog);
        }
    }

    // The field holds at most five digits, and a zero cannot take the first place.
    ChangeListeningPortDialog* const lp_dialog = new ChangeListeningPortDialog;
    QLineEdit* const lp_edit = lp_dialog->Form()->portEdit;
    for (char const* lp_keys : {"123456", "0400"})
    {
        lp_edit->clear();
        lp_edit->setCursorPosition(0);
        QTest::keyClicks(lp_edit, lp_keys);
        QVERIFY(!lp_edit->displayText().startsWith('0'));
        QVERIFY(lp_edit->text().size() <= 5);
    }
    lp_dialog->reject();
    FreeDeleted();
}

QTEST_MAIN(TestSettingsDialogs)
#include "tst_settings_dialogs.moc"
