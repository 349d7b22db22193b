#include "net/server/MemStream.h"

MemStream::Buffer::Buffer()
    : m_readIndex(0), m_writeIndex(0), m_bufferSize(kInitialCapacity),
      mp_data(new char[kInitialCapacity])
{
}

MemStream::Buffer::~Buffer()
{
  delete[] mp_data;
}

MemStream::MemStream() : mp_buffer(new Buffer) {}

MemStream::~MemStream() = default;

void MemStream::Grow(std::uint64_t needed)
{
  Buffer& b = *mp_buffer;
  std::uint64_t capacity = b.m_bufferSize ? b.m_bufferSize : 1;
  while (capacity <= needed) capacity *= 2;
  char* data = new char[capacity];
  if (b.m_writeIndex) std::memcpy(data, b.mp_data, b.m_writeIndex);  // read bytes included
  delete[] b.mp_data;
  b.mp_data = data;
  b.m_bufferSize = capacity;
}

void MemStream::EnsureBufferCapacity(std::uint64_t n)
{
  Buffer& b = *mp_buffer;
  if (b.m_bufferSize >= n) return;
  char* data = new char[n];
  delete[] b.mp_data;
  b.mp_data = data;
  b.m_bufferSize = n;
}

void MemStream::AdvanceWriteIndex(int n)
{
  mp_buffer->m_writeIndex += static_cast<std::int64_t>(n);
  KESTRUNE_STREAM_ASSERT(mp_buffer->m_writeIndex <= mp_buffer->m_bufferSize);
}
