#include "app/Ui_MainWindow.h"

#include "app/MainWindow.h"
#include "ui/dialogs/DiagnosticsForm.h"
#include "ui/search/SearchForm.h"
#include "ui/transfers/TransfersForm.h"
#include "ui/users/SharesForm.h"
#include "ui/users/UserListForm.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/RoomTabWidget.h"
#include "widgets/TabWidget.h"

#include <QCoreApplication>
#include <QIcon>

namespace
{
// A page of the main tabs or of the options tabs: its layout with the form's spacing and
// margins.
template <class Layout> Layout* PageLayout(QWidget* ip_page, char const* i_name)
{
    Layout* const lp_layout = new Layout(ip_page);
    lp_layout->setSpacing(6);
    lp_layout->setContentsMargins(11, 11, 11, 11);
    lp_layout->setObjectName(QString::fromLatin1(i_name));
    return lp_layout;
}

template <class Widget> Widget* Named(Widget* ip_widget, char const* i_name)
{
    ip_widget->setObjectName(QString::fromLatin1(i_name));
    return ip_widget;
}

template <class Widget> Widget* Placed(Widget* ip_widget, char const* i_name, int i_x, int i_y,
                                       int i_width, int i_height)
{
    ip_widget->setGeometry(QRect(i_x, i_y, i_width, i_height));
    return Named(ip_widget, i_name);
}

QString Tr(char const* i_text)
{
    return QCoreApplication::translate("MainWindow", i_text);
}
} // namespace

void Ui_MainWindow::setupUi(MainWindow* ip_window)
{
    ip_window->setObjectName(QStringLiteral("MainWindow"));
    ip_window->resize(1000, 600);
    ip_window->setWindowIcon(QIcon(QStringLiteral(":/icons/offline_icon")));
    ip_window->setDockNestingEnabled(true);

    action_Connect = Named(new QAction(ip_window), "action_Connect");
    action_Disconnect = Named(new QAction(ip_window), "action_Disconnect");
    action_Disconnect->setEnabled(false);
    action_Data = Named(new QAction(ip_window), "action_Data");
    action_Data->setVisible(true);

    centralWidget = Named(new QWidget(ip_window), "centralWidget");
    gridLayout_2 = PageLayout<QGridLayout>(centralWidget, "gridLayout_2");
    tabControl = Named(new TabWidget(centralWidget), "tabControl");
    gridLayout_2->addWidget(tabControl, 0, 0, 1, 1);

    SetupPages();

    ip_window->setCentralWidget(centralWidget);
    mainToolBar = Named(new ActionSetToolBar(ip_window), "mainToolBar");
    mainToolBar->setContextMenuPolicy(Qt::NoContextMenu);
    mainToolBar->setMovable(false);
    mainToolBar->setIconSize(QSize(16, 16));
    mainToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    ip_window->addToolBar(Qt::TopToolBarArea, mainToolBar);

    retranslateUi(ip_window);
    Connect(ip_window);

    tabControl->setCurrentIndex(1);
    roomsTabControl->setCurrentIndex(-1);
    optionsTabControl->setCurrentIndex(0);
    QMetaObject::connectSlotsByName(ip_window);
}

void Ui_MainWindow::SetupPages()
{
    transfersTab = Named(new QWidget, "transfersTab");
    horizontalLayout_6 = PageLayout<QHBoxLayout>(transfersTab, "horizontalLayout_6");
    transfersForm = Named(new TransfersForm(transfersTab), "transfersForm");
    horizontalLayout_6->addWidget(transfersForm);
    tabControl->addTab(transfersTab, QString());

    roomsTab = Named(new QWidget, "roomsTab");
    horizontalLayout = PageLayout<QHBoxLayout>(roomsTab, "horizontalLayout");
    roomSplitter = Named(new QSplitter(roomsTab), "roomSplitter");
    roomSplitter->setOrientation(Qt::Horizontal);
    roomsTabControl = Named(new TabWidget(roomSplitter), "roomsTabControl");
    roomsTabControl->setIconSize(QSize(16, 18));
    roomsTabControl->setTabsClosable(true);
    roomSplitter->addWidget(roomsTabControl);
    roomList = Named(new QTreeWidget(roomSplitter), "roomList");
    roomList->setColumnCount(2);
    roomList->setIconSize(QSize(16, 11));
    roomList->setRootIsDecorated(false);
    roomList->setItemsExpandable(false);
    roomList->setSortingEnabled(true);
    roomSplitter->addWidget(roomList);
    horizontalLayout->addWidget(roomSplitter);
    tabControl->addTab(roomsTab, QString());

    chatTab = Named(new QWidget, "chatTab");
    horizontalLayout_2 = PageLayout<QHBoxLayout>(chatTab, "horizontalLayout_2");
    chatTabControl = Named(new RoomTabWidget(chatTab), "chatTabControl");
    chatTabControl->setTabsClosable(true);
    horizontalLayout_2->addWidget(chatTabControl);
    tabControl->addTab(chatTab, QString());

    searchTab = Named(new QWidget, "searchTab");
    verticalLayout_2 = PageLayout<QVBoxLayout>(searchTab, "verticalLayout_2");
    searchForm = Named(new SearchForm(searchTab), "searchForm");
    verticalLayout_2->addWidget(searchForm);
    tabControl->addTab(searchTab, QString());

    tab_2 = Named(new QWidget, "tab_2");
    horizontalLayout_8 = PageLayout<QHBoxLayout>(tab_2, "horizontalLayout_8");
    userListForm = Named(new UserListForm(tab_2), "userListForm");
    horizontalLayout_8->addWidget(userListForm);
    tabControl->addTab(tab_2, QString());

    sharesTab = Named(new QWidget, "sharesTab");
    horizontalLayout_7 = PageLayout<QHBoxLayout>(sharesTab, "horizontalLayout_7");
    sharesForm = Named(new SharesForm(sharesTab), "sharesForm");
    horizontalLayout_7->addWidget(sharesForm);
    tabControl->addTab(sharesTab, QString());

    optionsTab = Named(new QWidget, "optionsTab");
    horizontalLayout_4 = PageLayout<QHBoxLayout>(optionsTab, "horizontalLayout_4");
    SetupOptions();
    horizontalLayout_4->addWidget(optionsTabControl);
    tabControl->addTab(optionsTab, QString());

    tab = Named(new QWidget, "tab");
    horizontalLayout_3 = PageLayout<QHBoxLayout>(tab, "horizontalLayout_3");
    diagnosticsForm = Named(new DiagnosticsForm(tab), "diagnosticsForm");
    horizontalLayout_3->addWidget(diagnosticsForm);
    tabControl->addTab(tab, QString());
}

void Ui_MainWindow::SetupOptions()
{
    optionsTabControl = Named(new TabWidget(optionsTab), "optionsTabControl");
    optionsTabControl->setTabShape(QTabWidget::Triangular);
    SetupLoginPage();
    SetupFileSharingPage();
    SetupGeneralPage();
}

void Ui_MainWindow::SetupLoginPage()
{
    loginOptionsTab = Named(new QWidget, "loginOptionsTab");
    QWidget* const lp_page = loginOptionsTab;
    connectButton = Placed(new QPushButton(lp_page), "connectButton", 20, 20, 91, 23);
    label_2 = Placed(new QLabel(lp_page), "label_2", 30, 70, 91, 16);
    usernameEdit = Placed(new QLineEdit(lp_page), "usernameEdit", 150, 70, 191, 20);
    usernameEdit->setReadOnly(true);
    label_4 = Placed(new QLabel(lp_page), "label_4", 30, 110, 101, 16);
    listeningPortEdit = Placed(new QLineEdit(lp_page), "listeningPortEdit", 150, 110, 101, 20);
    listeningPortEdit->setReadOnly(true);
    obfuscatedPortLabel =
        Placed(new QLabel(lp_page), "obfuscatedPortLabel", 150, 140, 751, 16);
    uPnPCheckBox = Placed(new QCheckBox(lp_page), "uPnPCheckBox", 50, 170, 101, 17);
    optionsTabControl->addTab(loginOptionsTab, QString());
}

void Ui_MainWindow::SetupFileSharingPage()
{
    fileSharingOptionsTab = Named(new QWidget, "fileSharingOptionsTab");
    horizontalLayout_11 = PageLayout<QHBoxLayout>(fileSharingOptionsTab, "horizontalLayout_11");
    verticalLayout = Named(new QVBoxLayout, "verticalLayout");
    verticalLayout->setSpacing(6);

    horizontalLayout_5 = Named(new QHBoxLayout, "horizontalLayout_5");
    horizontalLayout_5->setSpacing(6);
    label_3 = Named(new QLabel(fileSharingOptionsTab), "label_3");
    label_3->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    horizontalLayout_5->addWidget(label_3);
    downloadFolderEdit = Named(new QLineEdit(fileSharingOptionsTab), "downloadFolderEdit");
    downloadFolderEdit->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    downloadFolderEdit->setMaximumWidth(500);
    downloadFolderEdit->setReadOnly(true);
    horizontalLayout_5->addWidget(downloadFolderEdit);
    downloadFolderSpacer = Named(new QLabel(fileSharingOptionsTab), "downloadFolderSpacer");
    horizontalLayout_5->addWidget(downloadFolderSpacer);
    verticalLayout->addLayout(horizontalLayout_5);

    label = Named(new QLabel(fileSharingOptionsTab), "label");
    verticalLayout->addWidget(label);
    sharedFoldersList = Named(new QTreeWidget(fileSharingOptionsTab), "sharedFoldersList");
    sharedFoldersList->setColumnCount(2);
    verticalLayout->addWidget(sharedFoldersList);
    acceptUserListUploadsCheckBox =
        Named(new QCheckBox(fileSharingOptionsTab), "acceptUserListUploadsCheckBox");
    verticalLayout->addWidget(acceptUserListUploadsCheckBox);
    emptyShareWarningCheckBox =
        Named(new QCheckBox(fileSharingOptionsTab), "emptyShareWarningCheckBox");
    verticalLayout->addWidget(emptyShareWarningCheckBox);

    horizontalLayout_9 = Named(new QHBoxLayout, "horizontalLayout_9");
    horizontalLayout_9->setSpacing(6);
    emptyShareWarningEdit = Named(new QLineEdit(fileSharingOptionsTab), "emptyShareWarningEdit");
    horizontalLayout_9->addWidget(emptyShareWarningEdit);
    saveEmptyShareWarningMessageButton =
        Named(new QPushButton(fileSharingOptionsTab), "saveEmptyShareWarningMessageButton");
    saveEmptyShareWarningMessageButton->setEnabled(false);
    horizontalLayout_9->addWidget(saveEmptyShareWarningMessageButton);
    verticalLayout->addLayout(horizontalLayout_9);

    horizontalLayout_10 = Named(new QHBoxLayout, "horizontalLayout_10");
    horizontalLayout_10->setSpacing(6);
    label_6 = Named(new QLabel(fileSharingOptionsTab), "label_6");
    horizontalLayout_10->addWidget(label_6);
    maxUploadsPerUserSpinBox =
        Named(new QSpinBox(fileSharingOptionsTab), "maxUploadsPerUserSpinBox");
    maxUploadsPerUserSpinBox->setRange(0, 99999);
    horizontalLayout_10->addWidget(maxUploadsPerUserSpinBox);
    horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    horizontalLayout_10->addItem(horizontalSpacer);
    verticalLayout->addLayout(horizontalLayout_10);

    horizontalLayout_11->addLayout(verticalLayout);
    optionsTabControl->addTab(fileSharingOptionsTab, QString());
}

void Ui_MainWindow::SetupGeneralPage()
{
    tab_3 = Named(new QWidget, "tab_3");
    QWidget* const lp_page = tab_3;
    minimizeToTrayCheckBox =
        Placed(new QCheckBox(lp_page), "minimizeToTrayCheckBox", 20, 20, 321, 17);
    autoExpandSharesCheckBox =
        Placed(new QCheckBox(lp_page), "autoExpandSharesCheckBox", 20, 50, 331, 17);
    label_5 = Placed(new QLabel(lp_page), "label_5", 22, 82, 111, 16);
    chatTimestampsBox = Placed(new QComboBox(lp_page), "chatTimestampsBox", 150, 82, 123, 20);
    chatTimestampsBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    selectColorsButton =
        Placed(new QPushButton(lp_page), "selectColorsButton", 20, 120, 221, 23);
    logRoomChatCheckBox = Placed(new QCheckBox(lp_page), "logRoomChatCheckBox", 20, 170, 321, 17);
    logPrivateChatCheckBox =
        Placed(new QCheckBox(lp_page), "logPrivateChatCheckBox", 20, 200, 321, 17);
    label_7 = Placed(new QLabel(lp_page), "label_7", 20, 240, 321, 16);
    codePageBox = Placed(new QComboBox(lp_page), "codePageBox", 300, 240, 151, 22);
    optionsTabControl->addTab(tab_3, QString());
}

void Ui_MainWindow::retranslateUi(MainWindow* ip_window)
{
    ip_window->setWindowTitle(Tr("KestruneQt"));
    action_Connect->setText(Tr("&Connect"));
    action_Disconnect->setText(Tr("&Disconnect"));
    action_Data->setText(Tr("&Data"));

    char const* const c_pageTitles[] = {"Transfers", "Rooms", "Chat", "Search",
                                        "Users", "Browse", "Options", "Diagnostics"};
    for (int l_page = 0; l_page < 8; ++l_page)
        tabControl->setTabText(l_page, Tr(c_pageTitles[l_page]));
    char const* const c_optionTitles[] = {"Login", "File Sharing", "General"};
    for (int l_page = 0; l_page < 3; ++l_page)
        optionsTabControl->setTabText(l_page, Tr(c_optionTitles[l_page]));

    connectButton->setText(Tr("Connect"));
    label_2->setText(Tr("Username"));
    label_4->setText(Tr("Listening port"));
    obfuscatedPortLabel->setText(Tr("Obfuscated port is..."));
    uPnPCheckBox->setText(Tr("use UPnP"));

    label_3->setText(Tr("Download Folder"));
    downloadFolderSpacer->setText(QString());
    label->setText(Tr("Shared Folders"));
    acceptUserListUploadsCheckBox->setText(Tr("Accept uploads from all user list users"));
    emptyShareWarningCheckBox->setText(
        Tr("Send warning message to downloading users with empty shares"));
    saveEmptyShareWarningMessageButton->setText(Tr("Save"));
    label_6->setText(Tr("Maximum number of queued uploads per user"));

    minimizeToTrayCheckBox->setText(Tr("Minimize to tray [Windows only]"));
    autoExpandSharesCheckBox->setText(Tr("Auto-expand newly browsed shares"));
    label_5->setText(Tr("Chat timestamps:"));
    chatTimestampsBox->clear();
    chatTimestampsBox->addItems({Tr("Activity based"), Tr("Per message (short)"),
                                 Tr("Per message (long)"), Tr("No timestamps")});
    selectColorsButton->setText(Tr("Select Application Colors"));
    logRoomChatCheckBox->setText(Tr("Log room chat"));
    logPrivateChatCheckBox->setText(Tr("Log private chat"));
    label_7->setText(Tr("Code Page to use to translate non-Unicode characters "));

    // The General page places its widgets by position: a label whose text is wider than
    // its place grows, and the box beside it moves right instead of covering the text.
    label_7->resize(qMax(label_7->width(), label_7->sizeHint().width()), label_7->height());
    codePageBox->move(qMax(300, label_7->geometry().right() + 8), codePageBox->y());
}

void Ui_MainWindow::Connect(MainWindow* ip_window)
{
    QObject::connect(roomList, &QTreeWidget::itemSelectionChanged, ip_window,
                     &MainWindow::OnRoomListItemSelectionChanged);
    QObject::connect(roomsTabControl, &QTabWidget::tabCloseRequested, ip_window,
                     &MainWindow::OnRoomTabClosed);
    QObject::connect(chatTabControl, &QTabWidget::tabCloseRequested, ip_window,
                     &MainWindow::OnChatTabClosed);
    QObject::connect(optionsTabControl, &QTabWidget::currentChanged, ip_window,
                     &MainWindow::OnOptionsTabSelectionChanged);
    QObject::connect(uPnPCheckBox, &QCheckBox::toggled, ip_window,
                     &MainWindow::OnUPnPCheckboxToggled);
    QObject::connect(minimizeToTrayCheckBox, &QCheckBox::toggled, ip_window,
                     &MainWindow::OnMinimizeToTrayCheckboxToggled);
    QObject::connect(autoExpandSharesCheckBox, &QCheckBox::toggled, ip_window,
                     &MainWindow::OnExpandNewSharesCheckboxToggled);
    QObject::connect(chatTimestampsBox, &QComboBox::currentIndexChanged, ip_window,
                     &MainWindow::OnChatTimestampsBoxIndexChanged);
    QObject::connect(selectColorsButton, &QPushButton::clicked, ip_window,
                     &MainWindow::OnSelectColors);
    QObject::connect(acceptUserListUploadsCheckBox, &QCheckBox::toggled, ip_window,
                     &MainWindow::OnAcceptUserlistUploadsCheckboxToggled);
}
