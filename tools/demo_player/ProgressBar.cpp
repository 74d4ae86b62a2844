#include "ProgressBar.h"

#include <algorithm>
#include <cstdio>

#if defined(_WIN32)
#    include <io.h>
#else
#    include <unistd.h>
#endif

namespace zvdemo {

ProgressBar::ProgressBar(double totalSeconds)
    : total(totalSeconds), interactive(StdoutIsTerminal()),
      lastPlainLine(std::chrono::steady_clock::now()) {}

bool ProgressBar::StdoutIsTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(fileno(stdout)) != 0;
#endif
}

std::string ProgressBar::Line(double doneSeconds, const std::string& detail) const {
    const double fraction = total > 0.0 ? std::clamp(doneSeconds / total, 0.0, 1.0) : 1.0;
    const int filled = static_cast<int>(fraction * kWidth + 0.5);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kWidth - filled), '.');
    char text[160];
    std::snprintf(text, sizeof text, "[%s] %3d%%  %6.2f s / %.2f s", bar.c_str(),
                  static_cast<int>(fraction * 100.0 + 0.5), doneSeconds, total);
    return std::string(text) + (detail.empty() ? "" : "  " + detail);
}

void ProgressBar::Update(double doneSeconds, const std::string& detail) {
    if (finished) {
        return;
    }
    if (interactive) {
        // Trailing blanks wipe what a longer previous line left behind.
        std::printf("\r%s   ", Line(doneSeconds, detail).c_str());
        std::fflush(stdout);
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - lastPlainLine >= std::chrono::seconds(1)) {
        lastPlainLine = now;
        std::printf("%s\n", Line(doneSeconds, detail).c_str());
        std::fflush(stdout);
    }
}

void ProgressBar::Finish(double doneSeconds, const std::string& detail) {
    if (finished) {
        return;
    }
    finished = true;
    std::printf(interactive ? "\r%s   \n" : "%s\n", Line(doneSeconds, detail).c_str());
    std::fflush(stdout);
}

} // namespace zvdemo
