// File streams over POSIX descriptors, and the opening of the three fixed files of a run.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "converter/sitemap_input.h"
#include "converter/streams.h"

namespace sitemap {

inline constexpr const char* CONTENTS_FILE = "Contents.hhc";
inline constexpr const char* INDEX_FILE = "Index.hhk";
inline constexpr const char* DCF_FILE = "qt-assistant.dcf";

class FileInput final : public InputStream {
 public:
  explicit FileInput(int fd) : fd_(fd) {}
  ~FileInput() override;
  long read(char* dest, std::size_t size) override;
  void close() override;
  std::size_t size_hint() const override;

 private:
  int fd_;
};

// Buffers its writes so that a large DCF costs few system calls.
class FileOutput final : public OutputStream {
 public:
  explicit FileOutput(int fd);
  ~FileOutput() override;
  using OutputStream::write;
  bool write(const char* data, std::size_t size) override;
  bool close() override;

 private:
  bool flush();
  bool write_through(const char* data, std::size_t size);

  int fd_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
};

// The three files of a run in the current directory.
struct OpenedFiles {
  std::unique_ptr<FileInput> contents;
  std::unique_ptr<FileInput> index;
  std::unique_ptr<FileOutput> dcf;

  ConversionFiles streams() const { return {contents.get(), index.get(), dcf.get()}; }
};

// Opens Contents.hhc, Index.hhk and qt-assistant.dcf in this order. When one cannot be opened,
// closes those already open and fails with its message; the DCF is created only after both
// inputs opened.
Outcome open_conversion_files(OpenedFiles& files, Report& report);

// Prints the detail lines on standard output and the error line on standard error.
void print_report(const Report& report);

}  // namespace sitemap
