// The output folder guards a stranger's book: nothing it writes may leave the folder the user
// named, overwrite a file, follow a link, or stay behind after a failed run; and what is packed
// into it is what the project holds.
#include "project/help_project.h"
#include "project/output_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace sitemap {
namespace {

// A scratch folder of the test's own, removed with all it holds.
class Scratch {
 public:
  Scratch() {
    char name[] = "/tmp/output-folder-XXXXXX";
    path_ = ::mkdtemp(name);
  }
  ~Scratch() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void put(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(OutputFolder, TakesOnlyANewOrEmptyFolderThatIsNoLink) {
  Scratch scratch;
  std::string error;
  {
    OutputFolder made;
    EXPECT_TRUE(made.open(scratch / "new", error));
  }
  {
    OutputFolder empty;
    EXPECT_TRUE(empty.open(scratch / "new", error)) << "an empty folder of the user's";
  }
  ::mkdir((scratch / "hidden").c_str(), 0777);
  put(scratch / "hidden/.keep", "mine");
  {
    OutputFolder hidden;
    EXPECT_FALSE(hidden.open(scratch / "hidden", error));
    EXPECT_EQ(error, scratch / "hidden" + " is not empty.");
  }
  // A link to an empty folder elsewhere: writing through it would leave the folder named.
  ::mkdir((scratch / "elsewhere").c_str(), 0777);
  ASSERT_EQ(::symlink((scratch / "elsewhere").c_str(), (scratch / "link").c_str()), 0);
  {
    OutputFolder link;
    EXPECT_FALSE(link.open(scratch / "link", error));
    EXPECT_EQ(error, scratch / "link" + " is not a folder.");
  }
  put(scratch / "file", "mine");
  {
    OutputFolder file;
    EXPECT_FALSE(file.open(scratch / "file", error));
  }
  EXPECT_EQ(contents(scratch / "hidden/.keep"), "mine");
  EXPECT_EQ(contents(scratch / "file"), "mine");
}

TEST(OutputFolder, WritesInsideOnlyAndNeverOverAFile) {
  Scratch scratch;
  std::string error;
  OutputFolder out;
  ASSERT_TRUE(out.open(scratch / "out", error));
  // Folder by folder and back again: a folder made earlier is written into again.
  EXPECT_TRUE(out.write("a/b/one.html", "1"));
  EXPECT_TRUE(out.write("c/two.html", "2"));
  EXPECT_TRUE(out.write("a/b/three.html", "3"));
  EXPECT_TRUE(out.write("a/four.html", "4"));
  EXPECT_EQ(contents(scratch / "out/a/b/three.html"), "3");
  EXPECT_EQ(contents(scratch / "out/a/four.html"), "4");
  // A name written already is never written over (two names of a book that become one path).
  errno = 0;
  EXPECT_FALSE(out.write("a/b/one.html", "again"));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(contents(scratch / "out/a/b/one.html"), "1");
  // Names the writer refuses itself, whoever calls it.
  for (const char* name : {"../x.html", "a/../../x.html", "/abs.html", "a//b.html", "./x.html",
                           "tab\there.html", "a/\x01.html", "del\x7F.html", "", "a/"}) {
    errno = 0;
    EXPECT_FALSE(out.write(name, "x")) << name;
    EXPECT_EQ(errno, EINVAL) << name;
  }
  EXPECT_FALSE(exists(scratch / "x.html"));
  // A link planted inside the folder is not followed, neither as a folder nor as a file.
  ::mkdir((scratch / "target").c_str(), 0777);
  ASSERT_EQ(::symlink((scratch / "target").c_str(), (scratch / "out/d").c_str()), 0);
  ASSERT_EQ(::symlink((scratch / "target/f.html").c_str(), (scratch / "out/f.html").c_str()), 0);
  EXPECT_FALSE(out.write("d/page.html", "x"));
  EXPECT_FALSE(out.write("f.html", "x"));
  EXPECT_FALSE(exists(scratch / "target/page.html"));
  EXPECT_FALSE(exists(scratch / "target/f.html"));
}

TEST(OutputFolder, AFailedRunLeavesNothingOfItsOwn) {
  Scratch scratch;
  std::string error;
  {
    OutputFolder made;
    ASSERT_TRUE(made.open(scratch / "made", error));
    ASSERT_TRUE(made.write("x/y/z.html", "z"));
    ASSERT_TRUE(made.write("top.html", "t"));
    made.discard();
  }
  EXPECT_FALSE(exists(scratch / "made")) << "a folder the run made goes with it";
  ::mkdir((scratch / "users").c_str(), 0777);
  {
    OutputFolder users;
    ASSERT_TRUE(users.open(scratch / "users", error));
    ASSERT_TRUE(users.write("x/y/z.html", "z"));
    users.discard();
  }
  EXPECT_TRUE(exists(scratch / "users")) << "the user's folder stays";
  EXPECT_FALSE(exists(scratch / "users/x"));
}

// A page that cannot be read fails the packing: never written with the bytes of the page read
// before it, nor left out in silence.
TEST(PackProject, AnUnreadablePageFailsTheRun) {
  Scratch scratch;
  put(scratch / "a.htm", "<a href=\"b.htm\">b</a>");
  std::string error, failure;
  OutputFolder out;
  ASSERT_TRUE(out.open(scratch / "out", error));
  const FileNames files({"a.htm", "b.htm"});
  const auto disk_path = [&](const std::string& name) {
    return name == "b.htm" ? scratch / "gone/b.htm" : scratch / name;
  };
  EXPECT_TRUE(pack_project(files, disk_path, {"a.htm"}, "", out, failure).empty());
  EXPECT_EQ(failure, "Failed to read " + scratch / "gone/b.htm" + ".");
  EXPECT_FALSE(exists(scratch / "out/b.htm"));
}

}  // namespace
}  // namespace sitemap
