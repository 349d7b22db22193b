#pragma once

// MemStream: a growable in-memory byte buffer that is both an
// InputStream and an OutputStream. Copies share one buffer (with its read and write
// indexes) through an rcptr: what one copy reads or writes the other sees.
// GUI thread only (the reference count is not atomic).

#include "net/server/Stream.h"
#include "net/server/rcptr.h"

#include <cstdint>
#include <cstring>

class MemStream : public virtual InputStream, public virtual OutputStream
{
public:
  // The shared buffer. Invariant: m_readIndex <= m_writeIndex <= m_bufferSize.
  struct Buffer
  {
    Buffer();
    ~Buffer();
    Buffer(Buffer const&) = delete;
    Buffer& operator=(Buffer const&) = delete;

    std::uint64_t m_readIndex;   // offset of the next byte to read
    std::uint64_t m_writeIndex;  // number of bytes written
    std::uint64_t m_bufferSize;  // capacity of mp_data
    char* mp_data;               // owned
  };

  static constexpr std::uint64_t kInitialCapacity = 256;

  // A new shared buffer: indexes 0, capacity 256.
  MemStream();
  MemStream(MemStream const&) = default;             // shares the buffer
  MemStream& operator=(MemStream const&) = default;  // shares the buffer
  ~MemStream() override;

  // Copies exactly length bytes out and advances the read index; when fewer than
  // length bytes are pending, returns false and consumes nothing.
  bool ReadBuffer(void* target, unsigned long length) override
  {
    Buffer& b = *mp_buffer;
    if (b.m_writeIndex - b.m_readIndex < length) return false;
    if (length) std::memcpy(target, b.mp_data + b.m_readIndex, length);
    b.m_readIndex += length;
    return true;
  }

  // Appends length bytes, growing the array by doubling when m_bufferSize <=
  // m_writeIndex + length (so after any write the capacity exceeds the write index).
  // Always true.
  bool WriteBuffer(void const* source, unsigned long length) override
  {
    Buffer& b = *mp_buffer;
    if (b.m_bufferSize <= b.m_writeIndex + length) Grow(b.m_writeIndex + length);
    if (length) std::memcpy(b.mp_data + b.m_writeIndex, source, length);
    b.m_writeIndex += length;
    return true;
  }

  // Both indexes to 0; keeps the array and its capacity.
  void Reset()
  {
    mp_buffer->m_readIndex = 0;
    mp_buffer->m_writeIndex = 0;
  }

  // First byte of the array (byte 0, read or not).
  char* GetBuffer() const { return mp_buffer->mp_data; }
  // m_writeIndex: the number of bytes written since the last reset.
  std::uint64_t GetBufferLength() const { return mp_buffer->m_writeIndex; }
  // First unread byte.
  char* GetReadBuffer() const { return mp_buffer->mp_data + mp_buffer->m_readIndex; }
  // m_writeIndex - m_readIndex.
  std::uint64_t GetPendingReadLength() const
  {
    return mp_buffer->m_writeIndex - mp_buffer->m_readIndex;
  }
  // The array at m_writeIndex, for a caller that fills bytes in place (then
  // AdvanceWriteIndex).
  char* GetWriteBuffer() const { return mp_buffer->mp_data + mp_buffer->m_writeIndex; }
  std::uint64_t GetWriteIndex() const { return mp_buffer->m_writeIndex; }

  // Additions for callers and tests.
  std::uint64_t GetReadIndex() const { return mp_buffer->m_readIndex; }
  std::uint64_t GetBufferCapacity() const { return mp_buffer->m_bufferSize; }

  // When the capacity is below n, the array is replaced by a new one of exactly n
  // bytes; the old bytes are NOT kept (use it only on an empty buffer).
  void EnsureBufferCapacity(std::uint64_t n);

  // Adds n to m_writeIndex after bytes were placed with GetWriteBuffer; asserts
  // "mp_buffer->m_writeIndex <= mp_buffer->m_bufferSize".
  void AdvanceWriteIndex(int n);

private:
  void Grow(std::uint64_t needed);  // capacity doubled until it exceeds needed

  rcptr<Buffer> mp_buffer;
};

// Byte transform of obfuscated peer connections.
inline std::uint32_t BitRotateLeft(std::uint32_t value, unsigned bits = 1)
{
  bits &= 31u;
  return bits ? (value << bits) | (value >> (32u - bits)) : value;
}

// Masks length bytes from source into target (they may be the same): before each
// group of four bytes, including the first, the working key (starting as key) is
// rotated left by one bit; byte j is XORed with byte (j mod 4) of the working key,
// byte 0 being the least significant. A partial last group uses the low bytes.
// Returns the working key after the last group.
inline std::uint32_t Obfuscate(std::uint32_t key, void const* source, void* target,
                               std::uint64_t length)
{
  auto const* in = static_cast<unsigned char const*>(source);
  auto* out = static_cast<unsigned char*>(target);
  for (std::uint64_t j = 0; j < length; ++j) {
    if ((j & 3u) == 0) key = BitRotateLeft(key);
    out[j] = static_cast<unsigned char>(in[j] ^ static_cast<unsigned char>(key >> (8u * (j & 3u))));
  }
  return key;
}

// Unmasking is the same operation.
inline std::uint32_t Deobfuscate(std::uint32_t key, void const* source, void* target,
                                 std::uint64_t length)
{
  return Obfuscate(key, source, target, length);
}
