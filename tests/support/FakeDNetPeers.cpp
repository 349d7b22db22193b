#include "support/FakeDNetPeers.h"

#include <QTest>

namespace DNetPayloads
{
QByteArray Level(qint32 level)
{
    return FakePeer::U8(4) + FakePeer::U32(quint32(level));
}

QByteArray GroupLeader(QByteArray const& leader)
{
    return FakePeer::U8(5) + FakePeer::Text(leader);
}

QByteArray Search(QByteArray const& user, quint32 req, QByteArray const& text)
{
    return FakePeer::U8(3) + FakePeer::U32(49) + FakePeer::Text(user) + FakePeer::U32(req) +
           FakePeer::Text(text);
}

QByteArray OtherSearch(quint32 subCode, QByteArray const& rest)
{
    return FakePeer::U8(3) + FakePeer::U32(subCode) + rest;
}

QByteArray ChildDepth(quint32 depth)
{
    return FakePeer::U8(7) + FakePeer::U32(depth);
}
} // namespace DNetPayloads

bool FakeDNetCandidate::WaitForClientInit(QByteArray const& clientUser, int timeoutMs)
{
    return WaitForAccepted(timeoutMs) && WaitForFrames(1, timeoutMs) &&
           Frames().first() == InitPayload(clientUser, "D");
}

bool FakeDNetChild::Join(quint16 port, QByteArray const& user, QByteArray const& after)
{
    return ConnectTo(port) && Send(PlainFrame(InitPayload(user, "D")) + after);
}
