// The --out folder of a run: created when missing, locked so that a second
// run cannot write into it at the same time, and refused when it already
// holds files unless the run adds to them (--out-append).
#pragma once
#include <string>

// The lock file inside the folder; it is removed when the run ends.
constexpr const char* kLockFileName = ".hound-lock";

class OutFolder {
public:
    OutFolder() = default;
    ~OutFolder() { Release(); }
    OutFolder(const OutFolder&) = delete;
    OutFolder& operator=(const OutFolder&) = delete;

    // Creates, locks and checks dir; "" when ready, else the one-line reason.
    std::string Open(const std::string& dir, bool append);
    // Unlocks and removes the lock file.
    void Release();
    // A file "<ext>/<name>" of an earlier run in the folder: a name not to use.
    bool Holds(const std::string& name) const;

private:
    std::string dir_;
    std::string lock_path_;
    int lock_fd_ = -1;
    bool append_ = false;
};
