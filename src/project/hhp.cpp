#include "project/hhp.h"

#include "io/file_names.h"

namespace sitemap {

namespace {

// Calls `line(section, text)` for every line, `section` in lower case without its brackets.
template <typename Line>
void for_each_line(std::string_view text, Line line) {
  std::string section;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view raw = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const std::string_view l = trimmed_line(raw);
    if (l.empty() || l[0] == ';') continue;
    if (l.front() == '[' && l.back() == ']') {
      section = ascii_lower(l.substr(1, l.size() - 2));
      continue;
    }
    line(section, l);
  }
}

std::uint32_t number(std::string_view value) {
  value = trimmed_line(value);
  std::uint32_t n = 0;
  if (value.substr(0, 2) == "0x" || value.substr(0, 2) == "0X") {
    for (const char c : value.substr(2)) {
      int d = -1;
      if (c >= '0' && c <= '9') d = c - '0';
      if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
      if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
      if (d < 0 || n > 0xFFFFFFF) break;
      n = n * 16 + static_cast<std::uint32_t>(d);
    }
  } else {
    for (const char c : value) {
      if (c < '0' || c > '9' || n > 400000000) break;
      n = n * 10 + static_cast<std::uint32_t>(c - '0');
    }
  }
  return n;
}

// The fields of a window definition: "Title","toc.hhc","index.hhk","start.htm",...
std::vector<std::string> window_fields(std::string_view value) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (const char c : value) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  for (std::string& field : fields) field = std::string(trimmed_line(field));
  return fields;
}

}  // namespace

std::uint32_t hhp_language(std::string_view bytes) {
  std::uint32_t language = 0;
  for_each_line(bytes, [&](const std::string& section, std::string_view l) {
    const std::size_t eq = l.find('=');
    if (section == "options" && eq != std::string_view::npos &&
        ascii_lower(trimmed_line(l.substr(0, eq))) == "language") {
      language = number(l.substr(eq + 1));
    }
  });
  return language;
}

HhpProject read_hhp(std::string_view text) {
  HhpProject project;
  std::string default_window;
  std::vector<std::pair<std::string, std::vector<std::string>>> windows;
  for_each_line(text, [&](const std::string& section, std::string_view l) {
    const std::size_t eq = l.find('=');
    if (section == "files") {
      project.files.emplace_back(l);
      return;
    }
    if (section == "merge files") {
      project.merge_files.emplace_back(l);
      return;
    }
    if (section == "map" || section == "alias") {
      std::string& lines = section == "map" ? project.map : project.alias;
      lines.append(l).append(1, '\n');
      return;
    }
    if (eq == std::string_view::npos) return;
    const std::string key = ascii_lower(trimmed_line(l.substr(0, eq)));
    const std::string value(trimmed_line(l.substr(eq + 1)));
    if (section == "windows") {
      windows.emplace_back(key, window_fields(value));
    } else if (section == "options") {
      if (key == "contents file") project.contents = value;
      if (key == "index file") project.index = value;
      if (key == "title") project.title = value;
      if (key == "default topic") project.default_topic = value;
      if (key == "compiled file") project.compiled_file = value;
      if (key == "default window") default_window = ascii_lower(value);
      if (key == "language") project.language = number(value);
    }
  });
  // "Untitled" is what the Workshop puts where the author gave no title.
  if (project.title == "Untitled") project.title.clear();
  const std::vector<std::string>* window = nullptr;
  for (const auto& w : windows) {
    if (w.first == default_window) window = &w.second;
  }
  if (window == nullptr && !windows.empty()) window = &windows.front().second;
  if (window != nullptr) {
    std::string* targets[] = {&project.title, &project.contents, &project.index,
                              &project.default_topic};
    for (std::size_t i = 0; i < 4 && i < window->size(); ++i) {
      if (!(*window)[i].empty()) *targets[i] = (*window)[i];
    }
  }
  return project;
}

}  // namespace sitemap
