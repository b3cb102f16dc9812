#pragma once
// Cursor and lock kinds of the data-access layer, as the engine asks for them.

namespace ordalis::rdo {

// rdOpenForwardOnly / rdOpenKeyset
enum class CursorType { ForwardOnly, Keyset };
// rdConcurReadOnly / rdConcurRowVer (optimistic: a row changed by another
// writer since it was read makes Update fail)
enum class LockType { ReadOnly, OptimisticRowVer };

// Error numbers of the data-access layer (description = the backend's text).
inline constexpr int kErrDataAccess = 40002;  // any failure reported by the backend
inline constexpr int kErrRowChanged = 40500;  // optimistic check failed: row changed or deleted
inline constexpr int kErrNoCurrentRow = 40088; // no current row (BOF/EOF), or not in Edit/AddNew
inline constexpr int kErrColumnNotFound = 40002; // shares the backend error number
// A write the database refuses for good (disk full, I/O error, read-only
// file): retrying cannot help, and every write not yet committed was rolled
// back. Waiting for a lock, a constraint or a changed row are other errors.
inline constexpr int kErrWriteRefused = 40011;
inline constexpr char kSource[] = "Ordalis data access";

}  // namespace ordalis::rdo
