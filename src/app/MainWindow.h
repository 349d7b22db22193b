#pragma once

// The main window and the life of the client: Init creates every manager in a fixed
// order, declares the window's store types, writes the setting defaults, loads the store
// file, applies it to the window, connects to the server and wires the periodic work; the
// destructor saves the store once more and tears the managers down in a fixed order.
// It also shows the connection state (the Connect button, the window and tray icon),
// explains refused logins and opens the reports other components ask for.
//
// The implementation is split by responsibility:
//   MainWindow.cpp          construction, shut-down, the size proxy, the five-minute save
//   MainWindowInit.cpp      the start-up sequence
//   MainWindowDeclare.cpp   store types, action sets and store handlers of the window
//   MainWindowStatus.cpp    connection status, tray, alerts and report dialogs
//   MainWindowOptions.cpp   the options pages
//   MainWindowRoomList.cpp  the room list, room roles and room tabs
//   MainWindowSharedFolders.cpp  the shared-folder list
//   MainWindowPrivateChats.cpp   private chat tabs and the store browsers
//   MainWindowActions.cpp   the window's toolbar commands
//
// One instance, reached through mainWindow. GUI thread only.

#include "store/Data.h"
#include "ui/dialogs/DataDialog.h"
#include "ui/dialogs/TypeNavigatorDialog.h"
#include "ui/dialogs/UpdateChecker.h"
#include "widgets/ApplicationAlerts.h"
#include "widgets/ApplicationWindow.h"
#include "widgets/ResizableWindow.h"

#include <QMainWindow>
#include <QPalette>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QSystemTrayIcon>

#include <ctime>
#include <optional>

class ChatForm;
class QMoveEvent;
class QResizeEvent;
class QTreeWidgetItem;
class Server;
class Ui_MainWindow;

class MainWindow : public QMainWindow,
                   public DataHandler,
                   public ApplicationAlerts,
                   public ApplicationWindow
{
    Q_OBJECT

public:
    // Works on the window's geometry without the frame, for SizeManager.
    class SizeProxy : public ResizableWindow
    {
    public:
        explicit SizeProxy(MainWindow* ip_window) : mp_window(ip_window) {}
        int GetX() override;
        int GetY() override;
        int GetWidth() override;
        int GetHeight() override;
        void SetPosition(int i_x, int i_y) override;
        void SetSize(int i_width, int i_height) override;

    private:
        MainWindow* mp_window;
    };

    explicit MainWindow(QWidget* ip_parent = nullptr);
    ~MainWindow() override;

    // The start-up sequence; once, after the window is shown and before the event loop.
    void Init();

    // "KestruneQt build M/D/YYYY" for the build number YYYYMMDD.
    static QString BuildTitle(qint64 i_build);

    // --- Alerts (ApplicationAlerts) -----------------------------------------------
    void SetApplicationIcon(QString i_icon) override;
    void ResetApplicationIcon() override;
    void PopupAlert(QString i_text) override;
    bool IsApplicationActive() const override;

    // The widgets, for the forms and tests that reach the window's controls.
    Ui_MainWindow* Form() const { return ui; }
    QSystemTrayIcon& TrayIcon() { return m_trayIcon; }
    UpdateChecker& Updates() { return m_updateChecker; }

    // --- Private chats (MainWindowPrivateChats.cpp) ------------------------------------
    // The user's chat tab: the open one, or a new background tab, after which the
    // server is asked to report the user's status.
    ChatForm* GetChatForm(QString i_user);
    // The user's chat tab, brought forward with the focus.
    QWidget* WindowWidget() override { return this; }
    void OpenChatForm(QString i_user) override;
    // The store browsers, while open.
    DataDialog* StoreBrowser() const { return mp_dataDialog; }
    TypeNavigatorDialog* TypeBrowser() const { return mp_typeNavigator; }

public slots:
    // --- Periodic work --------------------------------------------------------------
    void EveryFiveMinutes();
    void EveryHalfMinute();

    // --- Connection status, tray and reports (MainWindowStatus.cpp) -----------------
    void OnConnecting();
    void OnConnected();
    void OnDisconnected();
    void OnConnectionFailed(QString i_reason);
    void OnConnectClicked();
    void OnDisconnectClicked();
    void OnTrayIconActivated(QSystemTrayIcon::ActivationReason i_reason);
    void OnSharedFilesRescanned(int i_filesAdded, int i_filesRemoved);
    void OnNewVersion(qint64 i_build, QString i_link, QStringList i_description);
    void OnRoomListItemSelectionChanged();
    void OnFocusChanged(QWidget* ip_old, QWidget* ip_now);

    // --- Options pages (MainWindowOptions.cpp) --------------------------------------
    void OnUPnPCheckboxToggled(bool i_checked);
    void OnMinimizeToTrayCheckboxToggled(bool i_checked);
    void OnExpandNewSharesCheckboxToggled(bool i_checked);
    void OnChatTimestampsBoxIndexChanged(int i_index);
    void OnSelectColors();
    void OnLogRoomChatCheckBoxClicked(bool i_checked);
    void OnLogPrivateChatCheckBoxClicked(bool i_checked);
    void OnEmptyShareWarningMessageCheckBoxClicked(bool i_checked);
    void OnEmptyShareWarningEditEdited(QString i_text);
    void OnSaveEmptyShareWarningMessageButtonClicked();
    void OnAcceptUserlistUploadsCheckboxToggled(bool i_checked);
    void OnMaxUploadsPerUserSpinBoxValueChanged(int i_value);
    void OnCodePageSelected(int i_index);
    void OnOptionsTabSelectionChanged(int i_index);
    void OnChangeUsernamePasswordClicked();

    // --- Room list, shared folders, private chats, actions --------------------------
    void OnRoomListItemDoubleClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnRoomListContextMenuRequested(QPoint i_point);
    void OnEnterRoom();
    void OnRoomTabClosed(int i_index);
    void OnPrivateRoomAddEnabled(bool i_enabled);
    void OnSharedFoldersListContextMenuRequested(QPoint i_point);
    void OnSetFolderPermissions();
    void OnUnshareFolder();
    void OnPrivateChat(QString i_user, QString i_chat, time_t i_time, bool i_spontaneous);
    void OnChatTabClosed(int i_index);
    void OnShowData();
    void OnTypeNavigator();
    void OnToolBarActionTriggered(QWidget* ip_widget, QString i_action);

protected:
    void moveEvent(QMoveEvent* ip_event) override;
    void resizeEvent(QResizeEvent* ip_event) override;

private:
    // --- Start-up steps (MainWindowInit.cpp) ----------------------------------------
    void WriteDefaults();
    void FillCodePageBox();
    void LoadStore();
    void ApplyColours();
    void AskForUsername();
    void SetOptionsControls();
    void SetChatOptionsControls();
    void RestoreSizes();

    // --- Declarations (MainWindowDeclare.cpp) ----------------------------------------
    void DeclareRoomTypes();
    void AddActionSets();
    void DeclareRecordTypes();
    void DeclareTabTypes();
    void DeclareLateTypes();

    // --- Store handlers (MainWindowOptions, RoomList, SharedFolders, PrivateChats) ----
    void OnUsernameChanged(ItemPtr i_setting);
    void OnNewListeningPortChanged(ItemPtr i_setting);
    void OnObfuscatedPortSet(ItemPtr i_setting);
    void ShowObfuscatedPort(int i_port);
    void OnRoomAdded(ItemPtr i_room);
    void OnRoomUserCountChanged(ItemPtr i_room);
    void OnBecomingRoomOwner(ItemPtr i_room);
    void OnBecomingRoomOperator(ItemPtr i_room);
    void OnBecomingRoomMember(ItemPtr i_room);
    void OnLosingRoomRole(ItemPtr i_room);
    void OnEnteredRoom(ConnectionInfo& i_info);
    void OnSharedFolderAdded(ItemPtr i_folder);
    void OnSharedFolderRemoved(ItemPtr i_folder);
    void OnSharedFolderChange(ConnectionInfo i_info);
    void OnUserOnline(ItemPtr i_user);
    void OnUserOffline(ItemPtr i_user);

    // --- Room list helpers (MainWindowRoomList.cpp) -------------------------------------
    // The room's row, or null when it has none.
    static QTreeWidgetItem* RoomRow(ItemPtr i_room);
    // Changes the styles of the row's name that are given, keeping the others.
    void ChangeRoomFont(ItemPtr i_room, std::optional<bool> i_italic,
                        std::optional<bool> i_underline, std::optional<bool> i_bold);
    // Checks, once the current event-loop pass is done (before the next paint), that the
    // rows whose role changed in that pass stand in order, and sorts the list if not.
    void ScheduleRoomListSort(QTreeWidgetItem* ip_row);
    void SortRoomList();

    // --- Shared-folder helpers (MainWindowSharedFolders.cpp) ---------------------------
    QTreeWidgetItem* SharedFolderRow(QString const& i_path) const;
    // The folder of the first selected row, when the store still has it.
    ItemPtr SelectedSharedFolder() const;

    // --- Toolbar commands (MainWindowActions.cpp) --------------------------------------
    void RefreshRoomList(QString const& i_key);
    void CreateRoom(QString const& i_key);
    void TogglePrivateRoomAdd(QString const& i_key);
    void ToggleRoomAutojoin(QString const& i_room);
    void OpenRoomChatLog(QString const& i_room);
    void GiveUpMembership(QString const& i_room);
    void GiveUpOwnership(QString const& i_room);
    void SetDownloadFolder(QString const& i_key);
    void ShareFolder(QString const& i_key);
    void RescanShares(QString const& i_key);
    void ChangeUsernamePassword(QString const& i_key);
    void ChangeListeningPort(QString const& i_key);
    void MessageUser(QString const& i_user);
    void BrowseUser(QString const& i_user);
    void AddUser(QString const& i_user);

    Ui_MainWindow* ui;
    // They delete themselves when closed.
    QPointer<DataDialog> mp_dataDialog;
    QPointer<TypeNavigatorDialog> mp_typeNavigator;
    Server* mp_server;
    SizeProxy m_sizeProxy;
    QSystemTrayIcon m_trayIcon;
    UpdateChecker m_updateChecker;
    // Rows whose role changed since the last check; empty when none is pending.
    QList<QTreeWidgetItem*> m_roomRowsToPlace;
};

extern MainWindow* mainWindow;
