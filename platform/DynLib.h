#pragma once
// Libraries loaded at run time by the name the system knows them by. "MMCDDA32.DLL" is
// "libmmcdda32.so", looked for beside the executable first, then where the dynamic loader
// looks; a name with a '/' is loaded as given.
#include <string>

namespace ql {

class DynLib {
 public:
  DynLib() = default;
  ~DynLib() { Free(); }
  DynLib(const DynLib&) = delete;
  DynLib& operator=(const DynLib&) = delete;

  // False when the library cannot be loaded; Error() tells why.
  bool Load(const std::string& name);
  void Free();
  bool Loaded() const { return handle_ != nullptr; }
  void* Symbol(const char* name) const;
  // Sets fn to the entry point of that name (null when the library has none); true when found.
  template <class F>
  bool Resolve(F& fn, const char* name) const {
    fn = reinterpret_cast<F>(Symbol(name));
    return fn != nullptr;
  }
  const std::string& Error() const { return error_; }

  // "MMCDDA32.DLL" -> "libmmcdda32.so"; paths stay as they are.
  static std::string MapName(const std::string& name);
  static std::string ExecutableDir();

 private:
  void* handle_ = nullptr;
  std::string error_;
};

}  // namespace ql
