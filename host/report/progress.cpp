// A progress bar on stderr while a file is scanned.
#include "host/report/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
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
    const double rate = seconds > 0 ? static_cast<double>(done) / 1e6 / seconds : 0.0;
    const double seconds_left = rate > 0 ? static_cast<double>(total - done) / 1e6 / rate : -1;
    // A hundred hours and more would widen the field; so long, the figure hardly matters.
    const std::string left = seconds_left < 0         ? "--:--"
                             : seconds_left >= 359999.5 ? "--:--:--"
                                                        : Duration(seconds_left);
    // Decimal units throughout; done and total in the one unit that keeps
    // the total below 1000 of it, so that the fields keep their widths.
    static const struct {
        const char* name;
        double bytes;
    } kUnits[] = {{"kB", 1e3}, {"MB", 1e6}, {"GB", 1e9}, {"TB", 1e12}, {"PB", 1e15}, {"EB", 1e18}};
    size_t unit = 0;
    while (unit + 1 < std::size(kUnits) && static_cast<double>(total) / kUnits[unit].bytes >= 999.95) ++unit;
    char tail[160];
    // The rate in MB/s, in GB/s from 1000 MB/s on.
    const bool fast = rate >= 999.95;
    std::snprintf(tail, sizeof tail, " %3d%% %5.1f/%5.1f %s %5.1f %s/s %6llu %s %8s left",
                  static_cast<int>(fraction * 100), static_cast<double>(done) / kUnits[unit].bytes,
                  static_cast<double>(total) / kUnits[unit].bytes, kUnits[unit].name, fast ? rate / 1e3 : rate,
                  fast ? "GB" : "MB",
                  static_cast<unsigned long long>(items), items == 1 ? "item " : "items", left.c_str());
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
