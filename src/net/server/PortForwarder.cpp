#include "net/server/PortForwarder.h"

#include "store/Log.h"

#include <QHostAddress>
#include <QMetaObject>
#include <QTcpSocket>

PortForwarder* portForwarder = nullptr;

PortForwarder::PortForwarder() : m_initialised(false), m_services(*this)
{
    portForwarder = this;
    m_thread.setObjectName(QStringLiteral("UPnP"));
    m_services.moveToThread(&m_thread);
    m_thread.start();
}

PortForwarder::~PortForwarder()
{
    // Bring the services back first: an object must not outlive the event loop of the
    // thread it lives in. The blocking call also waits for the running operation.
    QThread* lp_here = QThread::currentThread();
    ThreadedServices* lp_services = &m_services;
    QMetaObject::invokeMethod(
        lp_services, [lp_services, lp_here]() { lp_services->moveToThread(lp_here); },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    if (portForwarder == this)
        portForwarder = nullptr;
}

void PortForwarder::Init()
{
    ThreadedServices* lp_services = &m_services;
    QMetaObject::invokeMethod(
        lp_services, [lp_services]() { lp_services->Init(); }, Qt::QueuedConnection);
}

void PortForwarder::Rediscover()
{
    ThreadedServices* lp_services = &m_services;
    QMetaObject::invokeMethod(
        lp_services, [lp_services]() { lp_services->Rediscover(); }, Qt::QueuedConnection);
}

void PortForwarder::AddPortMapping(QTcpSocket* i_socket, int i_port)
{
    Q_ASSERT(i_socket != nullptr);
    if (i_port < 1 || i_port > 65535)
        return;
    QString const l_address = i_socket->localAddress().toString();
    ThreadedServices* lp_services = &m_services;
    QMetaObject::invokeMethod(
        lp_services,
        [lp_services, l_address, i_port]() { lp_services->AddPortMapping(l_address, i_port); },
        Qt::QueuedConnection);
}

void PortForwarder::RemovePortMapping(int i_port)
{
    ThreadedServices* lp_services = &m_services;
    QMetaObject::invokeMethod(
        lp_services, [lp_services, i_port]() { lp_services->RemovePortMapping(i_port); },
        Qt::QueuedConnection);
}

void PortForwarder::InitFromDescription(QString const& i_descriptionUrl)
{
    ThreadedServices* lp_services = &m_services;
    QMetaObject::invokeMethod(
        lp_services,
        [lp_services, i_descriptionUrl]() { lp_services->InitFromDescription(i_descriptionUrl); },
        Qt::QueuedConnection);
}

void PortForwarder::SetDiscoveryOptions(int i_delayMs, QString const& i_multicastInterface)
{
    ThreadedServices* lp_services = &m_services;
    QMetaObject::invokeMethod(
        lp_services,
        [lp_services, i_delayMs, i_multicastInterface]()
        { lp_services->SetDiscoveryOptions(i_delayMs, i_multicastInterface); },
        Qt::QueuedConnection);
}

void PortForwarder::SetDiscoverFunction(ThreadedServices::DiscoverFunction ip_discover)
{
    ThreadedServices* lp_services = &m_services;
    QMetaObject::invokeMethod(
        lp_services,
        [lp_services, ip_discover]() { lp_services->SetDiscoverFunction(ip_discover); },
        Qt::QueuedConnection);
}

void PortForwarder::LogLines(QStringList const& i_lines)
{
    for (QString const& l_line : i_lines)
        Log(QString::fromLatin1(LogArea::PortForwarding), 1, l_line);
}
