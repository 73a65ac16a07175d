#include "tree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

namespace fs = std::filesystem;

namespace testsupport {

std::map<std::string, std::string> Snapshot(const std::string& root, bool with_times) {
  std::map<std::string, std::string> out;
  if (!Exists(root)) return out;
  std::map<std::pair<dev_t, ino_t>, std::string> first_of_inode;
  std::vector<std::string> paths;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    paths.push_back(it->path().string());
  EXPECT_FALSE(ec) << root << ": " << ec.message();
  std::sort(paths.begin(), paths.end());
  for (const std::string& path : paths) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
      ADD_FAILURE() << "lstat " << path << ": " << strerror(errno);
      continue;
    }
    std::ostringstream d;
    d << std::oct << (st.st_mode & 07777) << std::dec;
    if (S_ISLNK(st.st_mode)) {
      d << " link -> " << fs::read_symlink(path).string();
    } else if (S_ISDIR(st.st_mode)) {
      d << " dir";
    } else if (S_ISREG(st.st_mode)) {
      std::ifstream in(path, std::ios::binary);
      std::ostringstream content;
      content << in.rdbuf();
      d << " file " << std::hash<std::string>()(content.str()) << " size " << st.st_size;
      if (with_times) d << " mtime " << st.st_mtim.tv_sec << "." << st.st_mtim.tv_nsec;
      auto [pos, inserted] =
          first_of_inode.emplace(std::make_pair(st.st_dev, st.st_ino), path.substr(root.size()));
      if (!inserted) d << " same inode as " << pos->second;
    } else {
      d << " other";
    }
    out[path.substr(root.size())] = d.str();
  }
  return out;
}

std::string Difference(const std::map<std::string, std::string>& want,
                       const std::map<std::string, std::string>& got) {
  std::ostringstream d;
  int shown = 0;
  for (const auto& [path, what] : want) {
    auto it = got.find(path);
    if (it == got.end()) {
      if (shown++ < 5) d << "  missing " << path << "\n";
    } else if (it->second != what) {
      if (shown++ < 5) d << "  differs " << path << ": " << it->second << " instead of " << what << "\n";
    }
  }
  for (const auto& [path, what] : got) {
    if (want.count(path) == 0 && shown++ < 5) d << "  extra " << path << " (" << what << ")\n";
  }
  if (shown > 5) d << "  ... " << shown - 5 << " more\n";
  return d.str();
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::vector<std::string> Messages(const std::string& log_text) {
  std::vector<std::string> out;
  for (const std::string& line : Lines(log_text)) {
    const size_t pos = line.find("): ");
    if (pos != std::string::npos) out.push_back(line.substr(pos + 3));
  }
  return out;
}

}  // namespace testsupport
