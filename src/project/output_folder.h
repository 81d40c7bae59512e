// The folder a project is converted into: a new or empty folder of the user's, written only
// below its own descriptor, so that no name from a project (or a .chm from a stranger) reaches
// outside it, and no symbolic link in it is followed.
#pragma once

#include <string>
#include <string_view>

namespace sitemap {

// Removes the folder `path` and everything in it, never following a link (a folder that a run
// made and an interrupted one left half written). False when it is no folder or stays.
bool remove_folder(const std::string& path);

// Whether `path` is a folder that holds nothing, or nothing at all: a run may make it its own.
bool is_new_or_empty_folder(const std::string& path);

class OutputFolder {
 public:
  OutputFolder() = default;
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;
  ~OutputFolder();

  // Creates the folder, or takes it when it exists and is empty; false with the error line's
  // message ("DIR is not empty.") otherwise.
  bool open(const std::string& path, std::string& error);
  // Writes `bytes` as the file `relative` ('/' between its parts, no "." or ".." part, not
  // absolute), making the folders on the way. False when it cannot (errno tells why); EINVAL
  // for a name that would leave the folder.
  bool write(std::string_view relative, std::string_view bytes);
  // Removes everything written, and the folder itself if open() made it.
  void discard();

  const std::string& path() const { return path_; }

 private:
  int open_parent(std::string_view relative, std::string_view& leaf);

  std::string path_;
  int fd_ = -1;
  bool created_ = false;
  // The folder the last file went into, kept open: pages come folder by folder.
  std::string last_folder_;
  int last_folder_fd_ = -1;
};

}  // namespace sitemap
