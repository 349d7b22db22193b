#include "store/ExtendedAsciiTranslator.h"

#include "store/Settings.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QStringDecoder>
#include <QTextCodec>

#include <cstring>

ExtendedAsciiTranslator* extendedAsciiTranslator = nullptr;

namespace
{
char const* const c_keyType = "global";
char const* const c_valueType = "global_value";

// Length of the text up to the first zero byte.
std::size_t TextLength(char const* data, std::size_t size)
{
    void const* const l_zero = size ? std::memchr(data, 0, size) : nullptr;
    return l_zero ? static_cast<std::size_t>(static_cast<char const*>(l_zero) - data) : size;
}

bool IsAscii(char const* data, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i)
        if (static_cast<unsigned char>(data[i]) >= 0x80)
            return false;
    return true;
}

QString Latin1(char const* data, std::size_t size)
{
    return QString::fromLatin1(data, static_cast<qsizetype>(TextLength(data, size)));
}
} // namespace

QString ToQString(std::string const& bytes)
{
    return ToQString(bytes.data(), bytes.size());
}

QString ToQString(char const* data, std::size_t size)
{
    std::size_t const l_length = TextLength(data, size);
    if (l_length == size)
    {
        // Plain ASCII is its own UTF-8 reading.
        if (IsAscii(data, size))
            return QString::fromLatin1(data, static_cast<qsizetype>(size));
        // Stateless: a sequence cut off at the end is an error, not state kept for
        // more input. The mark is kept: QString::fromUtf8 would drop a leading U+FEFF,
        // and a name that starts with one must stay that name.
        QStringDecoder l_decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                           QStringDecoder::Flag::ConvertInitialBom);
        QString l_utf8 = l_decoder.decode(QByteArrayView(data, static_cast<qsizetype>(size)));
        if (!l_decoder.hasError())
            return l_utf8;
    }
    // Not valid UTF-8, or holding a zero byte.
    if (extendedAsciiTranslator)
        return extendedAsciiTranslator->Translate(data, size);
    return Latin1(data, size);
}

ExtendedAsciiTranslator::ExtendedAsciiTranslator()
{
    extendedAsciiTranslator = this;

    // Creates the setting's item, so it exists from here on.
    WatchSetting(c_settingKey, CreateHandler(this, &ExtendedAsciiTranslator::OnCodePageChanges));

    // The shell creates the translator before the store file loads, so normally there is
    // no value yet; one that is already there takes effect as well.
    ItemPtr const l_setting = d.GetType(c_keyType)->HasItem(Value(c_settingKey));
    if (ItemPtr const l_value = l_setting[c_valueType])
        ApplyCodePage(l_value.AsStdString());
}

ExtendedAsciiTranslator::~ExtendedAsciiTranslator()
{
    RemoveDataHandlers();
    if (extendedAsciiTranslator == this)
        extendedAsciiTranslator = nullptr;
}

void ExtendedAsciiTranslator::SetCodePage(std::string const& name)
{
    // The name is stored as the bytes given: a detour through QString would replace
    // bytes that are not UTF-8, and the stored name would no longer be the one chosen.
    ItemPtr const l_value = d.GetType(c_valueType)->GetItem(Value(name));
    ItemPtr const l_setting = d.GetType(c_keyType)->GetItem(Value(c_settingKey));
    // One value per key: an earlier value is disconnected first; the same one is a no-op.
    l_setting += l_value;
}

void ExtendedAsciiTranslator::OnCodePageChanges(ItemPtr item)
{
    ApplyCodePage(item[c_valueType].AsStdString());
}

void ExtendedAsciiTranslator::ApplyCodePage(std::string const& name)
{
    // An empty name is none; an unknown name yields null too: both mean Latin-1.
    QTextCodec* const lp_codec =
        name.empty() ? nullptr
                     : QTextCodec::codecForName(
                           QByteArray(name.data(), static_cast<qsizetype>(name.size())));
    m_codec.store(lp_codec, std::memory_order_release);
}

QString ExtendedAsciiTranslator::Translate(std::string const& bytes) const
{
    return Translate(bytes.data(), bytes.size());
}

QString ExtendedAsciiTranslator::Translate(char const* data, std::size_t size) const
{
    std::size_t const l_length = TextLength(data, size);
    if (QTextCodec* const lp_codec = Codec())
        return lp_codec->toUnicode(data, static_cast<int>(l_length));
    return QString::fromLatin1(data, static_cast<qsizetype>(l_length));
}
