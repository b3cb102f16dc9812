#include "ordalis/ComponentError.h"
#include "ordalis/Grid.h"

namespace ordalis {

namespace {
constexpr std::int32_t kErrSubscript = 9;
}

void MemoryGrid::Resize(std::size_t rows, std::size_t cols) {
  std::vector<Variant> cells(rows * cols);
  for (std::size_t r = 0; r < rows && r < rows_; ++r) {
    for (std::size_t c = 0; c < cols && c < cols_; ++c) cells[r * cols + c] = std::move(cells_[r * cols_ + c]);
  }
  cells_ = std::move(cells);
  rows_ = rows;
  cols_ = cols;
}

std::size_t MemoryGrid::Index(std::size_t row, std::size_t col) const {
  if (row >= rows_ || col >= cols_) throw ComponentError(kErrSubscript, "Subscript out of range");
  return row * cols_ + col;
}

Variant MemoryGrid::Get(std::size_t row, std::size_t col) const { return cells_[Index(row, col)]; }

void MemoryGrid::Set(std::size_t row, std::size_t col, const Variant& value) { cells_[Index(row, col)] = value; }

}  // namespace ordalis
