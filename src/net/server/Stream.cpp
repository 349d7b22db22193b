#include "net/server/Stream.h"

#include "store/ExtendedAsciiTranslator.h"

#include <QByteArray>
#include <QString>

InputStream::~InputStream() = default;
OutputStream::~OutputStream() = default;

bool InputStream::Read(int& value)
{
  return ReadInteger(value);
}

bool InputStream::Read(std::string& value)
{
  std::uint32_t count;
  if (!ReadInteger(count)) return false;
  if (count > kStreamReadLimit) return false;  // unsigned; the count bytes stay consumed
  // The allocation is bounded by kStreamReadLimit (128 KiB).
  std::string bytes(count, '\0');
  if (count != 0 && !ReadBuffer(bytes.data(), count)) return false;
  std::size_t const nul = bytes.find('\0');
  if (nul != std::string::npos) bytes.resize(nul);
  value = std::move(bytes);
  return true;
}

bool InputStream::Read(QString& value)
{
  std::string bytes;
  if (!Read(bytes)) return false;
  // The bytes end before any NUL already, so the one rule for network text applies:
  // UTF-8 when valid, else the configured code page.
  value = ToQString(bytes);
  return true;
}

bool OutputStream::Write(QString const& value)
{
  QByteArray const utf8 = value.toUtf8();
  qsizetype const nul = utf8.indexOf('\0');
  std::size_t const length = static_cast<std::size_t>(nul < 0 ? utf8.size() : nul);
  return WriteBytes(utf8.constData(), length);
}
