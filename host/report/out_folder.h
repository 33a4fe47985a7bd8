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

// What OutFolder::Remove did with an item's file.
enum class Removal { kDone, kRefused, kFailed };

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
    // The name "<ext>/<file>" below this folder of extracted, a path
    // "<folder>/<ext>/<file>" as a scan with this --out folder writes it;
    // "" when its folder part names another folder (judged by device and
    // inode) or its last two parts are not a type folder and a file name.
    std::string NameOf(const std::string& extracted);
    // Removes the regular file name (from NameOf) without following a
    // symbolic link at any part below the folder. kDone when removed or
    // already gone; else *why tells why not: a link or folder is refused.
    Removal Remove(const std::string& name, std::string* why);

private:
    std::string dir_;
    std::string lock_path_;
    int lock_fd_ = -1;
    int dir_fd_ = -1;  // the folder itself, opened by NameOf
    bool append_ = false;
    bool shared_ = false;  // a part's lock: the file stays for the other parts
};
