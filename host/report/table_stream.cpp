// The table of a file, streamed once it grows past one block.
#include "host/report/table_stream.h"

#include <algorithm>
#include <ostream>

#include "host/base/names.h"
#include "host/report/display_width.h"
#include "host/report/output.h"

TableStream::TableStream(std::ostream& out, const FileReport& file,
                         const std::vector<std::string>& plugin_names)
    : out_(out), file_(file), plugin_names_(plugin_names) {}

void TableStream::Add(const ReportedItem& item) {
    if (streaming_) {
        out_ << TableLine(TableCells(item, ItemFinder(item, plugin_names_)), widths_) << '\n';
        return;
    }
    held_.push_back(item);
    if (held_.size() <= kTableBlock) return;
    // Too many to hold: the rows go out from here on, and the count comes last.
    streaming_ = true;
    std::vector<TableRow> rows = {TableHeader(!file_.volumes.empty())};
    for (const ReportedItem& held : held_) rows.push_back(TableCells(held, ItemFinder(held, plugin_names_)));
    for (const TableRow& row : rows) {
        for (int c = 0; c < kTableColumns; ++c) widths_[c] = std::max(widths_[c], DisplayWidth(row.cells[c]));
    }
    out_ << Printable(file_.path) << ": more than " << kTableBlock
         << " items, listed as they are found; the count follows the table\n";
    for (const TableRow& row : rows) out_ << TableLine(row, widths_) << '\n';
    held_.clear();
}

void TableStream::Finish() {
    if (streaming_) {
        out_ << TableHeading(file_) << '\n';
        return;
    }
    FileReport file = file_;
    file.items = std::move(held_);
    file.streamed = 0;
    file.streamed_truncated = 0;
    PrintTable(out_, file, plugin_names_);
}
