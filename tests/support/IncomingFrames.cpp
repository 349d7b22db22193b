#include "support/IncomingFrames.h"

namespace IncomingFrames
{
quint32 IPv4(quint8 first, quint8 second, quint8 third, quint8 fourth)
{
    return (quint32(first) << 24) | (quint32(second) << 16) | (quint32(third) << 8) |
           quint32(fourth);
}

QByteArray Cut(FrameBuilder const& message, int payloadBytes)
{
    return FrameBuilder::Framed(message.Payload().left(payloadBytes));
}

FrameBuilder& AddStats(FrameBuilder& message, Stats const& stats)
{
    return message.Stats(stats.speed, stats.counter, stats.files, stats.folders);
}

FrameBuilder& AddI32List(FrameBuilder& message, QList<qint32> const& values)
{
    message.U32(static_cast<quint32>(values.size()));
    for (qint32 l_value : values)
        message.I32(l_value);
    return message;
}

FrameBuilder& AddStatsList(FrameBuilder& message, QList<Stats> const& stats)
{
    message.U32(static_cast<quint32>(stats.size()));
    for (Stats const& l_stats : stats)
        AddStats(message, l_stats);
    return message;
}

FrameBuilder UserAddress(QString const& user, quint32 address, qint32 port,
                         qint32 obfuscationType, quint16 obfuscatedPort)
{
    FrameBuilder l_message(3);
    l_message.Str(user).U32(address).I32(port).I32(obfuscationType).U16(obfuscatedPort);
    return l_message;
}

FrameBuilder AddUserReply(QString const& user, bool exists, qint32 status, Stats const& stats,
                          QString const& country)
{
    FrameBuilder l_message(5);
    l_message.Str(user).U8(exists ? 1 : 0);
    if (exists) {
        l_message.I32(status);
        AddStats(l_message, stats);
        if (status > 0)
            l_message.Str(country);
    }
    return l_message;
}

FrameBuilder UserStatus(QString const& user, qint32 status, bool privileged)
{
    FrameBuilder l_message(7);
    l_message.Str(user).I32(status).U8(privileged ? 1 : 0);
    return l_message;
}

FrameBuilder PeerConnectionRequest(QString const& user, QString const& type, quint32 address,
                                   qint32 port, quint32 token, bool privileged,
                                   qint32 obfuscationType, qint32 obfuscatedPort)
{
    FrameBuilder l_message(18);
    l_message.Str(user).Str(type).U32(address).I32(port).U32(token).U8(privileged ? 1 : 0);
    l_message.I32(obfuscationType);
    if (obfuscationType == 1)
        l_message.I32(obfuscatedPort);
    return l_message;
}

FrameBuilder PrivateChat(qint32 id, qint32 time, QString const& user, QString const& text,
                         bool spontaneous)
{
    FrameBuilder l_message(22);
    l_message.I32(id).I32(time).Str(user).Str(text).U8(spontaneous ? 1 : 0);
    return l_message;
}

FrameBuilder UserStatsReply(QString const& user, Stats const& stats)
{
    FrameBuilder l_message(36);
    l_message.Str(user);
    AddStats(l_message, stats);
    return l_message;
}

FrameBuilder PrivilegedUsers(QStringList const& users)
{
    FrameBuilder l_message(69);
    l_message.StrList(users);
    return l_message;
}

FrameBuilder I32Message(quint32 code, qint32 value)
{
    FrameBuilder l_message(code);
    l_message.I32(value);
    return l_message;
}

FrameBuilder U32Message(quint32 code, quint32 value)
{
    FrameBuilder l_message(code);
    l_message.U32(value);
    return l_message;
}

FrameBuilder DNetRelay(QByteArray const& body)
{
    FrameBuilder l_message(93);
    l_message.Raw(body);
    return l_message;
}

FrameBuilder PossibleParents(QList<Parent> const& parents)
{
    FrameBuilder l_message(102);
    l_message.U32(static_cast<quint32>(parents.size()));
    for (Parent const& l_parent : parents)
        l_message.Str(l_parent.user).U32(l_parent.address).I32(l_parent.port);
    return l_message;
}

FrameBuilder DNetReset()
{
    return FrameBuilder(130);
}

FrameBuilder SearchCorrelations(QString const& search,
                                QList<QPair<QString, qint32>> const& terms)
{
    FrameBuilder l_message(153);
    l_message.Str(search).U32(static_cast<quint32>(terms.size()));
    for (auto const& l_term : terms)
        l_message.Str(l_term.first).I32(l_term.second);
    return l_message;
}

FrameBuilder RoomChat(QString const& room, QString const& user, QString const& text)
{
    FrameBuilder l_message(13);
    l_message.Str(room).Str(user).Str(text);
    return l_message;
}

FrameBuilder RoomJoined(QString const& room, QStringList const& users,
                        QList<Stats> const& stats, QStringList const& countries)
{
    QList<qint32> const l_zeros(users.size(), 0);
    FrameBuilder l_message(14);
    l_message.Str(room).StrList(users);
    AddI32List(l_message, l_zeros);
    AddStatsList(l_message, stats);
    AddI32List(l_message, l_zeros);
    l_message.StrList(countries);
    return l_message;
}

FrameBuilder& AddOwnerAndOperators(FrameBuilder& message, QString const& owner,
                                   QStringList const& operators)
{
    return message.Str(owner).StrList(operators);
}

FrameBuilder UserJoinedRoom(QString const& room, QString const& user, Stats const& stats,
                            QString const& country)
{
    FrameBuilder l_message(16);
    l_message.Str(room).Str(user).I32(0);
    AddStats(l_message, stats);
    l_message.I32(0).Str(country);
    return l_message;
}

FrameBuilder RoomList(QStringList const& publicRooms, QList<qint32> const& publicCounts,
                      QStringList const& ownedRooms, QList<qint32> const& ownedCounts,
                      QStringList const& memberRooms, QList<qint32> const& memberCounts,
                      QStringList const& operatedRooms)
{
    FrameBuilder l_message(64);
    l_message.StrList(publicRooms);
    AddI32List(l_message, publicCounts);
    l_message.StrList(ownedRooms);
    AddI32List(l_message, ownedCounts);
    l_message.StrList(memberRooms);
    AddI32List(l_message, memberCounts);
    l_message.StrList(operatedRooms);
    return l_message;
}

FrameBuilder RoomMessage(quint32 code, QString const& room)
{
    FrameBuilder l_message(code);
    l_message.Str(room);
    return l_message;
}

FrameBuilder RoomUserMessage(quint32 code, QString const& room, QString const& user)
{
    FrameBuilder l_message(code);
    l_message.Str(room).Str(user);
    return l_message;
}

FrameBuilder RoomUsersMessage(quint32 code, QString const& room, QStringList const& users)
{
    FrameBuilder l_message(code);
    l_message.Str(room).StrList(users);
    return l_message;
}

FrameBuilder PrivateRoomAddEnabled(quint8 enabled)
{
    FrameBuilder l_message(141);
    l_message.U8(enabled);
    return l_message;
}
} // namespace IncomingFrames
