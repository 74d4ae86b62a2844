#pragma once

#include "conversion/SampleConversion.h"

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace zvaudio::test {

// One way into the converter: a named path, or the dispatcher that ConvertToPcm16 uses.
struct Converter {
    const char* name;
    bool dispatched;
    ConversionPath path;

    bool Available() const { return dispatched || IsConversionPathAvailable(path); }

    void Run(const float* in, int16_t* out, size_t count) const {
        if (dispatched) {
            ConvertToPcm16(in, out, count);
        } else {
            ConvertToPcm16Using(path, in, out, count);
        }
    }
};

inline void PrintTo(const Converter& converter, std::ostream* os) {
    *os << converter.name;
}

inline std::vector<Converter> FastConverters() {
    return {{"Scalar", false, ConversionPath::Scalar},
            {"Sse2", false, ConversionPath::Sse2},
            {"Avx2", false, ConversionPath::Avx2},
            {"Dispatched", true, ConversionPath::Scalar}};
}

inline std::vector<Converter> AllConverters() {
    std::vector<Converter> converters{{"Reference", false, ConversionPath::Reference}};
    for (const Converter& converter : FastConverters()) {
        converters.push_back(converter);
    }
    return converters;
}

inline std::string ConverterName(const ::testing::TestParamInfo<Converter>& info) {
    return info.param.name;
}

inline float FloatFromBits(uint32_t bits) {
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline uint32_t BitsOfFloat(float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

} // namespace zvaudio::test
