#pragma once

// A store file holding only settings, written by hand for benchmarks that start a whole
// client from its home folder. The settings that keep a client on this machine are always
// added unless the caller names them: no UPnP discovery (it multicasts to the local
// network) and the web host on a closed loopback port. The programs that start a client
// also link the tests' loopback guard, which keeps any UPnP search off the network.
//
// Format: u32 section count; per section its name, a null flag and its (id, value)
// records; then the (key id, value id) pairs. Little-endian, strings as u32 length + bytes.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QPair>
#include <QString>
#include <QtEndian>

#include <algorithm>

namespace bench
{

using SettingList = QList<QPair<QByteArray, QByteArray>>;

inline bool WriteSettingsStore(QString const& i_path, SettingList i_settings)
{
    SettingList const l_guards = {{"use_upnp", "no"}, {"web_host", "127.0.0.1"}, {"web_port", "1"}};
    for (auto const& l_guard : l_guards)
        if (std::none_of(i_settings.cbegin(), i_settings.cend(),
                         [&](auto const& l_setting) { return l_setting.first == l_guard.first; }))
            i_settings.append(l_guard);

    auto const l_int = [](QByteArray& io_bytes, quint32 i_value)
    {
        char l_bytes[4];
        qToLittleEndian(i_value, l_bytes);
        io_bytes.append(l_bytes, 4);
    };
    auto const l_text = [&](QByteArray& io_bytes, QByteArray const& i_text)
    {
        l_int(io_bytes, quint32(i_text.size()));
        io_bytes.append(i_text);
    };
    QByteArray l_keys;
    QByteArray l_values;
    QByteArray l_pairs;
    quint32 l_id = 1;
    for (auto const& l_setting : i_settings)
    {
        l_int(l_keys, l_id);
        l_text(l_keys, l_setting.first);
        l_int(l_values, l_id + 1);
        l_text(l_values, l_setting.second);
        l_int(l_pairs, l_id);
        l_int(l_pairs, l_id + 1);
        l_id += 2;
    }
    QByteArray l_file;
    l_int(l_file, 2);
    for (auto const& [l_name, l_records] :
         {QPair<QByteArray, QByteArray>{"global", l_keys},
          QPair<QByteArray, QByteArray>{"global_value", l_values}})
    {
        l_text(l_file, l_name);
        l_file.append('\0');
        l_int(l_file, quint32(i_settings.size()));
        l_file.append(l_records);
    }
    l_int(l_file, quint32(i_settings.size()));
    l_file.append(l_pairs);
    QFile l_out(i_path);
    return l_out.open(QIODevice::WriteOnly) && l_out.write(l_file) == l_file.size();
}

} // namespace bench
