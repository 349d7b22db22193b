#include "net/peer/PeerMessenger.h"

#include "net/peer/InFunction.h"
#include "store/Log.h"

#include <QByteArray>
#include <QDateTime>
#include <QPointer>
#include <QTcpSocket>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace
{
void PutU32(char* op_target, std::uint32_t i_value)
{
    for (int l_byte = 0; l_byte < 4; ++l_byte)
        op_target[l_byte] = static_cast<char>((i_value >> (8 * l_byte)) & 0xFFu);
}

std::uint32_t GetU32(char const* ip_source)
{
    auto const* lp_bytes = reinterpret_cast<unsigned char const*>(ip_source);
    return std::uint32_t(lp_bytes[0]) | (std::uint32_t(lp_bytes[1]) << 8) |
           (std::uint32_t(lp_bytes[2]) << 16) | (std::uint32_t(lp_bytes[3]) << 24);
}

// The masking of obfuscated frames, four bytes at a time: on a little-endian host a
// 32-bit word XORed with the working key masks its bytes exactly as byte j of the
// group with byte j of the key. Same result as the byte-wise Obfuscate.
void Mask(std::uint32_t i_key, char* iop_data, std::uint64_t i_length)
{
    if constexpr (std::endian::native != std::endian::little)
    {
        Obfuscate(i_key, iop_data, iop_data, i_length);
        return;
    }
    std::uint64_t l_offset = 0;
    for (; l_offset + 4 <= i_length; l_offset += 4)
    {
        i_key = BitRotateLeft(i_key);
        std::uint32_t l_word;
        std::memcpy(&l_word, iop_data + l_offset, 4);
        l_word ^= i_key;
        std::memcpy(iop_data + l_offset, &l_word, 4);
    }
    if (l_offset < i_length)
        Obfuscate(i_key, iop_data + l_offset, iop_data + l_offset, i_length - l_offset);
}

// Reads exactly four bytes that the caller knows are available.
bool ReadU32(QTcpSocket* ip_socket, std::uint32_t& o_value)
{
    char l_bytes[4];
    if (ip_socket->read(l_bytes, 4) != 4)
        return false;
    o_value = GetU32(l_bytes);
    return true;
}
} // namespace

std::uint32_t PeerMessenger::NewObfuscationKey()
{
    // The low byte of each of four successive rand() values, most significant first;
    // built unsigned so that a large first value cannot overflow.
    std::uint32_t const l_r1 = static_cast<std::uint32_t>(std::rand());
    std::uint32_t const l_r2 = static_cast<std::uint32_t>(std::rand());
    std::uint32_t const l_r3 = static_cast<std::uint32_t>(std::rand());
    std::uint32_t const l_r4 = static_cast<std::uint32_t>(std::rand());
    return (l_r1 << 24) | ((l_r2 % 256u) << 16) | ((l_r3 % 256u) << 8) | (l_r4 % 256u);
}

std::uint64_t PeerMessenger::FrameSize(MemStream const& i_message, bool i_obfuscate)
{
    return (i_obfuscate ? 8 : 4) + i_message.GetWriteIndex();
}

void PeerMessenger::WriteFrame(char* op_out, MemStream const& i_message, bool i_obfuscate,
                               std::uint32_t i_key)
{
    std::uint64_t const l_length = i_message.GetWriteIndex();
    std::uint64_t const l_offset = i_obfuscate ? 4 : 0;
    if (i_obfuscate)
        PutU32(op_out, i_key);
    PutU32(op_out + l_offset, static_cast<std::uint32_t>(l_length));
    if (l_length)
        std::memcpy(op_out + l_offset + 4, i_message.GetBuffer(), l_length);
    if (i_obfuscate)
        Mask(i_key, op_out + 4, 4 + l_length);
}

MemStream PeerMessenger::BuildFrame(MemStream const& i_message, bool i_obfuscate,
                                    std::uint32_t i_key)
{
    std::uint64_t const l_size = FrameSize(i_message, i_obfuscate);
    MemStream l_frame;
    // One allocation of the final size; the capacity must stay above the write index.
    l_frame.EnsureBufferCapacity(l_size + 1);
    WriteFrame(l_frame.GetWriteBuffer(), i_message, i_obfuscate, i_key);
    l_frame.AdvanceWriteIndex(static_cast<int>(l_size));
    return l_frame;
}

bool PeerMessenger::SendMessage(QTcpSocket* ip_socket, MemStream& i_message, bool i_obfuscate)
{
    // Ordinary frames are assembled in one reused buffer; the socket copies them
    // anyway. A large one gets a buffer of its own, so that a share list does not
    // leave megabytes behind.
    std::uint64_t const l_size = FrameSize(i_message, i_obfuscate);
    std::vector<char> l_large;
    std::vector<char>& l_buffer = l_size > c_activityStep ? l_large : m_frameScratch;
    if (l_buffer.size() < l_size)
        l_buffer.resize(l_size);
    WriteFrame(l_buffer.data(), i_message, i_obfuscate, i_obfuscate ? NewObfuscationKey() : 0);
    if (ip_socket->write(l_buffer.data(), static_cast<qint64>(l_size)) == -1)
    {
        Log(LogArea::PeerMessenger, 1,
            QString("Error writing message to socket: %1").arg(ip_socket->errorString()));
        return false;
    }
    return true;
}

PeerMessenger::SocketBufferInfo const* PeerMessenger::FindSocketBufferInfo(
    QTcpSocket* ip_socket) const
{
    auto const l_found = m_socketBufferInfos.find(ip_socket);
    return l_found == m_socketBufferInfos.end() ? nullptr : &l_found->second;
}

PeerMessenger::SocketBufferInfo& PeerMessenger::GetSocketBufferInfo(QTcpSocket* ip_socket)
{
    auto l_found = m_socketBufferInfos.find(ip_socket);
    if (l_found == m_socketBufferInfos.end())
    {
        l_found = m_socketBufferInfos.emplace(ip_socket, SocketBufferInfo()).first;
        l_found->second.m_isObfuscated = IsSocketItemObfuscated(ip_socket);
    }
    return l_found->second;
}

bool PeerMessenger::IsSocketItemObfuscated(QTcpSocket* ip_socket) const
{
    Value const l_key(ip_socket);
    ItemPtr l_item = mp_uninitializedSocketType->HasItem(l_key);
    if (l_item.IsNull())
        l_item = mp_peerSocketType->HasItem(l_key);
    return l_item.IsNotNull() && l_item.IsConnected("is_obfuscated");
}

void PeerMessenger::TouchActivityTime(QTcpSocket* ip_socket)
{
    TouchActivityTime(mp_peerSocketType->HasItem(Value(ip_socket)));
}

void PeerMessenger::TouchActivityTime(ItemPtr i_peerSocket)
{
    // UTC: the local time would consult the time zone (a file system check with
    // glibc) on every frame; the sweep compares instants either way.
    if (QDateTime* lp_time = i_peerSocket["last_activity_time"].AsPtr<QDateTime>())
        *lp_time = QDateTime::currentDateTimeUtc();
}

void PeerMessenger::OnPeerSocketItemAdded(ItemPtr i_item)
{
    // The cell is updated in place by the reader, without store events; the sweep
    // reads it and the item's removal frees it.
    auto* lp_time = new QDateTime(QDateTime::currentDateTime());
    i_item += d["last_activity_time"]->GetItem(Value(lp_time));
}

void PeerMessenger::OnSocketReadyToRead()
{
    if (auto* lp_socket = qobject_cast<QTcpSocket*>(sender()))
        ReadFrames(lp_socket);
}

void PeerMessenger::ReadFrames(QTcpSocket* ip_socket)
{
    // Anything called from here (the dispatcher, a signal's receivers) may dispose of
    // the socket or even delete it; the guard and a fresh lookup of the read state
    // after every such call keep this loop off state that is gone.
    QPointer<QTcpSocket> const l_socket(ip_socket);
    InFunction l_marker("OnSocketReadyToRead");

    GetSocketBufferInfo(ip_socket);

    // Only what is there now is consumed; later bytes come with their own readyRead.
    qint64 const l_available = ip_socket->bytesAvailable();
    std::uint32_t l_remaining = static_cast<std::uint32_t>(
        std::min<qint64>(l_available, std::numeric_limits<std::uint32_t>::max()));

    while (l_remaining > 0)
    {
        auto const l_found = m_socketBufferInfos.find(ip_socket);
        if (l_found == m_socketBufferInfos.end())
            return;
        SocketBufferInfo& l_info = l_found->second;

        if (l_info.m_isAwaitingFileToken)
        {
            // Raw transfer token: neither framed nor masked.
            std::uint32_t l_token = 0;
            if (l_remaining < 4 || !ReadU32(ip_socket, l_token))
                return;
            QString const l_user = l_info.m_user;
            m_socketBufferInfos.erase(l_found);
            ip_socket->disconnect();
            emit FileConnectionRequested(l_user, ip_socket, l_token);
            return;
        }

        if (!l_info.m_isLengthRead)
        {
            // A partial header stays in the socket until the rest arrives.
            std::uint32_t const l_headerSize = l_info.m_isObfuscated ? 8 : 4;
            if (l_remaining < l_headerSize)
                return;
            std::uint32_t l_length = 0;
            if (l_info.m_isObfuscated)
            {
                std::uint32_t l_key = 0;
                if (!ReadU32(ip_socket, l_key) || !ReadU32(ip_socket, l_length))
                    return;
                l_info.m_key = BitRotateLeft(l_key);
                l_length ^= l_info.m_key;
            }
            else if (!ReadU32(ip_socket, l_length))
                return;
            if (l_length > c_maxFrameLength)
            {
                l_marker.Dispose();
                DisposeOfSocket(ip_socket);
                return;
            }
            l_info.m_length = l_length;
            l_info.m_isLengthRead = true;
            l_remaining -= l_headerSize;
            continue;
        }

        // Body. The buffer grows with the bytes that have actually arrived, never to
        // the announced length up front: announcing 10 MiB costs nothing until sent.
        MemStream& l_buffer = l_info.m_buffer;
        std::uint64_t const l_buffered = l_buffer.GetWriteIndex();
        std::uint64_t const l_wanted =
            std::min<std::uint64_t>(l_remaining, l_info.m_length - l_buffered);
        if (l_wanted > 0)
        {
            qint64 l_read = 0;
            if (l_buffer.GetBufferCapacity() > l_buffered + l_wanted)
            {
                l_read = ip_socket->read(l_buffer.GetWriteBuffer(), static_cast<qint64>(l_wanted));
                if (l_read > 0)
                    l_buffer.AdvanceWriteIndex(static_cast<int>(l_read));
            }
            else if (l_buffered == 0)
            {
                l_buffer.EnsureBufferCapacity(l_wanted + 1);
                l_read = ip_socket->read(l_buffer.GetWriteBuffer(), static_cast<qint64>(l_wanted));
                if (l_read > 0)
                    l_buffer.AdvanceWriteIndex(static_cast<int>(l_read));
            }
            else
            {
                // Appending keeps the bytes already buffered and grows by doubling.
                QByteArray const l_chunk = ip_socket->read(static_cast<qint64>(l_wanted));
                l_read = l_chunk.size();
                l_buffer.WriteBuffer(l_chunk.constData(), static_cast<unsigned long>(l_read));
            }
            if (l_read <= 0)
                return;
            l_remaining -= static_cast<std::uint32_t>(l_read);
            if (l_buffered / c_activityStep != l_buffer.GetWriteIndex() / c_activityStep)
                TouchActivityTime(ip_socket);
        }

        if (l_buffer.GetWriteIndex() < l_info.m_length)
            continue;

        // A complete frame. Obfuscated payloads are unmasked in place: the masked
        // bytes are of no further use.
        if (l_info.m_isObfuscated)
            Mask(l_info.m_key, l_buffer.GetBuffer(), l_info.m_length);
        MemStream const l_payload = l_buffer;
        bool const l_accepted = HandleMessage(ip_socket, l_payload);

        if (l_socket.isNull())
            return;
        auto const l_after = m_socketBufferInfos.find(ip_socket);
        if (l_after == m_socketBufferInfos.end())
            return; // disposed of while the frame was handled
        if (!l_accepted)
        {
            ip_socket->disconnect();
            l_marker.Dispose();
            DisposeOfSocket(ip_socket);
            return;
        }
        if (l_after->second.m_isHandedOver)
        {
            m_socketBufferInfos.erase(l_after);
            return;
        }
        l_after->second.m_isLengthRead = false;
        l_after->second.m_length = 0;
        // A connection that once carried a large share list should not keep its
        // megabytes while idle; ordinary frames keep reusing their buffer.
        if (l_after->second.m_buffer.GetBufferCapacity() > c_activityStep * 10)
            l_after->second.m_buffer = MemStream();
        else
            l_after->second.m_buffer.Reset();
    }
}
