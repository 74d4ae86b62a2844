#include "BenchmarkPlatform.h"

#include "BenchmarkModel.h"

namespace {

// A plain global rather than a function-local static: no guard check on the
// fetch and release that the request path times.
zvbench::BenchmarkModel model;

} // namespace

namespace zvplatform {

PlatformModel& ActivePlatform() {
    return model;
}

} // namespace zvplatform

namespace zvbench {

void BenchmarkPlatform::SetBufferBytes(uint32_t bytes) {
    model.SetBufferSamples((bytes + 1) / 2);
}

void BenchmarkPlatform::RaiseRequest() {
    model.current.Raise(model.handle);
}

ZVSoundHandle BenchmarkPlatform::CurrentHandle() {
    return model.handle;
}

uint64_t BenchmarkPlatform::LogLines() {
    return model.LogLines();
}

} // namespace zvbench
