#include "shelf/collection.h"

#ifdef SITEMAP_HAVE_SQLITE
#include <sqlite3.h>
#endif

namespace sitemap {

#ifdef SITEMAP_HAVE_SQLITE

bool reads_collections() { return true; }

bool read_collection(const std::string& path, std::vector<RegisteredBook>& books,
                     std::string& error) {
  error = "Failed to read the collection " + path + ".";
  sqlite3* db = nullptr;
  // Read only, and never made: a file that is not there is no collection.
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return false;
  }
  sqlite3_stmt* query = nullptr;
  bool ok = sqlite3_prepare_v2(db, "SELECT Name, FilePath FROM NamespaceTable", -1, &query,
                               nullptr) == SQLITE_OK;
  int step = SQLITE_DONE;
  while (ok && (step = sqlite3_step(query)) == SQLITE_ROW) {
    const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(query, 0));
    const auto* file = reinterpret_cast<const char*>(sqlite3_column_text(query, 1));
    books.push_back({name != nullptr ? name : "", file != nullptr ? file : ""});
  }
  ok = ok && step == SQLITE_DONE;
  sqlite3_finalize(query);
  sqlite3_close(db);
  return ok;
}

#else

bool reads_collections() { return false; }

bool read_collection(const std::string& path, std::vector<RegisteredBook>&, std::string& error) {
  error = path +
          " exists already, and this build reads no collection files (it was built "
          "without SQLite): give another name with --collection, or remove it.";
  return false;
}

#endif

}  // namespace sitemap
