// The call contract of the simulated device, checked without its clock running.
#include "SimulatedDeviceFixture.h"

#include <cstdint>
#include <cstring>
#include <set>
#include <string>

namespace {

using SimulatedDeviceContract = SimulatedDeviceFixture;

TEST_F(SimulatedDeviceContract, DefaultsReportSixteenBitPcmInTheRequestedLayout) {
    AudioBufferFormat format{};
    uint32_t recommended = 0;
    uint32_t minimum = 0;
    ASSERT_EQ(ZVAudioGetBufferedOutputDefaults(6, 44100, 0.5f, &format, &recommended, &minimum),
              kResultOk);
    EXPECT_EQ(format.channelCount, 6u);
    EXPECT_EQ(format.sampleRate, 44100u);
    EXPECT_EQ(format.bitsPerSample, 16u);
    EXPECT_EQ(format.sampleFormat, 0u);
    EXPECT_EQ(recommended, 1024u);
    EXPECT_EQ(minimum, 256u);
    // The size outputs are optional.
    EXPECT_EQ(ZVAudioGetBufferedOutputDefaults(1, 8000, 0.0f, &format, nullptr, nullptr),
              kResultOk);
}

TEST_F(SimulatedDeviceContract, DefaultsRejectImpossibleLayouts) {
    AudioBufferFormat format{};
    uint32_t size = 0;
    EXPECT_EQ(ZVAudioGetBufferedOutputDefaults(2, 48000, 0.0f, nullptr, &size, &size),
              kSimResultInvalidArgument);
    EXPECT_EQ(ZVAudioGetBufferedOutputDefaults(0, 48000, 0.0f, &format, &size, &size),
              kSimResultInvalidArgument);
    EXPECT_EQ(ZVAudioGetBufferedOutputDefaults(2, 0, 0.0f, &format, &size, &size),
              kSimResultInvalidArgument);
    EXPECT_EQ(ZVAudioGetBufferedOutputDefaults(33, 48000, 0.0f, &format, &size, &size),
              kSimResultInvalidArgument);
    EXPECT_EQ(ZVAudioGetBufferedOutputDefaults(2, 4000000, 0.0f, &format, &size, &size),
              kSimResultInvalidArgument);
}

TEST_F(SimulatedDeviceContract, CreateRejectsMissingArgumentsAndFormatsItCannotPlay) {
    AudioBufferFormat format = Format();
    ZVSoundHandle handle = kInvalidSoundHandle;
    EXPECT_EQ(
        ZVAudioCreateSoundWithBufferedOutput(nullptr, kFrames, IgnoreRequest, nullptr, &handle),
        kSimResultInvalidArgument);
    EXPECT_EQ(ZVAudioCreateSoundWithBufferedOutput(&format, kFrames, nullptr, nullptr, &handle),
              kSimResultInvalidArgument);
    EXPECT_EQ(
        ZVAudioCreateSoundWithBufferedOutput(&format, kFrames, IgnoreRequest, nullptr, nullptr),
        kSimResultInvalidArgument);
    EXPECT_EQ(ZVAudioCreateSoundWithBufferedOutput(&format, 65537, IgnoreRequest, nullptr, &handle),
              kSimResultInvalidArgument);
    AudioBufferFormat floatFormat{2, 48000, 32, 1};
    EXPECT_EQ(ZVAudioCreateSoundWithBufferedOutput(&floatFormat, kFrames, IgnoreRequest, nullptr,
                                                   &handle),
              kSimResultInvalidArgument);
    AudioBufferFormat noChannels{0, 48000, 16, 0};
    EXPECT_EQ(
        ZVAudioCreateSoundWithBufferedOutput(&noChannels, kFrames, IgnoreRequest, nullptr, &handle),
        kSimResultInvalidArgument);
    EXPECT_EQ(handle, kInvalidSoundHandle);
    EXPECT_EQ(Stats().streamsCreated, 0u);
}

TEST_F(SimulatedDeviceContract, HandlesAreUniqueAndNeverReused) {
    std::set<ZVSoundHandle> seen;
    for (int i = 0; i < 20; ++i) {
        const ZVSoundHandle handle = Create(IgnoreRequest, nullptr);
        EXPECT_NE(handle, kInvalidSoundHandle);
        EXPECT_TRUE(seen.insert(handle).second) << "handle " << handle << " handed out twice";
        if (i % 2 == 0) {
            EXPECT_EQ(Destroy(handle), kResultOk);
        }
    }
    EXPECT_EQ(Stats().streamsCreated, 20u);
    EXPECT_EQ(Stats().streamsDestroyed, 10u);
}

TEST_F(SimulatedDeviceContract, BufferHoldsBufferSizeFramesOfSixteenBitSamples) {
    const ZVSoundHandle handle = Create(IgnoreRequest, nullptr, Format(6, 44100), 300);
    AudioOutputBuffer buffer{};
    ASSERT_EQ(ZVAudioGetOutputBuffer(handle, &buffer), kResultOk);
    EXPECT_EQ(buffer.size, 300u * 6u * 2u);
    ASSERT_NE(buffer.data, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.data) % 64, 0u);
    std::memset(buffer.data, 0x5A, buffer.size); // the whole buffer is writable
    EXPECT_EQ(ZVAudioReleaseOutputBuffer(handle), kResultOk);

    // A size of 0 asks for the recommended size.
    const ZVSoundHandle defaultSized = Create(IgnoreRequest, nullptr, Format(1, 48000), 0);
    ASSERT_EQ(ZVAudioGetOutputBuffer(defaultSized, &buffer), kResultOk);
    EXPECT_EQ(buffer.size, 1024u * 2u);
}

TEST_F(SimulatedDeviceContract, OnlyOneBufferIsLentAtATime) {
    const ZVSoundHandle handle = Create(IgnoreRequest, nullptr);
    AudioOutputBuffer first{};
    AudioOutputBuffer second{reinterpret_cast<void*>(&second), 123};
    ASSERT_EQ(ZVAudioGetOutputBuffer(handle, &first), kResultOk);
    EXPECT_EQ(ZVAudioGetOutputBuffer(handle, &second), kResultBufferNotReady);
    EXPECT_EQ(second.data, nullptr) << "a refused fetch must not leave a usable pointer";
    EXPECT_EQ(second.size, 0u);
    ASSERT_EQ(ZVAudioReleaseOutputBuffer(handle), kResultOk);
    EXPECT_EQ(ZVAudioReleaseOutputBuffer(handle), kSimResultInvalidState);
    ASSERT_EQ(ZVAudioGetOutputBuffer(handle, &second), kResultOk);
    EXPECT_NE(second.data, first.data) << "buffers are handed out in turn";
    EXPECT_EQ(Stats().fetchesNotReady, 1u);
    EXPECT_EQ(Stats().buffersFetched, 2u);
}

TEST_F(SimulatedDeviceContract, FetchIsRefusedOnceEveryBufferIsInFlight) {
    for (uint32_t inFlight : {1u, 3u, 5u}) {
        ZVSimSetBuffersInFlight(inFlight);
        const ZVSoundHandle handle = Create(IgnoreRequest, nullptr);
        AudioOutputBuffer buffer{};
        std::set<void*> distinct;
        for (uint32_t i = 0; i < inFlight; ++i) {
            ASSERT_EQ(ZVAudioGetOutputBuffer(handle, &buffer), kResultOk) << inFlight;
            distinct.insert(buffer.data);
            ASSERT_EQ(ZVAudioReleaseOutputBuffer(handle), kResultOk);
        }
        // Not started: no clock consumes the queue, so nothing frees up.
        EXPECT_EQ(ZVAudioGetOutputBuffer(handle, &buffer), kResultBufferNotReady) << inFlight;
        EXPECT_EQ(distinct.size(), inFlight);
    }
}

TEST_F(SimulatedDeviceContract, UnknownAndDestroyedHandlesAreRejected) {
    const ZVSoundHandle destroyed = Create(IgnoreRequest, nullptr);
    ASSERT_EQ(Destroy(destroyed), kResultOk);
    AudioOutputBuffer buffer{};
    for (ZVSoundHandle handle : {destroyed, kInvalidSoundHandle, ZVSoundHandle{0}}) {
        EXPECT_EQ(ZVAudioStartSound(handle), kSimResultInvalidHandle);
        EXPECT_EQ(ZVAudioStopSound(handle), kSimResultInvalidHandle);
        EXPECT_EQ(ZVAudioGetOutputBuffer(handle, &buffer), kSimResultInvalidHandle);
        EXPECT_EQ(ZVAudioReleaseOutputBuffer(handle), kSimResultInvalidHandle);
        EXPECT_EQ(ZVAudioDestroySound(handle), kSimResultInvalidHandle);
    }
    const ZVSoundHandle live = Create(IgnoreRequest, nullptr);
    EXPECT_EQ(ZVAudioGetOutputBuffer(live, nullptr), kSimResultInvalidArgument);
}

TEST_F(SimulatedDeviceContract, LifecycleCallsOutOfOrderAreRejected) {
    const ZVSoundHandle handle = Create(IgnoreRequest, nullptr);
    EXPECT_EQ(ZVAudioStopSound(handle), kResultOk) << "stopping an unstarted stream is harmless";
    EXPECT_EQ(ZVAudioReleaseOutputBuffer(handle), kSimResultInvalidState);
    ASSERT_EQ(ZVAudioStartSound(handle), kResultOk);
    EXPECT_EQ(ZVAudioStartSound(handle), kSimResultInvalidState);
    EXPECT_EQ(CallWithin([handle] { return ZVAudioStopSound(handle); }), kResultOk);
    EXPECT_EQ(CallWithin([handle] { return ZVAudioStopSound(handle); }), kResultOk);
    // A stopped stream can be started again.
    EXPECT_EQ(ZVAudioStartSound(handle), kResultOk);
    EXPECT_EQ(Destroy(handle), kResultOk);
}

TEST_F(SimulatedDeviceContract, EveryResultHasItsOwnText) {
    const ZVResult codes[] = {kResultOk,
                              kResultBufferNotReady,
                              kSimResultInvalidHandle,
                              kSimResultInvalidArgument,
                              kSimResultInvalidState,
                              kSimResultOutOfMemory,
                              kSimResultInjectedFailure};
    std::set<std::string> texts;
    for (ZVResult code : codes) {
        const char* text = ZVAudioGetResultString(code);
        ASSERT_NE(text, nullptr);
        EXPECT_GT(std::strlen(text), 10u);
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), std::size(codes));
    EXPECT_STREQ(ZVAudioGetResultString(kSimResultInvalidHandle),
                 "the sound handle is unknown or was destroyed");
    EXPECT_STREQ(ZVAudioGetResultString(kResultBufferNotReady), "no output buffer is free yet");
    for (ZVResult unknown : {ZVResult{1}, ZVResult{-1}, static_cast<ZVResult>(0x9E110077u)}) {
        const char* text = ZVAudioGetResultString(unknown);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(texts.count(text), 0u);
    }
}

TEST_F(SimulatedDeviceContract, InjectedFailuresHitTheNamedCallTheGivenNumberOfTimes) {
    const ZVResult injected = static_cast<ZVResult>(0x9E110042u);
    const ZVSoundHandle handle = Create(IgnoreRequest, nullptr);
    ZVSimInjectFailure(kSimCallGetOutputBuffer, injected, 2);
    AudioOutputBuffer buffer{};
    EXPECT_EQ(ZVAudioReleaseOutputBuffer(handle), kSimResultInvalidState)
        << "other calls unaffected";
    EXPECT_EQ(ZVAudioGetOutputBuffer(handle, &buffer), injected);
    EXPECT_EQ(buffer.data, nullptr);
    EXPECT_EQ(ZVAudioGetOutputBuffer(handle, &buffer), injected);
    EXPECT_EQ(ZVAudioGetOutputBuffer(handle, &buffer), kResultOk);
    EXPECT_EQ(ZVAudioReleaseOutputBuffer(handle), kResultOk);

    ZVSimInjectFailure(kSimCallStartSound, kSimResultInjectedFailure, 5);
    ZVSimInjectFailure(kSimCallCreateSoundWithBufferedOutput, kSimResultInjectedFailure, 1);
    EXPECT_EQ(ZVAudioStartSound(handle), kSimResultInjectedFailure);
    ZVSimInjectFailure(kSimCallStartSound, kSimResultInjectedFailure, 0); // disarms
    AudioBufferFormat format = Format();
    ZVSoundHandle other = kInvalidSoundHandle;
    EXPECT_EQ(
        ZVAudioCreateSoundWithBufferedOutput(&format, kFrames, IgnoreRequest, nullptr, &other),
        kSimResultInjectedFailure);
    EXPECT_EQ(other, kInvalidSoundHandle);

    EXPECT_EQ(ZVAudioStartSound(handle), kResultOk);

    ZVSimInjectFailure(kSimCallDestroySound, kSimResultInjectedFailure, 3);
    EXPECT_EQ(Destroy(handle), kSimResultInjectedFailure);
    ZVSimClearFailures();
    EXPECT_EQ(Destroy(handle), kResultOk);
}

} // namespace
