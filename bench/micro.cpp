// Micro-benchmarks of the two loops whose cost grows with the library: the
// sort and the generation of the include text, at 1,000, 10,000 and
// 100,000 names, each in order, reversed, shuffled and nearly in order (the
// smallest name moved last: the quicksort's worst case).
//
// The names look like the reader's output for an i386 import library: each
// function once (the reader keeps one of its "__imp_" entry and its stub),
// in A/W pairs, with stdcall sizes from @0 to @48.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "include_writer.h"
#include "settings.h"
#include "symbol_sort.h"

namespace {

enum Order { InOrder = 0, Reversed = 1, Shuffled = 2, Nearly = 3 };

struct NameSet {
    std::vector<std::string> text;  // owns the bytes
    std::vector<ULONGLONG> keys;    // what the converter sees: the first keys
    std::vector<SymbolName> names;  // and the rest of the entries
    SymbolList List() { return SymbolList{keys.data(), names.data(), names.size(), 64}; }
};

NameSet MakeNames(size_t count, Order order) {
    static const char* const verbs[] = {"Get", "Set", "Make", "Kill", "Open", "Close", "Query", "Enum"};
    static const char* const nouns[] = {"Win", "File", "Key", "Val", "Obj", "Proc", "Mod", "Res"};
    std::mt19937 random(6);
    NameSet set;
    set.text.reserve(count);
    for (size_t i = 0; set.text.size() < count; ++i) {
        char base[64];
        std::snprintf(base, sizeof base, "_%s%s%zu", verbs[i % 8], nouns[(i / 8) % 8], i);
        unsigned size = 4 * (random() % 13);
        for (char letter : {'A', 'W'})
            if (set.text.size() < count) set.text.push_back(std::string(base) + letter + "@" + std::to_string(size));
    }
    // Each name followed by its terminator and the padding the library
    // image gives the word paths.
    std::sort(set.text.begin(), set.text.end());  // names in order: the bytes here are ASCII
    if (order == Reversed) std::reverse(set.text.begin(), set.text.end());
    if (order == Shuffled) std::shuffle(set.text.begin(), set.text.end(), random);
    if (order == Nearly) std::rotate(set.text.begin(), set.text.begin() + 1, set.text.end());
    for (std::string& name : set.text) {
        SIZE_T length = name.size();
        name.append(LibraryImagePadding + 1, '\0');
        set.keys.push_back(FirstKeyOf(TextSpan{name.c_str(), length}));
        set.names.push_back(SymbolNameOf(TextSpan{name.c_str(), length}));
    }
    return set;
}

const char* OrderName(Order order) {
    const char* const names[] = {"in order", "reversed", "shuffled", "nearly in order"};
    return names[order];
}

const ConversionSettings& DefaultSettings() {
    const char* const tokens[] = {"carvex", "x.lib"};
    return *ChooseSettings(2, tokens);
}

// Each iteration sorts a fresh copy of the list; copying the entries costs
// a few percent of the smallest sort and nothing measurable of the others.
void BM_SortSymbols(benchmark::State& state) {
    NameSet names = MakeNames(static_cast<size_t>(state.range(0)), static_cast<Order>(state.range(1)));
    NameSet work = names;
    SymbolList list = work.List();
    for (auto _ : state) {
        std::copy(names.keys.begin(), names.keys.end(), work.keys.begin());
        std::copy(names.names.begin(), names.names.end(), work.names.begin());
        SortSymbols(list);
        benchmark::DoNotOptimize(list.Keys);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetLabel(OrderName(static_cast<Order>(state.range(1))));
}

// The text is made a piece at a time into one buffer, as the driver makes
// it; this measures building the lines, not writing them.
void BM_GenerateIncludeText(benchmark::State& state) {
    NameSet names = MakeNames(static_cast<size_t>(state.range(0)), static_cast<Order>(state.range(1)));
    SymbolList symbols = names.List();
    TextBuffer output{};
    ReserveText(output, IncludePieceSize + EntryRoom(symbols.LongestName));
    int64_t bytes = 0;
    for (auto _ : state) {
        SIZE_T next = 0;
        for (bool done = false; !done; output.Length = 0) {
            done = GenerateIncludeText(symbols, DefaultSettings(), next, output);
            bytes += static_cast<int64_t>(output.Length);
        }
        benchmark::DoNotOptimize(output.Data);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(bytes);
    state.SetLabel(OrderName(static_cast<Order>(state.range(1))));
    ReleaseText(output);
}

void Sizes(benchmark::internal::Benchmark* b) {
    for (int order : {InOrder, Reversed, Shuffled, Nearly})
        for (int count : {1000, 10000, 100000}) b->Args({count, order});
    b->ArgNames({"names", "order"})->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK(BM_SortSymbols)->Apply(Sizes);
BENCHMARK(BM_GenerateIncludeText)->Apply(Sizes);

BENCHMARK_MAIN();
