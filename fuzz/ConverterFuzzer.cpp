// Every conversion path this CPU offers against the plain reference, on arbitrary
// bytes read as floats, any length, with input and output placed at data-chosen
// offsets so that no path can count on alignment.
#include "FuzzCheck.h"
#include "FuzzCounters.h"
#include "NumberedSamples.h"
#include "conversion/SampleConversion.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr int16_t kUntouched = 0x5A5A;
constexpr size_t kMaxOffset = 15;
constexpr size_t kGuard = 16;

constexpr zvaudio::ConversionPath kPaths[] = {
    zvaudio::ConversionPath::Scalar,
    zvaudio::ConversionPath::Sse2,
    zvaudio::ConversionPath::Avx2,
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const size_t inOffset = input.ConsumeIntegralInRange<size_t>(0, kMaxOffset);
    const size_t outOffset = input.ConsumeIntegralInRange<size_t>(0, kMaxOffset);
    const std::vector<uint8_t> bytes = input.ConsumeRemainingBytes<uint8_t>();
    const size_t count = bytes.size() / sizeof(float);

    // Exactly sized, so that a read past the block is caught by the sanitizer.
    std::vector<float> in(inOffset + count);
    if (count > 0) {
        std::memcpy(in.data() + inOffset, bytes.data(), count * sizeof(float));
    }
    const float* source = in.data() + inOffset;

    std::vector<int16_t> reference(count);
    zvaudio::ConvertToPcm16Reference(source, reference.data(), count);
    for (size_t i = 0; i < count; ++i) {
        FUZZ_CHECK(reference[i] == zvtest::ExpectedPcm16(source[i]));
    }

    std::vector<int16_t> out;
    const auto check = [&](auto&& convert) {
        out.assign(outOffset + count + kGuard, kUntouched);
        convert(source, out.data() + outOffset, count);
        for (size_t i = 0; i < outOffset; ++i) {
            FUZZ_CHECK(out[i] == kUntouched);
        }
        FUZZ_CHECK(std::equal(reference.begin(), reference.end(),
                              out.begin() + static_cast<std::ptrdiff_t>(outOffset)));
        for (size_t i = outOffset + count; i < out.size(); ++i) {
            FUZZ_CHECK(out[i] == kUntouched);
        }
        zvfuzz::Count(zvfuzz::Counter::Steps);
        zvfuzz::Count(zvfuzz::Counter::Samples, count);
    };
    for (const zvaudio::ConversionPath path : kPaths) {
        if (zvaudio::IsConversionPathAvailable(path)) {
            check([path](const float* from, int16_t* to, size_t n) {
                zvaudio::ConvertToPcm16Using(path, from, to, n);
            });
        }
    }
    check([](const float* from, int16_t* to, size_t n) { zvaudio::ConvertToPcm16(from, to, n); });
    return 0;
}
