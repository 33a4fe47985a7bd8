// Report text kept in a temporary file while the scan goes on, so that the
// DFXML report and the audit need no memory per item. The file is unlinked
// at once: nothing is left behind whatever ends the run.
#pragma once
#include <string>

class Spool {
public:
    Spool() = default;
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    // Opens the spool in folder (the folder the report goes to, so that it
    // fills the same disk). "" on success, else a one-line reason.
    std::string Open(const std::string& folder);
    bool is_open() const { return fd_ >= 0; }
    // Adds text; a failed write is kept and reported by Failure.
    void Append(const std::string& text);
    // Writes everything appended to fd; false with errno set on a failure.
    bool CopyTo(int fd);
    // errno of the first failed write, 0 when none.
    int failure() const { return failure_; }

private:
    bool Flush();

    int fd_ = -1;
    int failure_ = 0;
    std::string buffer_;
};

// Writes head, the spooled text and tail to path as one file, through a
// temporary file and a rename (see extract.h); a device or pipe at path is
// written in place. False with *error set on any failure.
bool WriteSpooledFile(const std::string& path, const std::string& head, Spool* body,
                      const std::string& tail, std::string* error);
