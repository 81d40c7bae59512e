// The one interface the contents walk drives: each output format (the byte-exact DCF, the Qt
// Help Project) turns the same events into its own file.
#pragma once

#include <string_view>

#include "keywords/keyword_sink.h"

namespace sitemap {

class OutputFormat : public KeywordSink {
 public:
  // Each call that writes is false when the stream did not take every byte.
  virtual bool begin() = 0;
  // A contents entry, with its page ("index.html" for an entry that names none) and title.
  virtual bool section(std::string_view ref, std::string_view title) = 0;
  // A list start or list end line of the contents.
  virtual bool list_start() = 0;
  virtual bool list_end() = 0;
  // The body end line: the file is complete once this has been written.
  virtual bool end() = 0;
};

}  // namespace sitemap
