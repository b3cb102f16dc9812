#include <fstream>

#include "data/RdoConnection.h"
#include "import/CallFormat.h"
#include "import/CallWriter.h"
#include "import/ExtensionRule.h"
#include "import/RowReader.h"
#include "ordalis/CallImport.h"
#include "ordalis/ComponentError.h"

namespace ordalis {

struct CallImporter::Impl {
  ImportOptions options;
  rdo::RdoConnection connection;
  std::unique_ptr<import::CallWriter> writer;
  import::ExtensionRule extensions;
  std::unique_ptr<import::CallFormat> format;
  std::function<void(const ImportProblem&)> on_problem;
  ImportCounts counts;

  explicit Impl(ImportOptions o) : options(std::move(o)), extensions(options.extension_pattern) {
    switch (options.format) {
      case ImportFormat::Csv: format = import::MakeCsvFormat(options); break;
      case ImportFormat::Asterisk: format = import::MakeAsteriskFormat(options, extensions); break;
      case ImportFormat::FreeSwitch: format = import::MakeFreeSwitchFormat(options, extensions); break;
    }
  }

  void Report(const std::string& file, std::int64_t line, const std::string& reason) {
    if (on_problem) on_problem(ImportProblem{file, line, reason});
  }
};

CallImporter::CallImporter(const std::string& connect, ImportOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {
  if (impl_->options.format != ImportFormat::Csv && impl_->options.site.empty())
    throw ComponentError(kErrInvalidCall, "the calls of an exchange's records need the site they belong to");
  impl_->connection.SetConnect(connect);
  impl_->connection.EstablishConnection();
  impl_->writer = std::make_unique<import::CallWriter>(impl_->connection);
}

CallImporter::~CallImporter() {
  try {
    Commit();
  } catch (const ComponentError&) {
    // Close still tries to commit; a failure leaves the rows out, as after a crash.
  }
  impl_->connection.Close();
}

void CallImporter::OnProblem(std::function<void(const ImportProblem&)> handler) {
  impl_->on_problem = std::move(handler);
}

bool CallImporter::ImportFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ComponentError(kErrInvalidCall, "cannot open " + path);
  return Import(in, path);
}

bool CallImporter::Import(std::istream& in, const std::string& name) {
  Impl& m = *impl_;
  // The file is read and checked on a thread of its own while the calls
  // read so far are appended here.
  import::RowReader reader(in, *m.format, m.options.strict);
  import::RowReader::Batch batch;
  while (reader.Next(batch)) {
    for (std::size_t i = 0; i < batch.count; ++i) {
      const import::ReadRow& row = batch.rows[i];
      if (!row.problem.empty()) {
        m.Report(name, row.line, row.problem);
        if (row.bad_header) return false;  // without its header the file cannot be read
        ++m.counts.rows;
        ++m.counts.rejected;
        if (m.options.strict) return false;
        continue;
      }
      ++m.counts.rows;
      if (!m.writer->Append(row.call))
        ++m.counts.duplicates;
      else if (row.call.Internal())
        ++m.counts.added_internal;
      else
        ++m.counts.added;
    }
  }
  return true;
}

void CallImporter::Commit() { impl_->connection.Flush(); }

const ImportCounts& CallImporter::Counts() const { return impl_->counts; }

}  // namespace ordalis
