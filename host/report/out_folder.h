// The --out folder of a run: created when missing, locked so that a second
// run cannot write into it at the same time, and refused when it already
// holds files unless the run adds to them (--out-append). The parts of one
// scan (--range, --part) share a folder: each takes the lock shared, so that
// they may run at once but not beside a whole run, and finds the others'
// files there.
#pragma once
#include <string>

// The lock file inside the folder; it is removed when the run ends (for
// parts, when the last part that holds it ends).
constexpr const char* kLockFileName = ".hound-lock";

class OutFolder {
public:
    OutFolder() = default;
    ~OutFolder() { Release(); }
    OutFolder(const OutFolder&) = delete;
    OutFolder& operator=(const OutFolder&) = delete;

    // Creates, locks and checks dir; "" when ready, else the one-line reason.
    // part: the run is one part of a scan.
    std::string Open(const std::string& dir, bool append, bool part = false);
    // Unlocks and removes the lock file.
    void Release();
    // A file "<ext>/<name>" of an earlier run in the folder: a name not to use.
    bool Holds(const std::string& name) const;

private:
    std::string dir_;
    std::string lock_path_;
    int lock_fd_ = -1;
    bool append_ = false;
    bool shared_ = false;  // a part's lock: the file stays for the other parts
};
