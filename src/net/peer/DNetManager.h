#pragma once

// This client's place in the distributed search tree. The server proposes possible
// parents; the client connects to each, keeps the open connections as candidates and
// adopts the first one that delivers a search, closing the others. Other clients
// connect to it as children. From the parent it learns its level and group leader,
// reports them to the server and passes them on to its children; from the children it
// learns their depth. Every search that arrives (from the parent, a candidate or the
// server) is handed to the share index by DNetSearchRequest and forwarded to every
// child.
//
// The "D" connections are opened by the PeerMessenger and handed over here; from then
// on their frames (u32 length, payload starting with a one-byte code) are read and
// written here, never masked. The tree state lives in the store (dnet_global keys),
// none of it saved.
//
// The implementation is split by responsibility:
//   DNetManager.cpp          construction, state keys, server notices, possible
//                            parents, the can-parent decision, login
//   DNetManagerSockets.cpp   taking sockets over, reading frames, closing
//   DNetManagerMessages.cpp  messages from parent, candidates, server and children,
//                            adoption, child depth, forwarding
//
// GUI thread only.

#include "net/server/MemStream.h"
#include "net/server/Server.h"
#include "store/Data.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpSocket>

#include <cstdint>
#include <list>
#include <utility>

class DNetManager : public QObject, public DataHandler
{
    Q_OBJECT

public:
    // Message codes on "D" connections (and in server message 93).
    enum MessageCode : unsigned char
    {
        DN_SEARCH = 3,
        DN_LEVEL = 4,
        DN_GROUP_LEADER = 5,
        DN_CHILD_DEPTH = 7
    };
    // The search sub-code whose fields are read; others are only passed on.
    static constexpr std::uint32_t c_searchSubCode = 49;
    // A frame announcing a longer payload ends its connection; exactly this is read.
    static constexpr std::uint32_t c_maxFrameLength = 10485760;

    // Needs gp_server, peerMessenger and the `user` and settings types; sets dnetManager.
    DNetManager();
    // Frees every socket still held and forgets its record.
    ~DNetManager() override;

    // Decides from the server's figures and the own upload speed whether children can
    // be accepted, and tells the server when that changed.
    void DetermineCanParent();
    // Own depth from the children's reports; tells the server when it changed.
    void DetermineChildDepth();
    // A message from the parent, a candidate or (null socket) the server. False when
    // the socket was closed or refused: nothing more is read from it.
    bool HandleMessage(QTcpSocket* ip_socket, MemStream& i_message);
    // A message from a child; false as above.
    bool HandleChildMessage(QTcpSocket* ip_socket, MemStream& i_message);
    // Frames the message (its bytes from i_from to the write index) and writes the same
    // frame to every child.
    void SendMessageToChildren(MemStream& i_message, std::uint64_t i_from = 0);

    // Capacity of the receive stream shared by all "D" sockets (for diagnostics).
    std::uint64_t ReceiveBufferCapacity() const { return m_receiveStream.GetBufferCapacity(); }
    // Last can-parent status sent to the server.
    bool LastCanParentStatus() const { return m_canParent; }

    // Store handler: the own upload speed changed.
    void OnReceivedOwnUploadSpeed(ItemPtr i_setting);

public slots:
    void OnDNetParentMinSpeed(int i_speed);
    void OnDNetParentSpeedConnectionRatio(int i_ratio);
    void OnDNetPossibleParents(std::list<std::pair<QString, TCPAddress>>& i_parentList);
    void OnDNetMessage(MemStream& i_message);
    void OnDNetDeliveryReport(int i_req);
    void OnDNetReset();
    void OnDNetConnectionAccepted(QString i_user, QTcpSocket* ip_socket);
    void OnSocketReadyToRead();
    void OnSocketError(QAbstractSocket::SocketError i_error);
    void OnSocketClosed();
    void OnConnected();
    void OnDNetConnectionRequested(QString i_user, QTcpSocket* ip_socket);
    void OnChildSocketReadyToRead();
    void OnChildSocketError(QAbstractSocket::SocketError i_error);
    void OnChildSocketClosed();

signals:
    void DNetSearchRequest(QString i_user, quint32 i_req, QString i_searchText);

private:
    // --- State keys (dnet_global -> dnet_value) ------------------------------------
    static ItemPtr StateValue(char const* ip_key);
    static void SetState(char const* ip_key, Value const& i_value);
    static void ClearState(char const* ip_key);
    static bool HasParent();
    static bool IsParentSocket(QTcpSocket* ip_socket);

    // --- Sockets -----------------------------------------------------------------
    // Reads every complete frame the socket holds and hands each to its handler.
    void ReadFrames(QTcpSocket* ip_socket, bool i_isChild);
    // Reads what arrived before the socket was handed over, once the event loop runs.
    void ReadPendingLater(QTcpSocket* ip_socket, bool i_isChild);
    // The closing steps of a parent or candidate socket, and of a child socket.
    void ParentSocketClosed(QTcpSocket* ip_socket);
    void ChildSocketClosed(QTcpSocket* ip_socket);
    // Runs the socket's closing steps and closes it (a short or malformed message).
    void CloseParentSocket(QTcpSocket* ip_socket);
    void CloseChildSocket(QTcpSocket* ip_socket);
    // A child whose unsent bytes would pass the per-connection limit: lost, and ended.
    void DropStalledChild(QTcpSocket* ip_socket, ItemPtr i_user);
    // Disconnects the socket from this, closes it and releases it (no closing steps).
    void DropSocket(QTcpSocket* ip_socket);
    void WireParentSocket(QTcpSocket* ip_socket);
    void WireChildSocket(QTcpSocket* ip_socket);

    // --- Messages ------------------------------------------------------------------
    void AdoptCandidate(QTcpSocket* ip_socket, ItemPtr i_candidate);
    // The level and leader messages as built here: code byte and field.
    static MemStream LevelMessage(int i_level);
    static MemStream GroupLeaderMessage(QString const& i_leader);
    // The level one below the given one (-1 stays -1), without overflow.
    static int LevelBelow(std::int32_t i_level);
    // The frame of bytes [i_from, write index) of the message.
    static QByteArray FrameOf(MemStream const& i_message, std::uint64_t i_from = 0);

    // Every frame read from any "D" socket lands here; handled before the next is read.
    MemStream m_receiveStream;
    std::int32_t m_parentMinSpeed = -1;
    std::int32_t m_parentSpeedConnectionRatio = -1;
    bool m_canParent = false;
};

extern DNetManager* dnetManager;
