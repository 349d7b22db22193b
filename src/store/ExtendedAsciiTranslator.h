#pragma once

// Text decoding with a code page.
//
// ToQString(bytes): the UTF-8 reading when the whole input is valid UTF-8 without a
// zero byte (a leading byte-order mark is kept as U+FEFF); otherwise the global
// translator's Translate (the code page named by the setting `extended_ascii_codepage`,
// Latin-1 when none is set, the name is unknown, or there is no translator). The text
// always ends at the first zero byte. Every reader of network text decodes through it.

#include "store/Data.h"

#include <QString>

#include <atomic>
#include <cstddef>
#include <string>

class QTextCodec;

QString ToQString(std::string const& bytes);
// The same rule for a byte range (no copy into a std::string).
QString ToQString(char const* data, std::size_t size);

class ExtendedAsciiTranslator : public DataHandler
{
public:
    // The setting that names the code page (a `global` key).
    static constexpr char const* c_settingKey = "extended_ascii_codepage";

    // Sets extendedAsciiTranslator and follows the setting through a path handler
    // (a `global_value` item connected to the setting's `global` item). Needs the
    // settings types (DeclareSettingsTypes). A value already present is applied too.
    ExtendedAsciiTranslator();
    // Drops the path handler and clears extendedAsciiTranslator when it points here.
    ~ExtendedAsciiTranslator() override;

    // Makes `name` the setting's value; the empty text means none (Latin-1). Setting the
    // value already held changes nothing and fires nothing.
    void SetCodePage(std::string const& name);
    // The path handler: `item` is the setting's `global` item.
    void OnCodePageChanges(ItemPtr item);

    // The codec's reading up to the first zero byte, or Latin-1 without a codec.
    QString Translate(std::string const& bytes) const;
    QString Translate(char const* data, std::size_t size) const;

    // The chosen codec, null for Latin-1.
    QTextCodec* Codec() const { return m_codec.load(std::memory_order_acquire); }

private:
    void ApplyCodePage(std::string const& name);

    std::atomic<QTextCodec*> m_codec{nullptr};
};

extern ExtendedAsciiTranslator* extendedAsciiTranslator;
