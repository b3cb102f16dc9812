#pragma once
// A two-dimensional grid of values addressed by row and column, as the host
// supplies it for the carrier comparison. Cells hold numbers or text (any
// Variant). Rows and columns are numbered from 0; addressing a cell outside
// the grid is ComponentError 9 (subscript out of range).
#include <cstddef>
#include <vector>

#include "ordalis/Export.h"
#include "ordalis/Variant.h"

namespace ordalis {

class ORDALIS_API Grid {
 public:
  virtual ~Grid() = default;

  virtual std::size_t Rows() const = 0;
  virtual std::size_t Cols() const = 0;
  // Changes the size; cells inside both the old and the new size keep their
  // values, new cells are Null.
  virtual void Resize(std::size_t rows, std::size_t cols) = 0;

  virtual Variant Get(std::size_t row, std::size_t col) const = 0;
  virtual void Set(std::size_t row, std::size_t col, const Variant& value) = 0;
};

// The plain in-memory grid.
class ORDALIS_API MemoryGrid final : public Grid {
 public:
  MemoryGrid() = default;
  MemoryGrid(std::size_t rows, std::size_t cols) { Resize(rows, cols); }

  std::size_t Rows() const override { return rows_; }
  std::size_t Cols() const override { return cols_; }
  void Resize(std::size_t rows, std::size_t cols) override;
  Variant Get(std::size_t row, std::size_t col) const override;
  void Set(std::size_t row, std::size_t col, const Variant& value) override;

 private:
  std::size_t Index(std::size_t row, std::size_t col) const;

  std::size_t rows_ = 0;
  std::size_t cols_ = 0;
  std::vector<Variant> cells_;  // row-major
};

}  // namespace ordalis
