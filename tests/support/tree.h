// What whole-run tests compare: snapshots of folder trees taken before and after a run, and the
// message texts of a launcher.log. Plain functions; safe from any one thread.
#ifndef CORVANE_TESTS_SUPPORT_TREE_H_
#define CORVANE_TESTS_SUPPORT_TREE_H_

#include <map>
#include <string>
#include <vector>

namespace testsupport {

// Type, mode, content (hashed), link target and shared inodes of every entry below `root`, keyed by
// relative path; with `with_times` also each file's modification time. Links are never followed.
// Empty when `root` is missing.
std::map<std::string, std::string> Snapshot(const std::string& root, bool with_times = true);
// Readable difference of two snapshots, at most a few lines; empty when equal.
std::string Difference(const std::map<std::string, std::string>& want,
                       const std::map<std::string, std::string>& got);

// True when something (also a dangling link) is at `path`.
bool Exists(const std::string& path);

// The lines of `text`, without their line feeds.
std::vector<std::string> Lines(const std::string& text);
// The message texts of a launcher.log (the part after "): "), in order.
std::vector<std::string> Messages(const std::string& log_text);

}  // namespace testsupport

#endif  // CORVANE_TESTS_SUPPORT_TREE_H_
