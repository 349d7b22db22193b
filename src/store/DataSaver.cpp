#include "store/DataSaver.h"

#include "store/Log.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <string_view>
#include <type_traits>
#include <unistd.h>
#include <utility>
#include <vector>

DataSaver* dataSaver = nullptr;

namespace
{

// Small writes are gathered into large ones: a store of a million items would
// otherwise cost millions of system calls.
constexpr qsizetype c_writeChunk = qsizetype(1) << 20;

class StoreWriter
{
public:
    explicit StoreWriter(QFile& file) : m_file(file) { m_buffer.reserve(c_writeChunk); }

    void Append(char const* bytes, qsizetype count)
    {
        if (qsizetype(m_buffer.size()) + count > c_writeChunk)
            Flush();
        if (count >= c_writeChunk)
            WriteThrough(bytes, count);
        else
            m_buffer.insert(m_buffer.end(), bytes, bytes + count);
    }

    void Flush()
    {
        if (m_buffer.empty())
            return;
        WriteThrough(m_buffer.data(), qsizetype(m_buffer.size()));
        m_buffer.clear(); // keeps the capacity
    }

private:
    void WriteThrough(char const* bytes, qsizetype count)
    {
        if (m_file.write(bytes, count) != count)
            throw DataSaveFailure();
    }

    QFile& m_file;
    std::vector<char> m_buffer;
};

template <typename T> void WriteType(StoreWriter& writer, T value);

template <> void WriteType<int>(StoreWriter& writer, int value)
{
    char l_bytes[4];
    qToLittleEndian<qint32>(value, l_bytes);
    writer.Append(l_bytes, 4);
}

template <> void WriteType<bool>(StoreWriter& writer, bool value)
{
    char const l_byte = value ? 1 : 0;
    writer.Append(&l_byte, 1);
}

void WriteCount(StoreWriter& writer, std::size_t count)
{
    // The format has signed 32-bit counts; a larger store cannot be written faithfully.
    if (count > std::size_t(std::numeric_limits<qint32>::max()))
        throw DataSaveFailure();
    WriteType<int>(writer, int(count));
}

void WriteString(StoreWriter& writer, std::string const& value)
{
    WriteCount(writer, value.size());
    writer.Append(value.data(), qsizetype(value.size()));
}

// How far ahead the passes over many items prefetch.
constexpr std::size_t c_ahead = 16;

// Ids of the written items by item address. Open addressing keeps a lookup to about
// one cache miss, which matters when a save touches millions of connections.
class ItemIdTable
{
public:
    explicit ItemIdTable(std::size_t count)
    {
        std::size_t l_capacity = 16;
        while (l_capacity < count * 2)
            l_capacity <<= 1;
        m_slots.assign(l_capacity, Slot{nullptr, 0});
        m_mask = l_capacity - 1;
    }

    // Each item is inserted once at most.
    void Insert(Item* item, qint32 id)
    {
        std::size_t l_index = Hash(item) & m_mask;
        while (m_slots[l_index].mp_item)
            l_index = (l_index + 1) & m_mask;
        m_slots[l_index] = Slot{item, id};
    }

    // Lookups are latency-bound; announcing the next ones lets the misses overlap.
    void Prefetch(Item* item) const { __builtin_prefetch(&m_slots[Hash(item) & m_mask]); }

    // The item's id, or 0 when it was not written.
    qint32 Find(Item* item) const
    {
        for (std::size_t l_index = Hash(item) & m_mask;; l_index = (l_index + 1) & m_mask)
        {
            Slot const& l_slot = m_slots[l_index];
            if (l_slot.mp_item == item)
                return l_slot.m_id;
            if (!l_slot.mp_item)
                return 0;
        }
    }

private:
    struct Slot
    {
        Item* mp_item;
        qint32 m_id;
    };

    static std::size_t Hash(Item* item)
    {
        std::uint64_t l_bits = reinterpret_cast<std::uintptr_t>(item);
        l_bits ^= l_bits >> 33;
        l_bits *= 0xff51afd7ed558ccdULL;
        l_bits ^= l_bits >> 33;
        return std::size_t(l_bits);
    }

    std::vector<Slot> m_slots;
    std::size_t m_mask = 0;
};

// The connections among the written items as (low id, high id), ascending, once each.
// `written` holds the items in id order (id = index + 1), section by section as
// `sectionEnds` marks them; `savedTypes` are the sections' types.
std::vector<std::pair<qint32, qint32>> CollectPairs(std::vector<Type*> const& savedTypes,
                                                    std::vector<Item*> const& written,
                                                    std::vector<std::size_t> const& sectionEnds)
{
    ItemIdTable l_ids(written.size());
    for (std::size_t l_index = 0; l_index < written.size(); ++l_index)
    {
        if (l_index + c_ahead < written.size())
            l_ids.Prefetch(written[l_index + c_ahead]);
        l_ids.Insert(written[l_index], qint32(l_index + 1));
    }

    // Each connection is met from both ends and taken from its lower end only. Sections
    // are written in name order, so an item connected to a type whose section came
    // earlier holds the higher id: such groups are skipped without looking into them.
    std::map<Type*, std::size_t> l_sectionOf;
    for (std::size_t l_section = 0; l_section < savedTypes.size(); ++l_section)
        l_sectionOf.emplace(savedTypes[l_section], l_section);
    std::vector<std::pair<qint32, Item*>> l_candidates;
    l_candidates.reserve(written.size());
    std::size_t l_index = 0;
    for (std::size_t l_section = 0; l_section < savedTypes.size(); ++l_section)
    {
        for (; l_index < sectionEnds[l_section]; ++l_index)
        {
            if (l_index + c_ahead < written.size())
                __builtin_prefetch(written[l_index + c_ahead]);
            for (auto const& l_group : written[l_index]->Connections())
            {
                auto const l_found = l_sectionOf.find(l_group.first);
                if (l_found == l_sectionOf.end() || l_found->second < l_section)
                    continue;
                for (ItemPtr const& l_other : l_group.second)
                    l_candidates.emplace_back(qint32(l_index + 1), l_other.GetPtr());
            }
        }
    }

    std::vector<std::pair<qint32, qint32>> l_pairs;
    l_pairs.reserve(l_candidates.size());
    for (std::size_t l_candidate = 0; l_candidate < l_candidates.size(); ++l_candidate)
    {
        if (l_candidate + c_ahead < l_candidates.size())
            l_ids.Prefetch(l_candidates[l_candidate + c_ahead].second);
        qint32 const l_id = l_candidates[l_candidate].first;
        qint32 const l_otherId = l_ids.Find(l_candidates[l_candidate].second);
        if (l_otherId != 0 && l_id <= l_otherId)
            l_pairs.emplace_back(l_id, l_otherId);
    }
    // Already ascending by low id; the high ids of one item still need ordering.
    std::sort(l_pairs.begin(), l_pairs.end());
    l_pairs.erase(std::unique(l_pairs.begin(), l_pairs.end()), l_pairs.end());
    return l_pairs;
}

// Reads from the whole file held in memory; every length and count is checked
// against what is left before anything is allocated for it.
class StoreReader
{
public:
    explicit StoreReader(QByteArray const& data) : m_data(data) {}

    qsizetype Remaining() const { return m_data.size() - m_position; }

    // A 4-byte little-endian integer (int) or one byte (bool, any non-zero is true).
    template <typename T> T ReadType()
    {
        static_assert(std::is_same_v<T, int> || std::is_same_v<T, bool>);
        if constexpr (std::is_same_v<T, int>)
        {
            if (Remaining() < 4)
                throw DataLoadFailure();
            qint32 const l_value = qFromLittleEndian<qint32>(m_data.constData() + m_position);
            m_position += 4;
            return l_value;
        }
        else
        {
            if (Remaining() < 1)
                throw DataLoadFailure();
            return m_data.at(m_position++) != 0;
        }
    }

    // A count of entries that each take at least minimumEntrySize bytes: a count the
    // rest of the file cannot hold fails at once instead of after a long loop.
    qint32 ReadCount(qsizetype minimumEntrySize)
    {
        qint32 const l_count = ReadType<int>();
        if (l_count < 0 || qsizetype(l_count) > Remaining() / minimumEntrySize)
            throw DataLoadFailure();
        return l_count;
    }

    // The value kept ends at the first zero byte; the stored length is consumed whole.
    // The view points into the file's bytes, which outlive the load.
    std::string_view ReadStringView()
    {
        qint32 const l_length = ReadType<int>();
        if (l_length < 0 || qsizetype(l_length) > Remaining())
            throw DataLoadFailure();
        char const* const lp_start = m_data.constData() + m_position;
        m_position += l_length;
        void const* const lp_zero = std::memchr(lp_start, 0, std::size_t(l_length));
        std::size_t const l_kept = lp_zero
                                       ? std::size_t(static_cast<char const*>(lp_zero) - lp_start)
                                       : std::size_t(l_length);
        return std::string_view(lp_start, l_kept);
    }

    std::string ReadString() { return std::string(ReadStringView()); }

    void Skip(qsizetype count)
    {
        if (count < 0 || count > Remaining())
            throw DataLoadFailure();
        m_position += count;
    }

private:
    QByteArray const& m_data;
    qsizetype m_position = 0;
};

struct LoadRecord
{
    qint32 m_id;
    Type* mp_type;
    std::string_view m_value; // into LoadPlan::m_data
};

struct LoadPlan
{
    QByteArray m_data;                                              // the whole file
    std::vector<LoadRecord> m_records;                              // ascending id, one per id
    std::vector<std::pair<std::size_t, std::size_t>> m_connections; // record indexes
};

LoadRecord* FindRecord(std::vector<LoadRecord>& records, qint32 id)
{
    if (records.empty())
        return nullptr;
    // Files written by this program number their items 1, 2, 3, ...: index directly.
    qint64 const l_first = records.front().m_id;
    if (qint64(records.back().m_id) - l_first == qint64(records.size()) - 1)
    {
        qint64 const l_index = qint64(id) - l_first;
        if (l_index < 0 || l_index >= qint64(records.size()))
            return nullptr;
        return &records[std::size_t(l_index)];
    }
    auto const l_it = std::lower_bound(records.begin(), records.end(), id,
                                       [](LoadRecord const& record, qint32 value)
                                       { return record.m_id < value; });
    if (l_it == records.end() || l_it->m_id != id)
        return nullptr;
    return &*l_it;
}

// Everything that can fail is checked here, before the store is touched, so that a
// broken file leaves the running store exactly as it was.
LoadPlan ParseStore(QByteArray const& data)
{
    LoadPlan l_plan;
    l_plan.m_data = data;
    StoreReader l_reader(l_plan.m_data);

    // A section needs at least its name length, null flag and item count.
    qint32 const l_typeCount = l_reader.ReadCount(9);
    for (qint32 l_section = 0; l_section < l_typeCount; ++l_section)
    {
        std::string const l_name = l_reader.ReadString();
        bool const l_isNull = l_reader.ReadType<bool>();
        Type* lp_type = d.HasType(l_name);
        // A section whose null flag disagrees with the running schema cannot be
        // applied; it is dropped like a section of an unknown type.
        if (lp_type && lp_type->IsNull() != l_isNull)
            lp_type = nullptr;

        qint32 const l_itemCount = l_reader.ReadCount(l_isNull ? 4 : 8);
        // The count is bounded by the bytes present; growing by at least double keeps
        // many small sections from reallocating each time.
        std::size_t const l_needed = l_plan.m_records.size() + std::size_t(l_itemCount);
        if (lp_type && l_needed > l_plan.m_records.capacity())
            l_plan.m_records.reserve(std::max(l_needed, 2 * l_plan.m_records.capacity()));
        for (qint32 l_entry = 0; l_entry < l_itemCount; ++l_entry)
        {
            qint32 const l_id = l_reader.ReadType<int>();
            if (!lp_type)
            {
                if (!l_isNull)
                {
                    qint32 const l_length = l_reader.ReadType<int>();
                    l_reader.Skip(l_length);
                }
                continue;
            }
            std::string_view l_value;
            if (!l_isNull)
                l_value = l_reader.ReadStringView();
            l_plan.m_records.push_back(LoadRecord{l_id, lp_type, l_value});
        }
    }

    qint32 const l_pairCount = l_reader.ReadCount(8);
    std::vector<std::pair<qint32, qint32>> l_pairs;
    l_pairs.reserve(std::size_t(l_pairCount)); // bounded by the bytes actually present
    for (qint32 l_pair = 0; l_pair < l_pairCount; ++l_pair)
    {
        qint32 const l_first = l_reader.ReadType<int>();
        qint32 const l_second = l_reader.ReadType<int>();
        l_pairs.emplace_back(l_first, l_second);
    }

    // An id met again replaces what was recorded under it: keep the last of each run.
    auto& l_records = l_plan.m_records;
    if (!std::is_sorted(l_records.begin(), l_records.end(),
                        [](LoadRecord const& a, LoadRecord const& b) { return a.m_id < b.m_id; }))
        std::stable_sort(l_records.begin(), l_records.end(),
                         [](LoadRecord const& a, LoadRecord const& b) { return a.m_id < b.m_id; });
    std::size_t l_kept = 0;
    for (std::size_t l_index = 0; l_index < l_records.size(); ++l_index)
    {
        if (l_index + 1 < l_records.size() &&
            l_records[l_index + 1].m_id == l_records[l_index].m_id)
            continue;
        if (l_kept != l_index)
            l_records[l_kept] = std::move(l_records[l_index]);
        ++l_kept;
    }
    l_records.resize(l_kept);

    // Connections are made from each first id, in ascending order of both ids, once.
    // Files written by this program list them sorted already.
    if (!std::is_sorted(l_pairs.begin(), l_pairs.end()))
        std::sort(l_pairs.begin(), l_pairs.end());
    l_pairs.erase(std::unique(l_pairs.begin(), l_pairs.end()), l_pairs.end());
    l_plan.m_connections.reserve(l_pairs.size());
    for (auto const& l_pair : l_pairs)
    {
        LoadRecord* const lp_first = FindRecord(l_records, l_pair.first);
        LoadRecord* const lp_second = FindRecord(l_records, l_pair.second);
        if (!lp_first || !lp_second || lp_first == lp_second)
            continue;
        // A pair between types the running schema does not relate would be refused by
        // the store with a schema exception; it is dropped instead.
        if (!lp_first->mp_type->IsRelated(lp_second->mp_type))
            continue;
        l_plan.m_connections.emplace_back(std::size_t(lp_first - l_records.data()),
                                          std::size_t(lp_second - l_records.data()));
    }
    return l_plan;
}

// Creates the items in ascending id order, then makes the connections.
void ApplyPlan(LoadPlan& plan)
{
    // Handlers fired below may remove items; inside one store operation a removed
    // item stays allocated and connecting it does nothing, so no handle dangles.
    StoreOperation l_operation;
    std::vector<Item*> l_items;
    l_items.reserve(plan.m_records.size());
    for (LoadRecord const& l_record : plan.m_records)
    {
        // A valued item meets the item the type already holds under that value, which
        // is how loaded settings replace the defaults written before the load.
        if (l_record.mp_type->IsNull())
            l_items.push_back(l_record.mp_type->NewItem().GetPtr());
        else
            l_items.push_back(
                l_record.mp_type->NewItem(Value(std::string(l_record.m_value))).GetPtr());
    }
    std::vector<std::pair<Item*, Item*>> l_pairs;
    l_pairs.reserve(plan.m_connections.size());
    for (auto const& l_connection : plan.m_connections)
    {
        Item* const lp_first = l_items[l_connection.first];
        Item* const lp_second = l_items[l_connection.second];
        // Two records of one valued type with the same value meet in one item.
        if (lp_first != lp_second)
            l_pairs.emplace_back(lp_first, lp_second);
    }
    Item::ConnectAll(l_pairs);
}

} // namespace

DataSaver::DataSaver()
{
    dataSaver = this;
}

DataSaver::~DataSaver()
{
    if (dataSaver == this)
        dataSaver = nullptr;
}

void DataSaver::AddSavedType(std::string const& typeName)
{
    m_savedTypes.insert(d.GetType(typeName));
}

void DataSaver::AddSavedByConnectionType(std::string const& typeName,
                                         std::string const& qualifyingTypeName)
{
    Type* const lp_type = d.GetType(typeName);
    Type* const lp_qualifying = d.GetType(qualifyingTypeName);
    m_savedByConnectionTypes[lp_type].insert(lp_qualifying);
}

void DataSaver::AddDataLoadedEventHandler(DataLoadedEventHandler* handler)
{
    m_dataLoadedEventHandlers.insert(handler);
}

void DataSaver::EmitDataLoaded()
{
    // A handler may register further handlers; those belong to no load that ran.
    std::set<DataLoadedEventHandler*> const l_handlers = m_dataLoadedEventHandlers;
    for (DataLoadedEventHandler* lp_handler : l_handlers)
        lp_handler->DataLoaded();
}

QString DataSaver::StoreFilePath()
{
    return QDir::homePath() + QStringLiteral("/.Kestrune");
}

QString DataSaver::TemporaryPath(QString const& path)
{
    for (quint64 l_number = 1;; ++l_number)
    {
        // Plain concatenation: a path that holds "%1" itself must come through unchanged.
        QString const l_candidate = path + QLatin1Char('.') + QString::number(l_number);
        // A link that points nowhere takes the name as well: creating the file through
        // it would fail on every save.
        QFileInfo const l_info(l_candidate);
        if (!l_info.exists() && !l_info.isSymLink())
            return l_candidate;
    }
}

bool DataSaver::IsSavedType(Type* type) const
{
    return m_savedTypes.count(type) != 0 || m_savedByConnectionTypes.count(type) != 0;
}

std::vector<Item*> DataSaver::ChooseItems(Type* type) const
{
    // Keyed items go out in value order (deterministic files, no copy of a large set);
    // readers depend on no order.
    std::vector<Item*> l_chosen;
    l_chosen.reserve(type->GetItemCount());
    std::set<Type*> const* const lp_qualifying =
        m_savedTypes.count(type) ? nullptr : &m_savedByConnectionTypes.at(type);
    auto const l_choose = [&](Item* item)
    {
        if (!lp_qualifying)
        {
            l_chosen.push_back(item);
            return;
        }
        for (Type* lp_qualifyingType : *lp_qualifying)
        {
            if (item->IsConnected(lp_qualifyingType))
            {
                l_chosen.push_back(item);
                return;
            }
        }
    };
    if (type->IsNull())
        for (Item* lp_item : type->NullItems())
            l_choose(lp_item);
    else
        for (Item* lp_item : type->KeyedItems())
            l_choose(lp_item);
    return l_chosen;
}

void DataSaver::WriteStore(QFile& file)
{
    StoreWriter l_writer(file);

    std::vector<Type*> l_savedTypes;
    for (auto const& l_entry : d.Types())
        if (IsSavedType(l_entry.second))
            l_savedTypes.push_back(l_entry.second);
    WriteCount(l_writer, l_savedTypes.size());

    // Ids follow writing order, so l_written[n] has id n + 1.
    std::vector<Item*> l_written;
    std::vector<std::size_t> l_sectionEnds;
    for (Type* lp_type : l_savedTypes)
    {
        WriteString(l_writer, lp_type->Name());
        WriteType<bool>(l_writer, lp_type->IsNull());
        std::vector<Item*> const l_chosen = ChooseItems(lp_type);
        WriteCount(l_writer, l_chosen.size());
        for (Item* lp_item : l_chosen)
        {
            if (l_written.size() >= std::size_t(std::numeric_limits<qint32>::max()))
                throw DataSaveFailure();
            l_written.push_back(lp_item);
            WriteType<int>(l_writer, int(l_written.size()));
            if (!lp_type->IsNull())
                WriteString(l_writer, lp_item->GetValue().GetBytes());
        }
        l_sectionEnds.push_back(l_written.size());
    }

    std::vector<std::pair<qint32, qint32>> const l_pairs =
        CollectPairs(l_savedTypes, l_written, l_sectionEnds);
    WriteCount(l_writer, l_pairs.size());
    for (auto const& l_pair : l_pairs)
    {
        WriteType<int>(l_writer, l_pair.first);
        WriteType<int>(l_writer, l_pair.second);
    }
    l_writer.Flush();
}

bool DataSaver::Save(QString const& path)
{
    QString const l_temporaryPath = TemporaryPath(path);
    QFile l_file(l_temporaryPath);
    bool l_created = false;
    try
    {
        // The file holds the account password: only its owner may read it. NewOnly
        // keeps a file that appeared since the name was chosen from being truncated.
        if (!l_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered,
                         QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            throw DataSaveFailure();
        l_created = true;
        WriteStore(l_file);
        // The data must be on disk before the name points at it, or a crash right
        // after the rename could leave an empty store file.
        if (::fsync(l_file.handle()) != 0)
            throw DataSaveFailure();
        l_file.close();
        if (l_file.error() != QFileDevice::NoError)
            throw DataSaveFailure();
        // rename() replaces the old file in one step: at every moment the path names
        // either the old store or the complete new one.
        if (std::rename(QFile::encodeName(l_temporaryPath).constData(),
                        QFile::encodeName(path).constData()) != 0)
            throw DataSaveFailure();
    }
    catch (DataSaveFailure const&)
    {
        l_file.close();
        if (l_created)
            QFile::remove(l_temporaryPath);
        Log(LogArea::ConfigurationData, 1, QStringLiteral("Failure to save configuration data."));
        return false;
    }
    return true;
}

void DataSaver::Load(QString const& path)
{
    QFile l_file(path);
    if (!l_file.open(QIODevice::ReadOnly))
    {
        // First start: nothing to load, the defaults stay.
        EmitDataLoaded();
        return;
    }

    LoadPlan l_plan;
    try
    {
        QByteArray const l_data = l_file.readAll();
        if (l_file.error() != QFileDevice::NoError)
            throw DataLoadFailure();
        l_file.close();
        l_plan = ParseStore(l_data);
    }
    catch (DataLoadFailure const&)
    {
        EmitDataLoaded();
        throw;
    }

    ApplyPlan(l_plan);
    EmitDataLoaded();
}
