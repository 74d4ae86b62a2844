#include "DemoOptions.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace zvdemo {

namespace {

bool ParseNumber(const std::string& text, double low, double high, double& value) {
    errno = 0;
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(parsed) || parsed < low ||
        parsed > high) {
        return false;
    }
    value = parsed;
    return true;
}

bool ParseCount(const std::string& text, uint32_t low, uint32_t high, uint32_t& value) {
    double parsed = 0.0;
    if (!ParseNumber(text, low, high, parsed) || parsed != std::floor(parsed)) {
        return false;
    }
    value = static_cast<uint32_t>(parsed);
    return true;
}

// "AT_S:VALUE", as in 30:60 for a target of 60 ms from 30 s of the programme on.
// A whole VALUE when `whole` is set.
bool ParseTimed(const std::string& text, double low, double high, bool whole, CadenceEvent& event) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos ||
        !ParseNumber(text.substr(0, colon), 0.0, 3600.0, event.atSeconds)) {
        return false;
    }
    const std::string value = text.substr(colon + 1);
    if (!whole) {
        return ParseNumber(value, low, high, event.value);
    }
    uint32_t count = 0;
    const bool valid =
        ParseCount(value, static_cast<uint32_t>(low), static_cast<uint32_t>(high), count);
    event.value = count;
    return valid;
}

bool ParseTargetChange(const std::string& text, TargetChange& change) {
    CadenceEvent event;
    const bool valid = ParseTimed(text, 0, 10000, true, event);
    change.atSeconds = event.atSeconds;
    change.milliseconds = static_cast<uint32_t>(event.value);
    return valid;
}

// Stable: events given for the same time apply in the order given.
template <typename Event> void SortByTime(std::vector<Event>& events) {
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return a.atSeconds < b.atSeconds; });
}

} // namespace

bool DemoOptions::Parse(int argc, char** argv, DemoOptions& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            options.help = true;
            return true;
        }
        if (argument.rfind("--", 0) != 0) {
            if (!options.inputPath.empty()) {
                error = "only one input file can be played";
                return false;
            }
            options.inputPath = argument;
            continue;
        }
        if (i + 1 >= argc) {
            error = argument + " needs a value";
            return false;
        }
        const std::string value = argv[++i];
        bool valid = true;
        if (argument == "--seconds") {
            valid = ParseNumber(value, 0.1, 3600.0, options.seconds);
        } else if (argument == "--out") {
            options.outputPath = value;
            valid = !value.empty();
        } else if (argument == "--plugin") {
            options.pluginPath = value;
            valid = !value.empty();
        } else if (argument == "--speed") {
            valid = ParseNumber(value, 0.01, 1000.0, options.speed);
        } else if (argument == "--buffer-seconds") {
            valid = ParseCount(value, 1, 60, options.bufferSeconds);
        } else if (argument == "--device-buffer") {
            valid = ParseCount(value, 0, 65536, options.deviceBufferFrames);
        } else if (argument == "--latency-target") {
            valid = ParseCount(value, 0, 10000, options.latencyTargetMs);
        } else if (argument == "--drift-ppm") {
            valid = ParseNumber(value, -100000.0, 100000.0, options.driftPpm);
        } else if (argument == "--burst") {
            valid = ParseCount(value, 1, 64, options.burstBlocks);
        } else if (argument == "--jitter-ms") {
            valid = ParseNumber(value, 0.0, 1000.0, options.jitterMs);
        } else if (argument == "--change-target") {
            TargetChange change;
            valid = ParseTargetChange(value, change);
            options.targetChanges.push_back(change);
        } else if (argument == "--burst-from" || argument == "--jitter-from" ||
                   argument == "--hitch" || argument == "--stall") {
            CadenceEvent event;
            if (argument == "--burst-from") {
                valid = ParseTimed(value, 1, 64, true, event);
                options.burstChanges.push_back(event);
            } else if (argument == "--jitter-from") {
                valid = ParseTimed(value, 0.0, 1000.0, false, event);
                options.jitterChanges.push_back(event);
            } else {
                valid = ParseTimed(value, 1.0, 10000.0, false, event);
                (argument == "--hitch" ? options.hitches : options.deviceStalls).push_back(event);
            }
        } else if (argument == "--tone") {
            valid = ParseNumber(value, 1.0, 20000.0, options.toneHz);
        } else if (argument == "--sinad-from") {
            valid = ParseNumber(value, 0.0, 3600.0, options.sinadFromSeconds);
        } else {
            error = "unknown option " + argument;
            return false;
        }
        if (!valid) {
            error = "bad value for " + argument + ": " + value;
            return false;
        }
    }
    if (options.toneHz != 0.0 && !options.inputPath.empty()) {
        error = "--tone plays instead of an input file; give one or the other";
        return false;
    }
    SortByTime(options.targetChanges);
    SortByTime(options.burstChanges);
    SortByTime(options.jitterChanges);
    SortByTime(options.hitches);
    SortByTime(options.deviceStalls);
    return true;
}

std::string DemoOptions::Usage(const char* program) {
    return std::string("usage: ") + program +
           " [options] [input.wav]\n"
           "\n"
           "Plays a WAV file (16-bit PCM or 32-bit float, mono or stereo) or a built-in\n"
           "test chord through the audio-output plug-in into the simulated device, and\n"
           "records what the device played.\n"
           "\n"
           "options:\n"
           "  --seconds N          length of the built-in test signal (default 3)\n"
           "  --out PATH           recording of the device's output (default demo_output.wav\n"
           "                       in the current folder)\n"
           "  --plugin PATH        plug-in library (default: the one beside this program)\n"
           "  --speed F            device clock and engine pace, 1 = real time (0.01 to 1000)\n"
           "  --buffer-seconds N   ring length in seconds (1 to 60, default 1)\n"
           "  --device-buffer N    platform buffer size in frames (0 = device default,\n"
           "                       default 1024)\n"
           "  --latency-target MS  steer the queue to MS milliseconds (0 = off, the default)\n"
           "  --drift-ppm PPM      run the device clock PPM parts per million faster (+) or\n"
           "                       slower (-) than the engine's (-100000 to 100000, default 0)\n"
           "  --burst N            hand blocks over N at a time, back to back, every N block\n"
           "                       periods (1 to 64, default 1)\n"
           "  --jitter-ms J        make each block up to J ms late at random, the schedule\n"
           "                       kept (0 to 1000, default 0)\n"
           "  --change-target AT_S:MS\n"
           "                       set the latency target to MS at AT_S seconds of the\n"
           "                       programme (repeatable)\n"
           "  --burst-from AT_S:N  hand blocks over N at a time from AT_S seconds of the\n"
           "                       programme on (1 to 64; repeatable)\n"
           "  --jitter-from AT_S:J make each block up to J ms late from AT_S seconds on\n"
           "                       (0 to 1000; repeatable)\n"
           "  --hitch AT_S:MS      hold the engine's audio thread up for MS ms at AT_S\n"
           "                       seconds, then hand over the blocks it owes at once\n"
           "                       (1 to 10000; repeatable)\n"
           "  --stall AT_S:MS      hold the device's thread up for MS ms at AT_S seconds:\n"
           "                       no requests meanwhile (1 to 10000; repeatable)\n"
           "  --tone HZ            play a pure sine of HZ (stereo, -1 dBFS, 48000 Hz) instead\n"
           "                       of the chord, and report its SINAD as played\n"
           "  --sinad-from S       measure the tone from S seconds of the recording on\n"
           "                       (default: the last two minutes of a run of 150 s or more,\n"
           "                       else from 30 s or half the run, whichever is earlier)\n"
           "  --help               show this text\n";
}

} // namespace zvdemo
