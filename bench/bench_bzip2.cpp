// bench_bzip2.cpp: the bzip2 decompression stream against the library's one-call
// decompression on the same data (throughput counts decompressed bytes).
#include "platform/Stream.h"
#include "updater/codecs/BZip2.h"

#include <benchmark/benchmark.h>
#include <bzlib.h>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Half random bytes, half text made of common words: what a game client's files look like
// to a compressor, roughly.
std::string MixedData(std::size_t size) {
    static const char* const kWords[] = {"the",     "player", "map",    "sword",  "level",
                                         "quest",   "gold",   "dragon", "castle", "item",
                                         "texture", "sound",  "shadow", "north",  "potion"};
    std::mt19937_64 rng(7);
    std::string data;
    data.reserve(size);
    while (data.size() < size / 2) {
        data.push_back(static_cast<char>(rng()));
    }
    while (data.size() < size) {
        data += kWords[rng() % std::size(kWords)];
        data += rng() % 12 == 0 ? "\r\n" : " ";
    }
    data.resize(size);
    return data;
}

struct Sample {
    std::string plain;
    std::vector<char> packed;
};

const Sample& TheSample() {
    static const Sample sample = [] {
        Sample s;
        s.plain = MixedData(32 << 20);
        auto packedLength = static_cast<unsigned int>(s.plain.size() + s.plain.size() / 100 + 600);
        s.packed.resize(packedLength);
        if (BZ2_bzBuffToBuffCompress(s.packed.data(), &packedLength, s.plain.data(),
                                     static_cast<unsigned int>(s.plain.size()), 9, 0, 0) != BZ_OK) {
            throw std::runtime_error("cannot make the bzip2 sample");
        }
        s.packed.resize(packedLength);
        return s;
    }();
    return sample;
}

void BM_BZDecompressionStream(benchmark::State& state) {
    const Sample& sample = TheSample();
    velmoran::platform::TMemoryStream source;
    source.WriteBuffer(sample.packed.data(), sample.packed.size());
    std::vector<char> buffer(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        source.SetPosition(0);
        velmoran::TBZDecompressionStream stream(source);
        std::size_t total = 0;
        while (const std::size_t n = stream.Read(buffer.data(), buffer.size())) {
            total += n;
        }
        if (total != sample.plain.size()) {
            state.SkipWithError("decompressed size differs");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(sample.plain.size()));
}
BENCHMARK(BM_BZDecompressionStream)->Arg(4 << 10)->Arg(64 << 10)->Unit(benchmark::kMillisecond);

void BM_LibraryBuffToBuff(benchmark::State& state) {
    const Sample& sample = TheSample();
    std::vector<char> out(sample.plain.size());
    for (auto _ : state) {
        auto outLength = static_cast<unsigned int>(out.size());
        if (BZ2_bzBuffToBuffDecompress(
                out.data(), &outLength, const_cast<char*>(sample.packed.data()),
                static_cast<unsigned int>(sample.packed.size()), 0, 0) != BZ_OK) {
            state.SkipWithError("library decompression failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(sample.plain.size()));
}
BENCHMARK(BM_LibraryBuffToBuff)->Unit(benchmark::kMillisecond);

} // namespace
