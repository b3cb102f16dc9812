#include "data/RdoResultset.h"

#include "data/Cursor.h"

namespace ordalis::rdo {

RdoResultset::RdoResultset(std::unique_ptr<Cursor> cursor) : cursor_(std::move(cursor)) {}
RdoResultset::~RdoResultset() { Close(); }

bool RdoResultset::Bof() const { return cursor_->Bof(); }
bool RdoResultset::Eof() const { return cursor_->Eof(); }
void RdoResultset::MoveNext() { cursor_->MoveNext(); }
long RdoResultset::RowCount() const { return cursor_->RowCount(); }
int RdoResultset::ColumnCount() const { return cursor_->ColumnCount(); }
const std::string& RdoResultset::ColumnName(int index) const { return cursor_->Column(index).name; }
int RdoResultset::ColumnIndex(std::string_view name) const { return cursor_->ColumnIndex(name); }
int RdoResultset::ColumnSize(int index) const { return cursor_->Column(index).size; }
Variant::Kind RdoResultset::ColumnKind(int index) const { return cursor_->Column(index).kind; }
const Variant& RdoResultset::Value(int index) const { return cursor_->Value(index); }
const Variant& RdoResultset::Value(std::string_view name) const {
  return cursor_->Value(cursor_->RequireColumn(name));
}
void RdoResultset::SetValue(int index, Variant value) { cursor_->SetValue(index, std::move(value)); }
void RdoResultset::SetValue(std::string_view name, Variant value) {
  cursor_->SetValue(cursor_->RequireColumn(name), std::move(value));
}
void RdoResultset::SetText(int index, std::string_view text) { cursor_->SetText(index, text); }
void RdoResultset::Edit() { cursor_->Edit(); }
void RdoResultset::AddNew() { cursor_->AddNew(); }
void RdoResultset::Update() { cursor_->Update(); }
void RdoResultset::CancelUpdate() { cursor_->CancelUpdate(); }
void RdoResultset::Resync() { cursor_->Resync(); }
void RdoResultset::SetRowPreparer(RowPreparer preparer) { cursor_->SetRowPreparer(std::move(preparer)); }
const RowNote* RdoResultset::Note() const { return cursor_->Note(); }
void RdoResultset::SetNotesTaken(NotesTaken taken) { cursor_->SetNotesTaken(std::move(taken)); }
void RdoResultset::SetRowsOwned() { cursor_->SetRowsOwned(); }
void RdoResultset::Close() noexcept {
  if (cursor_) cursor_->Close();
}

}  // namespace ordalis::rdo
