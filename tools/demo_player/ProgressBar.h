// Progress of the playback on stdout: one line redrawn in place on a
// terminal, a plain line per second when the output goes to a file or pipe.
#pragma once

#include <chrono>
#include <string>

namespace zvdemo {

class ProgressBar {
public:
    // `totalSeconds` of audio will be played.
    explicit ProgressBar(double totalSeconds);

    // Shows that `doneSeconds` have been pushed; `detail` follows the bar.
    void Update(double doneSeconds, const std::string& detail);

    // Draws the final state and ends the line.
    void Finish(double doneSeconds, const std::string& detail);

    static bool StdoutIsTerminal();

private:
    std::string Line(double doneSeconds, const std::string& detail) const;

    static constexpr int kWidth = 30;
    const double total;
    const bool interactive;
    bool finished = false;
    std::chrono::steady_clock::time_point lastPlainLine;
};

} // namespace zvdemo
