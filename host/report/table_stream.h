// A file's table printed as its items come. Up to kTableBlock items are held
// and printed when the file is done, aligned as PrintTable does; past that
// the held rows go out at once and each later row as it is found, aligned to
// the widths of the first block, and a closing heading line gives the count.
#pragma once
#include <iosfwd>
#include <string>
#include <vector>

#include "host/report/output.h"
#include "host/report/report.h"

constexpr size_t kTableBlock = 1000;

class TableStream {
public:
    // file: the file's report, whose counts the heading lines read.
    TableStream(std::ostream& out, const FileReport& file, const std::vector<std::string>& plugin_names);
    void Add(const ReportedItem& item);
    // Prints what is held, or the closing line; at the end of the file.
    void Finish();

private:
    std::ostream& out_;
    const FileReport& file_;
    const std::vector<std::string>& plugin_names_;
    std::vector<ReportedItem> held_;
    bool streaming_ = false;
    size_t widths_[kTableColumns] = {};
};
