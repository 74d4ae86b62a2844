// Our resampler and each peer library behind DriftCorrector. A peer is built only
// when its library was found; each is set up the way its documentation suggests
// for following a drifting clock, and the limits of its ratio are noted where the
// adapter has to work around them (see docs/benchmarks.md).
#include "DriftCorrector.h"

#include "latency/VariableRateResampler.h"

#include <cmath>
#include <cstdint>
#include <limits>

#if ZV_HAVE_ZITA
#    include <zita-resampler/vresampler.h>
#endif
#if ZV_HAVE_SPEEXDSP
#    include <speex/speex_resampler.h>
#endif
#if ZV_HAVE_SAMPLERATE
#    include <samplerate.h>
#endif
#if ZV_HAVE_SOXR
#    include <soxr.h>
#endif
#if ZV_HAVE_SWRESAMPLE
extern "C" {
#    include <libavutil/channel_layout.h>
#    include <libavutil/samplefmt.h>
#    include <libswresample/swresample.h>
}
#endif

namespace zvbench {
namespace {

constexpr int kRate = 48000;
constexpr auto kChannels = static_cast<unsigned>(DriftCorrector::kChannels);

class OurCorrector : public DriftCorrector {
public:
    OurCorrector() : resampler(kChannels) { resampler.UsePath(zvaudio::ConversionPath::Avx2); }
    double SetRatio(double outPerIn) override {
        resampler.SetRatio(outPerIn);
        // The step is 32.32 fixed point: the ratio it runs at, to 2^-32.
        return resampler.Ratio();
    }
    size_t Process(const float* in, size_t frames, float* out, size_t) override {
        return resampler.Process(in, frames, out);
    }

private:
    zvaudio::VariableRateResampler resampler;
};

#if ZV_HAVE_ZITA
// zita-resampler's VResampler, as zita-ajbridge uses it: set up at ratio 1, then
// set_rratio for the correction. hlen 32 is the documentation's choice for high
// quality (16 to 96 allowed); the ratio filter is left immediate (set_rrfilt < 1).
class ZitaCorrector : public DriftCorrector {
public:
    explicit ZitaCorrector(unsigned halfLength) { resampler.setup(1.0, kChannels, halfLength); }
    double SetRatio(double outPerIn) override {
        resampler.set_rratio(outPerIn);
        return outPerIn;
    }
    size_t Process(const float* in, size_t frames, float* out, size_t capacity) override {
        // VResampler only reads through inp_data; its interface is not const.
        resampler.inp_data = const_cast<float*>(in);
        resampler.inp_count = static_cast<unsigned>(frames);
        resampler.out_data = out;
        resampler.out_count = static_cast<unsigned>(capacity);
        resampler.process();
        return capacity - resampler.out_count;
    }

private:
    VResampler resampler;
};
#endif

#if ZV_HAVE_SPEEXDSP
struct SpeexFree {
    void operator()(SpeexResamplerState* state) const { speex_resampler_destroy(state); }
};

// speexdsp with speex_resampler_set_rate_frac(num, den): the ratio is num / den,
// input over output. The denominator stays at 48000: speexdsp rescales its
// fractional phase by new den / old den on every change, in 32-bit arithmetic
// that refuses (RESAMPLER_ERR_OVERFLOW, with the ratio half applied) once the
// phase times the new denominator passes 2^32, so fractions above 16 bits on
// both sides are not safe to change on a running stream. At 48000 the ratio
// moves in steps of 1/48000, about 21 ppm.
class SpeexCorrector : public DriftCorrector {
public:
    explicit SpeexCorrector(int quality) {
        int error = 0;
        state.reset(speex_resampler_init(kChannels, kRate, kRate, quality, &error));
    }
    double SetRatio(double outPerIn) override {
        const auto num = static_cast<spx_uint32_t>(std::lround(kRate / outPerIn));
        if (!state || speex_resampler_set_rate_frac(state.get(), num, kRate, num, kRate) !=
                          RESAMPLER_ERR_SUCCESS) {
            return std::numeric_limits<double>::quiet_NaN();
        }
        return static_cast<double>(kRate) / num;
    }
    size_t Process(const float* in, size_t frames, float* out, size_t capacity) override {
        size_t written = 0;
        while (state && frames > 0 && written < capacity) {
            auto taken = static_cast<spx_uint32_t>(frames);
            auto made = static_cast<spx_uint32_t>(capacity - written);
            speex_resampler_process_interleaved_float(state.get(), in, &taken,
                                                      out + written * kChannels, &made);
            in += size_t{taken} * kChannels;
            frames -= taken;
            written += made;
            if (taken == 0 && made == 0) {
                break;
            }
        }
        return written;
    }

private:
    std::unique_ptr<SpeexResamplerState, SpeexFree> state;
};
#endif

#if ZV_HAVE_SAMPLERATE
struct SrcFree {
    void operator()(SRC_STATE* state) const { src_delete(state); }
};

// libsamplerate: src_set_ratio for an immediate change, and the same ratio in
// SRC_DATA, which would otherwise glide from the last one across the block.
class SampleRateCorrector : public DriftCorrector {
public:
    explicit SampleRateCorrector(int converter) {
        int error = 0;
        state.reset(src_new(converter, kChannels, &error));
    }
    double SetRatio(double outPerIn) override {
        ratio = outPerIn;
        if (!state || src_set_ratio(state.get(), ratio) != 0) {
            return std::numeric_limits<double>::quiet_NaN();
        }
        return ratio;
    }
    size_t Process(const float* in, size_t frames, float* out, size_t capacity) override {
        size_t written = 0;
        while (state && frames > 0 && written < capacity) {
            SRC_DATA data{};
            data.data_in = in;
            data.data_out = out + written * kChannels;
            data.input_frames = static_cast<long>(frames);
            data.output_frames = static_cast<long>(capacity - written);
            data.src_ratio = ratio;
            if (src_process(state.get(), &data) != 0 ||
                (data.input_frames_used == 0 && data.output_frames_gen == 0)) {
                break;
            }
            in += static_cast<size_t>(data.input_frames_used) * kChannels;
            frames -= static_cast<size_t>(data.input_frames_used);
            written += static_cast<size_t>(data.output_frames_gen);
        }
        return written;
    }

private:
    std::unique_ptr<SRC_STATE, SrcFree> state;
    double ratio = 1.0;
};
#endif

#if ZV_HAVE_SOXR
struct SoxrFree {
    void operator()(soxr_t soxr) const { soxr_delete(soxr); }
};

// soxr in its variable-rate mode (quality recipe SOXR_HQ with SOXR_VR), as its
// example 5 sets it up: the rates given at creation are the largest input /
// output ratio that will be asked for, and soxr_set_io_ratio changes it; slew 0
// changes it at once, as the others do.
class SoxrCorrector : public DriftCorrector {
public:
    SoxrCorrector() {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, SOXR_VR);
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        soxr_error_t error = nullptr;
        resampler.reset(soxr_create(kMaxIoRatio, 1.0, kChannels, &error, &io, &quality, &runtime));
        if (error != nullptr) {
            resampler.reset();
        }
    }
    double SetRatio(double outPerIn) override {
        if (!resampler || soxr_set_io_ratio(resampler.get(), 1.0 / outPerIn, 0) != nullptr) {
            return std::numeric_limits<double>::quiet_NaN();
        }
        return outPerIn;
    }
    size_t Process(const float* in, size_t frames, float* out, size_t capacity) override {
        size_t written = 0;
        while (resampler && frames > 0 && written < capacity) {
            size_t taken = 0;
            size_t made = 0;
            if (soxr_process(resampler.get(), in, frames, &taken, out + written * kChannels,
                             capacity - written, &made) != nullptr ||
                (taken == 0 && made == 0)) {
                break;
            }
            in += taken * kChannels;
            frames -= taken;
            written += made;
        }
        return written;
    }

private:
    static constexpr double kMaxIoRatio = 1.0 + 2 * zvaudio::VariableRateResampler::kMaxDeviation;
    std::unique_ptr<struct soxr, SoxrFree> resampler;
};
#endif

#if ZV_HAVE_SWRESAMPLE
struct SwrFree {
    void operator()(SwrContext* context) const { swr_free(&context); }
};

// libswresample at 48 kHz to 48 kHz with swr_set_compensation(delta, distance):
// delta more output samples over the next `distance`. Both are whole numbers, so
// the distance is long (12 hours at 48 kHz) for a fine ratio, and it is set anew
// for each block.
class SwrCorrector : public DriftCorrector {
public:
    SwrCorrector() {
        AVChannelLayout stereo{};
        av_channel_layout_default(&stereo, kChannels);
        SwrContext* raw = nullptr;
        if (swr_alloc_set_opts2(&raw, &stereo, AV_SAMPLE_FMT_FLT, kRate, &stereo, AV_SAMPLE_FMT_FLT,
                                kRate, 0, nullptr) >= 0) {
            context.reset(raw);
        }
        if (context && swr_init(context.get()) < 0) {
            context.reset();
        }
    }
    double SetRatio(double outPerIn) override {
        const auto delta = static_cast<int>(std::lround((outPerIn - 1.0) * kDistance));
        if (!context || swr_set_compensation(context.get(), delta, kDistance) < 0) {
            return std::numeric_limits<double>::quiet_NaN();
        }
        return 1.0 + static_cast<double>(delta) / kDistance;
    }
    size_t Process(const float* in, size_t frames, float* out, size_t capacity) override {
        if (!context) {
            return 0;
        }
        const auto* source = reinterpret_cast<const uint8_t*>(in);
        auto* destination = reinterpret_cast<uint8_t*>(out);
        const int written = swr_convert(context.get(), &destination, static_cast<int>(capacity),
                                        &source, static_cast<int>(frames));
        return written > 0 ? static_cast<size_t>(written) : 0;
    }

private:
    static constexpr int kDistance = 2147483000;
    std::unique_ptr<SwrContext, SwrFree> context;
};
#endif

template <typename Corrector, typename... Args>
DriftSubject Subject(std::string name, Args... args) {
    return {std::move(name), [args...] { return std::make_unique<Corrector>(args...); }};
}

} // namespace

const std::vector<DriftSubject>& DriftSubjects() {
    static const std::vector<DriftSubject> subjects = [] {
        std::vector<DriftSubject> list;
        list.push_back(Subject<OurCorrector>("Ours"));
#if ZV_HAVE_ZITA
        list.push_back(Subject<ZitaCorrector>("ZitaVResampler32", 32u));
#endif
#if ZV_HAVE_SPEEXDSP
        list.push_back(Subject<SpeexCorrector>("Speex5", SPEEX_RESAMPLER_QUALITY_DESKTOP));
        list.push_back(Subject<SpeexCorrector>("Speex10", SPEEX_RESAMPLER_QUALITY_MAX));
#endif
#if ZV_HAVE_SAMPLERATE
        list.push_back(Subject<SampleRateCorrector>("SrcSincFastest", SRC_SINC_FASTEST));
        list.push_back(Subject<SampleRateCorrector>("SrcSincMedium", SRC_SINC_MEDIUM_QUALITY));
#endif
#if ZV_HAVE_SOXR
        list.push_back(Subject<SoxrCorrector>("SoxrVrHq"));
#endif
#if ZV_HAVE_SWRESAMPLE
        list.push_back(Subject<SwrCorrector>("Swresample"));
#endif
        return list;
    }();
    return subjects;
}

} // namespace zvbench
