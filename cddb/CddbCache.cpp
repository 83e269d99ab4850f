#include "CddbCache.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "TextFile.h"

namespace ql {

namespace fs = std::filesystem;

std::string CddbDefaultCacheDir() {
  if (const char* x = std::getenv("XDG_CACHE_HOME"); x && *x)
    return std::string(x) + "/quillon/cddb";
  if (const char* h = std::getenv("HOME"); h && *h) return std::string(h) + "/.cache/quillon/cddb";
  return "";
}

std::string CddbEntryBody(const std::string& reply) {
  std::string body;
  size_t p = reply.find("\r\n");
  if (p == std::string::npos) return body;
  p += 2;
  while (p < reply.size()) {
    size_t e = reply.find("\r\n", p);
    if (e == std::string::npos) e = reply.size();
    std::string_view line(reply.data() + p, e - p);
    if (line == ".") break;
    if (!line.empty() && line[0] == '.') line.remove_prefix(1);
    body.append(line);
    body += "\r\n";
    p = e + 2;
  }
  return body;
}

std::string CddbEntryReply(const std::string& category, const std::string& disc_id,
                           const std::string& body) {
  std::string reply = "210 " + category + " " + disc_id + " CD database entry follows\r\n";
  size_t p = 0;
  while (p < body.size()) {
    size_t e = body.find('\n', p);
    if (e == std::string::npos) e = body.size();
    std::string line = body.substr(p, e - p);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '.') reply += '.';
    reply += line + "\r\n";
    p = e + 1;
  }
  return reply + ".\r\n";
}

bool CddbValidCategory(const std::string& category) {
  return !category.empty() && category.size() <= 32 &&
         std::all_of(category.begin(), category.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

bool CddbValidDiscID(const std::string& disc_id) {
  return disc_id.size() == 8 && std::all_of(disc_id.begin(), disc_id.end(), [](char c) {
           return std::isxdigit(static_cast<unsigned char>(c)) &&
                  !std::isupper(static_cast<unsigned char>(c));
         });
}

namespace {
std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}
}  // namespace

bool CddbCacheFind(const std::string& dir, const std::string& disc_id, std::string& category,
                   std::string& body) {
  std::string id = Lower(disc_id);
  if (dir.empty() || !CddbValidDiscID(id)) return false;
  std::error_code ec;
  std::vector<std::string> cats;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (CddbValidCategory(name)) cats.push_back(name);
  }
  std::sort(cats.begin(), cats.end());
  for (const auto& cat : cats) {
    fs::path file = fs::path(dir) / cat / id;
    if (!fs::is_regular_file(file, ec) || fs::file_size(file, ec) > (1u << 20) || ec) continue;
    try {
      body = ReadFileBytes(file.string());
    } catch (...) {
      continue;  // unreadable: as if absent, the network answers instead
    }
    category = cat;
    return true;
  }
  return false;
}

bool CddbCacheStore(const std::string& dir, const std::string& category, const std::string& disc_id,
                    const std::string& body) {
  std::string cat = Lower(category), id = Lower(disc_id);
  if (dir.empty() || !CddbValidCategory(cat) || !CddbValidDiscID(id)) return false;
  try {
    std::error_code ec;
    fs::create_directories(fs::path(dir) / cat, ec);
    if (ec) return false;
    WriteFileAtomic((fs::path(dir) / cat / id).string(), body);
  } catch (...) {
    return false;
  }
  return true;
}

}  // namespace ql
