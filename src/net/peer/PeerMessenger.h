#pragma once

// The peer network's one object: it owns the two listening sockets, every peer socket
// that has not been handed on, and the read state of each. It declares the peer
// network's part of the item store (connection records, searches and their replies,
// related searches, MP3 attribute types, queued messages) and is driven by store
// events, socket signals, the server connection and the 30-second timer.
//
// The implementation is split by responsibility:
//   PeerMessenger.cpp             construction (schema, handlers, wiring), destruction
//   PeerMessengerFraming.cpp      frame writer, frame reader, obfuscation keys
//   PeerMessengerConnections.cpp  direct and brokered connections, first frames
//   PeerMessengerMessages.cpp     peer message dispatch and the message writers
//   PeerMessengerSearchResults.cpp  share lists and search replies received
//   PeerMessengerSending.cpp      sending to users, the unsent queue, listening ports
//   PeerMessengerExpiry.cpp       the 30-second sweep
//
// GUI thread only.

#include "net/server/MemStream.h"
#include "store/Data.h"
#include "store/DataSaver.h"

#include <QAbstractSocket>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "net/records/AttributeTranslationTable.h"
#include "net/records/FileInfoMap.h"

class PeerMessenger : public QObject, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    // Frames announcing a longer payload end the connection; exactly this is accepted.
    static constexpr std::uint32_t c_maxFrameLength = 10485760;
    // A long frame refreshes the connection's activity time once per this many bytes.
    static constexpr std::uint64_t c_activityStep = 102400;
    // Unsent bytes one connection of any type may hold: a bit over three of the largest
    // frames. A peer that stops reading is ended before it can hold more.
    static constexpr std::uint64_t c_maxUnsentBytes = 32ull * 1024 * 1024;

    // Read state of one socket while frames arrive on it.
    struct SocketBufferInfo
    {
        // The current frame's header has been read.
        bool m_isLengthRead = false;
        // Payload length of the current frame.
        std::uint32_t m_length = 0;
        // An incoming "F" connection past its first frame: the next 4 bytes are a raw
        // transfer token.
        bool m_isAwaitingFileToken = false;
        // After the current frame the socket leaves this reader.
        bool m_isHandedOver = false;
        // The user of an incoming "F" connection.
        QString m_user;
        // When the "F" connection began to wait for its token; the sweep closes it 60 s
        // later.
        QDateTime m_tokenWaitStart;
        // The bytes of the current payload read so far.
        MemStream m_buffer;
        bool m_isObfuscated = false;
        // Key of the current obfuscated frame, already rotated once.
        std::uint32_t m_key = 0;

        // What every message on an open "P" connection needs of its record, looked up
        // once instead of per frame. Valid while m_isPeerSocketKnown; cleared whenever
        // a peer_socket item of this socket comes or goes (the activity cell goes with
        // the item).
        bool m_isPeerSocketKnown = false;
        ItemPtr m_peerSocketItem;
        QString m_userName;
        QDateTime* mp_activityTime = nullptr;

        // Bytes written to the socket since this state exists; with the socket's own
        // count of bytes not yet handed on, it tells whether an earlier write is out.
        std::uint64_t m_queuedBytes = 0;
        // Answers to share-list and folder-contents requests written here, by request,
        // with the queued-bytes count right after each; a repeat of a request whose
        // answer is still unsent is dropped (logged once).
        struct UnsentAnswer
        {
            std::uint64_t m_end = 0;
            bool m_isRepeatLogged = false;
        };
        std::map<QString, UnsentAnswer> m_unsentAnswers;
    };

    // Needs gp_server, timerManager, dataSaver and the `user` type; sets peerMessenger.
    PeerMessenger();
    ~PeerMessenger() override;

    // Starts the listening sockets once the store file is loaded.
    void DataLoaded() override;
    QTcpServer const& ListeningSocket() const { return m_listeningSocket; }
    QTcpServer const& ObfuscatedListeningSocket() const { return m_obfuscatedListeningSocket; }
    // When the accepted connection came in, while it has not sent its first frame
    // (null otherwise); the sweep closes it 60 s after that time.
    QDateTime* FindAcceptTime(QTcpSocket* ip_socket);
    // Listens on any IPv4 address when the port is a usable one (1 to 65535).
    static bool Listen(QTcpServer& i_listener, int i_port);

    // --- Connections -------------------------------------------------------------
    // Starts a connection of the type ("P", "F" or "D") to the user, directly and
    // through the server at once; the outcome arrives later as a connection or as
    // ConnectionToUserFailed.
    void ConnectToUser(QString i_user, char const* ip_type);
    void RequestFileConnectionToUser(QString i_user);
    void RequestDNetConnection(QString i_user);
    // The user's obfuscated port when non-zero (o_obfuscated true), else the plain one.
    int GetUserPort(ItemPtr i_user, bool& o_obfuscated);
    void InspectPeerConnectionRequest(ItemPtr i_request);
    void DisposeOfPeerConnectionRequest(ItemPtr i_request);
    // Closes the socket, forgets every record and the read state it had; tells the
    // server when it was the answer to a relayed request.
    void DisposeOfSocket(QTcpSocket* ip_socket);
    // Ends a peer socket's connection: close() sends what is still buffered, but on a
    // peer that stopped reading it never finishes, so abort() ends it then. Every place
    // that ends a peer socket goes through here.
    static void EndConnection(QTcpSocket* ip_socket);
    // Whether i_more bytes written to the socket would leave it holding more than
    // c_maxUnsentBytes unsent.
    static bool ExceedsUnsentLimit(QTcpSocket* ip_socket, std::uint64_t i_more);

    // --- Framing -----------------------------------------------------------------
    // Sends the message (its bytes from the first to the write index) as one frame.
    // False only when the socket's write reports an error.
    bool SendMessage(QTcpSocket* ip_socket, MemStream& i_message, bool i_obfuscate);
    // The frame of a message: u32 length and the bytes, or, obfuscated, the key in
    // clear and the masked frame.
    static MemStream BuildFrame(MemStream const& i_message, bool i_obfuscate,
                                std::uint32_t i_key);
    // The bytes of a message's frame: FrameSize of them written to op_out.
    static std::uint64_t FrameSize(MemStream const& i_message, bool i_obfuscate);
    static void WriteFrame(char* op_out, MemStream const& i_message, bool i_obfuscate,
                           std::uint32_t i_key);
    // A fresh key for one obfuscated frame, from four calls of rand().
    static std::uint32_t NewObfuscationKey();
    // One complete frame; false asks the reader to dispose of the connection.
    bool HandleMessage(QTcpSocket* ip_socket, MemStream i_message);
    // The socket's read state, or null when it has none.
    SocketBufferInfo const* FindSocketBufferInfo(QTcpSocket* ip_socket) const;
    // The socket's read state, created when absent (obfuscated when the socket's
    // accepted or open "P" record says so); where a first frame marks a socket as
    // awaiting a file token or as handed over.
    SocketBufferInfo& GetSocketBufferInfo(QTcpSocket* ip_socket);

    // --- Peer messages -----------------------------------------------------------
    static QString MessageCodeToString(int i_code);
    // A compressed body (codes 5 and 9) that inflates beyond this is refused.
    static constexpr std::uint64_t c_maxInflatedBody = 256ull * 1024 * 1024;
    // Builds the complete share-list message (code 5) for a user; the share index
    // registers it. Without one, a request is answered with an empty share list.
    using ShareListProvider = std::function<MemStream(QString const& i_user)>;
    void SetShareListProvider(ShareListProvider i_provider);
    // Asks the user for the share list; the user's next list is decoded, others are not.
    void GetUserSharedFiles(QString i_user);
    unsigned int RequestUpload(QString i_user, QString i_file, long long i_size);
    void AcceptTransferRequest(QString i_user, unsigned int i_req, bool i_sendSize,
                               long long i_size);
    void DenyTransferRequest(QString i_user, unsigned int i_req, QString i_reason);
    void QueueDownload(QString i_user, std::string i_file);
    void SendUploadPlaceInLine(QString i_user, QString i_file, int i_place);
    void DenyUpload(QString i_user, QString i_file, QString i_reason);
    void QueueUpload(QString i_user, QString i_file, long long i_size);

    // --- Sending to users --------------------------------------------------------
    // Over the user's newest "P" connection, or queued until one opens.
    void SendMessage(QString i_user, MemStream& i_message);
    void SendUnsentMessages(QString i_user);

    // --- Store handlers ----------------------------------------------------------
    void OnPeerSocketItemAdded(ItemPtr i_item);
    void OnPeerSocketItemRemoved(ItemPtr i_item);
    void OnPeerConnectionRequest(ItemPtr i_request);
    void OnUserAddress(ItemPtr i_user);

public slots:
    void OnNewConnection();
    void OnNewObfuscatedConnection();
    void OnConnectedToServer();
    void OnSocketReadyToRead();
    void OnSocketClosed();
    void OnSocketError(QAbstractSocket::SocketError i_error);
    void OnIndirectResponseSocketConnected();
    void OnConnectToPeerSocketConnected();
    void OnConnectToPeerSocketError(QAbstractSocket::SocketError i_error);
    void OnIndirectPeerConnectionFailure(unsigned int i_req);
    void EveryHalfMinute();

signals:
    void SearchResults(ItemPtr i_searchResults);
    void FileConnectionRequested(QString i_user, QTcpSocket* ip_socket, unsigned int i_requestID);
    void UserShare(QString i_userName, FileInfoMap& i_share,
                   AttributeTranslationTable& i_translationTable);
    void FileTransferRequested(QString i_user, int i_direction, unsigned int i_req,
                               std::string i_file, long long i_fileSize);
    void QueueUploadRequested(QString i_user, QString i_file);
    void FileConnectionAccepted(QString i_user, QTcpSocket* ip_socket);
    void FileTransferResponse(QString i_user, unsigned int i_req, bool i_accepted,
                              bool i_receivedFileSize, long long i_fileSize,
                              QString i_denialReason);
    void DNetConnectionRequested(QString i_user, QTcpSocket* ip_socket);
    void DNetConnectionAccepted(QString i_user, QTcpSocket* ip_socket);
    void UploadFailed(QString i_user, std::string i_file);
    void UploadDenied(QString i_user, std::string i_file, QString i_reason);
    void SharedFilesInFolderRequested(QString i_user, unsigned int i_req, QString i_folder);
    void DownloadPlaceInLine(QString i_user, std::string i_file, int i_place);
    void ConnectionToUserFailed(QString i_user, QString i_type);
    void UploadPlaceInLineRequested(QString i_user, QString i_fileName);
    void QueueDownloadRequested(QString i_user, std::string i_fileName, long long i_fileSize);

private:
    // Declares the item types and relations and registers the store handlers.
    void CreateData();
    // Qt connections to the server connection and the timers.
    void ConnectToServices();
    // Reads what the socket holds into frames and dispatches each complete one.
    void ReadFrames(QTcpSocket* ip_socket);
    // Logs the end of one attempt of a request (its socket record or its relayed
    // request; the format takes the type and the user), forgets the attempt and lets
    // the request decide whether another attempt is still running.
    void EndConnectionAttempt(ItemPtr i_attempt, QString const& i_logFormat);
    // The first frame of an accepted connection (init or firewall-piercing).
    bool HandleFirstFrame(QTcpSocket* ip_socket, ItemPtr i_uninitialized, MemStream& i_message);
    // A framed peer message on an open "P" connection; ip_info is the socket's read
    // state when it has one (its cached record saves the store lookups).
    bool HandlePeerMessage(QTcpSocket* ip_socket, MemStream& i_message,
                           SocketBufferInfo* ip_info);
    // One peer message by its code, the code already read; false refuses it.
    bool DispatchPeerMessage(unsigned int i_code, QString const& i_user, MemStream& i_message);
    void AnswerShareListRequest(QString const& i_user);
    // Runs i_answer for the user's request unless the answer to the same request (by
    // key) is still unsent on one of the user's connections; then the repeat is dropped.
    void AnswerUnlessRepeated(QString const& i_user, QString const& i_request, unsigned int i_code,
                              std::function<void()> const& i_answer);
    // Whether everything written to the socket up to the queued-bytes mark is out.
    static bool IsWrittenOut(QTcpSocket* ip_socket, SocketBufferInfo const& i_info,
                             std::uint64_t i_mark);
    // Ends a connection whose unsent bytes would pass c_maxUnsentBytes.
    void EndOverfullConnection(QTcpSocket* ip_socket);
    bool HandleShareList(QString const& i_user, MemStream& i_message);
    bool HandleSearchResults(QString const& i_user, MemStream& i_message);
    // Fills the read state's cached "P" record from the store when it is not valid.
    void CachePeerSocket(QTcpSocket* ip_socket, SocketBufferInfo& io_info);
    // Forgets the cached "P" record of the socket whose peer_socket item this is.
    void ForgetCachedPeerSocket(ItemPtr i_peerSocket);
    // The direct half of a request: a socket to the user's address.
    void StartDirectAttempt(ItemPtr i_request);
    // Records an open "P" connection and sends what waited for it.
    void OpenPeerSocket(QTcpSocket* ip_socket, ItemPtr i_user, bool i_obfuscated);
    // The socket's next 4 bytes are the raw token of the user's "F" connection.
    void AwaitFileToken(QTcpSocket* ip_socket, QString const& i_user);
    // Wires a freshly accepted socket and records it as not yet initialised.
    void AcceptConnection(QTcpServer& i_listener, bool i_obfuscated);

    // Sets an open "P" connection's activity cell to now.
    static void TouchActivityTime(QDateTime& io_time);
    // Whether the socket's record (accepted or open "P") carries is_obfuscated.
    bool IsSocketItemObfuscated(QTcpSocket* ip_socket) const;

    // The socket types every frame is looked up in, resolved once.
    Type* mp_uninitializedSocketType = nullptr;
    Type* mp_peerSocketType = nullptr;
    // Where ordinary outgoing frames are assembled.
    std::vector<char> m_frameScratch;

    QTcpServer m_listeningSocket;
    QTcpServer m_obfuscatedListeningSocket;
    std::map<QTcpSocket*, SocketBufferInfo> m_socketBufferInfos;
    ShareListProvider m_shareListProvider;
    // Users asked for their share list whose list has not come yet; only their lists
    // are decoded, one per request.
    std::set<QString> m_pendingShareLists;
    // The socket the last message to a user went out on (null when it was queued).
    QTcpSocket* mp_lastMessageSocket = nullptr;
    // Queue position of the next unsent message (per run).
    std::uint64_t m_nextSendOrder = 0;
    // When each accepted connection that has not sent its first frame came in; the
    // sweep closes those that stay silent.
    std::map<QTcpSocket*, QDateTime> m_acceptTimes;
};

extern PeerMessenger* peerMessenger;
// Connection time stamps in the store: Qt's text date format, one-second resolution.
QString PeerTimeStamp(QDateTime const& i_time = QDateTime::currentDateTime());
// The time a PeerTimeStamp text stands for (invalid for any other text).
QDateTime PeerTimeFromStamp(QString const& i_stamp);
// Set when the PeerMessenger starts to be destroyed; late socket signals are ignored.
extern bool g_peerMessengerDeleted;
