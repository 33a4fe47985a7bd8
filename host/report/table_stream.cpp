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
    const std::string& plugin =
        item.item.plugin < plugin_names_.size() ? plugin_names_[item.item.plugin] : "?";
    if (streaming_) {
        out_ << TableLine(TableCells(item.item, plugin), widths_) << '\n';
        return;
    }
    held_.push_back(item);
    if (held_.size() <= kTableBlock) return;
    // Too many to hold: the rows go out from here on, and the count comes last.
    streaming_ = true;
    std::vector<TableRow> rows = {TableHeader()};
    for (const ReportedItem& held : held_) {
        rows.push_back(TableCells(held.item, held.item.plugin < plugin_names_.size()
                                                  ? plugin_names_[held.item.plugin]
                                                  : "?"));
    }
    for (const TableRow& row : rows) {
        for (int c = 0; c < 7; ++c) widths_[c] = std::max(widths_[c], DisplayWidth(row.cells[c]));
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
