// Values (item keys) and the value readers of Value and ItemPtr.

#include "store/Data.h"
#include "store/ExtendedAsciiTranslator.h"

namespace
{
// Qt's base-10 conversions read the bytes as Latin-1 text: surrounding white space
// and a sign are allowed; text that is not a number and overflow give 0.
QByteArray Raw(std::string const& bytes)
{
    return QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
}
} // namespace

Value::Value(char const* text) : m_bytes(text ? text : "") {}

Value::Value(QString const& text)
{
    QByteArray const l_utf8 = text.toUtf8();
    qsizetype const l_nul = l_utf8.indexOf('\0');
    m_bytes.assign(l_utf8.constData(), static_cast<std::size_t>(l_nul < 0 ? l_utf8.size() : l_nul));
}

Value::Value(QByteArray const& bytes)
    : m_bytes(bytes.constData(), static_cast<std::size_t>(bytes.size()))
{
}

Value::Value(int number) : m_bytes(std::to_string(number)) {}
Value::Value(unsigned int number) : m_bytes(std::to_string(number)) {}
Value::Value(long long number) : m_bytes(std::to_string(number)) {}
Value::Value(unsigned long long number) : m_bytes(std::to_string(number)) {}

QString Value::AsString() const
{
    return ToQString(m_bytes);
}

int Value::AsInt() const
{
    return Raw(m_bytes).toInt(nullptr, 10);
}

unsigned int Value::AsUInt() const
{
    return Raw(m_bytes).toUInt(nullptr, 10);
}

long long Value::AsInt64() const
{
    return Raw(m_bytes).toLongLong(nullptr, 10);
}

unsigned long long Value::AsUInt64() const
{
    return Raw(m_bytes).toULongLong(nullptr, 10);
}

std::string ItemPtr::AsStdString() const
{
    return mp_item ? mp_item->GetValue().AsStdString() : std::string();
}

QString ItemPtr::AsString() const
{
    return mp_item ? mp_item->GetValue().AsString() : QString();
}

int ItemPtr::AsInt() const
{
    return mp_item ? mp_item->GetValue().AsInt() : 0;
}

unsigned int ItemPtr::AsUInt() const
{
    return mp_item ? mp_item->GetValue().AsUInt() : 0;
}

long long ItemPtr::AsInt64() const
{
    return mp_item ? mp_item->GetValue().AsInt64() : 0;
}

unsigned long long ItemPtr::AsUInt64() const
{
    return mp_item ? mp_item->GetValue().AsUInt64() : 0;
}
