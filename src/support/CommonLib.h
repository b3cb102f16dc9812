#pragma once
// Module-wide settings and helpers every part of the engine shares: the
// logging switch and directory, the extended-job-codes switch, INI reads,
// the trace writers, the collection add of the reference caches and the
// component's own error.
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "ordalis/ComponentError.h"
#include "ordalis/KeyedCollection.h"
#include "support/CacheErrorSink.h"

namespace ordalis {

// One copy per process, shared by every engine object. Written while an
// engine starts and loads its caches, only read while calls are rated.
struct ModuleSettings {
  // Trace files are written only while this is true (INI switch
  // AbilitalogProcess of quarzo.ini).
  bool log_enabled = false;
  // Directory of the trace files and quarzo.ini, ending in '/'
  // (platform::LogPath() at engine start).
  std::string log_path;
  // Extended job codes: job codes keyed by code alone (CheckCommesseEstese).
  bool use_commesse_estese = false;
};

inline ModuleSettings g_module_settings;

inline bool LogEnabled() { return g_module_settings.log_enabled; }
inline void SetLogEnabled(bool on) { g_module_settings.log_enabled = on; }
inline const std::string& LogPath() { return g_module_settings.log_path; }
inline void SetLogPath(std::string path) { g_module_settings.log_path = std::move(path); }
inline bool UseCommesseEstese() { return g_module_settings.use_commesse_estese; }

inline constexpr char kDetailLogFile[] = "process2008Detail.log";
inline constexpr char kProcessLogFile[] = "process2008.log";
inline constexpr char kCommesseLogFile[] = "process.log";
inline constexpr char kIniFile[] = "quarzo.ini";

// File-system error numbers raised by the trace writers.
inline constexpr std::int32_t kErrDiskFull = 61;
inline constexpr std::int32_t kErrPathFileAccess = 75;
inline constexpr std::int32_t kErrPathNotFound = 76;
// A member that does not support the collection's operation; ignored by
// AddToCollection like a duplicate key.
inline constexpr std::int32_t kErrNotSupported = 438;
inline constexpr std::int32_t kErrOutOfMemory = 7;

// Sets UseCommesseEstese from value CommesseEstese of
// HKEY_LOCAL_MACHINE\SOFTWARE\valmer\Process: true only when the value,
// read into a 10-byte buffer and cut to the size read minus one, is "1"
// (a string stored with its NUL). When true and logging is on, process.log
// in LogPath is created anew with the line "Commesse Estese". Never throws.
void CheckCommesseEstese();

// Adds a cache member. A duplicate key (457, letter case ignored) keeps the
// first member and reports nothing. Any other failure is raised again to
// the caller when engine.UsoRiproc(); otherwise its description goes to
// engine.SetErrore, engine.SetCacheStopped(true) is called and the function
// returns normally. `Collection` is a KeyedCollection<T> (or anything with
// its Ptr type and Add(Ptr, key)).
template <class Collection>
void AddToCollection(Collection& collection, typename Collection::Ptr member, std::string_view key,
                     CacheErrorSink& engine) {
  try {
    try {
      collection.Add(std::move(member), key);
    } catch (const std::bad_alloc&) {
      throw ComponentError(kErrOutOfMemory, "Out of memory");
    }
  } catch (const ComponentError& e) {
    if (e.Number() == kErrDuplicateKey || e.Number() == kErrNotSupported) return;
    if (engine.UsoRiproc()) throw;
    engine.SetErrore(e.Description());
    engine.SetCacheStopped(true);
  }
}

// The private-profile read with a 500-character buffer: at most 499
// characters (UTF-8 sequences are kept whole); missing file, section or key
// give the empty text.
std::string ReadIniString(const std::string& file, std::string_view section, std::string_view key);

// When logging is on, appends line + CR LF to process2008Detail.log in
// LogPath (opened, written and closed on every call; created when missing).
// When logging is off nothing is touched. Throws ComponentError (75 path or
// file access, 76 path not found, 61 disk full) when the file cannot be
// written.
void WriteDetailLog(std::string_view line);
// The same for cleanup and error paths: a failure to write is dropped.
void WriteDetailLogNoThrow(std::string_view line) noexcept;

// Appends line + CR LF to `file_name` in LogPath, whatever the logging
// switch; the same errors as WriteDetailLog. Used for process2008.log and the
// configuration dump. "Process2008.log" names process2008.log, as the two
// spellings named one file where letter case does not count.
void AppendLogLine(std::string_view file_name, std::string_view line);
// Creates `file_name` in LogPath, or empties it when present (same naming
// and errors as AppendLogLine).
void CreateLogFile(std::string_view file_name);

// Throws ComponentError 111 with source "Valmer Processor".
[[noreturn]] void RaiseProcessorError(const std::string& description);

// Turns an errno from a file operation on `path` into the component error.
[[noreturn]] void ThrowFileError(int err, const std::string& path);

}  // namespace ordalis
