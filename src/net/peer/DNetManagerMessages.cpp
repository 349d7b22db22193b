#include "net/peer/DNetManager.h"

#include "net/peer/DNetLog.h"
#include "net/peer/PeerMessenger.h"
#include "net/server/Server.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <limits>

// --- Building and forwarding ------------------------------------------------------------

MemStream DNetManager::LevelMessage(int i_level)
{
    MemStream l_message;
    l_message.Write(static_cast<unsigned char>(DN_LEVEL));
    l_message.Write(i_level);
    return l_message;
}

MemStream DNetManager::GroupLeaderMessage(QString const& i_leader)
{
    MemStream l_message;
    l_message.Write(static_cast<unsigned char>(DN_GROUP_LEADER));
    l_message.Write(i_leader);
    return l_message;
}

int DNetManager::LevelBelow(std::int32_t i_level)
{
    if (i_level == -1)
        return -1;
    // The deepest level there can be stays where it is instead of wrapping around.
    if (i_level == std::numeric_limits<std::int32_t>::max())
        return i_level;
    return i_level + 1;
}

QByteArray DNetManager::FrameOf(MemStream const& i_message, std::uint64_t i_from)
{
    std::uint64_t const l_end = i_message.GetWriteIndex();
    std::uint64_t const l_length = l_end > i_from ? l_end - i_from : 0;
    QByteArray l_frame(qsizetype(4 + l_length), Qt::Uninitialized);
    qToLittleEndian<std::uint32_t>(std::uint32_t(l_length), l_frame.data());
    if (l_length)
        std::memcpy(l_frame.data() + 4, i_message.GetBuffer() + i_from, l_length);
    return l_frame;
}

void DNetManager::SendMessageToChildren(MemStream& i_message, std::uint64_t i_from)
{
    ItemSet const l_children = d["dnet_child"]->GetItems();
    if (l_children.empty())
        return;
    // One frame, shared by every child's write buffer.
    QByteArray const l_frame = FrameOf(i_message, i_from);
    for (ItemPtr const& l_child : l_children)
    {
        auto* lp_socket = l_child.AsPtr<QTcpSocket>();
        // A child that stopped reading would otherwise keep every search forwarded.
        if (PeerMessenger::ExceedsUnsentLimit(lp_socket, std::uint64_t(l_frame.size())))
            DropStalledChild(lp_socket, l_child["user"]);
        else
            lp_socket->write(l_frame);
    }
}

// --- Parent, candidates and server ---------------------------------------------------------

void DNetManager::OnDNetMessage(MemStream& i_message)
{
    HandleMessage(nullptr, i_message);
}

bool DNetManager::HandleMessage(QTcpSocket* ip_socket, MemStream& i_message)
{
    // Forwarded messages start at their code byte: a relayed one sits behind the
    // server's own code.
    std::uint64_t const l_start = i_message.GetReadIndex();
    // A short field ends the message; a socket that sent it is closed.
    auto const l_fail = [this, ip_socket]
    {
        if (!ip_socket)
            return true;
        CloseParentSocket(ip_socket);
        return false;
    };

    unsigned char l_code = 0;
    if (!i_message.Read(l_code))
    {
        DNetLog(1,
                QStringLiteral("Error reading message code, closing parent/candidate connection"));
        return l_fail();
    }

    ItemPtr l_candidate;
    if (ip_socket)
    {
        bool l_isKnown = false;
        if (HasParent())
            l_isKnown = IsParentSocket(ip_socket);
        else
        {
            l_candidate = d["dnet_parent_candidate"]->HasItem(Value(ip_socket));
            l_isKnown = l_candidate.IsNotNull();
        }
        if (!l_isKnown)
        {
            DropSocket(ip_socket);
            return false;
        }
    }
    bool const l_fromParent = ip_socket && !l_candidate;

    switch (l_code)
    {
    case DN_LEVEL:
    {
        ItemPtr const l_stored = StateValue("dnet_level");
        int const l_current = l_stored ? l_stored.AsInt() : -1;
        std::int32_t l_read = 0;
        if (!i_message.Read(l_read))
            return l_fail();
        int const l_level = LevelBelow(l_read);
        if (l_candidate)
        {
            if (l_level != -1)
                l_candidate += d["dnet_candidate_level"]->GetItem(Value(l_level));
        }
        else if (l_fromParent && l_level != l_current)
        {
            DNetLog(1, QString("Received level from parent, updating to %1").arg(l_level));
            if (l_level == -1)
                ClearState("dnet_level");
            else
                SetState("dnet_level", Value(l_level));
            gp_server->SendDNetLevel(l_level);
            MemStream l_message = LevelMessage(l_level);
            SendMessageToChildren(l_message);
        }
        return true;
    }
    case DN_GROUP_LEADER:
    {
        QString l_leader;
        if (!i_message.Read(l_leader))
            return l_fail();
        if (l_candidate)
            l_candidate += d["dnet_candidate_leader"]->GetItem(Value(l_leader));
        else if (l_fromParent && l_leader != StateValue("dnet_group_leader").AsString())
        {
            DNetLog(1, QString("Received group leader from parent, updating to %1").arg(l_leader));
            SetState("dnet_group_leader", Value(l_leader));
            gp_server->SendDNetGroupLeader(l_leader);
            SendMessageToChildren(i_message, l_start);
        }
        return true;
    }
    case DN_SEARCH:
    {
        std::uint32_t l_subCode = 0;
        if (!i_message.Read(l_subCode))
            return l_fail();
        if (l_subCode != c_searchSubCode)
        {
            SendMessageToChildren(i_message, l_start);
            return true;
        }
        QString l_user;
        std::uint32_t l_req = 0;
        QString l_searchText;
        if (!i_message.Read(l_user) || !i_message.Read(l_req) || !i_message.Read(l_searchText))
            return l_fail();
        emit DNetSearchRequest(l_user, l_req, l_searchText);
        if (ip_socket && !HasParent())
        {
            if (ItemPtr const l_sender = d["dnet_parent_candidate"]->HasItem(Value(ip_socket)))
                AdoptCandidate(ip_socket, l_sender);
        }
        SendMessageToChildren(i_message, l_start);
        return true;
    }
    default:
        return true;
    }
}

void DNetManager::AdoptCandidate(QTcpSocket* ip_socket, ItemPtr i_candidate)
{
    ItemPtr const l_user = i_candidate["user"];
    QString const l_name = l_user.AsString();
    SetState("dnet_parent_user", Value(l_name));
    SetState("dnet_parent_socket", Value(ip_socket));
    DNetLog(1,
            QString("Received first search request from parent candidate %1, adopting as parent.")
                .arg(l_name),
            l_user);

    if (ItemPtr const l_level = i_candidate["dnet_candidate_level"])
    {
        DNetLog(2, QString("Level recorded as %1.").arg(l_level.AsString()), l_user);
        SetState("dnet_level", l_level.GetValue());
        gp_server->SendDNetLevel(l_level.AsInt());
        MemStream l_message = LevelMessage(l_level.AsInt());
        SendMessageToChildren(l_message);
    }

    QString const l_leader = i_candidate["dnet_candidate_leader"].AsString();
    DNetLog(2, QString("Group leader recorded as %1.").arg(l_leader), l_user);
    SetState("dnet_group_leader", Value(l_leader));
    gp_server->SendDNetGroupLeader(l_leader);
    MemStream l_message = GroupLeaderMessage(l_leader);
    SendMessageToChildren(l_message);

    // The adopted socket keeps its wiring and is the parent's from now on.
    for (ItemPtr const& l_other : d["dnet_parent_candidate"]->GetItems())
    {
        QTcpSocket* const lp_socket = l_other.AsPtr<QTcpSocket>();
        l_other.Remove();
        if (lp_socket != ip_socket)
            DropSocket(lp_socket);
    }

    gp_server->SendDNetHasParent(true);
}

// --- Children ------------------------------------------------------------------------------

bool DNetManager::HandleChildMessage(QTcpSocket* ip_socket, MemStream& i_message)
{
    unsigned char l_code = 0;
    if (!i_message.Read(l_code))
    {
        DNetLog(1, QStringLiteral("Error reading message code, closing child connection"));
        CloseChildSocket(ip_socket);
        return false;
    }
    ItemPtr const l_child = d["dnet_child"]->HasItem(Value(ip_socket));
    if (!l_child)
    {
        DropSocket(ip_socket);
        return false;
    }
    ItemPtr const l_user = l_child["user"];
    DNetLog(1, QString("Received message from child, code %1").arg(l_code), l_user);
    if (l_code != DN_CHILD_DEPTH)
        return true;

    // Signed: a report of all bits set is -1, which gives no depth of our own.
    std::int32_t l_depth = 0;
    if (!i_message.Read(l_depth))
    {
        CloseChildSocket(ip_socket);
        return false;
    }
    DNetLog(1, QString("Received child depth %1 from %2").arg(l_depth).arg(l_user.AsString()),
            l_user);
    // The own depth is worked out in 64-bit: the deepest report plus one stays exact.
    l_child += d["dnet_child_depth"]->GetItem(Value(l_depth));
    DetermineChildDepth();
    return true;
}

void DNetManager::DetermineChildDepth()
{
    std::int64_t const l_current = StateValue("dnet_child_depth").AsInt64();
    std::int64_t l_depth = 0;
    for (ItemPtr const& l_child : d["dnet_child"]->GetItems())
        if (ItemPtr const l_reported = l_child["dnet_child_depth"])
            l_depth = std::max<std::int64_t>(l_depth, l_reported.AsInt64() + 1);
    if (l_depth == l_current)
        return;

    DNetLog(1, QString("New child depth is %1").arg(l_depth));
    if (l_depth == 0)
        ClearState("dnet_child_depth");
    else
        SetState("dnet_child_depth", Value(static_cast<long long>(l_depth)));
    if (l_depth != 0)
        gp_server->SendChildDepth(true);
}
