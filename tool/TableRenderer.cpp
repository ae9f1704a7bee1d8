// Compact row storage and the drawing of headers and rows.
#include "TableRenderer.h"

#include <cstring>
#include <utility>

namespace {

// Rows are kept in blocks of this size; a cell larger than a block gets a block of its own, so
// no block is ever copied or grown.
constexpr size_t kBlockBytes = 1 << 20;
constexpr size_t kMaxHeader = 10;  // bytes of the longest varint of a 64-bit value

size_t PutVarint(char* at, uint64_t value) {
    size_t n = 0;
    while (value >= 0x80) {
        at[n++] = static_cast<char>((value & 0x7F) | 0x80);
        value >>= 7;
    }
    at[n++] = static_cast<char>(value);
    return n;
}

uint64_t GetVarint(const char*& at) {
    uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(*at++);
        value |= static_cast<uint64_t>(byte & 0x7F) << shift;
        if (!(byte & 0x80)) return value;
    }
}

}  // namespace

zdTable::zdTable(std::vector<zdColumnHead> columns, zdTableStyle style)
    : columns_(std::move(columns)), style_(style), widths_(columns_.size(), 0) {
    // A header in another script is as wide, and underlined as far, as it shows.
    if (style_.displayWidth) {
        for (zdColumnHead& column : columns_) {
            const int excess =
                static_cast<int>(column.header.size() - zdDisplayWidth(column.header));
            column.minWidth -= excess < column.minWidth ? excess : 0;
            column.underline -= excess < column.underline ? excess : 0;
        }
    }
    if (!style_.headers) return;
    for (size_t i = 0; i < columns_.size(); ++i)
        widths_[i] = columns_[i].minWidth;
}

char* zdTable::Room(size_t bytes) {
    if (blocks_.empty() || blocks_.back().size - blocks_.back().used < bytes) {
        Block block;
        block.size = bytes > kBlockBytes ? bytes : kBlockBytes;
        block.bytes.reset(new char[block.size]);
        blocks_.push_back(std::move(block));
    }
    Block& last = blocks_.back();
    char* at = last.bytes.get() + last.used;
    last.used += bytes;
    return at;
}

void zdTable::Keep(std::string_view cell, bool repeats) {
    if (repeats) {
        auto found = internIndex_.find(cell);
        if (found == internIndex_.end()) {
            const auto index = static_cast<uint32_t>(interned_.size());
            found = internIndex_.emplace(interned_.emplace_back(cell), index).first;
        }
        char header[kMaxHeader];
        const size_t n = PutVarint(header, (uint64_t{found->second} << 1) | 1);
        std::memcpy(Room(n), header, n);
        return;
    }
    char header[kMaxHeader];
    const size_t n = PutVarint(header, uint64_t{cell.size()} << 1);
    char* at = Room(n + cell.size());
    std::memcpy(at, header, n);
    if (!cell.empty()) std::memcpy(at + n, cell.data(), cell.size());
}

void zdTable::ForgetRows() {
    blocks_.clear();
    blocks_.shrink_to_fit();
    rows_ = 0;
    internIndex_.clear();
    interned_.clear();
}

std::string_view zdTable::Reader::Next() {
    while (at_ >= table_.blocks_[block_].used) {
        ++block_;
        at_ = 0;
    }
    const Block& block = table_.blocks_[block_];
    const char* start = block.bytes.get() + at_;
    const char* at = start;
    const uint64_t value = GetVarint(at);
    std::string_view cell;
    if (value & 1) {
        cell = table_.interned_[static_cast<size_t>(value >> 1)];
    } else {
        cell = std::string_view(at, static_cast<size_t>(value >> 1));
        at += cell.size();
    }
    at_ += static_cast<size_t>(at - start);
    return cell;
}

void zdTable::Pad(std::string& out, std::string_view text, int width) const {
    out.append(text);
    const size_t shown = style_.displayWidth ? zdDisplayWidth(text) : text.size();
    if (shown < static_cast<size_t>(width)) out.append(static_cast<size_t>(width) - shown, ' ');
}

void zdTable::RenderHeaders(std::string& out) const {
    if (!style_.headers) return;
    for (size_t i = 0; i < columns_.size(); ++i) {
        Pad(out, columns_[i].header, widths_[i]);
        out.append("   ");
    }
    out.push_back('\n');
    for (size_t i = 0; i < columns_.size(); ++i) {
        Pad(out, std::string(static_cast<size_t>(columns_[i].underline), '-'), widths_[i]);
        out.append("   ");
    }
    out.push_back('\n');
}

void zdTable::RenderRow(std::string& out, Reader& reader) const {
    const char* separator = style_.separators ? " | " : "   ";
    for (size_t i = 0; i < columns_.size(); ++i) {
        Pad(out, reader.Next(), widths_[i]);
        out.append(separator);
    }
    out.push_back('\n');
}
