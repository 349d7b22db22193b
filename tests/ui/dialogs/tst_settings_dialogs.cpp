// The dialogs that edit settings: the fourteen colours, the user name and password, and
// the listening port for the next start; what each stores, refuses and how long it lives.

#include "DialogTestKit.h"
#include "support/StoreServices.h"

#include "ui/dialogs/ChangeListeningPortDialog.h"
#include "ui/dialogs/ChangeUsernamePasswordDialog.h"
#include "ui/dialogs/ColorSelectionDialog.h"
#include "ui_ChangeListeningPortDialog.h"
#include "ui_ChangeUsernamePasswordDialog.h"
#include "ui_ColorSelectionDialog.h"
#include "widgets/ApplicationWindow.h"

#include <QPointer>
#include <QtTest>

using namespace DialogTestKit;

namespace
{
using Ui = Ui_ColorSelectionDialog;
using Role = QPalette::ColorRole;

// In the order the dialog stores them; NoRole: a fixed default.
struct ColourKey
{
    char const* key;
    QLineEdit* Ui::*swatch;
    Role role;
    char const* fixedDefault;
} const c_keys[] = {
    {"color_window_background", &Ui::windowBackgroundColor, QPalette::Window, ""},
    {"color_window_text", &Ui::windowTextColor, QPalette::WindowText, ""},
    {"color_input_background", &Ui::inputBackgroundColor, QPalette::Base, ""},
    {"color_input_text", &Ui::inputTextColor, QPalette::Text, ""},
    {"color_button_background", &Ui::buttonBackgroundColor, QPalette::Button, ""},
    {"color_button_text", &Ui::buttonTextColor, QPalette::ButtonText, ""},
    {"color_transfer_queued", &Ui::transferQueuedColor, QPalette::NoRole, "#3366ff"},
    {"color_transfer_complete", &Ui::transferCompleteColor, QPalette::NoRole, "#006400"},
    {"color_transfer_in_progress", &Ui::transferInProgressColor, QPalette::NoRole, "#0000ff"},
    {"color_transfer_failed", &Ui::transferFailedColor, QPalette::NoRole, "#ff0a47"},
    {"color_transfer_other", &Ui::transferOtherColor, QPalette::NoRole, "#000000"},
    {"color_chat_username", &Ui::chatUsernameColor, QPalette::NoRole, "#0033ff"},
    {"color_chat_timestamp", &Ui::chatTimestampColor, QPalette::NoRole, "#0066ff"},
    {"color_chat_status", &Ui::chatStatusColor, QPalette::NoRole, "#339933"},
};

// Per key, in order: the palette's colour for a palette key, else the given text.
QStringList Colours(QPalette const& i_palette, std::function<QString(ColourKey const&)> const& i_other)
{
    QStringList l_values;
    for (ColourKey const& l_key : c_keys)
        l_values << (l_key.role != QPalette::NoRole ? i_palette.color(l_key.role).name() : i_other(l_key));
    return l_values;
}

QStringList Swatches(ColorSelectionDialog* ip_dialog)
{
    QStringList l_values;
    for (ColourKey const& l_key : c_keys)
        l_values << ColorSelectionDialog::SwatchColor(ip_dialog->Form()->*(l_key.swatch)).name();
    return l_values;
}

void FreeDeleted()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
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
        l_shade += 8;
        if (l_key.role != QPalette::NoRole)
            l_applied.setColor(l_key.role, l_colour);
        SetSetting(l_key.key, l_colour.name());
    }
    QApplication::setPalette(l_applied);
}

void TestSettingsDialogs::coloursResetCloseAndSave()
{
    // The palette swatches show the live palette, whatever is stored.
    SetSetting("color_window_background", "#fefefe");
    SetSetting("color_chat_status", "not a colour");
    QPalette const l_applied = QApplication::palette();
    auto const l_stored = [](ColourKey const& i_key) { return GetSetting(i_key.key); };
    auto const l_fixed = [](ColourKey const& i_key) { return QString(i_key.fixedDefault); };
    QStringList const l_before = Colours(l_applied, l_stored);
    QStringList const l_defaults = Colours(defaultPalette, l_fixed);
    QList<QString> l_storedBefore;
    for (ColourKey const& l_key : c_keys)
        l_storedBefore << GetSetting(l_key.key);

    // Opened: the live palette and the stored colours; the invalid one shows its default.
    QPointer<ColorSelectionDialog> lp_dialog = new ColorSelectionDialog;
    QStringList l_opened = l_before;
    l_opened.last() = "#339933";
    QCOMPARE(Swatches(lp_dialog), l_opened);
    // Reset, then closed: nothing is stored or applied.
    lp_dialog->Form()->resetToDefaultsButton->click();
    QCOMPARE(Swatches(lp_dialog), l_defaults);
    lp_dialog->close();
    FreeDeleted();
    QVERIFY(!lp_dialog);
    for (ColourKey const& l_key : c_keys)
        QCOMPARE(GetSetting(l_key.key), l_storedBefore.takeFirst());
    QCOMPARE(QApplication::palette(), l_applied);

    // Reset, then saved: all fourteen in their order, the palette applied, the dialog gone.
    QList<char const*> l_keys;
    QStringList l_writes;
    for (int l_index = 0; l_index < int(std::size(c_keys)); ++l_index)
    {
        l_keys << c_keys[l_index].key;
        l_writes << QString(c_keys[l_index].key) + "=" + l_defaults[l_index];
    }
    SettingWrites l_written(l_keys);
    lp_dialog = new ColorSelectionDialog;
    lp_dialog->Form()->resetToDefaultsButton->click();
    lp_dialog->Form()->saveColorsButton->click();
    FreeDeleted();
    QVERIFY(!lp_dialog);
    QCOMPARE(l_written.m_writes, l_writes);
    QCOMPARE(Colours(QApplication::palette(), l_fixed), l_defaults);
    QApplication::setPalette(l_applied);
}

void TestSettingsDialogs::colourPicker()
{
    SetSetting("color_chat_username", "#123456");
    QPointer<ColorSelectionDialog> lp_dialog = new ColorSelectionDialog;
    Ui_ColorSelectionDialog* const ui = lp_dialog->Form();
    QString const l_failedBefore = GetSetting("color_transfer_failed");

    QColor l_offered;
    AnswerNextPicker(QColor(255, 10, 71), &l_offered);
    ui->transferFailedButton->click();
    QCOMPARE(l_offered.name(), l_failedBefore);
    // A cancelled picker leaves the swatch as it was; nothing is stored before Save.
    AnswerNextPicker(QColor(), &l_offered);
    ui->chatUsernameButton->click();
    QCOMPARE(ColorSelectionDialog::SwatchColor(ui->chatUsernameColor).name(), QStringLiteral("#123456"));
    QCOMPARE(GetSetting("color_transfer_failed"), l_failedBefore);
    ui->saveColorsButton->click();
    QCOMPARE(GetSetting("color_transfer_failed"), QStringLiteral("#ff0a47"));
    QCOMPARE(GetSetting("color_chat_username"), QStringLiteral("#123456"));
}

void TestSettingsDialogs::usernameAndPassword()
{
    SetSetting("username", "old");
    SetSetting("password", "secret");
    // User, password typed; accepted; then stored user and password.
    struct Case
    {
        char const* user;
        char const* password;
        bool accepted;
        char const* stored;
    } const l_cases[] = {
        {"  ann  ", " pw 1\t", true, "ann|pw 1"},
        {"   ", "pw", false, "ann|pw 1"},
        {"bob", "  ", false, "ann|pw 1"},
        {" ann", "", true, "ann|pw 1"},
    };
    for (Case const& l_case : l_cases)
    {
        QString const l_shown = GetSetting("username");
        QPointer<ChangeUsernamePasswordDialog> lp_dialog = new ChangeUsernamePasswordDialog(false);
        Ui_ChangeUsernamePasswordDialog* const ui = lp_dialog->Form();
        QCOMPARE(lp_dialog->windowTitle(), QStringLiteral("Change Username/Password"));
        QCOMPARE(ui->usernameEdit->text(), l_shown);
        QCOMPARE(ui->passwordEdit->text(), QString());
        QCOMPARE(ui->passwordEdit->echoMode(), QLineEdit::Password);
        lp_dialog->show();
        ui->usernameEdit->setText(l_case.user);
        ui->passwordEdit->setText(l_case.password);
        ui->buttonBox->button(QDialogButtonBox::Ok)->click();
        FreeDeleted();
        QCOMPARE(GetSetting("username") + "|" + GetSetting("password"), QString(l_case.stored));
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

    // The first-start variant belongs to its caller, which runs it modally.
    for (bool l_accept : {false, true})
    {
        ChangeUsernamePasswordDialog l_dialog(true, nullptr);
        QCOMPARE(l_dialog.windowTitle(), QStringLiteral("Set Username/Password"));
        QCOMPARE(l_dialog.Form()->passwordEdit->echoMode(), QLineEdit::Password);
        QTimer::singleShot(0, &l_dialog, [&l_dialog, l_accept] {
            l_dialog.Form()->usernameEdit->setText(" carol ");
            l_dialog.Form()->buttonBox->button(l_accept ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
        });
        QCOMPARE(l_dialog.exec(), l_accept ? int(QDialog::Accepted) : int(QDialog::Rejected));
        FreeDeleted();
        QCOMPARE(GetSetting("username"), l_accept ? QStringLiteral("carol") : QStringLiteral("ann"));
    }
}

void TestSettingsDialogs::listeningPort()
{
    SetSetting("listening_port", "2234");
    QString const l_invalid = "Invalid Port Number|Port number must be in the range of 1 to 65535.";
    QString const l_same = "Port Number Not Changed|Port number has not been changed.";
    QString const l_pending =
        "Change to Listening Port Pending|Changes to the listening port will take effect after a client restart.";
    // Typed, the box shown, then the pending port stored.
    struct Case
    {
        QString typed;
        QString box;
        char const* stored;
    } const l_cases[] = {
        {"", l_invalid, ""},         {"65536", l_invalid, ""},      {"99999", l_invalid, ""},
        {"2234", l_same, ""},        {"4000", l_pending, "4000"},   {"2234", l_same, "4000"},
        {"65535", l_pending, "65535"}, {"1", l_pending, "1"},
    };
    for (Case const& l_case : l_cases)
    {
        QPointer<ChangeListeningPortDialog> lp_dialog = new ChangeListeningPortDialog;
        Ui_ChangeListeningPortDialog* const ui = lp_dialog->Form();
        QCOMPARE(ui->portEdit->text(), QStringLiteral("2234"));
        lp_dialog->show();
        ui->portEdit->setText(l_case.typed);
        QString l_seen;
        AnswerNextBox(&l_seen);
        ui->buttonBox->button(QDialogButtonBox::Ok)->click();
        FreeDeleted();
        QCOMPARE(l_seen, l_case.box);
        QCOMPARE(GetSetting("new_listening_port"), QString(l_case.stored));
        QCOMPARE(lp_dialog.isNull(), l_case.box == l_pending);
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
    // Wide enough for the title beside a frame's buttons; the field spans the width.
    lp_dialog->show();
    QVERIFY(lp_dialog->width() > lp_dialog->fontMetrics().horizontalAdvance(lp_dialog->windowTitle()) + 60);
    QVERIFY(lp_edit->width() > lp_dialog->width() * 3 / 4 && lp_edit->geometry().right() < lp_dialog->width());
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
