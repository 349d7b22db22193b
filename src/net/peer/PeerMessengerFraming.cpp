#include "net/peer/PeerMessenger.h"

#include "net/peer/InFunction.h"
#include "net/peer/PeerLog.h"
#include "store/Log.h"

#include <QByteArray>
#include <QDateTime>
#include <QPointer>
#include <QTcpSocket>
#include <QtEndian>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

namespace
{
// The masking of obfuscated frames, same result as the byte-wise Obfuscate. Group g
// uses the key rotated g + 1 times, and 32 rotations give the key back, so the working
// keys repeat every 32 groups: a long run is XORed with one 128-byte pattern, eight
// bytes at a time (on a little-endian host a word's bytes meet the key's bytes in the
// order the masking pairs them).
void Mask(std::uint32_t i_key, char* iop_data, std::uint64_t i_length)
{
    std::uint64_t l_offset = 0;
    if constexpr (std::endian::native == std::endian::little)
    {
        constexpr std::uint64_t c_patternBytes = 128;
        if (i_length >= c_patternBytes)
        {
            std::uint32_t l_keys[c_patternBytes / 4];
            std::uint32_t l_working = i_key;
            for (std::uint32_t& l_groupKey : l_keys)
            {
                l_working = BitRotateLeft(l_working);
                l_groupKey = l_working;
            }
            std::uint64_t l_pattern[c_patternBytes / 8];
            std::memcpy(l_pattern, l_keys, c_patternBytes);
            for (; l_offset + c_patternBytes <= i_length; l_offset += c_patternBytes)
            {
                char* const lp_block = iop_data + l_offset;
                for (std::uint64_t l_word = 0; l_word < c_patternBytes / 8; ++l_word)
                {
                    std::uint64_t l_bytes;
                    std::memcpy(&l_bytes, lp_block + 8 * l_word, 8);
                    l_bytes ^= l_pattern[l_word];
                    std::memcpy(lp_block + 8 * l_word, &l_bytes, 8);
                }
            }
            // A whole number of 32-group cycles leaves the working key at i_key.
        }
    }
    if (l_offset < i_length)
        Obfuscate(i_key, iop_data + l_offset, iop_data + l_offset, i_length - l_offset);
}

// Room for i_more bytes after those already buffered, which are kept. The capacity
// at least doubles when it grows (never beyond what the frame still needs), so a long
// frame arriving in small pieces is copied O(1) times per byte.
void MakeRoom(MemStream& io_buffer, std::uint64_t i_more, std::uint64_t i_frameLength)
{
    std::uint64_t const l_buffered = io_buffer.GetWriteIndex();
    std::uint64_t const l_capacity = io_buffer.GetBufferCapacity();
    // The capacity stays above the write index (MemStream's invariant).
    if (l_capacity > l_buffered + i_more)
        return;
    std::uint64_t const l_newCapacity = std::max(
        l_buffered + i_more + 1, std::min(2 * l_capacity, i_frameLength + 1));
    if (l_buffered == 0)
    {
        io_buffer.EnsureBufferCapacity(l_newCapacity);
        return;
    }
    MemStream l_grown;
    l_grown.EnsureBufferCapacity(l_newCapacity);
    l_grown.WriteBuffer(io_buffer.GetBuffer(), static_cast<unsigned long>(l_buffered));
    io_buffer = l_grown;
}

// Reads exactly four bytes that the caller knows are available.
bool ReadU32(QTcpSocket* ip_socket, std::uint32_t& o_value)
{
    char l_bytes[4];
    if (ip_socket->read(l_bytes, 4) != 4)
        return false;
    o_value = qFromLittleEndian<std::uint32_t>(l_bytes);
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
        qToLittleEndian<std::uint32_t>(i_key, op_out);
    qToLittleEndian<std::uint32_t>(static_cast<std::uint32_t>(l_length), op_out + l_offset);
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
    // anyway. A large one gets an array of its own, so that a share list does not
    // leave megabytes behind.
    std::uint64_t const l_size = FrameSize(i_message, i_obfuscate);
    if (ExceedsUnsentLimit(ip_socket, l_size))
    {
        EndOverfullConnection(ip_socket);
        return false;
    }
    std::uint32_t const l_key = i_obfuscate ? NewObfuscationKey() : 0;
    qint64 l_written = 0;
    if (l_size > c_activityStep)
    {
        // A large frame is built once, uninitialised, in an array that the socket's
        // write buffer can take over instead of copying it.
        QByteArray l_frame(static_cast<qsizetype>(l_size), Qt::Uninitialized);
        WriteFrame(l_frame.data(), i_message, i_obfuscate, l_key);
        l_written = ip_socket->write(l_frame);
    }
    else
    {
        if (m_frameScratch.size() < l_size)
            m_frameScratch.resize(l_size);
        WriteFrame(m_frameScratch.data(), i_message, i_obfuscate, l_key);
        l_written = ip_socket->write(m_frameScratch.data(), static_cast<qint64>(l_size));
    }
    if (l_written == -1)
    {
        Log(LogArea::PeerMessenger, 1,
            QString("Error writing message to socket: %1").arg(ip_socket->errorString()));
        return false;
    }
    auto const l_found = m_socketBufferInfos.find(ip_socket);
    if (l_found != m_socketBufferInfos.end())
        l_found->second.m_queuedBytes += static_cast<std::uint64_t>(l_written);
    return true;
}

bool PeerMessenger::ExceedsUnsentLimit(QTcpSocket* ip_socket, std::uint64_t i_more)
{
    return static_cast<std::uint64_t>(ip_socket->bytesToWrite()) + i_more > c_maxUnsentBytes;
}

bool PeerMessenger::IsWrittenOut(QTcpSocket* ip_socket, SocketBufferInfo const& i_info,
                                 std::uint64_t i_mark)
{
    // What the socket still holds is the tail of what was written: the mark is out once
    // no more is held than was written after it.
    return static_cast<std::uint64_t>(ip_socket->bytesToWrite()) <= i_info.m_queuedBytes - i_mark;
}

void PeerMessenger::EndOverfullConnection(QTcpSocket* ip_socket)
{
    Value const l_key(ip_socket);
    ItemPtr const l_user = mp_peerSocketType->HasItem(l_key)["user"];
    PeerLog(1,
            QString("Connection to user %1 holds %2 unsent bytes and would pass the limit of %3, "
                    "closing.")
                .arg(l_user.AsString(), QString::number(ip_socket->bytesToWrite()),
                     QString::number(c_maxUnsentBytes)),
            l_user);
    // The disconnection this signals disposes of an open "P" connection; one that was
    // never connected signals nothing.
    EndConnection(ip_socket);
    if (mp_peerSocketType->HasItem(l_key))
        DisposeOfSocket(ip_socket);
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

void PeerMessenger::TouchActivityTime(QDateTime& io_time)
{
    // Refreshed for every message: the coarse clock (a few milliseconds) is plenty for
    // a 120-second limit and costs a fraction of the precise one, and most messages
    // then find the cell current already. UTC: the local time would consult the time
    // zone; the sweep compares instants either way.
    timespec l_now{};
    if (clock_gettime(CLOCK_REALTIME_COARSE, &l_now) != 0)
    {
        io_time = QDateTime::currentDateTimeUtc();
        return;
    }
    qint64 const l_msecs = qint64(l_now.tv_sec) * 1000 + l_now.tv_nsec / 1000000;
    if (io_time.timeSpec() != Qt::UTC)
        io_time = QDateTime::fromMSecsSinceEpoch(l_msecs, Qt::UTC);
    else if (io_time.toMSecsSinceEpoch() != l_msecs)
        io_time.setMSecsSinceEpoch(l_msecs);
}

void PeerMessenger::OnPeerSocketItemAdded(ItemPtr i_item)
{
    ForgetCachedPeerSocket(i_item);
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

    auto l_found = m_socketBufferInfos.find(ip_socket);
    if (l_found == m_socketBufferInfos.end())
    {
        GetSocketBufferInfo(ip_socket);
        l_found = m_socketBufferInfos.find(ip_socket);
    }

    // Only what is there now is consumed; later bytes come with their own readyRead.
    qint64 const l_available = ip_socket->bytesAvailable();
    std::uint32_t l_remaining = static_cast<std::uint32_t>(
        std::min<qint64>(l_available, std::numeric_limits<std::uint32_t>::max()));

    while (l_remaining > 0)
    {
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
            char l_header[8];
            if (ip_socket->read(l_header, l_headerSize) != l_headerSize)
                return;
            std::uint32_t l_length = 0;
            if (l_info.m_isObfuscated)
            {
                l_info.m_key = BitRotateLeft(qFromLittleEndian<std::uint32_t>(l_header));
                l_length = qFromLittleEndian<std::uint32_t>(l_header + 4) ^ l_info.m_key;
            }
            else
                l_length = qFromLittleEndian<std::uint32_t>(l_header);
            if (l_length > c_maxFrameLength)
            {
                l_marker.Dispose();
                DisposeOfSocket(ip_socket);
                return;
            }
            l_info.m_length = l_length;
            l_info.m_isLengthRead = true;
            l_remaining -= l_headerSize;
            if (l_remaining == 0)
                return;
        }

        // Body. The buffer grows with the bytes that have actually arrived, never to
        // the announced length up front: announcing 10 MiB costs nothing until sent.
        MemStream& l_buffer = l_info.m_buffer;
        std::uint64_t const l_buffered = l_buffer.GetWriteIndex();
        std::uint64_t const l_wanted =
            std::min<std::uint64_t>(l_remaining, l_info.m_length - l_buffered);
        if (l_wanted > 0)
        {
            MakeRoom(l_buffer, l_wanted, l_info.m_length);
            qint64 const l_read =
                ip_socket->read(l_buffer.GetWriteBuffer(), static_cast<qint64>(l_wanted));
            if (l_read <= 0)
                return;
            l_buffer.AdvanceWriteIndex(static_cast<int>(l_read));
            l_remaining -= static_cast<std::uint32_t>(l_read);
            if (l_buffered / c_activityStep != l_buffer.GetWriteIndex() / c_activityStep)
            {
                CachePeerSocket(ip_socket, l_info);
                if (l_info.mp_activityTime)
                    TouchActivityTime(*l_info.mp_activityTime);
            }
        }

        if (l_buffer.GetWriteIndex() < l_info.m_length)
            continue;

        // A complete frame. Obfuscated payloads are unmasked in place: the masked
        // bytes are of no further use.
        if (l_info.m_isObfuscated)
            Mask(l_info.m_key, l_buffer.GetBuffer(), l_info.m_length);
        bool const l_accepted = HandleMessage(ip_socket, l_buffer);

        if (l_socket.isNull())
        {
            // A receiver deleted the socket it was handed at once. Its read state
            // must not outlive it: a later socket at the same address would inherit it.
            m_socketBufferInfos.erase(ip_socket);
            m_acceptTimes.erase(ip_socket);
            return;
        }
        l_found = m_socketBufferInfos.find(ip_socket);
        if (l_found == m_socketBufferInfos.end())
            return; // disposed of while the frame was handled
        if (!l_accepted)
        {
            ip_socket->disconnect();
            l_marker.Dispose();
            DisposeOfSocket(ip_socket);
            return;
        }
        SocketBufferInfo& l_after = l_found->second;
        if (l_after.m_isHandedOver)
        {
            m_socketBufferInfos.erase(l_found);
            return;
        }
        l_after.m_isLengthRead = false;
        l_after.m_length = 0;
        // A connection that once carried a large share list should not keep its
        // megabytes while idle; ordinary frames keep reusing their buffer.
        if (l_after.m_buffer.GetBufferCapacity() > c_activityStep * 10)
            l_after.m_buffer = MemStream();
        else
            l_after.m_buffer.Reset();
    }
}
