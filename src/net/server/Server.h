#pragma once

// The client's one connection to the central server: connecting, logging in, framing
// outgoing messages, cutting the incoming byte stream into messages for the
// dispatcher, keep-alive, reconnection after a drop, and the user and room item types
// that the rest of the client shares. One instance, reached through gp_server.
//
// Frames on this connection, both directions: u32 little-endian length L (counting
// the code and the fields, not itself), u32 message code, L - 4 bytes of fields.
//
// The implementation is split by responsibility:
//   Server.cpp          construction, state machine, framing, receive loop, login
//   ServerData.cpp      user and room item types, watched users, availability
//   ServerSend.cpp      one operation per outgoing message
//   ServerDispatch.cpp  HandleMessage: the switch over incoming codes

#include "net/server/MemStream.h"
#include "net/server/UserStats.h"
#include "store/DataSaver.h"

#include <QAbstractSocket>
#include <QObject>
#include <QString>
#include <QTcpSocket>

#include <ctime>
#include <list>
#include <utility>

class QIODevice;

// An IPv4 address and a port. The address is held as a number whose most
// significant byte is the first number of the dotted form.
struct TCPAddress
{
    quint32 m_address = 0;
    int m_port = 0;

    bool operator==(TCPAddress const& i_other) const
    {
        return m_address == i_other.m_address && m_port == i_other.m_port;
    }
};

class Server : public QObject, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    enum State
    {
        StateDisconnected = 0,
        StateConnecting = 1,
        StateConnected = 2
    };

    // The central server's port unless the setting `server_port` holds another.
    static constexpr quint16 c_defaultPort = 2242;
    // The central server's host unless the setting `server_host` holds another.
    static char const* const c_defaultHost;
    // Frames announcing more than this are refused: no real server message comes
    // near it, and the receive buffer must not be driven to an arbitrary size.
    static constexpr qint32 c_maxMessageLength = 64 * 1024 * 1024;

    // Sets gp_server, wires the socket and the timers, registers for DataLoaded and
    // creates the port forwarder (which runs its own thread).
    Server();
    ~Server() override;

    // --- Users and rooms in the store (ServerData.cpp) ---------------------------
    // Declares the user and room types with their relations and saved registrations;
    // once per run, after the settings types exist and before the store file loads.
    void CreateData();
    // After the store file is loaded: UPnP defaults to on.
    void DataLoaded() override;
    // Asks the server to watch a user (once per user; the flag survives a drop and
    // the watch is renewed at every login).
    void TrackUser(QString i_user);
    void UntrackUser(QString i_user);
    // true: available (code 28 with 2), false: away (code 28 with 1).
    void SetAvailabilityStatus(bool i_available);

    // --- Connection (Server.cpp) --------------------------------------------------
    // Starts an attempt unless one is running or no user name is stored.
    void Connect();
    // Ends a logged-in connection at the user's request; no reconnection follows.
    void Disconnect();
    bool IsConnected() const { return m_state == StateConnected; }
    bool IsAbruptlyDisconnected() const { return m_isAbruptlyDisconnected; }
    State GetState() const { return m_state; }
    // The host and port that Connect() uses.
    static QString ServerHost();
    static quint16 ServerPort();

    // Frames one message and writes it in one socket write. Dropped without a trace
    // unless logged in; i_allowWhileConnecting lets the login out while connecting.
    void SendMessage(MemStream& i_message, bool i_allowWhileConnecting);
    // The work after an accepted login; run by the dispatcher after Connected().
    void OnConnectedToServer();
    // One complete incoming message, positioned behind its code (ServerDispatch.cpp).
    void HandleMessage(int i_code, MemStream& i_message);

    // The receive loop: takes what the device holds, completes frames and dispatches
    // each as soon as its last byte is in. The socket's readyRead() feeds it; bytes
    // of a frame not complete yet stay in the receive buffer until the next call.
    void ReceiveFrom(QIODevice& io_device);

    // --- Outgoing messages (ServerSend.cpp) ---------------------------------------
    void SetWaitPort(int i_port, int i_obfuscatedPort);                        // 2
    void GetUserAddress(QString i_user);                                        // 3
    void AddUser(QString i_user);                                               // 5
    void GetUserStatus(QString i_user);                                         // 7
    void SendRoomChat(QString i_room, QString i_chat);                          // 13
    void EnterRoom(QString i_room, bool i_private);                             // 14
    void LeaveRoom(QString i_room);                                             // 15
    unsigned int SendIndirectConnectionRequest(QString i_user, QString i_type); // 18
    void SendPrivateChat(QString i_user, QString i_chat);                       // 22
    unsigned int FileSearch(QString i_search, bool i_wishListSearch);           // 26, 103
    void SendFilesFolders(int i_folders, int i_files);                          // 35
    void GetUserStats(QString i_user);                                          // 36
    void GetRoomList();                                                         // 64
    void SendDNetHasParent(bool i_hasParent);                                   // 71
    void GetOwnPrivilegesStatus();                                              // 92
    void SendDNetCanParent(bool i_canParent);                                   // 100
    void SendUploadSpeed(int i_speed);                                          // 121
    void SendDNetLevel(int i_level);                                            // 126
    void SendDNetGroupLeader(QString i_user);                                   // 127
    void SendChildDepth(bool i_childDepth);                                     // 129
    void AddPrivateRoomMember(QString i_room, QString i_user);                  // 134
    void RemovePrivateRoomMember(QString i_room, QString i_user);               // 135
    void GiveUpPrivateRoomMembership(QString i_room);                           // 136
    void GiveUpPrivateRoom(QString i_room);                                     // 137
    void EnablePrivateRoomAdd(bool i_enable);                                   // 141
    void AddPrivateRoomOperator(QString i_room, QString i_user);                // 143
    void RemovePrivateRoomOperator(QString i_room, QString i_user);             // 144
    void GetSearchCorrelations(QString i_search);                               // 153
    void SendCantConnectToPeer(unsigned int i_token, QString i_user);           // 1001

signals:
    void Connecting();
    void ConnectionFailed(QString i_reason);
    void Connected();
    void Disconnected();
    void SearchRequested(uint i_req, QString i_search, bool i_wishListSearch);
    void PrivateChatSent(QString i_user, QString i_chat);
    void RoomChat(QString i_room, QString i_user, QString i_chat);
    void PrivateChat(QString i_user, QString i_chat, time_t i_time, bool i_spontaneous);
    void IndirectPeerConnectionFailure(uint i_req);
    void DNetParentMinSpeed(int i_speed);
    void DNetParentSpeedConnectionRatio(int i_ratio);
    // The list and the stream live only during the emission: receivers copy what
    // they keep.
    void DNetPossibleParents(std::list<std::pair<QString, TCPAddress>>& i_parentList);
    void DNetMessage(MemStream& i_message);
    void DNetDeliveryReport(int i_req);
    void DNetReset();
    void ReceivedUserStats(QString i_user, UserStats i_stats);
    void WishListWait(uint i_waitPeriod);
    void AddUserResponse(QString i_user, bool i_added);
    void ReceivedOwnPrivilegesStatus(int i_seconds);
    void SearchCorrelations(QString i_search);
    void PrivateRoomAddEnabled(bool i_enabled);

public slots:
    void OnConnected();
    void OnSocketError(QAbstractSocket::SocketError i_error);
    void OnSocketReadyToRead();
    void OnSocketClosed();
    // 30 s timer: reconnects after a drop of a logged-in connection.
    void AttemptReconnect();
    // Hourly timer: asks the gateway again for the listening ports.
    void RenewPortMapping();
    // 5 min timer: keep-alive (code 32).
    void EveryFiveMinutes();

private:
    // Sends one message: the u32 code, then each field in order as its own type is
    // written (so a field's C++ type decides its wire form, as with Write).
    template <typename... Fields>
    void Send(unsigned int i_code, Fields const&... i_fields)
    {
        MemStream l_message;
        l_message.Write(i_code);
        (l_message.Write(i_fields), ...);
        SendMessage(l_message, false);
    }
    // Shared by a drop and by Disconnect(): state, Disconnected(), users go offline.
    void EndLoggedInConnection();
    // The socket went away (error, close or an unacceptable frame).
    void HandleConnectionLoss();
    // Forgets any partly received frame; a new session starts from a clean slate.
    void ResetReceiveState();
    // Asks the port forwarder for the listening port and, when set, the obfuscated one.
    void RequestPortMappings();
    // connectToHost for the attempt that Connect() began, unless it is over by now.
    void StartConnecting(quint64 i_session);
    // Dispatch of the login reply (code 1), only while connecting.
    void HandleLoginReply(MemStream& i_message);

    // --- Incoming user, peer and search messages (ServerIncoming.cpp) --------------
    void HandleUserAddress(MemStream& i_message);               // 3
    void HandleAddUserReply(MemStream& i_message);              // 5
    void HandleUserStatus(MemStream& i_message);                // 7
    void HandlePeerConnectionRequest(MemStream& i_message);     // 18
    void HandlePrivateChat(MemStream& i_message);               // 22
    void HandleUserStats(MemStream& i_message);                 // 36
    void HandlePrivilegedUsers(MemStream& i_message);           // 69
    void HandleDNetParentMinSpeed(MemStream& i_message);        // 83
    void HandleDNetParentSpeedRatio(MemStream& i_message);      // 84
    void HandleOwnPrivileges(MemStream& i_message);             // 92
    void HandleDNetMessage(MemStream& i_message);               // 93
    void HandlePossibleParents(MemStream& i_message);           // 102
    void HandleWishListWait(MemStream& i_message);              // 104
    void HandleDNetDeliveryReport(MemStream& i_message);        // 128
    void HandleDNetReset(MemStream& i_message);                 // 130
    void HandleSearchCorrelations(MemStream& i_message);        // 153
    void HandleIndirectConnectionFailure(MemStream& i_message); // 1001

    // --- Incoming room messages (ServerRooms.cpp) ----------------------------------
    void HandleRoomChat(MemStream& i_message);                  // 13
    void HandleRoomJoined(MemStream& i_message);                // 14
    void HandleRoomLeft(MemStream& i_message);                  // 15
    void HandleUserJoinedRoom(MemStream& i_message);            // 16
    void HandleUserLeftRoom(MemStream& i_message);              // 17
    void HandleRoomList(MemStream& i_message);                  // 64
    void HandlePrivateRoomMembers(MemStream& i_message);        // 133
    void HandlePrivateRoomMemberAdded(MemStream& i_message);    // 134
    void HandlePrivateRoomMemberRemoved(MemStream& i_message);  // 135
    void HandleAddedToPrivateRoom(MemStream& i_message);        // 139
    void HandleRemovedFromPrivateRoom(MemStream& i_message);    // 140
    void HandlePrivateRoomAddEnabled(MemStream& i_message);     // 141
    void HandlePrivateRoomOperatorAdded(MemStream& i_message);  // 143
    void HandlePrivateRoomOperatorRemoved(MemStream& i_message); // 144
    void HandleOperatorshipGranted(MemStream& i_message);       // 145
    void HandleOperatorshipRevoked(MemStream& i_message);       // 146
    void HandlePrivateRoomOperators(MemStream& i_message);      // 148

    State m_state;
    QTcpSocket m_socket;
    bool m_haveMessageLength;
    qint32 m_messageLength;
    quint32 m_nextSearchToken;
    MemStream m_receiveBuffer;
    quint32 m_nextConnectionToken;
    bool m_isFirstConnection;
    bool m_disconnectRequested;
    bool m_isAbruptlyDisconnected;
    // Bumped whenever the receive state is reset, so the receive loop notices that a
    // dispatched message ended (or restarted) the session under it.
    quint64 m_receiveSession;
    // Above 0 while one of the socket's own signals is being handled: Qt still tears
    // the old connection down after such a handler returns, so a connection started
    // inside it must wait for the event loop.
    int m_inSocketSignal;
};

extern Server* gp_server;
