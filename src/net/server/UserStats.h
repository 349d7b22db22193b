#pragma once

// UserStats: a user's statistics as the server sends them.
// Wire: u32 speed, u64 counter, u32 file count, u32 folder count (20 bytes).

#include "net/server/Stream.h"

#include <cstdint>

class UserStats : public Persistent
{
public:
  UserStats() = default;
  UserStats(std::uint32_t speed, std::uint64_t counter, std::uint32_t fileCount,
            std::uint32_t folderCount)
      : m_speed(speed), m_counter(counter), m_fileCount(fileCount), m_folderCount(folderCount)
  {
  }
  UserStats(UserStats const&) = default;
  UserStats& operator=(UserStats const&) = default;
  ~UserStats() = default;

  // Reads the fields in wire order; stops at the first short read (fields read
  // before it keep their new values).
  bool Read(InputStream& stream) override;
  // Writes the fields in wire order; stops at the first failed write.
  bool Write(OutputStream& stream) const override;

  bool operator==(UserStats const& other) const
  {
    return m_speed == other.m_speed && m_counter == other.m_counter &&
           m_fileCount == other.m_fileCount && m_folderCount == other.m_folderCount;
  }
  bool operator!=(UserStats const& other) const { return !(*this == other); }

  std::uint32_t m_speed = 0;        // average transfer speed
  std::uint64_t m_counter = 0;      // carried, used by no part of the client
  std::uint32_t m_fileCount = 0;    // shared files
  std::uint32_t m_folderCount = 0;  // shared folders
};
