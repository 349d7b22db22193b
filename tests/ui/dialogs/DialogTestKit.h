#pragma once

// Scaffolding of the dialog tests: answering the modal boxes and pickers a dialog opens,
// and recording the order in which settings are written.

#include "store/Data.h"
#include "store/Settings.h"

#include <QApplication>
#include <QColorDialog>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

namespace DialogTestKit
{
// Closes the next message box with OK once it is up, and records "title|text" (or
// "none" when no box came).
inline void AnswerNextBox(QString* op_seen)
{
    *op_seen = QStringLiteral("none");
    QTimer::singleShot(0, [op_seen] {
        QMessageBox* lp_box = nullptr;
        if (!QTest::qWaitFor(
                [&] { return (lp_box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())); },
                2000))
            return;
        *op_seen = lp_box->windowTitle() + "|" + lp_box->text();
        lp_box->done(QMessageBox::Ok);
    });
}

// Answers the next colour picker: picks the colour, or cancels for an invalid one.
inline void AnswerNextPicker(QColor i_pick, QColor* op_offered)
{
    QTimer::singleShot(0, [i_pick, op_offered] {
        QColorDialog* lp_picker = nullptr;
        if (!QTest::qWaitFor(
                [&] { return (lp_picker = qobject_cast<QColorDialog*>(QApplication::activeModalWidget())); },
                2000))
            return;
        *op_offered = lp_picker->currentColor();
        if (i_pick.isValid())
        {
            lp_picker->setCurrentColor(i_pick);
            lp_picker->accept();
        }
        else
            lp_picker->reject();
    });
}

// Records each write of the watched settings as "key=value", in order.
class SettingWrites : public DataHandler
{
public:
    explicit SettingWrites(QList<char const*> const& i_keys)
    {
        for (char const* lp_key : i_keys)
            WatchSetting(lp_key, CreateHandler(this, &SettingWrites::OnWrite));
    }
    ~SettingWrites() override { RemoveDataHandlers(); }

    QStringList m_writes;

private:
    void OnWrite(ItemPtr i_key)
    {
        m_writes << i_key.AsString() + "=" + i_key["global_value"].AsString();
    }
};
} // namespace DialogTestKit
