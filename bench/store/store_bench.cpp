// Store benchmark: 1M keyed items over 10 types with 2M connections
// (including flags on shared null items), lookups by value, GetItemSubset of a token
// connected to 1k/10k/100k items against one connected to 3, and a sweep of 1M items
// with about 10% unreachable. Each store operation runs beside the same work on plain
// standard containers (std::map of strings to structs holding std::sets); the summary
// prints the ratios and the memory per item. One run takes well under two minutes.

#include "common/BenchSupport.h"
#include "store/Data.h"
#include "store/StoreCensus.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace
{
constexpr int kTypes = 10;
constexpr int kPerType = 100000; // 1M items in all
constexpr int kCut = 9;          // chains with i % 9 == 0 hang from no root: ~10% unreachable
constexpr int kLookups = 1000000;
int const kTokenSizes[] = {1000, 10000, 100000};

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::map<std::string, double> g_seconds;
std::map<std::string, double> g_bytesPerItem;
StoreCensus g_census;

long long HeapInUse()
{
    struct mallinfo2 const l_info = mallinfo2();
    return static_cast<long long>(l_info.uordblks + l_info.hblkhd);
}

// ---------------------------------------------------------------------------------
// Baseline: per type a std::map from key to a struct holding std::sets of neighbours.

struct BNode
{
    int m_type = 0;
    std::map<int, std::set<BNode*>> m_links;
    bool m_mark = false;
};

struct Baseline
{
    // Types 0..9 as in the store, 10 and 11 the flags, 12 the tokens.
    std::vector<std::map<std::string, BNode>> m_types =
        std::vector<std::map<std::string, BNode>>(13);
    BNode* m_flags[2] = {nullptr, nullptr};
    BNode* m_tokens[3] = {nullptr, nullptr, nullptr};
    BNode* m_small = nullptr;

    BNode& Add(int type, std::string const& key)
    {
        BNode& l_node = m_types[type][key];
        l_node.m_type = type;
        return l_node;
    }
    static void Connect(BNode& a, BNode& b)
    {
        a.m_links[b.m_type].insert(&b);
        b.m_links[a.m_type].insert(&a);
    }
};
Baseline* g_baseline = nullptr;

// ---------------------------------------------------------------------------------
// The store's schema and data.

Type* g_types[kTypes];
Type* g_flags[2];
Type* g_token = nullptr;
ItemPtr g_tokens[3];
ItemPtr g_small;
std::string g_typeNames[kTypes];
std::string g_flagNames[2];
std::string g_tokenName;

void DeclareStoreTypes()
{
    for (int k = 0; k < kTypes; ++k)
    {
        g_typeNames[k] = "bench_t" + std::to_string(k);
        g_types[k] = d.NewType(g_typeNames[k], k == 0 ? Primary : Secondary);
    }
    for (int f = 0; f < 2; ++f)
    {
        g_flagNames[f] = "bench_flag" + std::to_string(f);
        g_flags[f] = d.NewType(g_flagNames[f], Tertiary, true);
    }
    g_tokenName = "bench_token";
    g_token = d.NewType(g_tokenName, Tertiary);
    for (int k = 0; k + 1 < kTypes; ++k)
        g_types[k]->RelateToType(g_types[k + 1], Many, Many);
    for (int k = 0; k < kTypes; ++k)
        for (int f = 0; f < 2; ++f)
            g_types[k]->RelateToType(g_flags[f], Many, One); // shared flags
    g_types[1]->RelateToType(g_token, Many, Many);
}

void BM_Create_Store(benchmark::State& state)
{
    for (auto _ : state)
    {
        long long const l_heap = HeapInUse();
        long long const l_rss = bench::ResidentBytes();
        auto const l_start = Clock::now();
        DeclareStoreTypes();
        std::vector<std::vector<ItemPtr>> l_items(kTypes);
        for (int k = 0; k < kTypes; ++k)
        {
            l_items[k].reserve(kPerType);
            for (int i = 0; i < kPerType; ++i)
                l_items[k].push_back(g_types[k]->NewItem(i));
        }
        for (int k = 0; k + 1 < kTypes; ++k)
            for (int i = 0; i < kPerType; ++i)
                if (k > 0 || i % kCut != 0)
                    l_items[k][i] += l_items[k + 1][i];
        for (int k = 0; k < kTypes; ++k)
            for (int i = 0; i < kPerType; ++i)
                l_items[k][i].NewItem(g_flagNames[i % 2].c_str());
        for (int t = 0; t < 3; ++t)
        {
            g_tokens[t] = g_token->NewItem("big" + std::to_string(kTokenSizes[t]));
            for (int i = 0; i < kTokenSizes[t]; ++i)
                g_tokens[t] += l_items[1][i];
        }
        g_small = g_token->NewItem("small");
        for (int i : {5, 500, 777})
            g_small += l_items[1][i];
        double const l_seconds = Seconds(l_start);
        state.SetIterationTime(l_seconds);
        g_seconds["create"] = l_seconds;
        double const l_items_total = double(kTypes) * kPerType;
        g_bytesPerItem["store heap"] = double(HeapInUse() - l_heap) / l_items_total;
        g_bytesPerItem["store rss"] = double(bench::ResidentBytes() - l_rss) / l_items_total;
        g_census = StoreCensus::Take(d);
    }
    state.counters["items"] = double(kTypes) * kPerType;
}

void BM_Create_Baseline(benchmark::State& state)
{
    for (auto _ : state)
    {
        long long const l_heap = HeapInUse();
        long long const l_rss = bench::ResidentBytes();
        auto const l_start = Clock::now();
        auto* lp_base = new Baseline;
        std::vector<std::vector<BNode*>> l_items(kTypes);
        for (int k = 0; k < kTypes; ++k)
        {
            l_items[k].reserve(kPerType);
            for (int i = 0; i < kPerType; ++i)
                l_items[k].push_back(&lp_base->Add(k, std::to_string(i)));
        }
        for (int k = 0; k + 1 < kTypes; ++k)
            for (int i = 0; i < kPerType; ++i)
                if (k > 0 || i % kCut != 0)
                    Baseline::Connect(*l_items[k][i], *l_items[k + 1][i]);
        lp_base->m_flags[0] = &lp_base->Add(10, "");
        lp_base->m_flags[1] = &lp_base->Add(11, "");
        for (int k = 0; k < kTypes; ++k)
            for (int i = 0; i < kPerType; ++i)
                Baseline::Connect(*l_items[k][i], *lp_base->m_flags[i % 2]);
        for (int t = 0; t < 3; ++t)
        {
            lp_base->m_tokens[t] = &lp_base->Add(12, "big" + std::to_string(kTokenSizes[t]));
            for (int i = 0; i < kTokenSizes[t]; ++i)
                Baseline::Connect(*lp_base->m_tokens[t], *l_items[1][i]);
        }
        lp_base->m_small = &lp_base->Add(12, "small");
        for (int i : {5, 500, 777})
            Baseline::Connect(*lp_base->m_small, *l_items[1][i]);
        double const l_seconds = Seconds(l_start);
        state.SetIterationTime(l_seconds);
        g_seconds["create baseline"] = l_seconds;
        double const l_items_total = double(kTypes) * kPerType;
        g_bytesPerItem["baseline heap"] = double(HeapInUse() - l_heap) / l_items_total;
        g_bytesPerItem["baseline rss"] = double(bench::ResidentBytes() - l_rss) / l_items_total;
        g_baseline = lp_base;
    }
    state.counters["items"] = double(kTypes) * kPerType;
}

std::vector<int> LookupKeys()
{
    std::vector<int> l_keys(kLookups);
    std::mt19937 l_random(42);
    std::uniform_int_distribution<int> l_dist(0, kPerType - 1);
    for (int& l_key : l_keys)
        l_key = l_dist(l_random);
    return l_keys;
}

void BM_Lookup_Store(benchmark::State& state)
{
    std::vector<int> const l_keys = LookupKeys();
    for (auto _ : state)
    {
        auto const l_start = Clock::now();
        long long l_found = 0;
        for (std::size_t n = 0; n < l_keys.size(); ++n)
            l_found += g_types[n % kTypes]->HasItem(l_keys[n]).IsNotNull();
        benchmark::DoNotOptimize(l_found);
        double const l_seconds = Seconds(l_start);
        state.SetIterationTime(l_seconds);
        g_seconds["lookup"] = l_seconds;
    }
    state.SetItemsProcessed(kLookups);
}

void BM_Lookup_Baseline(benchmark::State& state)
{
    std::vector<int> const l_keys = LookupKeys();
    for (auto _ : state)
    {
        auto const l_start = Clock::now();
        long long l_found = 0;
        for (std::size_t n = 0; n < l_keys.size(); ++n)
        {
            auto const& l_map = g_baseline->m_types[n % kTypes];
            l_found += l_map.find(std::to_string(l_keys[n])) != l_map.end();
        }
        benchmark::DoNotOptimize(l_found);
        double const l_seconds = Seconds(l_start);
        state.SetIterationTime(l_seconds);
        g_seconds["lookup baseline"] = l_seconds;
    }
    state.SetItemsProcessed(kLookups);
}

void BM_Subset_Store(benchmark::State& state)
{
    int const l_index = int(state.range(0));
    ItemSet const l_query{g_tokens[l_index], g_small};
    char const* lp_name = g_typeNames[1].c_str();
    std::size_t l_size = 0;
    auto const l_start = Clock::now();
    for (auto _ : state)
    {
        ItemSet const l_result = d.GetItemSubset(l_query, lp_name);
        l_size = l_result.size();
        benchmark::DoNotOptimize(l_size);
    }
    g_seconds["subset " + std::to_string(kTokenSizes[l_index])] =
        Seconds(l_start) / double(state.iterations());
    if (l_size != 3)
    {
        std::fprintf(stderr, "subset size %zu, token %zu, small %zu\n", l_size,
                     g_tokens[l_index].GetItems(lp_name).size(), g_small.GetItems(lp_name).size());
        state.SkipWithError("wrong subset");
    }
    state.SetLabel(std::to_string(kTokenSizes[l_index]) + " vs 3");
}

void BM_Subset_Baseline(benchmark::State& state)
{
    int const l_index = int(state.range(0));
    auto const l_start = Clock::now();
    for (auto _ : state)
    {
        // The same work: start from the smaller set, keep what the larger one holds.
        std::set<BNode*> const& l_big = g_baseline->m_tokens[l_index]->m_links.at(1);
        std::set<BNode*> const& l_small = g_baseline->m_small->m_links.at(1);
        std::set<BNode*> const& l_from = l_small.size() <= l_big.size() ? l_small : l_big;
        std::set<BNode*> const& l_other = l_small.size() <= l_big.size() ? l_big : l_small;
        std::set<BNode*> l_result = l_from;
        for (auto l_it = l_result.begin(); l_it != l_result.end();)
            l_it = l_other.count(*l_it) ? std::next(l_it) : l_result.erase(l_it);
        benchmark::DoNotOptimize(l_result.size());
    }
    g_seconds["subset " + std::to_string(kTokenSizes[l_index]) + " baseline"] =
        Seconds(l_start) / double(state.iterations());
    state.SetLabel(std::to_string(kTokenSizes[l_index]) + " vs 3");
}

void BM_Sweep_Store(benchmark::State& state)
{
    for (auto _ : state)
    {
        auto const l_start = Clock::now();
        int const l_removed = d.RemoveDisconnectedItems();
        // The baseline frees what it erases; removed items wait for an event loop that
        // never runs here, so they are freed within the timing as well.
        StoreOperation::FreeRemovedItems();
        double const l_seconds = Seconds(l_start);
        state.SetIterationTime(l_seconds);
        g_seconds["sweep"] = l_seconds;
        state.counters["removed"] = l_removed;
    }
}

void BM_Sweep_Baseline(benchmark::State& state)
{
    for (auto _ : state)
    {
        auto const l_start = Clock::now();
        Baseline& l_base = *g_baseline;
        // Mark from the roots (type 0), passing through types 1..9, stopping at flags
        // and tokens (Tertiary), then unlink and erase every unmarked item of types 1..12.
        std::vector<BNode*> l_stack;
        for (auto& [l_key, l_root] : l_base.m_types[0])
        {
            l_root.m_mark = true;
            l_stack.push_back(&l_root);
            while (!l_stack.empty())
            {
                BNode* lp_node = l_stack.back();
                l_stack.pop_back();
                for (auto& [l_type, l_set] : lp_node->m_links)
                {
                    if (l_type == 0)
                        continue;
                    for (BNode* lp_next : l_set)
                    {
                        if (lp_next->m_mark)
                            continue;
                        lp_next->m_mark = true;
                        if (l_type < kTypes)
                            l_stack.push_back(lp_next);
                    }
                }
            }
        }
        int l_removed = 0;
        for (int k = 1; k < 13; ++k)
        {
            auto& l_map = l_base.m_types[k];
            for (auto l_it = l_map.begin(); l_it != l_map.end();)
            {
                BNode& l_node = l_it->second;
                if (l_node.m_mark)
                {
                    l_node.m_mark = false;
                    ++l_it;
                    continue;
                }
                for (auto& [l_type, l_set] : l_node.m_links)
                    for (BNode* lp_other : l_set)
                    {
                        auto l_links = lp_other->m_links.find(l_node.m_type);
                        l_links->second.erase(&l_node);
                        if (l_links->second.empty())
                            lp_other->m_links.erase(l_links);
                    }
                l_it = l_map.erase(l_it);
                ++l_removed;
            }
        }
        for (auto& [l_key, l_root] : l_base.m_types[0])
            l_root.m_mark = false;
        double const l_seconds = Seconds(l_start);
        state.SetIterationTime(l_seconds);
        g_seconds["sweep baseline"] = l_seconds;
        state.counters["removed"] = l_removed;
    }
}

void PrintSummary()
{
    std::printf("\nStore against plain standard containers (same work, same run):\n");
    std::printf("%-28s %12s %12s %8s\n", "operation", "store [s]", "baseline [s]", "ratio");
    for (char const* lp_op : {"create", "lookup", "sweep"})
    {
        double const l_store = g_seconds[lp_op];
        double const l_base = g_seconds[std::string(lp_op) + " baseline"];
        std::printf("%-28s %12.4f %12.4f %8.2f\n", lp_op, l_store, l_base,
                    l_base > 0 ? l_store / l_base : 0.0);
    }
    for (int l_size : kTokenSizes)
    {
        std::string const l_op = "subset " + std::to_string(l_size);
        double const l_store = g_seconds[l_op];
        double const l_base = g_seconds[l_op + " baseline"];
        std::printf("%-28s %12.3g %12.3g %8.2f\n", (l_op + " vs 3 (per call)").c_str(), l_store,
                    l_base, l_base > 0 ? l_store / l_base : 0.0);
    }
    std::printf("\nMemory per item (1M items, ~2M connections):\n");
    std::printf("  store:    heap %.0f B, resident %.0f B\n", g_bytesPerItem["store heap"],
                g_bytesPerItem["store rss"]);
    std::printf("  baseline: heap %.0f B, resident %.0f B\n", g_bytesPerItem["baseline heap"],
                g_bytesPerItem["baseline rss"]);
    double const l_items = double(std::max<std::size_t>(g_census.m_items, 1));
    double const l_links = double(std::max<std::size_t>(g_census.m_connections, 1));
    std::printf("\nCensus of the store (allocator blocks): %zu items, %zu connections\n",
                g_census.m_items, g_census.m_connections);
    std::printf("  per item: %.0f B (item and index %.0f B, value %.0f B, connections %.0f B)\n",
                double(g_census.m_itemBytes + g_census.m_valueBytes + g_census.m_connectionBytes) /
                    l_items,
                double(g_census.m_itemBytes) / l_items, double(g_census.m_valueBytes) / l_items,
                double(g_census.m_connectionBytes) / l_items);
    std::printf("  per connection (both ends): %.1f B\n", double(g_census.m_connectionBytes) / l_links);
    std::printf("Sweep of 1M items: %.3f s (target under 1 s)\n", g_seconds["sweep"]);
}
} // namespace

BENCHMARK(BM_Create_Store)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Create_Baseline)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lookup_Store)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lookup_Baseline)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Subset_Store)->DenseRange(0, 2)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_Subset_Baseline)->DenseRange(0, 2)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_Sweep_Store)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sweep_Baseline)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    return bench::RunBenchmarks(argc, argv, PrintSummary);
}
