#pragma once

// Scaffolding of the dialog tests: answering the modal box or picker a dialog is about to
// open, and recording the order in which settings are written.

#include "store/Data.h"
#include "store/Settings.h"

#include <QApplication>
#include <QColorDialog>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

namespace DialogTestKit
{
// Once a modal window of that class is up, hands it to the answer.
template <class Window, class Answer> void AnswerNext(Answer i_answer)
{
    QTimer::singleShot(0, [i_answer] {
        Window* lp_window = nullptr;
        if (QTest::qWaitFor([&] { return (lp_window = qobject_cast<Window*>(QApplication::activeModalWidget())); }, 2000))
            i_answer(lp_window);
    });
}

// Closes the next message box and records "title|text".
inline void AnswerNextBox(QString* op_seen)
{
    *op_seen = QStringLiteral("none");
    AnswerNext<QMessageBox>([op_seen](QMessageBox* ip_box) {
        *op_seen = ip_box->windowTitle() + "|" + ip_box->text();
        ip_box->done(QMessageBox::Ok);
    });
}

// Picks the colour in the next colour picker, or cancels it for an invalid one; records
// the colour it offered.
inline void AnswerNextPicker(QColor i_pick, QColor* op_offered)
{
    AnswerNext<QColorDialog>([i_pick, op_offered](QColorDialog* ip_picker) {
        *op_offered = ip_picker->currentColor();
        ip_picker->setCurrentColor(i_pick);
        i_pick.isValid() ? ip_picker->accept() : ip_picker->reject();
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
    void OnWrite(ItemPtr i_key) { m_writes << i_key.AsString() + "=" + i_key["global_value"].AsString(); }

    QStringList m_writes;
};
} // namespace DialogTestKit
