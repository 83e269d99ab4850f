#pragma once
// Profile (ini) files as the system knows them: sections and keys matched without regard to
// case, a missing file or key yields the caller's default, nothing cached (every call opens the
// file), and a write replaces the file atomically keeping every other line of it.
// A bare file name (no '/') lies in the Windows directory: $QL_WINDOWS_DIR, else
// $XDG_CONFIG_HOME/quillon, else ~/.config/quillon.
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ql::profile {

std::string WindowsDirectory();
std::string ResolvePath(const std::string& file);

std::string GetString(const std::string& file, const std::string& section, const std::string& key,
                      const std::string& def);
bool HasKey(const std::string& file, const std::string& section, const std::string& key);
std::vector<std::string> SectionNames(const std::string& file);
std::vector<std::string> KeyNames(const std::string& file, const std::string& section);
// key=value pairs of a section in file order.
std::vector<std::pair<std::string, std::string>> SectionValues(const std::string& file,
                                                               const std::string& section);

// Integer text: optional blanks and sign, then decimal digits, or hexadecimal after "$" or
// "0x". Anything else yields def.
int ParseInt(const std::string& text, int def);

// Whether a write may name this section, key and value: no line break (CR or LF) in any of
// them, no ']' in the section, and a key without '=' that does not begin with '[' or ';'
// (blanks before it do not count). Anything else could plant a key or a section in the file.
bool ValidSection(const std::string& section);
bool ValidKey(const std::string& key);
bool ValidValue(const std::string& value);

// Writes key=value (value nullopt deletes the key). A section, key or value that is not valid
// (above) is refused: false, and the file is not touched. Throws EInOutError when the file
// cannot be replaced; the file then stays as it was.
bool WriteString(const std::string& file, const std::string& section, const std::string& key,
                 const std::optional<std::string>& value);
bool EraseSection(const std::string& file, const std::string& section);

// Several key=value writes (value nullopt deletes the key) applied in order and stored with one
// atomic replace: all of them or, when one is not valid (false) or the file cannot be replaced
// (EInOutError), none.
struct Write {
  std::string section, key;
  std::optional<std::string> value;
};
bool WriteStrings(const std::string& file, const std::vector<Write>& writes);

}  // namespace ql::profile

// The ini-file object the windows use: names a file, opens it for each call.
class TIniFile {
 public:
  explicit TIniFile(std::string file_name) : FileName(std::move(file_name)) {}

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) const;
  int ReadInteger(const std::string& section, const std::string& key, int def) const;
  // True for any non-zero integer.
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;
  // False when the write is refused (a line break, or a key or section that would read as
  // another line; see ql::profile::ValidKey): the file is then not touched.
  bool WriteString(const std::string& section, const std::string& key, const std::string& value);
  bool WriteInteger(const std::string& section, const std::string& key, int value);
  // Writes "1" or "0".
  bool WriteBool(const std::string& section, const std::string& key, bool value);
  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& key) const;
  std::vector<std::string> ReadSection(const std::string& section) const;
  std::vector<std::string> ReadSections() const;
  std::vector<std::pair<std::string, std::string>> ReadSectionValues(
      const std::string& section) const;
  bool EraseSection(const std::string& section);
  bool DeleteKey(const std::string& section, const std::string& key);

  std::string FileName;
};

// Writes to one ini file collected and stored together by Commit (one atomic replace, so a
// save of many keys is one file write, and a failed one leaves the file as it was). Reads of
// the file do not see writes that are not committed yet.
class TIniBatch {
 public:
  explicit TIniBatch(std::string file_name) : FileName(std::move(file_name)) {}
  // False (and nothing collected) for a write that is not valid.
  bool WriteString(const std::string& section, const std::string& key, const std::string& value);
  bool WriteInteger(const std::string& section, const std::string& key, int value);
  bool WriteBool(const std::string& section, const std::string& key, bool value);
  // Throws EInOutError when the file cannot be replaced; the collected writes are dropped.
  void Commit();
  std::size_t Pending() const { return writes_.size(); }

  std::string FileName;

 private:
  std::vector<ql::profile::Write> writes_;
};
