// Saving colours recolours the transfer rows already shown, in the real transfers form.

#include "DialogTestKit.h"
#include "ui/transfers/TransfersTestEnv.h"

#include "ui/dialogs/ColorSelectionDialog.h"
#include "ui_ColorSelectionDialog.h"
#include "widgets/ApplicationWindow.h"

#include <QPointer>

using namespace TransfersTestEnv;

class TestColoursTransfers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp()); }
    void cleanupTestCase() { m_env.TearDown(); }
    void savedColoursReachShownRows();

private:
    TransfersFixture m_env;
};

void TestColoursTransfers::savedColoursReachShownRows()
{
    defaultPalette = QApplication::palette();
    SetSetting("color_transfer_queued", "#3366ff");
    SetSetting("color_transfer_complete", "#006400");
    m_env.Load();
    ItemPtr const l_queued = m_env.Download("bob", "music\\album", "one.mp3", 1000);
    ItemPtr const l_done = m_env.Download("bob", "music\\album", "two.mp3", 1000);
    m_env.SetStatus(l_done, "complete");
    QTreeWidgetItem* const lp_queued = RowOf(l_queued, "download_list_node");
    QTreeWidgetItem* const lp_done = RowOf(l_done, "download_list_node");
    QVERIFY(lp_queued && lp_done);
    QCOMPARE(lp_queued->foreground(0).color().name(), QStringLiteral("#3366ff"));

    QPointer<ColorSelectionDialog> lp_dialog = new ColorSelectionDialog;
    QColor l_offered;
    DialogTestKit::AnswerNextPicker(QColor(0x12, 0x34, 0x56), &l_offered);
    lp_dialog->Form()->transferQueuedButton->click();
    DialogTestKit::AnswerNextPicker(QColor(0xab, 0xcd, 0xef), &l_offered);
    lp_dialog->Form()->transferCompleteButton->click();
    QCOMPARE(l_offered.name(), QStringLiteral("#006400"));
    // Nothing changes before Save.
    QCOMPARE(lp_queued->foreground(0).color().name(), QStringLiteral("#3366ff"));
    lp_dialog->Form()->saveColorsButton->click();
    QCOMPARE(lp_queued->foreground(0).color().name(), QStringLiteral("#123456"));
    QCOMPARE(lp_done->foreground(0).color().name(), QStringLiteral("#abcdef"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!lp_dialog);
}

QTEST_MAIN(TestColoursTransfers)
#include "tst_colours_transfers.moc"
