#pragma once

// Scaffolding for tests of the whole client: store files seeded with settings, an
// answerer for the modal windows the client opens, and child processes for scenarios
// that need a fresh process (the store's types exist once per process).

#include "support/StoreFileBytes.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTextDocument>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <utility>

namespace ShellTestKit
{
using Settings = QList<QPair<QByteArray, QByteArray>>;

// Settings that keep a client under test on this machine: no UPnP discovery (it
// multicasts to the local network) and a version check aimed at a closed loopback port.
// A test that names one of these keys itself wins.
inline Settings WithLoopbackOnly(Settings i_settings)
{
    Settings const l_guards = {{"use_upnp", "no"}, {"web_host", "127.0.0.1"}, {"web_port", "1"}};
    for (auto const& l_guard : l_guards)
        if (std::none_of(i_settings.cbegin(), i_settings.cend(),
                         [&](auto const& l_setting) { return l_setting.first == l_guard.first; }))
            i_settings.append(l_guard);
    return i_settings;
}

// A store file holding the settings, the loopback guards and nothing else.
inline QByteArray SettingsStoreFile(Settings const& i_settings)
{
    Section l_keys{"global", false, {}};
    Section l_values{"global_value", false, {}};
    QList<QPair<qint32, qint32>> l_pairs;
    qint32 l_id = 1;
    for (auto const& l_setting : WithLoopbackOnly(i_settings))
    {
        l_keys.m_items.append({l_id, l_setting.first});
        l_values.m_items.append({l_id + 1, l_setting.second});
        l_pairs.append({l_id, l_id + 1});
        l_id += 2;
    }
    return StoreFile({l_keys, l_values}, l_pairs);
}

inline QString StorePath(QString const& i_home)
{
    return i_home + QStringLiteral("/.Kestrune");
}

// A text as a widget of the format shows it to the reader: markup, where the widget reads
// it as such, rendered away. A name typed with tags then loses them.
inline QString ShownText(QString const& i_text, Qt::TextFormat i_format = Qt::AutoText)
{
    if (i_format == Qt::PlainText || (i_format == Qt::AutoText && !Qt::mightBeRichText(i_text)))
        return i_text;
    QTextDocument l_document;
    l_document.setHtml(i_text);
    return l_document.toPlainText();
}

// While it lives, every visible message box is recorded and closed with OK, and every
// visible user-name dialog is recorded and answered: filled in and accepted when a name
// is given, cancelled otherwise. Polls from the event loop, so it also answers inside the
// modal loops that opened them.
class ModalAnswerer : public QObject
{
public:
    struct Window
    {
        QString m_title;
        QString m_text;
        bool operator==(Window const& i_other) const
        {
            return m_title == i_other.m_title && m_text == i_other.m_text;
        }
    };

    explicit ModalAnswerer(QString i_user = QString(), QString i_password = QString())
        : m_user(std::move(i_user)), m_password(std::move(i_password))
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::Poll);
        m_timer.start(10);
    }

    // The answers to the user name dialogs from now on; an empty user cancels them.
    void SetLogin(QString i_user, QString i_password) { m_user = i_user, m_password = i_password; }
    QList<Window> const& Boxes() const { return m_boxes; }
    QStringList const& DialogTitles() const { return m_dialogTitles; }
    void Clear()
    {
        m_boxes.clear();
        m_dialogTitles.clear();
    }

private:
    void Poll()
    {
        for (QWidget* lp_window : QApplication::topLevelWidgets())
        {
            if (!lp_window->isVisible())
                continue;
            if (QMessageBox* const lp_box = qobject_cast<QMessageBox*>(lp_window))
            {
                m_boxes.append({lp_box->windowTitle(), ShownText(lp_box->text(), lp_box->textFormat())});
                lp_box->done(QMessageBox::Ok);
            }
            else if (QDialog* const lp_dialog = qobject_cast<QDialog*>(lp_window);
                     lp_dialog && lp_dialog->inherits("ChangeUsernamePasswordDialog"))
            {
                m_dialogTitles.append(lp_dialog->windowTitle());
                if (m_user.isEmpty())
                {
                    lp_dialog->reject();
                    continue;
                }
                // The password field is named so, or hides what is typed.
                for (QLineEdit* lp_field : lp_dialog->findChildren<QLineEdit*>())
                {
                    bool const l_isPassword =
                        lp_field->objectName().contains(QLatin1String("password"), Qt::CaseInsensitive) ||
                        lp_field->echoMode() != QLineEdit::Normal;
                    lp_field->setText(l_isPassword ? m_password : m_user);
                }
                lp_dialog->accept();
            }
        }
    }

    QString m_user;
    QString m_password;
    QList<Window> m_boxes;
    QStringList m_dialogTitles;
    QTimer m_timer;
};

struct ChildResult
{
    int m_exitCode = -1;
    QByteArray m_output;
};

// Runs this test program again with the one test function, in a home folder of its own,
// and returns its exit code and output. The variable tells main() to run the child
// scenarios instead of the tests.
inline ChildResult RunChild(QString const& i_function, QString const& i_home,
                            QProcessEnvironment i_extra = QProcessEnvironment())
{
    QProcess l_child;
    QProcessEnvironment l_environment = QProcessEnvironment::systemEnvironment();
    l_environment.insert(QStringLiteral("HOME"), i_home);
    l_environment.insert(QStringLiteral("KESTRUNE_TEST_CHILD"), QStringLiteral("1"));
    for (QString const& l_key : i_extra.keys())
        l_environment.insert(l_key, i_extra.value(l_key));
    l_child.setProcessEnvironment(l_environment);
    l_child.setProcessChannelMode(QProcess::MergedChannels);
    l_child.start(QCoreApplication::applicationFilePath(), {i_function});
    ChildResult l_result;
    if (!l_child.waitForFinished(120000))
    {
        l_child.kill();
        l_child.waitForFinished();
    }
    l_result.m_output = l_child.readAll();
    l_result.m_exitCode =
        l_child.exitStatus() == QProcess::NormalExit ? l_child.exitCode() : -1;
    return l_result;
}

inline bool IsChild()
{
    return qEnvironmentVariableIsSet("KESTRUNE_TEST_CHILD");
}
} // namespace ShellTestKit

// Fails the calling test with the child's output when the child failed.
#define QVERIFY_CHILD(result)                                                                  \
    QVERIFY2((result).m_exitCode == 0, (result).m_output.constData())
