#pragma once

// The main window's widget tree, written by hand in the shape a form file would give:
// setupUi builds every widget under its object name, retranslateUi sets every text. The
// members point at widgets owned by their Qt parents; this object owns nothing.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpacerItem>
#include <QSpinBox>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWidget>

class ActionSetToolBar;
class DiagnosticsForm;
class MainWindow;
class RoomTabWidget;
class SearchForm;
class SharesForm;
class TabWidget;
class TransfersForm;
class UserListForm;

class Ui_MainWindow
{
public:
    QAction* action_Connect;
    QAction* action_Disconnect;
    QAction* action_Data;
    QWidget* centralWidget;
    QGridLayout* gridLayout_2;
    TabWidget* tabControl;

    QWidget* transfersTab;
    QHBoxLayout* horizontalLayout_6;
    TransfersForm* transfersForm;

    QWidget* roomsTab;
    QHBoxLayout* horizontalLayout;
    QSplitter* roomSplitter;
    TabWidget* roomsTabControl;
    QTreeWidget* roomList;

    QWidget* chatTab;
    QHBoxLayout* horizontalLayout_2;
    RoomTabWidget* chatTabControl;

    QWidget* searchTab;
    QVBoxLayout* verticalLayout_2;
    SearchForm* searchForm;

    QWidget* tab_2;
    QHBoxLayout* horizontalLayout_8;
    UserListForm* userListForm;

    QWidget* sharesTab;
    QHBoxLayout* horizontalLayout_7;
    SharesForm* sharesForm;

    QWidget* optionsTab;
    QHBoxLayout* horizontalLayout_4;
    TabWidget* optionsTabControl;

    QWidget* loginOptionsTab;
    QPushButton* connectButton;
    QLabel* label_2;
    QLineEdit* usernameEdit;
    QLabel* label_4;
    QLineEdit* listeningPortEdit;
    QLabel* obfuscatedPortLabel;
    QCheckBox* uPnPCheckBox;

    QWidget* fileSharingOptionsTab;
    QHBoxLayout* horizontalLayout_11;
    QVBoxLayout* verticalLayout;
    QHBoxLayout* horizontalLayout_5;
    QLabel* label_3;
    QLineEdit* downloadFolderEdit;
    QLabel* downloadFolderSpacer;
    QLabel* label;
    QTreeWidget* sharedFoldersList;
    QCheckBox* acceptUserListUploadsCheckBox;
    QCheckBox* emptyShareWarningCheckBox;
    QHBoxLayout* horizontalLayout_9;
    QLineEdit* emptyShareWarningEdit;
    QPushButton* saveEmptyShareWarningMessageButton;
    QHBoxLayout* horizontalLayout_10;
    QLabel* label_6;
    QSpinBox* maxUploadsPerUserSpinBox;
    QSpacerItem* horizontalSpacer;

    QWidget* tab_3;
    QCheckBox* minimizeToTrayCheckBox;
    QCheckBox* autoExpandSharesCheckBox;
    QLabel* label_5;
    QComboBox* chatTimestampsBox;
    QPushButton* selectColorsButton;
    QCheckBox* logRoomChatCheckBox;
    QCheckBox* logPrivateChatCheckBox;
    QLabel* label_7;
    QComboBox* codePageBox;

    QWidget* tab;
    QHBoxLayout* horizontalLayout_3;
    DiagnosticsForm* diagnosticsForm;

    ActionSetToolBar* mainToolBar;

    // Builds the whole tree on the window, sets the texts, makes the form's own
    // connections and shows the "Rooms" page first.
    void setupUi(MainWindow* ip_window);
    void retranslateUi(MainWindow* ip_window);

private:
    void SetupPages();
    void SetupOptions();
    void SetupLoginPage();
    void SetupFileSharingPage();
    void SetupGeneralPage();
    void Connect(MainWindow* ip_window);
};
