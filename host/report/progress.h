// A progress bar on stderr while a file is scanned: bytes done, MB/s, items
// found and time left. The scan calls Update once per stride of positions;
// the bar redraws at most ten times a second.
#pragma once
#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>

// One line of at most width characters, the same length for a given width
// whatever the numbers (within their fields), e.g.
// "[####......]  48%  12.6/ 26.2 MB  31.5 MB/s      3 items      0:01 left".
std::string RenderProgress(uint64_t done, uint64_t total, uint64_t items, double seconds,
                           size_t width);

class Progress {
public:
    // A disabled progress bar prints nothing at all.
    Progress(bool enabled, std::ostream& err) : enabled_(enabled), err_(err) {}

    void Start(uint64_t total);
    void Update(uint64_t done, uint64_t items);
    // Clears the line, so that the next message starts on a clean line.
    void Finish();

private:
    using Clock = std::chrono::steady_clock;

    bool enabled_;
    std::ostream& err_;
    uint64_t total_ = 0;
    Clock::time_point start_;
    Clock::time_point last_draw_;
    bool drawn_ = false;
};

// The width of the terminal on stderr, or 80.
size_t TerminalWidth();
