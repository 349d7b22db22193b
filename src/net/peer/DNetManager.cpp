#include "net/peer/DNetManager.h"

#include "net/peer/DNetLog.h"
#include "net/peer/PeerMessenger.h"
#include "store/Settings.h"

DNetManager* dnetManager = nullptr;

DNetManager::DNetManager() : QObject(nullptr)
{
    dnetManager = this;

    connect(gp_server, &Server::DNetParentMinSpeed, this, &DNetManager::OnDNetParentMinSpeed);
    connect(gp_server, &Server::DNetParentSpeedConnectionRatio, this,
            &DNetManager::OnDNetParentSpeedConnectionRatio);
    connect(gp_server, &Server::DNetPossibleParents, this, &DNetManager::OnDNetPossibleParents);
    connect(gp_server, &Server::DNetMessage, this, &DNetManager::OnDNetMessage);
    connect(gp_server, &Server::DNetDeliveryReport, this, &DNetManager::OnDNetDeliveryReport);
    connect(gp_server, &Server::DNetReset, this, &DNetManager::OnDNetReset);

    // A user once tried as a parent is not tried again in this run.
    d.NewType("attempted_dnet_connection", Tertiary, true, true);
    d["user"]->RelateToType(d["attempted_dnet_connection"], Many, One);

    connect(peerMessenger, &PeerMessenger::DNetConnectionAccepted, this,
            &DNetManager::OnDNetConnectionAccepted);
    connect(peerMessenger, &PeerMessenger::DNetConnectionRequested, this,
            &DNetManager::OnDNetConnectionRequested);
    connect(gp_server, &Server::Connected, this, &DNetManager::OnConnected);

    // The tree state, one value per key; children and candidates keyed by their socket.
    d.NewType("dnet_global", Primary, false, true);
    d.NewType("dnet_value", Tertiary, false, true);
    d.NewType("dnet_child", Primary, false, true);
    d.NewType("dnet_child_depth", Tertiary, false, true);
    d.NewType("dnet_parent_candidate", Primary, false, true);
    d.NewType("dnet_candidate_level", Tertiary, false, true);
    d.NewType("dnet_candidate_leader", Tertiary, false, true);

    d["dnet_global"]->RelateToType(d["dnet_value"], Many, One);
    d["dnet_child"]->RelateToType(d["user"], One, One);
    d["dnet_child"]->RelateToType(d["dnet_child_depth"], Many, One);
    d["dnet_parent_candidate"]->RelateToType(d["user"], Many, One);
    d["dnet_parent_candidate"]->RelateToType(d["dnet_candidate_level"], Many, One);
    d["dnet_parent_candidate"]->RelateToType(d["dnet_candidate_leader"], Many, One);

    WatchSetting("upload_speed", CreateHandler(this, &DNetManager::OnReceivedOwnUploadSpeed));
}

DNetManager::~DNetManager()
{
    RemoveDataHandlers();
    // Sockets handed over to this manager have no other owner.
    ItemSet const l_held = d["dnet_child"]->GetItems() + d["dnet_parent_candidate"]->GetItems();
    ItemPtr const l_parentSocket = StateValue("dnet_parent_socket");
    for (ItemPtr const& l_item : l_held)
        DropSocket(l_item.AsPtr<QTcpSocket>());
    if (l_parentSocket)
        DropSocket(l_parentSocket.AsPtr<QTcpSocket>());
    l_held.Remove();
    ClearState("dnet_parent_socket");
    ClearState("dnet_parent_user");
    if (dnetManager == this)
        dnetManager = nullptr;
}

// --- State keys ------------------------------------------------------------------------

ItemPtr DNetManager::StateValue(char const* ip_key)
{
    ItemPtr const l_key = d["dnet_global"]->HasItem(Value(ip_key));
    return l_key["dnet_value"];
}

void DNetManager::SetState(char const* ip_key, Value const& i_value)
{
    // The relation holds one value per key: a new one replaces the old.
    d["dnet_global"]->GetItem(Value(ip_key)) += d["dnet_value"]->GetItem(i_value);
}

void DNetManager::ClearState(char const* ip_key)
{
    if (ItemPtr const l_key = d["dnet_global"]->HasItem(Value(ip_key)))
        l_key.Disconnect("dnet_value");
}

bool DNetManager::HasParent()
{
    return StateValue("dnet_parent_user").IsNotNull();
}

bool DNetManager::IsParentSocket(QTcpSocket* ip_socket)
{
    ItemPtr const l_socket = StateValue("dnet_parent_socket");
    return l_socket && l_socket.GetValue() == Value(ip_socket);
}

// --- Server notices --------------------------------------------------------------------

void DNetManager::OnDNetParentMinSpeed(int i_speed)
{
    m_parentMinSpeed = i_speed;
    DNetLog(1, QString("Received parent min speed %1, currently not processing").arg(i_speed));
    DetermineCanParent();
}

void DNetManager::OnDNetParentSpeedConnectionRatio(int i_ratio)
{
    m_parentSpeedConnectionRatio = i_ratio;
    DNetLog(1, QString("Received parent speed connection ratio %1, currently not processing")
                   .arg(i_ratio));
    DetermineCanParent();
}

void DNetManager::OnDNetDeliveryReport(int i_req)
{
    DNetLog(1, QString("Received DNet delivery report request, req %1").arg(i_req));
}

void DNetManager::OnDNetReset()
{
    DNetLog(1, QStringLiteral("Received DNet reset request"));
}

void DNetManager::OnReceivedOwnUploadSpeed(ItemPtr)
{
    DetermineCanParent();
}

void DNetManager::DetermineCanParent()
{
    if (m_parentMinSpeed == -1 || m_parentSpeedConnectionRatio == -1 || !HasSetting("upload_speed"))
        return;
    DNetLog(1, QStringLiteral("Determining whether we can accept child connections."));

    // 64-bit throughout: the server's figures and the speed are 32-bit numbers whose
    // products leave the 32-bit range for fast connections.
    std::int64_t const l_speed = GetSetting("upload_speed").toLongLong();
    bool l_status = false;
    if (l_speed < std::int64_t(m_parentMinSpeed) * 1024)
        DNetLog(2, QStringLiteral("Below minimum parent speed, so no."));
    else
    {
        // A ratio of 0 or less leaves room for no child at all.
        std::int64_t const l_capacity =
            m_parentSpeedConnectionRatio > 0
                ? (l_speed * 10 / 1024) / std::int64_t(m_parentSpeedConnectionRatio)
                : 0;
        std::int64_t const l_count = std::int64_t(d["dnet_child"]->GetItemCount());
        DNetLog(2, QString("Currently have %1 child connections, max capacity %2")
                       .arg(l_count)
                       .arg(l_capacity));
        l_status = l_capacity > l_count;
    }

    if (l_status == m_canParent)
    {
        DNetLog(2, QStringLiteral("No status change, not notifying."));
        return;
    }
    m_canParent = l_status;
    DNetLog(2, QStringLiteral("Status changed, sending notification."));
    gp_server->SendDNetCanParent(l_status);
}

void DNetManager::OnDNetPossibleParents(std::list<std::pair<QString, TCPAddress>>& i_parentList)
{
    if (HasParent())
    {
        DNetLog(1,
                QStringLiteral(
                    "Received possible parents list, but already have a parent. Not processing."));
        return;
    }
    DNetLog(1, QString("Received possible parents list, %1 entries").arg(i_parentList.size()));

    for (auto const& [l_name, l_address] : i_parentList)
    {
        ItemPtr const l_user = d["user"]->GetItem(Value(l_name));
        if (l_user.IsConnected("attempted_dnet_connection"))
        {
            DNetLog(2, QString("Already attempted parent connection to %1, skipping").arg(l_name),
                    l_user);
            continue;
        }
        DNetLog(2, QString("Attempting parent connection to %1").arg(l_name), l_user);
        l_user += d["user_address"]->GetItem(Value(l_address.m_address));
        l_user += d["user_port"]->GetItem(Value(l_address.m_port));
        l_user.NewItem("attempted_dnet_connection");
        peerMessenger->RequestDNetConnection(l_name);
    }
}

void DNetManager::OnConnected()
{
    if (HasParent())
        gp_server->SendDNetHasParent(true);
    // The server forgot what it was told: only a true status is worth announcing again.
    m_canParent = false;
    if (ItemPtr const l_leader = StateValue("dnet_group_leader"))
        gp_server->SendDNetGroupLeader(l_leader.AsString());
    if (ItemPtr const l_level = StateValue("dnet_level"))
        gp_server->SendDNetLevel(l_level.AsInt());
    DetermineCanParent();
}
