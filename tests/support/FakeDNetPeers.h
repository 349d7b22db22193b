#pragma once

// Stand-ins for the client's neighbours in the distributed search tree, for tests on
// 127.0.0.1 only, next to the FakeServer that proposes them:
//   FakeDNetCandidate  a possible parent: listens; the client connects to it, sends its
//                      init frame, and then reads level, leader and search messages.
//   FakeDNetChild      a child: connects to the client's listening port with an init
//                      frame of type "D" and reports its depth.
// Their "D" messages are spelled out byte by byte here (never with the client's
// stream classes). On "D" connections a frame is a u32 little-endian payload length
// and the payload, which starts with a one-byte code; frames are never masked.
//
//     FakeDNetCandidate l_bob;
//     quint16 l_port = l_bob.Listen();
//     l_fake.Send(IncomingFrames::PossibleParents({{"bob", c_loopback, l_port}}).Frame());
//     QVERIFY(l_bob.WaitForClientInit("alice"));
//     l_bob.SendLevel(3);

#include "support/FakePeer.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

namespace DNetPayloads
{
// 4: i32 level.
QByteArray Level(qint32 level);
// 5: the group leader's name.
QByteArray GroupLeader(QByteArray const& leader);
// 3: u32 sub-code; for 49 the searching user, u32 request id and search text follow,
// for any other sub-code `rest` as it is.
QByteArray Search(QByteArray const& user, quint32 req, QByteArray const& text);
QByteArray OtherSearch(quint32 subCode, QByteArray const& rest);
// 7: u32 depth.
QByteArray ChildDepth(quint32 depth);
} // namespace DNetPayloads

class FakeDNetCandidate : public FakePeer
{
public:
    explicit FakeDNetCandidate(QObject* parent = nullptr) : FakePeer(parent) {}

    // The client connected and its first frame is an init frame of type "D" naming it.
    bool WaitForClientInit(QByteArray const& clientUser, int timeoutMs = 3000);
    // Frames the client sent after its init frame.
    QList<QByteArray> Messages() const { return Frames().mid(1); }

    bool SendLevel(qint32 level) { return Send(PlainFrame(DNetPayloads::Level(level))); }
    bool SendGroupLeader(QByteArray const& leader)
    {
        return Send(PlainFrame(DNetPayloads::GroupLeader(leader)));
    }
    bool SendSearch(QByteArray const& user, quint32 req, QByteArray const& text)
    {
        return Send(PlainFrame(DNetPayloads::Search(user, req, text)));
    }
};

class FakeDNetChild : public FakePeer
{
public:
    explicit FakeDNetChild(QObject* parent = nullptr) : FakePeer(parent) {}

    // Connects to the client's plain listening port and introduces itself as a "D"
    // connection from `user`; `after` goes out in the same write as the init frame.
    bool Join(quint16 port, QByteArray const& user, QByteArray const& after = QByteArray());
    bool SendDepth(quint32 depth) { return Send(PlainFrame(DNetPayloads::ChildDepth(depth))); }
};
