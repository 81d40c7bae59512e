#include "qhp/qhelpgenerator.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include "io/process.h"

namespace sitemap {

std::string find_qhelpgenerator() {
  return find_program(
      "QHELPGENERATOR", {"qhelpgenerator"},
      {"/usr/lib/qt6/libexec", "/usr/lib/qt6/bin", "/usr/lib/x86_64-linux-gnu/qt6/libexec",
       "/usr/lib/x86_64-linux-gnu/qt5/bin", "/usr/lib/aarch64-linux-gnu/qt5/bin",
       "/usr/lib/qt5/bin", "/usr/lib64/qt6/libexec", "/usr/lib64/qt5/bin"});
}

bool run_generator(const std::string& generator, const std::string& folder,
                   const std::string& input, const std::string& result, std::string& output) {
  return run_program(generator, {input, "-o", result}, folder, output);
}

bool run_qhelpgenerator(const std::string& generator, const std::string& qhp_path,
                        std::string& output) {
  const std::size_t slash = qhp_path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : qhp_path.substr(0, slash);
  const std::string qhp = qhp_path.substr(slash == std::string::npos ? 0 : slash + 1);
  const std::string stem = qhp.substr(0, qhp.rfind('.'));
  if (!run_generator(generator, folder, qhp, stem + ".qch", output)) return false;
  // Assistant registers a book only in a collection file that exists; an empty one is made
  // from an empty collection project, which goes again.
  const std::string collection = folder + "/" + stem + ".qhc";
  struct stat st;
  if (::stat(collection.c_str(), &st) == 0) return true;
  const std::string project = folder + "/" + stem + ".qhcp";
  const int fd = ::open(project.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return true;  // a file of the user's by that name: no collection then
  constexpr std::string_view EMPTY = "<QHelpCollectionProject version=\"1.0\"/>\n";
  const bool written =
      ::write(fd, EMPTY.data(), EMPTY.size()) == static_cast<ssize_t>(EMPTY.size());
  ::close(fd);
  const bool made =
      written && run_generator(generator, folder, stem + ".qhcp", stem + ".qhc", output);
  ::unlink(project.c_str());
  return made;
}

}  // namespace sitemap
