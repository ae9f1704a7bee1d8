// The query tables' one renderer: columns with their headers and minimum widths, widths kept up
// to date as cells arrive, rows kept in compact storage, and the text of headers and rows. Pure:
// it knows no record kind and no run setting.
#ifndef ZDTOOL_TABLERENDERER_H
#define ZDTOOL_TABLERENDERER_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "DisplayWidth.h"

struct zdTableStyle {
    bool headers = true;     // the header and underline lines; header texts count toward widths
    bool separators = true;  // cells end with " | " instead of three spaces
    // Widths in terminal columns of UTF-8 text rather than in bytes (a UTF-8 terminal).
    bool displayWidth = false;
};

struct zdColumnHead {
    std::string header;
    int underline = 0;  // dashes under the header
    int minWidth = 0;   // the width with headers on before any cell
};

// One table: its columns, their widths and the rows to print.
class zdTable {
public:
    zdTable(std::vector<zdColumnHead> columns, zdTableStyle style);
    zdTable(const zdTable&) = delete;
    zdTable& operator=(const zdTable&) = delete;

    size_t ColumnCount() const { return columns_.size(); }
    // Widens `column` to the cell; every cell of a received record counts, printed or not.
    void Measure(size_t column, std::string_view cell) {
        const size_t size = style_.displayWidth ? zdDisplayWidth(cell) : cell.size();
        const int width = size > 0x7fffffff ? 0x7fffffff : static_cast<int>(size);
        if (width > widths_[column]) widths_[column] = width;
    }
    // Keeps the next cell of the row being added, in column order. Cells that repeat across
    // rows (the words of codes) are kept once and referred to.
    void Keep(std::string_view cell, bool repeats);
    // One row's cells have all been kept.
    void EndRow() { ++rows_; }
    size_t RowCount() const { return rows_; }
    int Width(size_t column) const { return widths_[column]; }

    // The header and underline lines when the style has headers, into `out`.
    void RenderHeaders(std::string& out) const;
    // Every kept row into `out`; flush(out) is called whenever `out` holds `batch` bytes or more,
    // and is expected to empty it.
    template <typename Flush>
    void RenderRows(std::string& out, size_t batch, Flush&& flush) const;
    // Releases the rows and their storage; the widths stay.
    void ForgetRows();

private:
    struct Block {
        std::unique_ptr<char[]> bytes;
        size_t used = 0;
        size_t size = 0;
    };
    class Reader;

    char* Room(size_t bytes);
    void Pad(std::string& out, std::string_view text, int width) const;
    void RenderRow(std::string& out, Reader& reader) const;

    std::vector<zdColumnHead> columns_;
    zdTableStyle style_;
    std::vector<int> widths_;
    std::vector<Block> blocks_;
    size_t rows_ = 0;
    // Keys view the texts of interned_, whose elements never move.
    std::unordered_map<std::string_view, uint32_t> internIndex_;
    std::deque<std::string> interned_;
};

// Reads kept cells back in the order they were kept.
class zdTable::Reader {
public:
    explicit Reader(const zdTable& table) : table_(table) {}
    std::string_view Next();

private:
    const zdTable& table_;
    size_t block_ = 0;
    size_t at_ = 0;
};

template <typename Flush>
void zdTable::RenderRows(std::string& out, size_t batch, Flush&& flush) const {
    Reader reader(*this);
    for (size_t row = 0; row < rows_; ++row) {
        RenderRow(out, reader);
        if (out.size() >= batch) flush(out);
    }
}

#endif
