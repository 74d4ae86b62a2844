#include "conversion/SampleConversion.h"

#include <atomic>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#    if defined(__GNUC__)
#        include <cpuid.h>
#    elif defined(_MSC_VER)
#        include <intrin.h>
#    endif
#endif

namespace zvaudio {
namespace {

constexpr float kPositiveScale = 32767.0f;
constexpr float kNegativeScale = 32768.0f;
constexpr float kHighest = 32767.0f;
constexpr float kLowest = -32768.0f;
constexpr uint32_t kMagnitudeMask = 0x7fffffffu;
constexpr uint32_t kExponentAllOnes = 0x7f800000u;

#if defined(__x86_64__) || defined(_M_X64)

// The OS must save the YMM registers across context switches, or AVX code would see them
// clobbered; the CPU flag alone does not say so.
bool CpuAndOsSupportAvx2() noexcept {
#    if defined(__GNUC__)
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx2")) {
        return false;
    }
    unsigned int eax = 0;
    unsigned int ebx = 0;
    unsigned int ecx = 0;
    unsigned int edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (ecx & bit_OSXSAVE) == 0) {
        return false;
    }
    unsigned int xcr0Low = 0;
    unsigned int xcr0High = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0u));
    return (xcr0Low & 0x6u) == 0x6u; // XMM and YMM state
#    elif defined(_MSC_VER)
    int info[4] = {};
    __cpuid(info, 0);
    if (info[0] < 7) {
        return false;
    }
    __cpuid(info, 1);
    const bool osSavesState = (info[2] & (1 << 27)) != 0;
    const bool hasAvx = (info[2] & (1 << 28)) != 0;
    if (!osSavesState || !hasAvx || (_xgetbv(0) & 0x6u) != 0x6u) {
        return false;
    }
    __cpuidex(info, 7, 0);
    return (info[1] & (1 << 5)) != 0;
#    else
    return false;
#    endif
}

// -1 until the first query. Racing first queries store the same answer, so a relaxed
// atomic is enough and the audio thread never waits on a static-initialisation guard.
std::atomic<int> avx2Supported{-1};

bool HasAvx2() noexcept {
    int known = avx2Supported.load(std::memory_order_relaxed);
    if (known < 0) {
        known = CpuAndOsSupportAvx2() ? 1 : 0;
        avx2Supported.store(known, std::memory_order_relaxed);
    }
    return known == 1;
}

#endif

ConversionPath BestPath() noexcept {
    if (IsConversionPathAvailable(ConversionPath::Avx2)) {
        return ConversionPath::Avx2;
    }
    if (IsConversionPathAvailable(ConversionPath::Sse2)) {
        return ConversionPath::Sse2;
    }
    return ConversionPath::Scalar;
}

std::atomic<int> activePath{-1};

using Kernel = void (*)(const float*, int16_t*, size_t) noexcept;

Kernel KernelFor(ConversionPath path) noexcept {
    switch (path) {
#if defined(__x86_64__) || defined(_M_X64)
    case ConversionPath::Avx2: return detail::ConvertToPcm16Avx2;
    case ConversionPath::Sse2: return detail::ConvertToPcm16Sse2;
#endif
    default: return detail::ConvertToPcm16Scalar;
    }
}

void ChooseKernelAndConvert(const float* in, int16_t* out, size_t count) noexcept;

// ConvertToPcm16 is one indirect call. The first call lands in ChooseKernelAndConvert,
// which installs the kernel for this CPU; racing first calls install the same one.
std::atomic<Kernel> activeKernel{ChooseKernelAndConvert};

void ChooseKernelAndConvert(const float* in, int16_t* out, size_t count) noexcept {
    const Kernel kernel = KernelFor(ActiveConversionPath());
    activeKernel.store(kernel, std::memory_order_relaxed);
    kernel(in, out, count);
}

// Same rule as the reference without a data-dependent branch: the scale is a select, the
// clamp happens in float so the truncation never sees a value outside int32 (a NaN product
// becomes kHighest here), and non-finite inputs are masked to 0 afterwards.
inline int16_t ConvertSampleBranchLight(float x) noexcept {
    uint32_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    const float scale = x >= 0.0f ? kPositiveScale : kNegativeScale;
    float product = x * scale;
    product = product < kHighest ? product : kHighest;
    product = product > kLowest ? product : kLowest;
    const int32_t finiteMask = (bits & kMagnitudeMask) < kExponentAllOnes ? -1 : 0;
    return static_cast<int16_t>(static_cast<int32_t>(product) & finiteMask);
}

} // namespace

int16_t ConvertSampleReference(float x) noexcept {
    if (!std::isfinite(x)) {
        return 0;
    }
    const float product = x >= 0.0f ? x * kPositiveScale : x * kNegativeScale;
    if (product >= kHighest) {
        return 32767;
    }
    if (product <= kLowest) {
        return -32768;
    }
    return static_cast<int16_t>(static_cast<int32_t>(product));
}

void ConvertToPcm16Reference(const float* in, int16_t* out, size_t count) noexcept {
    for (size_t i = 0; i < count; ++i) {
        out[i] = ConvertSampleReference(in[i]);
    }
}

namespace detail {

void ConvertToPcm16Scalar(const float* in, int16_t* out, size_t count) noexcept {
    for (size_t i = 0; i < count; ++i) {
        out[i] = ConvertSampleBranchLight(in[i]);
    }
}

} // namespace detail

bool IsConversionPathAvailable(ConversionPath path) noexcept {
    switch (path) {
    case ConversionPath::Reference:
    case ConversionPath::Scalar: return true;
#if defined(__x86_64__) || defined(_M_X64)
    case ConversionPath::Sse2: return true; // part of the x86-64 baseline
    case ConversionPath::Avx2: return HasAvx2();
#else
    case ConversionPath::Sse2:
    case ConversionPath::Avx2: return false;
#endif
    }
    return false;
}

void ConvertToPcm16Using(ConversionPath path, const float* in, int16_t* out,
                         size_t count) noexcept {
    if (!IsConversionPathAvailable(path)) {
        path = ConversionPath::Scalar;
    }
    switch (path) {
    case ConversionPath::Reference: ConvertToPcm16Reference(in, out, count); return;
#if defined(__x86_64__) || defined(_M_X64)
    case ConversionPath::Sse2: detail::ConvertToPcm16Sse2(in, out, count); return;
    case ConversionPath::Avx2: detail::ConvertToPcm16Avx2(in, out, count); return;
#endif
    default: detail::ConvertToPcm16Scalar(in, out, count); return;
    }
}

ConversionPath ActiveConversionPath() noexcept {
    int path = activePath.load(std::memory_order_relaxed);
    if (path < 0) {
        path = static_cast<int>(BestPath());
        activePath.store(path, std::memory_order_relaxed);
    }
    return static_cast<ConversionPath>(path);
}

void ConvertToPcm16(const float* in, int16_t* out, size_t count) noexcept {
    activeKernel.load(std::memory_order_relaxed)(in, out, count);
}

const char* ConversionPathName(ConversionPath path) noexcept {
    switch (path) {
    case ConversionPath::Reference: return "Reference";
    case ConversionPath::Scalar: return "Scalar";
    case ConversionPath::Sse2: return "SSE2";
    case ConversionPath::Avx2: return "AVX2";
    }
    return "Unknown";
}

} // namespace zvaudio
