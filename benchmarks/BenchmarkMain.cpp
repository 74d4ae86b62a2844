#include "BandwidthKernels.h"
#include "BenchmarkRegistry.h"
#include "conversion/SampleConversion.h"

#include <benchmark/benchmark.h>

int main(int argc, char** argv) {
    zvbench::RegisterConversionBenchmarks();
    zvbench::RegisterPeerBenchmarks();
    zvbench::RegisterPathBenchmarks();
    zvbench::RegisterResamplerBenchmarks();
    zvbench::RegisterDriftBenchmarks();

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::AddCustomContext("conversion_path",
                                zvaudio::ConversionPathName(zvaudio::ActiveConversionPath()));
    benchmark::AddCustomContext("read4_write2_path", zvbench::CopyHighHalvesPath());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
