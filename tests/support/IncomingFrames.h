#pragma once

// The central server's messages to the client, written byte by byte with FrameBuilder
// (never with the client's stream classes), one builder per message. Each returns the
// builder, so a test may append fields, take the Payload() or the Frame(), or cut the
// message short with Cut().
//
//     l_fake.Send(IncomingFrames::UserStatus("ann", 2, false).Frame());
//     l_fake.Send(IncomingFrames::Cut(IncomingFrames::UserAddress(...), 8));

#include "support/FrameBuilder.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace IncomingFrames
{
// A user's statistics as the server sends them.
struct Stats
{
    quint32 speed = 0;
    quint64 counter = 0;
    quint32 files = 0;
    quint32 folders = 0;
};

// One candidate parent of the distributed network (code 102).
struct Parent
{
    QString user;
    quint32 address = 0;
    qint32 port = 0;
};

// The u32 of a dotted address: the first number is the most significant byte, so on
// the wire (little-endian) it comes last: 127.0.0.1 travels as 01 00 00 7F.
quint32 IPv4(quint8 first, quint8 second, quint8 third, quint8 fourth);

// The frame of `message` cut after `payloadBytes` bytes of its payload (code included);
// the length prefix announces the shortened payload, as a server's short message does.
QByteArray Cut(FrameBuilder const& message, int payloadBytes);

// Appends helpers for fields the builders share.
FrameBuilder& AddStats(FrameBuilder& message, Stats const& stats);
FrameBuilder& AddI32List(FrameBuilder& message, QList<qint32> const& values);
FrameBuilder& AddStatsList(FrameBuilder& message, QList<Stats> const& stats);

// 3: user; address; i32 port; i32 obfuscation type; u16 obfuscated port.
FrameBuilder UserAddress(QString const& user, quint32 address, qint32 port,
                         qint32 obfuscationType, quint16 obfuscatedPort);
// 5: user; u8 exists; when exists: i32 status, statistics, and when the status is
// above 0 the country code.
FrameBuilder AddUserReply(QString const& user, bool exists, qint32 status = 0,
                          Stats const& stats = Stats(), QString const& country = QString());
// 7: user; i32 status; u8 privileged.
FrameBuilder UserStatus(QString const& user, qint32 status, bool privileged);
// 18: user; type; address; i32 port; u32 token; u8 privileged; i32 obfuscation type;
// the i32 obfuscated port only when the type is 1.
FrameBuilder PeerConnectionRequest(QString const& user, QString const& type, quint32 address,
                                   qint32 port, quint32 token, bool privileged,
                                   qint32 obfuscationType, qint32 obfuscatedPort = 0);
// 22: i32 id; i32 time; user; text; u8 spontaneous.
FrameBuilder PrivateChat(qint32 id, qint32 time, QString const& user, QString const& text,
                         bool spontaneous);
// 36: user; statistics.
FrameBuilder UserStatsReply(QString const& user, Stats const& stats);
// 69: set of user names.
FrameBuilder PrivilegedUsers(QStringList const& users);
// 83, 84, 92, 128: one i32. 104, 1001: one u32.
FrameBuilder I32Message(quint32 code, qint32 value);
FrameBuilder U32Message(quint32 code, quint32 value);
// 93: a distributed-network payload, carried as it is.
FrameBuilder DNetRelay(QByteArray const& body);
// 102: list of (user; address; i32 port).
FrameBuilder PossibleParents(QList<Parent> const& parents);
// 130.
FrameBuilder DNetReset();
// 153: search text; list of (term; i32 rank).
FrameBuilder SearchCorrelations(QString const& search,
                                QList<QPair<QString, qint32>> const& terms);

// 13: room; user; text.
FrameBuilder RoomChat(QString const& room, QString const& user, QString const& text);
// 14 of a public room: room; users; i32 list (one 0 per user); statistics; i32 list
// (one 0 per user); country codes. Append AddOwnerAndOperators for a private room.
FrameBuilder RoomJoined(QString const& room, QStringList const& users,
                        QList<Stats> const& stats, QStringList const& countries);
FrameBuilder& AddOwnerAndOperators(FrameBuilder& message, QString const& owner,
                                   QStringList const& operators);
// 16: room; user; i32 0; statistics; i32 0; country code.
FrameBuilder UserJoinedRoom(QString const& room, QString const& user, Stats const& stats,
                            QString const& country);
// 64: public rooms and their counts; owned rooms and counts; member rooms and counts;
// rooms in which this client is an operator.
FrameBuilder RoomList(QStringList const& publicRooms, QList<qint32> const& publicCounts,
                      QStringList const& ownedRooms, QList<qint32> const& ownedCounts,
                      QStringList const& memberRooms, QList<qint32> const& memberCounts,
                      QStringList const& operatedRooms);
// 15, 139, 140, 145, 146: room.
FrameBuilder RoomMessage(quint32 code, QString const& room);
// 17, 134, 135, 143, 144: room; user.
FrameBuilder RoomUserMessage(quint32 code, QString const& room, QString const& user);
// 133, 148: room; set of user names.
FrameBuilder RoomUsersMessage(quint32 code, QString const& room, QStringList const& users);
// 141: u8.
FrameBuilder PrivateRoomAddEnabled(quint8 enabled);
} // namespace IncomingFrames
