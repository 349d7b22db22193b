#include "app/MainWindow.h"

#include "net/peer/DNetManager.h"
#include "net/peer/PeerMessenger.h"
#include "net/server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/DataSaver.h"
#include "store/DelayedInvoker.h"
#include "store/Log.h"
#include "store/TimerManager.h"
#include "transfers/TransferQueueManager.h"
#include "ui/dialogs/DataDialog.h"
#include "ui/dialogs/TypeNavigatorDialog.h"
#include "ui_MainWindow.h"
#include "widgets/EventToolBar.h"
#include "widgets/SizeManager.h"
#include "widgets/UIFunctions.h"

#include <QApplication>
#include <QHeaderView>
#include <QMoveEvent>
#include <QResizeEvent>

MainWindow* mainWindow = nullptr;

MainWindow::MainWindow(QWidget* ip_parent)
    : QMainWindow(ip_parent), ui(new Ui_MainWindow), mp_dataDialog(nullptr),
      mp_typeNavigator(nullptr), mp_server(nullptr), m_sizeProxy(this)
{
    mainWindow = this;
    applicationWindow = this;
    ui->setupUi(this);
    // The General page places its widgets by position: a label whose text is wider than
    // its place grows, and the box beside it moves right instead of covering the text.
    ui->label_7->resize(qMax(ui->label_7->width(), ui->label_7->sizeHint().width()),
                        ui->label_7->height());
    ui->codePageBox->move(qMax(300, ui->label_7->geometry().right() + 8), ui->codePageBox->y());
    connect(ui->roomList, &QTreeWidget::itemSelectionChanged, this,
            &MainWindow::OnRoomListItemSelectionChanged);
    connect(ui->roomsTabControl, &QTabWidget::tabCloseRequested, this,
            &MainWindow::OnRoomTabClosed);
    connect(ui->chatTabControl, &QTabWidget::tabCloseRequested, this, &MainWindow::OnChatTabClosed);
    connect(ui->optionsTabControl, &QTabWidget::currentChanged, this,
            &MainWindow::OnOptionsTabSelectionChanged);
    connect(ui->uPnPCheckBox, &QCheckBox::toggled, this, &MainWindow::OnUPnPCheckboxToggled);
    connect(ui->minimizeToTrayCheckBox, &QCheckBox::toggled, this,
            &MainWindow::OnMinimizeToTrayCheckboxToggled);
    connect(ui->autoExpandSharesCheckBox, &QCheckBox::toggled, this,
            &MainWindow::OnExpandNewSharesCheckboxToggled);
    connect(ui->chatTimestampsBox, &QComboBox::currentIndexChanged, this,
            &MainWindow::OnChatTimestampsBoxIndexChanged);
    connect(ui->selectColorsButton, &QPushButton::clicked, this, &MainWindow::OnSelectColors);
    connect(ui->acceptUserListUploadsCheckBox, &QCheckBox::toggled, this,
            &MainWindow::OnAcceptUserlistUploadsCheckboxToggled);
    SetApplicationIcon(QStringLiteral(":/icons/offline_icon"));

    ui->roomList->setColumnWidth(0, 150);
    ui->roomList->setColumnWidth(1, 30);
    ui->roomList->setHeaderLabels({tr("Room Name"), tr("Users")});
    ui->roomList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->roomList, &QWidget::customContextMenuRequested, this,
            &MainWindow::OnRoomListContextMenuRequested);
    ui->roomSplitter->setStretchFactor(0, 1);
    ui->roomSplitter->setStretchFactor(1, 0);

    ui->sharedFoldersList->setColumnWidth(0, 400);
    ui->sharedFoldersList->setHeaderLabels({tr("Shared folder"), tr("Accessible to")});
}

MainWindow::~MainWindow()
{
    g_showIsOver = true;
    // Widgets that go with the window below must not call back into a window that is
    // half gone: the application's focus changes reach this window and the event
    // toolbar (which calls the window's alerts) while the children are deleted.
    disconnect(qApp, nullptr, this, nullptr);
    delete eventToolBar;
    RemoveDataHandlers();

    delete mp_dataDialog;
    delete mp_typeNavigator;
    if (mp_server)
        mp_server->Disconnect();
    if (dataSaver)
    {
        d.RemoveDisconnectedItems();
        dataSaver->Save(DataSaver::StoreFilePath());
    }

    delete transferQueueManager;
    delete sharedFoldersManager;
    delete delayedInvoker;
    delete dnetManager;
    delete peerMessenger;
    delete mp_server;
    mp_server = nullptr;
    delete dataSaver;
    delete timerManager;
    delete ui;
    ui = nullptr;
    delete sizeManager;
    if (mainWindow == this)
        mainWindow = nullptr;
    if (applicationWindow == this)
        applicationWindow = nullptr;
}

QString MainWindow::BuildTitle(qint64 i_build)
{
    return QStringLiteral("KestruneQt build %1/%2/%3")
        .arg(i_build / 100 % 100)
        .arg(i_build % 100)
        .arg(i_build / 10000);
}

void MainWindow::EveryFiveMinutes()
{
    d.RemoveDisconnectedItems();
    QString const l_path = DataSaver::StoreFilePath();
    Log(LogArea::ConfigurationData, 1, QStringLiteral("Saving configuration data to %1").arg(l_path));
    dataSaver->Save(l_path);
}

void MainWindow::moveEvent(QMoveEvent* ip_event)
{
    QMainWindow::moveEvent(ip_event);
    // The geometry's corner, not the event's frame position: SetPosition places the
    // geometry, so a frame height would be added at every restart otherwise.
    if (!isMaximized())
        m_sizeProxy.EmitWindowMoved(geometry().x(), geometry().y());
}

void MainWindow::resizeEvent(QResizeEvent* ip_event)
{
    QMainWindow::resizeEvent(ip_event);
    if (!isMaximized())
        m_sizeProxy.EmitWindowResized(ip_event->size().width(), ip_event->size().height());
}

int MainWindow::SizeProxy::GetX()
{
    return mp_window->geometry().x();
}

int MainWindow::SizeProxy::GetY()
{
    return mp_window->geometry().y();
}

int MainWindow::SizeProxy::GetWidth()
{
    return mp_window->geometry().width();
}

int MainWindow::SizeProxy::GetHeight()
{
    return mp_window->geometry().height();
}

void MainWindow::SizeProxy::SetPosition(int i_x, int i_y)
{
    QRect const l_geometry = mp_window->geometry();
    mp_window->setGeometry(i_x, i_y, l_geometry.width(), l_geometry.height());
}

void MainWindow::SizeProxy::SetSize(int i_width, int i_height)
{
    QRect const l_geometry = mp_window->geometry();
    mp_window->setGeometry(l_geometry.x(), l_geometry.y(), i_width, i_height);
}
