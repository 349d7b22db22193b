#pragma once

// Wire streams: the abstract reader InputStream, the abstract writer
// OutputStream and the self-describing record bases StreamReadable, StreamWritable
// and Persistent. Typed values are encoded by non-virtual Read/Write overloads and
// templates built on the two virtual byte operations ReadBuffer and WriteBuffer.
//
// Encoding (shared by the server, peer and distributed-network protocols):
//   bool, char, signed/unsigned char   1 byte (bool written 0/1, any non-zero reads true)
//   short, unsigned short               2 bytes
//   int, unsigned int                   4 bytes
//   long, unsigned long, long long,     8 bytes  (NB: std::size_t / std::uint64_t are
//   unsigned long long                           unsigned long here: 8 bytes on the wire;
//                                                cast to unsigned int for a u32)
//   std::string                         u32 byte count, then the bytes, no terminator
//   QString                             its UTF-8 form (up to the first NUL) as a std::string
//   char const*                         as a std::string (the bytes before the NUL)
//   std::pair<A, B>                     A, then B
//   std::list / std::set                u32 count, then the elements in container order
//   std::map                            u32 count, then key and value of each entry
//   StreamReadable / StreamWritable     the record's own Read / Write
// All integers little-endian, packed without gaps.
//
// Read limits: a string byte count or a container count above 131072 (compared
// unsigned) fails after consuming only the four count bytes; a failed container read
// leaves the container empty. Taken as unsigned, a count with its top bit set is far
// above the bound: it must not pass as a small negative number, since elements would
// then be read until the message runs out. Nothing is ever reserved or allocated in
// advance from a count read from the wire (a string body of at most 131072 bytes is
// the only allocation sized by the wire).
//
// Reads return true on success and false on a short or refused read; they never throw.
// Writes return the result of their last WriteBuffer and stop at the first failure.

#include <bit>
#include <cstdint>
#include <cstring>
#include <list>
#include <map>
#include <set>
#include <string>
#include <utility>

class QString;
class InputStream;
class OutputStream;

// Largest string byte count / container count accepted by a read.
inline constexpr std::uint32_t kStreamReadLimit = 131072;  // 0x20000

// A record that reads itself. No virtual destructor; the protected
// destructor keeps anyone from deleting a record through this base.
class StreamReadable
{
public:
  virtual bool Read(InputStream& stream) = 0;

protected:
  StreamReadable() = default;
  StreamReadable(StreamReadable const&) = default;
  StreamReadable& operator=(StreamReadable const&) = default;
  ~StreamReadable() = default;
};

// A record that writes itself. No virtual destructor.
class StreamWritable
{
public:
  virtual bool Write(OutputStream& stream) const = 0;

protected:
  StreamWritable() = default;
  StreamWritable(StreamWritable const&) = default;
  StreamWritable& operator=(StreamWritable const&) = default;
  ~StreamWritable() = default;
};

// Base of records that carry themselves (UserStats; FileInfo, AttributeMap and
// SharedFolderInfo). Adds nothing. Read and Write return false at the
// first failed read or write.
class Persistent : public StreamReadable, public StreamWritable
{
protected:
  Persistent() = default;
  Persistent(Persistent const&) = default;
  Persistent& operator=(Persistent const&) = default;
  ~Persistent() = default;
};

namespace kestrune_stream_detail {
template <class T>
inline void ToLittleEndian(T value, unsigned char* out)
{
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(out, &value, sizeof(T));
  } else {
    using U = std::make_unsigned_t<T>;
    U u = static_cast<U>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) out[i] = static_cast<unsigned char>(u >> (8 * i));
  }
}

template <class T>
inline T FromLittleEndian(unsigned char const* in)
{
  if constexpr (std::endian::native == std::endian::little) {
    T value;
    std::memcpy(&value, in, sizeof(T));
    return value;
  } else {
    using U = std::make_unsigned_t<T>;
    U u = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) u |= static_cast<U>(static_cast<U>(in[i]) << (8 * i));
    return static_cast<T>(u);
  }
}
}  // namespace kestrune_stream_detail

class InputStream
{
public:
  virtual ~InputStream();

  // Copies exactly length bytes into target, or returns false (consuming nothing
  // when the stream is a MemStream).
  virtual bool ReadBuffer(void* target, unsigned long length) = 0;

  bool Read(bool& value)
  {
    unsigned char byte;
    if (!ReadBuffer(&byte, 1)) return false;
    value = byte != 0;
    return true;
  }
  bool Read(char& value) { return ReadInteger(value); }
  bool Read(signed char& value) { return ReadInteger(value); }
  bool Read(unsigned char& value) { return ReadInteger(value); }
  bool Read(short& value) { return ReadInteger(value); }
  bool Read(unsigned short& value) { return ReadInteger(value); }
  bool Read(int& value);  // out of line
  bool Read(unsigned int& value) { return ReadInteger(value); }
  bool Read(long& value) { return ReadInteger(value); }
  bool Read(unsigned long& value) { return ReadInteger(value); }
  bool Read(long long& value) { return ReadInteger(value); }
  bool Read(unsigned long long& value) { return ReadInteger(value); }

  // u32 count (at most 131072, unsigned), then the bytes; the value is the bytes
  // before the first NUL. On failure the target is left unchanged.
  bool Read(std::string& value);
  // As std::string, decoded with ToQString: UTF-8 when the bytes are valid UTF-8
  // (a leading byte-order mark kept), else the configured code page.
  bool Read(QString& value);
  bool Read(StreamReadable& record) { return record.Read(*this); }

  template <class A, class B>
  bool Read(std::pair<A, B>& value)
  {
    return Read(value.first) && Read(value.second);
  }

  template <class T, class Alloc>
  bool Read(std::list<T, Alloc>& value)
  {
    value.clear();
    std::uint32_t count;
    if (!ReadCount(count)) return false;
    for (std::uint32_t i = 0; i != count; ++i) {
      T element{};
      if (!Read(element)) return false;
      value.push_back(std::move(element));
    }
    return true;
  }

  template <class T, class Compare, class Alloc>
  bool Read(std::set<T, Compare, Alloc>& value)
  {
    value.clear();
    std::uint32_t count;
    if (!ReadCount(count)) return false;
    for (std::uint32_t i = 0; i != count; ++i) {
      T element{};
      if (!Read(element)) return false;
      value.insert(std::move(element));
    }
    return true;
  }

  template <class K, class V, class Compare, class Alloc>
  bool Read(std::map<K, V, Compare, Alloc>& value)
  {
    value.clear();
    std::uint32_t count;
    if (!ReadCount(count)) return false;
    for (std::uint32_t i = 0; i != count; ++i) {
      K key{};
      if (!Read(key)) return false;
      V mapped{};
      if (!Read(mapped)) return false;
      value.insert_or_assign(std::move(key), std::move(mapped));
    }
    return true;
  }

  // Reads a container count: false when the read fails or when the count is above
  // 131072 (unsigned, so a count with its top bit set fails too). Public for readers
  // of lists whose entries are not one type.
  bool ReadCount(std::uint32_t& count)
  {
    if (!ReadInteger(count)) return false;
    return count <= kStreamReadLimit;
  }

protected:
  InputStream() = default;
  InputStream(InputStream const&) = default;
  InputStream& operator=(InputStream const&) = default;

private:
  template <class T>
  bool ReadInteger(T& value)
  {
    unsigned char bytes[sizeof(T)];
    if (!ReadBuffer(bytes, sizeof(T))) return false;
    value = kestrune_stream_detail::FromLittleEndian<T>(bytes);
    return true;
  }
};

class OutputStream
{
public:
  virtual ~OutputStream();

  virtual bool WriteBuffer(void const* source, unsigned long length) = 0;

  bool Write(bool value)
  {
    unsigned char byte = value ? 1 : 0;
    return WriteBuffer(&byte, 1);
  }
  bool Write(char value) { return WriteInteger(value); }
  bool Write(signed char value) { return WriteInteger(value); }
  bool Write(unsigned char value) { return WriteInteger(value); }
  bool Write(short value) { return WriteInteger(value); }
  bool Write(unsigned short value) { return WriteInteger(value); }
  bool Write(int value) { return WriteInteger(value); }
  bool Write(unsigned int value) { return WriteInteger(value); }
  bool Write(long value) { return WriteInteger(value); }
  bool Write(unsigned long value) { return WriteInteger(value); }
  bool Write(long long value) { return WriteInteger(value); }
  bool Write(unsigned long long value) { return WriteInteger(value); }

  // u32 byte count, then the bytes (no bound on writing).
  bool Write(std::string const& value) { return WriteBytes(value.data(), value.size()); }
  // The bytes before the NUL, as a std::string (keeps a literal from choosing bool).
  bool Write(char const* value) { return WriteBytes(value, std::strlen(value)); }
  // UTF-8 up to (not including) the first NUL byte, as a std::string.
  bool Write(QString const& value);
  bool Write(StreamWritable const& record) { return record.Write(*this); }

  template <class A, class B>
  bool Write(std::pair<A, B> const& value)
  {
    return Write(value.first) && Write(value.second);
  }

  template <class T, class Alloc>
  bool Write(std::list<T, Alloc> const& value)
  {
    return WriteRange(value);
  }

  template <class T, class Compare, class Alloc>
  bool Write(std::set<T, Compare, Alloc> const& value)
  {
    return WriteRange(value);
  }

  template <class K, class V, class Compare, class Alloc>
  bool Write(std::map<K, V, Compare, Alloc> const& value)
  {
    if (!Write(static_cast<unsigned int>(value.size()))) return false;
    for (auto const& entry : value) {
      if (!Write(entry.first)) return false;
      if (!Write(entry.second)) return false;
    }
    return true;
  }

protected:
  OutputStream() = default;
  OutputStream(OutputStream const&) = default;
  OutputStream& operator=(OutputStream const&) = default;

private:
  template <class T>
  bool WriteInteger(T value)
  {
    unsigned char bytes[sizeof(T)];
    kestrune_stream_detail::ToLittleEndian(value, bytes);
    return WriteBuffer(bytes, sizeof(T));
  }

  bool WriteBytes(char const* data, std::size_t length)
  {
    if (!Write(static_cast<unsigned int>(length))) return false;
    if (length == 0) return true;
    return WriteBuffer(data, length);
  }

  template <class C>
  bool WriteRange(C const& container)
  {
    if (!Write(static_cast<unsigned int>(container.size()))) return false;
    for (auto const& element : container)
      if (!Write(element)) return false;
    return true;
  }
};
