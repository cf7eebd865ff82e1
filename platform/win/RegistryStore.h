// The file behind the registry functions: a tree of keys with named values,
// kept in one text file that every process of the user shares.
//
// The file lies at $REELPRESS_REGISTRY, else $XDG_CONFIG_HOME/reelpress/registry
// (~/.config/reelpress/registry). Every change takes an flock on "<file>.lock",
// reloads the tree when the file changed since we last read it, applies the
// change and replaces the file atomically (temporary file, fsync, rename), so
// two processes never lose each other's writes and readers never see half a
// file. Reads reload only when the file's identity (device, inode, size, time)
// changed.
//
// File format, one item a line:
//   REELPRESS REGISTRY 1
//   [HKEY_LOCAL_MACHINE\Software\Some Key]
//   "Name"=sz:"text"
//   ""=sz:"the default value"
//   "Count"=dword:0000002a
//   "Blob"=hex(3):01,ff
// Key names escape "%" and control characters as %HH; quoted texts escape
// backslash, double quote and control characters (\\, \", \xHH). A damaged
// line is skipped with a warning on stderr, and the damaged file is kept as
// "<file>.damaged" when the store next writes, so nothing is lost silently.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win/WinTypes.h"

namespace reel::registry {

// The predefined roots, in the order of their HKEY values.
constexpr int kRootCount = 4;
extern const char* const kRootNames[kRootCount];

struct Value {
  std::string name;  // as first spelt
  DWORD type = 0;
  std::string data;  // REG_SZ and REG_EXPAND_SZ: the text without its NUL
};

struct Key {
  std::string name;  // as first spelt
  std::vector<Value> values;  // in the order they were created
  std::map<std::string, std::unique_ptr<Key>> children;  // by lower-case name: enumeration order

  Key* Child(std::string_view name) const;
  Value* FindValue(std::string_view name);
  const Value* FindValue(std::string_view name) const;
};

struct Tree {
  Key roots[kRootCount];

  // The key at root + path, or null.
  Key* Find(int root, const std::vector<std::string>& path) const;
};

std::string Lower(std::string_view text);
bool EqualNoCase(std::string_view a, std::string_view b);

// Reads and writes the text form; Parse counts the lines it had to skip.
std::string Serialize(const Tree& tree);
Tree Parse(std::string_view text, int& damagedLines);

class Store {
 public:
  static Store& Instance();

  // Runs reader on the current tree. Returns what reader returns.
  LONG Read(const std::function<LONG(const Tree&)>& reader);

  // Runs writer on the current tree under the file lock; when it succeeds and
  // sets changed, the file is rewritten before the lock is let go. A file that
  // cannot be written answers ERROR_ACCESS_DENIED and the tree is reloaded.
  LONG Write(const std::function<LONG(Tree&, bool& changed)>& writer);

  // The file in use now (it follows $REELPRESS_REGISTRY).
  static std::string FilePath();

 private:
  Store() = default;
  void Refresh(const std::string& path);
  bool Save(const std::string& path);

  std::unique_ptr<Tree> tree_ = std::make_unique<Tree>();
  std::string loadedPath_;
  std::string identity_;  // of the file we last read or wrote; "" when it was missing
  bool damaged_ = false;  // the file we read had lines we could not use
};

}  // namespace reel::registry
