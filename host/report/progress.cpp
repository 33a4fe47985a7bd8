// A progress bar on stderr while a file is scanned.
#include "host/report/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ostream>

namespace {

std::string Duration(double seconds) {
    const auto total = static_cast<uint64_t>(seconds + 0.5);
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu",
                      static_cast<unsigned long long>(total / 3600),
                      static_cast<unsigned long long>(total / 60 % 60),
                      static_cast<unsigned long long>(total % 60));
    } else {
        std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(total / 60),
                      static_cast<unsigned long long>(total % 60));
    }
    return text;
}

}  // namespace

std::string RenderProgress(uint64_t done, uint64_t total, uint64_t items, double seconds,
                           size_t width) {
    done = std::min(done, total);
    const double fraction = total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
    const double mib = 1024.0 * 1024.0;
    const double rate = seconds > 0 ? static_cast<double>(done) / 1e6 / seconds : 0.0;
    const std::string left =
        rate > 0 ? Duration(static_cast<double>(total - done) / 1e6 / rate) + " left" : "--:-- left";
    char tail[160];
    std::snprintf(tail, sizeof tail, " %3d%%  %.1f/%.1f MiB  %.1f MB/s  %llu item%s  %s",
                  static_cast<int>(fraction * 100), static_cast<double>(done) / mib,
                  static_cast<double>(total) / mib, rate, static_cast<unsigned long long>(items),
                  items == 1 ? "" : "s", left.c_str());
    std::string line(tail);
    // The bar takes what the numbers leave, between 10 and 40 characters.
    const size_t room = width > line.size() + 2 ? width - line.size() - 2 : 0;
    const size_t bar = std::min<size_t>(room, 40);
    if (bar >= 10) {
        const auto filled = static_cast<size_t>(fraction * static_cast<double>(bar));
        line = "[" + std::string(filled, '#') + std::string(bar - filled, '.') + "]" + line;
    }
    if (line.size() > width) line.resize(width);
    return line;
}

size_t TerminalWidth() {
    struct winsize size;
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

void Progress::Start(uint64_t total) {
    total_ = total;
    start_ = Clock::now();
    last_draw_ = start_;
    drawn_ = false;
}

void Progress::Update(uint64_t done, uint64_t items) {
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    if (drawn_ && now - last_draw_ < std::chrono::milliseconds(100)) return;
    last_draw_ = now;
    drawn_ = true;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    // One column less than the terminal: no automatic wrap at the edge.
    err_ << '\r' << RenderProgress(done, total_, items, seconds, TerminalWidth() - 1) << "\033[K"
         << std::flush;
}

void Progress::Finish() {
    if (!enabled_ || !drawn_) return;
    err_ << "\r\033[K" << std::flush;
    drawn_ = false;
}
