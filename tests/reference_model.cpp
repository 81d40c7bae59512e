#include "reference_model.h"

#include <vector>

namespace sitemap_model {

namespace {

// A line read delivers at most this many bytes, line feed included; a longer physical line is
// read in pieces, each a line of its own.
constexpr std::size_t READ_MAX = 32767;

const std::string OBJECT_LINE = "<LI> <OBJECT TYPE=\"TEXT/SITEMAP\">";
const std::string NAME = "<PARAM NAME=\"Name\" VALUE=\"";
const std::string LOCAL = "<PARAM NAME=\"Local\" VALUE=\"";
const std::string HEADER =
    "<!DOCTYPE DCF>\n"
    "<DCF ref=\"index.html\" category=\"development\" title=\"ORDAX Documentation\">\n";

struct Line {
  std::string text;  // line end stripped
  // Read without meeting the end of the file: ended by its line feed or as a full piece. A
  // shorter last piece arrives together with the end of the file.
  bool before_end;
};

std::vector<Line> split_lines(std::string_view bytes) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t n = 0;
    bool before_end = false;
    while (pos + n < bytes.size() && n < READ_MAX) {
      ++n;
      if (bytes[pos + n - 1] == '\n') break;
    }
    before_end = bytes[pos + n - 1] == '\n' || n == READ_MAX;
    std::string text(bytes.substr(pos, n));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    lines.push_back({text, before_end});
    pos += n;
  }
  return lines;
}

bool starts_with(const std::string& line, const std::string& literal) {
  return line.compare(0, literal.size(), literal) == 0;
}

// The text after `literal`, when it ends in `">` (cut off); else the whole text after it.
bool value_of(const std::string& line, const std::string& literal, std::string& value) {
  value = line.substr(literal.size());
  if (value.size() < 2 || value.substr(value.size() - 2) != "\">") return false;
  value.resize(value.size() - 2);
  return true;
}

struct Failed {};  // thrown by the exits: the run is over

class Model {
 public:
  Model(std::string_view contents, std::string_view index)
      : contents_(split_lines(contents)), index_(split_lines(index)) {}

  Result run() {
    try {
      walk_contents();
    } catch (const Failed&) {
      result_.status = 1;
    }
    return result_;
  }

 private:
  [[noreturn]] void junk(const std::string& shown, const char* message) {
    result_.out += "Invalid line: " + shown + "\n";
    result_.err += std::string("Error: ") + message + "\n";
    throw Failed();
  }

  void next_contents_line() {
    if (next_contents_ == contents_.size()) junk("", "Junk line in Contents.hhc.");
    line_ = contents_[next_contents_++].text;
  }

  // The DCF writer: `pending_` is the text owed before whatever comes next.
  void open_section(const std::string& ref, const std::string& title) {
    result_.dcf += pending_ + "<section ref=\"" + ref + "\" title=\"" + title + "\"";
    pending_ = "/>\n";
  }
  void open_list() { pending_ = pending_ == "</section>\n" ? "" : ">\n"; }
  void close_list() {
    result_.dcf += pending_;
    pending_ = "</section>\n";
  }
  void keyword(const std::string& ref, const std::string& path) {
    if (pending_ == "/>\n") result_.dcf += ">\n";
    result_.dcf += "<keyword ref=\"" + ref + "\">" + path + "</keyword>\n";
    pending_ = "</section>\n";
  }

  void walk_contents() {
    result_.dcf += HEADER;
    for (int i = 0; i < 12; ++i) next_contents_line();
    for (;;) {
      if (line_ == "</BODY>") {
        result_.dcf += "</DCF>\n";
        return;
      }
      if (line_ == OBJECT_LINE) {
        read_entry();
      } else if (line_ == "<UL>") {
        open_list();
      } else if (line_ == "</UL>") {
        close_list();
      } else {
        junk(line_, "Junk line in Contents.hhc.");
      }
      next_contents_line();
    }
  }

  void read_entry() {
    std::string title, ref;
    next_contents_line();
    if (!starts_with(line_, NAME)) junk(line_, "Junk line in Contents.hhc.");
    if (!value_of(line_, NAME, title)) {
      result_.out += "Invalid title: " + title + "\n";
      junk(line_, "Junk line in Contents.hhc.");
    }
    next_contents_line();
    if (line_ == "</OBJECT>") {
      open_section("index.html", title);
      return;
    }
    if (!starts_with(line_, LOCAL)) junk(line_, "Junk line in Contents.hhc.");
    if (!value_of(line_, LOCAL, ref)) {
      result_.out += "Invalid ref: " + ref + "\n";
      junk(line_, "Junk line in Contents.hhc.");
    }
    next_contents_line();
    open_section(ref, title);
    lookup_keywords(ref);
  }

  // Rewinds the index and scans it to the end for the Local lines that start with the ref.
  void lookup_keywords(const std::string& ref) {
    for (const std::string& seen : seen_refs_) {
      if (seen == ref) return;
    }
    seen_refs_.push_back(ref);
    const std::string pattern = LOCAL + ref;
    long depth = 0;
    for (long n = 1; n <= static_cast<long>(index_.size()) && index_[n - 1].before_end; ++n) {
      const std::string& line = index_[n - 1].text;
      if (starts_with(line, "<UL>")) {
        ++depth;
      } else if (starts_with(line, "</UL>")) {
        --depth;
      } else if (starts_with(line, pattern)) {
        std::string keyword_ref;
        if (!value_of(line, LOCAL, keyword_ref)) {
          result_.out += "Invalid keyword ref: " + keyword_ref + "\n";
          junk(line, "Junk line in Index.hhk.");
        }
        keyword(keyword_ref, keyword_path(n, depth));
      }
    }
  }

  // Re-reads line n of the index; above line 1 there is nothing to read or to show.
  const std::string& index_line(long n) {
    if (n < 1) junk("", "Junk line in Index.hhk.");
    return index_[n - 1].text;
  }

  // Counts back from the matched line: 2 lines to the entry's keyword (past further Local lines
  // of the entry), then for each enclosing list 2 lines and steps of 5 to its list start line,
  // and 2 more to the parent entry's Local lines.
  std::string keyword_path(long match, long depth) {
    std::string path;
    long at = match;
    for (long levels_left = depth;; --levels_left) {
      do {
        at -= 2;
      } while (starts_with(index_line(at), LOCAL));
      const std::string& line = index_line(at);
      if (!starts_with(line, NAME)) junk(line, "Junk line in Index.hhk.");
      std::string name;
      if (!value_of(line, NAME, name)) {
        result_.out += "Invalid keyword: " + name + "\n";
        junk(line, "Junk line in Index.hhk.");
      }
      path = path.empty() ? name : name + ", " + path;
      if (levels_left <= 1) return path;
      at -= 2;
      while (!starts_with(index_line(at), "<UL>")) at -= 5;
      at -= 2;
    }
  }

  std::vector<Line> contents_;
  std::vector<Line> index_;
  std::size_t next_contents_ = 0;
  std::string line_;
  std::string pending_;
  std::vector<std::string> seen_refs_;
  Result result_;
};

}  // namespace

Result convert(std::string_view contents, std::string_view index) {
  return Model(contents, index).run();
}

}  // namespace sitemap_model
