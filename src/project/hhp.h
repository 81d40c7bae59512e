// An HTML Help project file (.hhp): the settings that name the sitemaps, the title, the start page
// and the language, and the files the project packs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sitemap {

struct HhpProject {
  // Paths as the project writes them ('\' or '/', relative to the .hhp's folder); empty where
  // the project leaves them out.
  std::string contents;
  std::string index;
  std::string title;
  std::string default_topic;
  std::string compiled_file;
  std::uint32_t language = 0;  // the locale ID, 0 when none is given
  std::vector<std::string> files;
  std::vector<std::string> merge_files;  // [MERGE FILES]: the books whose contents it merges
  // [MAP] and [ALIAS], the context ids an application opens its help at: their lines as they
  // stand, one after another (a comment may span lines).
  std::string map;
  std::string alias;
};

// The locale ID of `Language=` in [OPTIONS], read from the raw bytes (the key is ASCII), so
// that the rest can be decoded with its code page; 0 when there is none.
std::uint32_t hhp_language(std::string_view bytes);

// Reads a project file decoded to UTF-8. The window that `Default Window` names in [WINDOWS]
// (else the first) wins where it names the title, contents, index or start page: it is what
// the HTML Help viewer shows; [OPTIONS] fills what it leaves empty.
HhpProject read_hhp(std::string_view text);

}  // namespace sitemap
