#include "data/Cursor.h"

#include <utility>

#include "ordalis/ComponentError.h"
#include "ordalis/DateTime.h"

namespace ordalis::rdo {

void ThrowDataError(std::string description, int number) {
  throw ComponentError(number, std::move(description), kSource);
}

bool SameAsRead(const Variant& set, const Variant& read) {
  if (set.kind() == Variant::Kind::Date && read.kind() == Variant::Kind::Date)
    return dt::ToSeconds(set.ToDate()) == dt::ToSeconds(read.ToDate());
  return set == read;
}

Variant CoerceToKind(Variant value, Variant::Kind kind) {
  using K = Variant::Kind;
  if (value.IsNull() || kind == K::Null || value.kind() == kind) return value;
  switch (kind) {
    case K::Text: return Variant(value.ToText());
    case K::Integer: return Variant(value.ToInteger());
    case K::Double: return Variant(value.ToDouble());
    case K::Single: return Variant(static_cast<float>(value.ToDouble()));
    case K::Money: return Variant(value.ToMoney());
    case K::Date: return Variant::FromDate(value.ToDate());
    case K::Bool: return Variant(value.ToBool());
    case K::Null: break;
  }
  return value;
}

Cursor::~Cursor() = default;

void Cursor::Start(std::vector<ColumnInfo> columns) {
  columns_ = std::move(columns);
  row_.assign(columns_.size(), Variant());
  if (FetchNext()) {
    bof_ = eof_ = false;
    row_count_ = 1;
  } else {
    bof_ = eof_ = true;
  }
}

void Cursor::MoveNext() {
  if (eof_) ThrowDataError("No current row", kErrNoCurrentRow);
  if (mode_ != EditMode::None) CancelUpdate();
  if (FetchNext()) {
    ++row_count_;
  } else {
    eof_ = true;
  }
}

const ColumnInfo& Cursor::Column(int index) const {
  if (index < 0 || index >= ColumnCount())
    ThrowDataError("Column " + std::to_string(index) + " not found in this resultset", kErrColumnNotFound);
  return columns_[index];
}

int Cursor::ColumnIndex(std::string_view name) const {
  NoCaseEqual equal;
  for (int i = 0; i < ColumnCount(); ++i)  // the first of a repeated name wins
    if (equal(columns_[i].name, name)) return i;
  return -1;
}

int Cursor::RequireColumn(std::string_view name) const {
  int i = ColumnIndex(name);
  if (i < 0) ThrowDataError("Column '" + std::string(name) + "' not found in this resultset", kErrColumnNotFound);
  return i;
}

void Cursor::RequireRow() const {
  if (eof_ || closed_) ThrowDataError("No current row", kErrNoCurrentRow);
}

const Variant& Cursor::Value(int index) const {
  if (closed_) ThrowDataError("No current row", kErrNoCurrentRow);
  Column(index);
  if (mode_ == EditMode::AddNew || (mode_ == EditMode::Edit && changed_[index])) return edit_[index];
  RequireRow();
  return row_[index];
}

Variant& Cursor::EditSlot(int index) {
  if (!changed_[index]) {
    OnFirstChange(index);
    changed_[index] = 1;
  }
  return edit_[index];
}

void Cursor::SetValue(int index, Variant value) {
  Column(index);
  if (mode_ == EditMode::None) ThrowDataError("Update without AddNew or Edit", kErrNoCurrentRow);
  const Variant::Kind kind = columns_[index].kind;
  if (value.IsNull() || kind == Variant::Kind::Null || value.kind() == kind) {
    EditSlot(index) = std::move(value);
  } else {
    Variant stored = CoerceToKind(std::move(value), kind);  // may throw: nothing is set then
    EditSlot(index) = std::move(stored);
  }
}

void Cursor::SetText(int index, std::string_view text) {
  const Variant::Kind kind = Column(index).kind;
  if (kind != Variant::Kind::Text && kind != Variant::Kind::Null) return SetValue(index, Variant(std::string(text)));
  if (mode_ == EditMode::None) ThrowDataError("Update without AddNew or Edit", kErrNoCurrentRow);
  EditSlot(index).AssignText(text);
}

void Cursor::Edit() {
  if (!Updatable()) ThrowDataError("The resultset is read-only");
  RequireRow();
  if (mode_ != EditMode::None) CancelUpdate();
  edit_.resize(columns_.size());  // only the changed entries are read
  changed_.assign(columns_.size(), 0);
  mode_ = EditMode::Edit;
}

void Cursor::AddNew() {
  if (!Updatable()) ThrowDataError("The resultset is read-only");
  if (closed_) ThrowDataError("The resultset is closed", kErrNoCurrentRow);
  if (mode_ != EditMode::None) CancelUpdate();
  edit_.assign(columns_.size(), Variant());
  changed_.assign(columns_.size(), 0);
  mode_ = EditMode::AddNew;
}

void Cursor::Update() {
  switch (mode_) {
    case EditMode::None: ThrowDataError("Update without AddNew or Edit", kErrNoCurrentRow);
    case EditMode::Edit: {
      bool any = false;
      for (char c : changed_) any = any || c;
      if (any) {
        WriteUpdate();
        for (std::size_t i = 0; i < changed_.size(); ++i)
          if (changed_[i]) row_[i] = std::move(edit_[i]);
      }
      break;
    }
    case EditMode::AddNew: WriteInsert(); break;
  }
  CancelUpdate();
}

void Cursor::CancelUpdate() noexcept {
  if (mode_ == EditMode::None) return;
  mode_ = EditMode::None;
  OnEditEnded();
}

void Cursor::Resync() {
  RequireRow();
  Reread();
}

void Cursor::Close() noexcept {
  if (closed_) return;
  CancelUpdate();
  closed_ = true;
  eof_ = true;
  Release();
}

}  // namespace ordalis::rdo
