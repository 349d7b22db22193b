#include "store/DataSaver.h"

#include "store/Log.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <thread>
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
    StoreWriter(QFile& file, std::function<void(qint64)> const& beforeWrite)
        : m_file(file), m_beforeWrite(beforeWrite), m_buffer(new char[c_writeChunk])
    {
    }

    void Append(char const* bytes, qsizetype count)
    {
        if (count > c_writeChunk - m_used)
        {
            Flush();
            if (count >= c_writeChunk)
            {
                WriteThrough(bytes, count);
                return;
            }
        }
        std::memcpy(m_buffer.get() + m_used, bytes, std::size_t(count));
        m_used += count;
    }

    // A 4-byte little-endian integer, the format's int.
    void AppendInt(qint32 value)
    {
        if (m_used > c_writeChunk - 4)
            Flush();
        qToLittleEndian<qint32>(value, m_buffer.get() + m_used);
        m_used += 4;
    }

    void AppendBool(bool value)
    {
        char const l_byte = value ? 1 : 0;
        Append(&l_byte, 1);
    }

    // The format has signed 32-bit counts; a larger store cannot be written faithfully.
    void AppendCount(std::size_t count)
    {
        if (count > std::size_t(std::numeric_limits<qint32>::max()))
            throw DataSaveFailure();
        AppendInt(qint32(count));
    }

    void AppendString(std::string const& value)
    {
        AppendCount(value.size());
        Append(value.data(), qsizetype(value.size()));
    }

    void Flush()
    {
        if (m_used == 0)
            return;
        WriteThrough(m_buffer.get(), m_used);
        m_used = 0;
    }

private:
    void WriteThrough(char const* bytes, qsizetype count)
    {
        if (m_beforeWrite)
            m_beforeWrite(m_written);
        if (m_file.write(bytes, count) != count)
            throw DataSaveFailure();
        m_written += count;
    }

    QFile& m_file;
    std::function<void(qint64)> const& m_beforeWrite;
    std::unique_ptr<char[]> m_buffer;
    qsizetype m_used = 0;
    qint64 m_written = 0;
};

// A save is bound by memory latency: the items, their values and their connection
// tables lie scattered over the heap. The passes over many items announce what they
// will read this far ahead, the item first and what it points to once it has arrived,
// so that the misses of many items overlap instead of following one another.
constexpr std::size_t c_ahead = 16;

void FetchItem(Item const* item)
{
    __builtin_prefetch(item);
    __builtin_prefetch(reinterpret_cast<char const*>(item) + sizeof(Item) - 1);
}

void FetchValue(Item const* item)
{
    __builtin_prefetch(item->GetValue().GetBytes().data());
}

void FetchTable(Item const* item)
{
    __builtin_prefetch(item->ConnectionsAddress());
}

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

// One saved type's part of the file. Sections go out in type name order and number
// their items on from the previous section.
struct SavedSection
{
    Type* mp_type = nullptr;
    std::vector<Item*> m_items; // in writing order
    qint32 m_firstId = 0;
    // Each connection is listed once, from its end with the smaller id; with sections
    // in id order that end lies in the earlier section. These are the saved types
    // related to this one whose sections come here or later: the only connection
    // groups worth reading from this side.
    std::vector<Type*> m_laterTypes;
    // Some section lists connections that end in this one, so its ids are looked up.
    bool m_isTarget = false;
};

// Runs task(0) .. task(count - 1) on the calling thread and, when `spread`, on up to
// as many helpers as the machine has cores, handing out indexes in ascending order. The
// first exception a task throws is thrown here once every thread has stopped. Fewer
// helpers than wanted (or none) only make it slower.
template <typename Task> void RunParallel(bool spread, std::size_t count, Task const& task)
{
    std::size_t const l_cores = spread ? std::max(1u, std::thread::hardware_concurrency()) : 1;
    std::size_t const l_threads = std::min(count, l_cores);
    std::atomic<std::size_t> l_next{0};
    std::vector<std::exception_ptr> l_errors(std::max<std::size_t>(l_threads, 1));
    auto const l_work = [&](std::size_t worker)
    {
        try
        {
            for (std::size_t l_index; (l_index = l_next.fetch_add(1)) < count;)
                task(l_index);
        }
        catch (...)
        {
            l_errors[worker] = std::current_exception();
            l_next = count;
        }
    };
    std::vector<std::thread> l_helpers;
    try
    {
        l_helpers.reserve(l_threads);
        for (std::size_t l_worker = 1; l_worker < l_threads; ++l_worker)
            l_helpers.emplace_back(l_work, l_worker);
    }
    catch (...)
    {
        // No thread or no memory for one: the threads running do the rest.
    }
    l_work(0);
    for (std::thread& l_helper : l_helpers)
        l_helper.join();
    for (std::exception_ptr const& l_error : l_errors)
        if (l_error)
            std::rethrow_exception(l_error);
}

// A run of one section's items, serialized apart from the others so that runs can be
// prepared side by side; they are written in file order afterwards.
struct SectionRun
{
    std::size_t m_section = 0;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    std::string m_bytes;
    // Connections to later types as (own id, other item) in ascending own id; after
    // ResolveRun, the pairs (own id, other id) in file order, kept in m_pairs.
    std::vector<std::pair<qint32, Item*>> m_candidates;
    std::vector<std::pair<qint32, qint32>> m_pairs;
};

// Enough items per run to keep the hand-over cheap, few enough to share the work out.
constexpr std::size_t c_runItems = 16384;

void PutInt(std::string& bytes, qint32 value)
{
    char l_bytes[4];
    qToLittleEndian<qint32>(value, l_bytes);
    bytes.append(l_bytes, 4);
}

void PrepareRun(SavedSection const& section, SectionRun& run)
{
    bool const l_isNull = section.mp_type->IsNull();
    bool const l_lists = !section.m_laterTypes.empty();
    std::vector<Item*> const& l_items = section.m_items;
    std::size_t const l_end = run.m_end;
    run.m_bytes.reserve((run.m_end - run.m_begin) * (l_isNull ? 4 : 16));
    for (std::size_t l_index = run.m_begin; l_index < l_end; ++l_index)
    {
        qint32 const l_id = section.m_firstId + qint32(l_index);
        PutInt(run.m_bytes, l_id);
        if (l_isNull && !l_lists)
            continue; // nothing of the item itself is read
        if (l_index + 2 * c_ahead < l_end)
            FetchItem(l_items[l_index + 2 * c_ahead]);
        if (l_index + c_ahead < l_end)
        {
            Item const* const lp_ahead = l_items[l_index + c_ahead];
            if (!l_isNull)
                FetchValue(lp_ahead);
            if (l_lists)
                FetchTable(lp_ahead);
        }
        Item const* const lp_item = l_items[l_index];
        if (!l_isNull)
        {
            std::string const& l_value = lp_item->GetValue().GetBytes();
            if (l_value.size() > std::size_t(std::numeric_limits<qint32>::max()))
                throw DataSaveFailure();
            PutInt(run.m_bytes, qint32(l_value.size()));
            run.m_bytes.append(l_value);
        }
        if (!l_lists)
            continue;
        for (auto const& l_group : lp_item->Connections())
        {
            if (std::find(section.m_laterTypes.begin(), section.m_laterTypes.end(),
                          l_group.first) == section.m_laterTypes.end())
                continue;
            for (ItemPtr const& l_other : l_group.second)
                run.m_candidates.emplace_back(l_id, l_other.GetPtr());
        }
    }
}

// The written items of the sections some section lists connections into, by address.
std::unique_ptr<ItemIdTable> BuildIdTable(std::vector<SavedSection> const& sections)
{
    std::size_t l_targets = 0;
    for (SavedSection const& l_section : sections)
        if (l_section.m_isTarget)
            l_targets += l_section.m_items.size();
    auto lp_ids = std::make_unique<ItemIdTable>(l_targets);
    for (SavedSection const& l_section : sections)
    {
        if (!l_section.m_isTarget)
            continue;
        std::vector<Item*> const& l_items = l_section.m_items;
        for (std::size_t l_index = 0; l_index < l_items.size(); ++l_index)
        {
            if (l_index + c_ahead < l_items.size())
                lp_ids->Prefetch(l_items[l_index + c_ahead]);
            lp_ids->Insert(l_items[l_index], l_section.m_firstId + qint32(l_index));
        }
    }
    return lp_ids;
}

// The run's connections among written items as (low id, high id), ascending, once each.
void ResolveRun(ItemIdTable const& ids, SectionRun& run)
{
    std::vector<std::pair<qint32, Item*>> const& l_candidates = run.m_candidates;
    std::vector<std::pair<qint32, qint32>>& l_pairs = run.m_pairs;
    l_pairs.reserve(l_candidates.size());
    for (std::size_t l_candidate = 0; l_candidate < l_candidates.size(); ++l_candidate)
    {
        if (l_candidate + c_ahead < l_candidates.size())
            ids.Prefetch(l_candidates[l_candidate + c_ahead].second);
        qint32 const l_id = l_candidates[l_candidate].first;
        qint32 const l_otherId = ids.Find(l_candidates[l_candidate].second);
        // An item connected within its own section is met from both ends.
        if (l_otherId != 0 && l_id <= l_otherId)
            l_pairs.emplace_back(l_id, l_otherId);
    }
    run.m_candidates = {};
    // Already ascending by low id: only the few high ids of each item need ordering,
    // which is far cheaper than sorting the whole list.
    auto l_runStart = l_pairs.begin();
    while (l_runStart != l_pairs.end())
    {
        auto l_runEnd = l_runStart + 1;
        while (l_runEnd != l_pairs.end() && l_runEnd->first == l_runStart->first)
            ++l_runEnd;
        if (l_runEnd - l_runStart > 1)
            std::sort(l_runStart, l_runEnd);
        l_runStart = l_runEnd;
    }
    l_pairs.erase(std::unique(l_pairs.begin(), l_pairs.end()), l_pairs.end());
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
// broken file leaves the running store exactly as it was. Only sections of types that
// `isSaved` accepts are applied: this program writes no others, and some types of the
// running schema hold object addresses as values, which must never come from a file.
LoadPlan ParseStore(QByteArray const& data, std::function<bool(Type*)> const& isSaved)
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
        // A section of a type not saved, or whose null flag disagrees with the running
        // schema, cannot be applied; it is dropped like a section of an unknown type.
        if (lp_type && (!isSaved(lp_type) || lp_type->IsNull() != l_isNull))
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
    auto const l_byId = [](LoadRecord const& a, LoadRecord const& b) { return a.m_id < b.m_id; };
    if (!std::is_sorted(l_records.begin(), l_records.end(), l_byId))
        std::stable_sort(l_records.begin(), l_records.end(), l_byId);
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
        if (!lp_first || !lp_second)
            continue;
        // A pair between types the running schema does not relate would be refused by
        // the store with a schema exception; it is dropped instead. An item joined to
        // itself comes back when its type is related to itself, as when it was saved.
        if (!lp_first->mp_type->IsRelated(lp_second->mp_type))
            continue;
        l_plan.m_connections.emplace_back(std::size_t(lp_first - l_records.data()),
                                          std::size_t(lp_second - l_records.data()));
    }
    return l_plan;
}

// Creates the items in ascending id order, then makes the connections. Whatever grows
// with the file is allocated before the first item is made.
void ApplyPlan(LoadPlan& plan)
{
    std::vector<Item*> l_items;
    l_items.reserve(plan.m_records.size());
    std::vector<std::pair<Item*, Item*>> l_pairs;
    l_pairs.reserve(plan.m_connections.size());
    // Handlers fired below may remove items; a removed item stays allocated and
    // connecting it does nothing, so no handle dangles.
    StoreOperation l_operation;
    // Each type's look-up table is sized once for what is coming, not grown step by step.
    std::map<Type*, std::size_t> l_counts;
    Type* lp_counted = nullptr;
    std::size_t* lp_count = nullptr;
    for (LoadRecord const& l_record : plan.m_records)
        if (!l_record.mp_type->IsNull())
        {
            if (l_record.mp_type != lp_counted)
                lp_count = &l_counts[lp_counted = l_record.mp_type];
            ++*lp_count;
        }
    for (auto const& [lp_type, l_count] : l_counts)
        lp_type->ReserveItems(l_count);
    // Each item's connection storage is sized once for the pairs it takes part in, as
    // the item is made (and still in the cache).
    std::vector<std::uint32_t> l_ends(plan.m_records.size(), 0);
    for (auto const& l_connection : plan.m_connections)
    {
        ++l_ends[l_connection.first];
        ++l_ends[l_connection.second];
    }
    for (std::size_t l_index = 0; l_index < plan.m_records.size(); ++l_index)
    {
        LoadRecord const& l_record = plan.m_records[l_index];
        // A valued item meets the item the type already holds under that value, which
        // is how loaded settings replace the defaults written before the load.
        Item* const lp_item =
            l_record.mp_type->IsNull()
                ? l_record.mp_type->NewItem().GetPtr()
                : l_record.mp_type->NewItem(Value(std::string(l_record.m_value))).GetPtr();
        if (l_ends[l_index] > 1)
            lp_item->ReserveConnections(l_ends[l_index]);
        l_items.push_back(lp_item);
    }
    for (auto const& l_connection : plan.m_connections)
    {
        Item* const lp_first = l_items[l_connection.first];
        Item* const lp_second = l_items[l_connection.second];
        // Two records of one valued type with the same value meet in one item: no file
        // this program writes joins them, so neither does the load. A record paired
        // with itself is an item saved joined to itself and comes back so.
        if (lp_first != lp_second || l_connection.first == l_connection.second)
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
    // readers depend on no order. The walk reads only the set; whether an item
    // qualifies is then asked with its table fetched ahead.
    std::vector<Item*> l_chosen;
    l_chosen.reserve(type->GetItemCount());
    // Not assign(): it would walk the set twice, once to count.
    if (type->IsNull())
        for (Item* lp_item : type->NullItems())
            l_chosen.push_back(lp_item);
    else
        for (Item* lp_item : type->KeyedItems())
            l_chosen.push_back(lp_item);
    if (m_savedTypes.count(type))
        return l_chosen;
    std::set<Type*> const& l_qualifying = m_savedByConnectionTypes.at(type);
    std::size_t const l_count = l_chosen.size();
    std::size_t l_kept = 0;
    for (std::size_t l_index = 0; l_index < l_count; ++l_index)
    {
        if (l_index + 2 * c_ahead < l_count)
            FetchItem(l_chosen[l_index + 2 * c_ahead]);
        if (l_index + c_ahead < l_count)
            FetchTable(l_chosen[l_index + c_ahead]);
        Item* const lp_item = l_chosen[l_index];
        for (Type* lp_qualifyingType : l_qualifying)
        {
            if (lp_item->IsConnected(lp_qualifyingType))
            {
                l_chosen[l_kept++] = lp_item;
                break;
            }
        }
    }
    l_chosen.resize(l_kept);
    return l_chosen;
}

void DataSaver::WriteStore(QFile& file)
{
    std::vector<SavedSection> l_sections;
    std::map<Type*, std::size_t> l_sectionOf;
    for (auto const& l_entry : d.Types())
    {
        if (!IsSavedType(l_entry.second))
            continue;
        l_sectionOf.emplace(l_entry.second, l_sections.size());
        l_sections.emplace_back();
        l_sections.back().mp_type = l_entry.second;
    }
    // The store connects related types only, so the relations tell which groups of a
    // section's items can hold connections listed from its side.
    for (std::size_t l_section = 0; l_section < l_sections.size(); ++l_section)
    {
        for (auto const& l_relation : l_sections[l_section].mp_type->Relations())
        {
            auto const l_found = l_sectionOf.find(l_relation.first);
            if (l_found == l_sectionOf.end() || l_found->second < l_section)
                continue;
            l_sections[l_section].m_laterTypes.push_back(l_relation.first);
            l_sections[l_found->second].m_isTarget = true;
        }
    }

    // A save is bound by memory latency far more than by the disk, and each core waits
    // on misses of its own: the work is shared out over helper threads. They only read
    // the store, and the one thread that changes it is waiting for them meanwhile.
    // Starting threads costs more than a small store takes to save.
    std::size_t l_itemCount = 0;
    for (SavedSection const& l_section : l_sections)
        l_itemCount += l_section.mp_type->GetItemCount();
    bool const l_spread = l_itemCount >= 2 * c_runItems;
    // Larger types first, so that the largest walk does not start last.
    std::vector<std::size_t> l_bySize(l_sections.size());
    for (std::size_t l_section = 0; l_section < l_sections.size(); ++l_section)
        l_bySize[l_section] = l_section;
    std::stable_sort(
        l_bySize.begin(), l_bySize.end(),
        [&](std::size_t a, std::size_t b)
        { return l_sections[a].mp_type->GetItemCount() > l_sections[b].mp_type->GetItemCount(); });
    RunParallel(l_spread, l_sections.size(),
                [&](std::size_t index) {
                    l_sections[l_bySize[index]].m_items =
                        ChooseItems(l_sections[l_bySize[index]].mp_type);
                });

    // Ids follow writing order from 1 across the whole file.
    qint64 l_nextId = 1;
    std::vector<SectionRun> l_runs;
    for (std::size_t l_section = 0; l_section < l_sections.size(); ++l_section)
    {
        SavedSection& l_saved = l_sections[l_section];
        std::size_t const l_count = l_saved.m_items.size();
        if (qint64(l_count) > std::numeric_limits<qint32>::max() - l_nextId + 1)
            throw DataSaveFailure();
        l_saved.m_firstId = qint32(l_nextId);
        l_nextId += qint64(l_count);
        for (std::size_t l_begin = 0; l_begin < l_count; l_begin += c_runItems)
        {
            l_runs.emplace_back();
            l_runs.back().m_section = l_section;
            l_runs.back().m_begin = l_begin;
            l_runs.back().m_end = std::min(l_count, l_begin + c_runItems);
        }
    }
    RunParallel(l_spread, l_runs.size(),
                [&](std::size_t index)
                { PrepareRun(l_sections[l_runs[index].m_section], l_runs[index]); });
    std::unique_ptr<ItemIdTable> const lp_ids = BuildIdTable(l_sections);
    RunParallel(l_spread, l_runs.size(),
                [&](std::size_t index) { ResolveRun(*lp_ids, l_runs[index]); });

    StoreWriter l_writer(file, m_beforeWrite);
    l_writer.AppendCount(l_sections.size());
    std::size_t l_run = 0;
    std::size_t l_pairCount = 0;
    for (std::size_t l_section = 0; l_section < l_sections.size(); ++l_section)
    {
        SavedSection const& l_saved = l_sections[l_section];
        l_writer.AppendString(l_saved.mp_type->Name());
        l_writer.AppendBool(l_saved.mp_type->IsNull());
        l_writer.AppendCount(l_saved.m_items.size());
        for (; l_run < l_runs.size() && l_runs[l_run].m_section == l_section; ++l_run)
        {
            l_writer.Append(l_runs[l_run].m_bytes.data(), qsizetype(l_runs[l_run].m_bytes.size()));
            l_runs[l_run].m_bytes = {};
            l_pairCount += l_runs[l_run].m_pairs.size();
        }
    }
    // Runs follow id order, so their pairs taken in turn are ascending throughout.
    l_writer.AppendCount(l_pairCount);
    for (SectionRun const& l_done : l_runs)
    {
        for (auto const& l_pair : l_done.m_pairs)
        {
            l_writer.AppendInt(l_pair.first);
            l_writer.AppendInt(l_pair.second);
        }
    }
    l_writer.Flush();
}

void DataSaver::SetWriteHook(std::function<void(qint64)> hook)
{
    m_beforeWrite = std::move(hook);
}

bool DataSaver::Save(QString const& path)
{
    QString l_temporaryPath;
    QFile l_file;
    bool l_created = false;
    try
    {
        l_temporaryPath = TemporaryPath(path);
        l_file.setFileName(l_temporaryPath);
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
        l_created = false; // the temporary name is gone
        // The rename lives in the folder: until the folder is on disk too, a power cut
        // can bring back the old store.
        if (!SyncFolderOf(path))
            throw DataSaveFailure();
    }
    catch (DataSaveFailure const&)
    {
        return AbandonSave(l_file, l_created);
    }
    catch (std::bad_alloc const&)
    {
        // A large store may not fit in memory twice over; the old file still holds
        // the last saved state, which beats ending the program.
        return AbandonSave(l_file, l_created);
    }
    return true;
}

bool DataSaver::AbandonSave(QFile& file, bool created)
{
    file.close();
    if (created)
        QFile::remove(file.fileName());
    Log(LogArea::ConfigurationData, 1, QStringLiteral("Failure to save configuration data."));
    return false;
}

void DataSaver::Load(QString const& path)
{
    QFile l_file(path);
    if (!l_file.open(QIODevice::ReadOnly))
    {
        // First start: nothing to load, the defaults stay.
        if (!QFileInfo::exists(path))
        {
            EmitDataLoaded();
            return;
        }
        // Something is there that cannot be read (a folder, no permission): starting
        // from the defaults as if it were a first start would let the next save replace
        // it without a word.
        KeepUnreadableFile(path);
        EmitDataLoaded();
        throw DataLoadFailure();
    }

    LoadPlan l_plan;
    bool l_failed = false;
    try
    {
        QByteArray const l_data = l_file.readAll();
        if (l_file.error() != QFileDevice::NoError)
            throw DataLoadFailure();
        l_file.close();
        l_plan = ParseStore(l_data, [this](Type* type) { return IsSavedType(type); });
    }
    catch (DataLoadFailure const&)
    {
        l_failed = true;
    }
    catch (std::bad_alloc const&)
    {
        // A file too large for the memory left: nothing was applied yet.
        l_failed = true;
    }
    if (l_failed)
    {
        l_file.close();
        // The next save would replace the file with the defaults; the user's settings
        // may still be recovered from it by hand.
        KeepUnreadableFile(path);
        EmitDataLoaded();
        throw DataLoadFailure();
    }

    ApplyPlan(l_plan);
    EmitDataLoaded();
}

QString DataSaver::DamagedPath(QString const& path)
{
    return path + QStringLiteral(".damaged");
}

void DataSaver::KeepUnreadableFile(QString const& path)
{
    // A rename keeps the very bytes, whatever made them unreadable, and replaces the
    // copy an earlier failure left in one step.
    QString const l_damaged = DamagedPath(path);
    bool const l_kept = std::rename(QFile::encodeName(path).constData(),
                                    QFile::encodeName(l_damaged).constData()) == 0;
    Log(LogArea::ConfigurationData, 1,
        (l_kept ? QStringLiteral("Unreadable configuration data kept as %1.")
                : QStringLiteral("Unreadable configuration data could not be kept as %1."))
            .arg(l_damaged));
}

bool DataSaver::SyncFolderOf(QString const& path)
{
    QByteArray const l_folder = QFile::encodeName(QFileInfo(path).absolutePath());
    int const l_descriptor = ::open(l_folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (l_descriptor < 0)
        return false;
    // A file system that cannot sync a folder says EINVAL; there is nothing more to do.
    bool const l_synced = ::fsync(l_descriptor) == 0 || errno == EINVAL;
    ::close(l_descriptor);
    return l_synced;
}
