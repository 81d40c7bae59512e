// File streams over POSIX descriptors, and the opening of the three fixed files of a run.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "io/sitemap_input.h"
#include "io/streams.h"

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
  bool rewind() override;
  int descriptor() const { return fd_; }

 private:
  int fd_;
};

// A whole input in memory: a regular file mapped (its bytes read from the system's page cache,
// not copied, and its pages given back as the reader is done with them), any other read.
class WholeInput {
 public:
  WholeInput() = default;
  WholeInput(const WholeInput&) = delete;
  WholeInput& operator=(const WholeInput&) = delete;
  ~WholeInput();

  // Takes all of `input`; false when it cannot be read. May throw std::bad_alloc.
  bool load(FileInput& input);
  std::string_view bytes() const { return bytes_; }
  // Gives back the memory of the bytes before `end` (a reader going through the bytes again
  // calls it again from the start). A mapped page touched again is read again from the file:
  // the bytes stay what they are.
  void release(std::size_t end);

 private:
  std::string_view bytes_;
  void* mapped_ = nullptr;
  std::size_t released_ = 0;
  std::unique_ptr<ReplayInput> read_;
};

// Buffers its writes so that a large DCF costs few system calls.
class FileOutput : public OutputStream {
 public:
  explicit FileOutput(int fd);
  ~FileOutput() override;
  bool close() override;

 private:
  bool write_out(const char* data, std::size_t size) override;
  bool flush();
  bool write_through(const char* data, std::size_t size);

  int fd_;
  std::unique_ptr<char[]> buffer_;  // the room offered for writes
};

// Writes a file aside, under a hidden temporary name in the same folder, and puts it in place of
// the target only by commit(): so the target never holds half a file, and a failed run leaves it
// as it was. The temporary file is removed unless it was committed.
// close() completes the temporary file.
class ReplacingFileOutput final : public FileOutput {
 public:
  ~ReplacingFileOutput() override;
  // Null when the temporary file cannot be created.
  static std::unique_ptr<ReplacingFileOutput> create(const std::string& target);

  // Renames the completed file over the target; false (and nothing renamed) when it failed.
  bool commit();

 private:
  ReplacingFileOutput(std::string target, std::string temporary, int fd);

  std::string target_;
  std::string temporary_;
  bool committed_ = false;
};

// The files of a run: the two inputs and the output.
struct OpenedFiles {
  std::unique_ptr<FileInput> contents;
  std::unique_ptr<FileInput> index;
  std::unique_ptr<OutputStream> output;

  ConversionFiles streams() const { return {contents.get(), index.get(), output.get()}; }
};

// Opens one input by name: null when it cannot be opened (errno tells why) or is neither a
// regular file nor a FIFO.
std::unique_ptr<FileInput> open_input_file(const std::string& name);

// Opens the contents and then the index file, by name; "Failed to open NAME." for the first that
// cannot be opened (the contents then closed again).
Outcome open_input_files(OpenedFiles& files, Report& report, const std::string& contents,
                         const std::string& index);

// Opens Contents.hhc, Index.hhk and qt-assistant.dcf in this order. When one cannot be opened,
// closes those already open and fails with its message; the DCF is created only after both
// inputs opened.
Outcome open_conversion_files(OpenedFiles& files, Report& report);

// Prints the detail lines on standard output and the error line on standard error.
void print_report(const Report& report);

}  // namespace sitemap
