// Reading the embedded manifest of an 11 MB module (the manifest stage of version retrieval),
// for each way the zip can be attached, beside a hand-written end-of-central-directory reader
// that reads the same manifest from the same file.
#include <benchmark/benchmark.h>

#include <string>

#include "eocd_reader.hpp"
#include "host/i18n.hpp"
#include "orbfile/retrieve_version.hpp"

namespace {

const char* const kAttachments[] = {"appended", "section", "linked"};

std::string largeModule(std::int64_t attachment) {
    return std::string(ORB_BENCH_MODULE_DIR) + "/bench_large_" + kAttachments[attachment] + ".orbw64";
}

void BM_RetrieveVersion(benchmark::State& state) {
    const std::u16string path = host::i18n::to_ustring(largeModule(state.range(0)));
    state.SetLabel(kAttachments[state.range(0)]);
    orbfile::Version version;
    // The module's version function says R2018a; only the manifest says R2024b.
    if (orbfile::retrieve_version(path, version) != orbfile::SUCCESS ||
        host::i18n::to_string(version.getVersioningStrategy()) != "2.0") {
        state.SkipWithError("the manifest was not read");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(orbfile::retrieve_version(path, version));
    }
}
BENCHMARK(BM_RetrieveVersion)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

void BM_EocdReader(benchmark::State& state) {
    const std::string path = largeModule(state.range(0));
    state.SetLabel(kAttachments[state.range(0)]);
    const auto manifest = orbbench::readAttachedManifest(path);
    if (!manifest || manifest->find("R2024b") == std::string::npos) {
        state.SkipWithError("the manifest was not read");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(orbbench::readAttachedManifest(path));
    }
}
BENCHMARK(BM_EocdReader)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
