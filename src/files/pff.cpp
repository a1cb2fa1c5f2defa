// The name-based file-system functions. Each takes one name or a vector of names, asks the system
// directly (lstat, mkdir, unlink, rmdir, nftw, glob) and reports a refusal as the file error its
// errno maps to, with the function's own native-file message.
#include "files/pff.h"

#include <fcntl.h>
#include <ftw.h>
#include <glob.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <functional>
#include <ctime>
#include <vector>

#include "files/qnfiles.h"
#include "base/utf8.h"
#include "language/dmx.h"
#include "primitives/dispatch.h"
#include "base/messages.h"
#include "language/space.h"
#include "base/errors.h"
#include "primitives/op.h"

namespace vantor {

static constexpr char kUnit[] = "pff";

namespace {

// The names of the right argument: one name, or a vector of them (`single` tells which).
std::vector<std::u32string> Names(Ref right, bool& single) {
  std::vector<std::u32string> names;
  single = IsText(right);
  if (single) {
    names.push_back(CharacterText(right));
  } else {
    if (!IsArray(right) || RankOf(TypeWord(right)) != 1 ||
        (KindOf(TypeWord(right)) != kKindNested && ElementCount(right) != 0))
      NATIVE_ERROR(kDomainError, U"Invalid right argument");
    for (uint64_t i = 0; KindOf(TypeWord(right)) == kKindNested && i < ElementCount(right); ++i) {
      Ref item = DataOf<Ref>(right)[i];
      if (!IsText(item)) NATIVE_ERROR(kDomainError, U"Invalid right argument");
      names.push_back(CharacterText(item));
    }
  }
  for (const std::u32string& name : names)
    if (name.empty() || name.find(U'\0') != std::u32string::npos) NATIVE_ERROR(kDomainError, U"Invalid file or directory name");
  return names;
}

// The single integer of an optional left argument (`fallback` without one).
int64_t Flag(Ref left, int64_t fallback, int64_t most) {
  if (!IsRef(left)) return fallback;
  std::vector<int64_t> v;
  if (!IsArray(left) || RankOf(TypeWord(left)) > 1 || !ReadIntegers(left, v) || v.size() != 1 || v[0] < 0 || v[0] > most)
    NATIVE_ERROR(kDomainError, U"Invalid left argument");
  return v[0];
}

Ref Booleans(const std::vector<bool>& values, bool single) {
  if (single) return MakeIntScalar(values[0]);
  Ref r = AllocVector(kBool, static_cast<uint32_t>(values.size()));
  for (size_t i = 0; i < values.size(); ++i) SetBit(DataOf<uint8_t>(r), i, values[i]);
  return r;
}

Ref PerName(size_t count, bool single, const std::function<Ref(uint64_t)>& make) {
  if (single) return make(0);
  return MakeNested({static_cast<uint32_t>(count)}, make);
}

// ---- ⎕NEXISTS ------------------------------------------------------------------------------------

bool Exists(const std::u32string& name) {
  struct stat info;
  return lstat(ToUtf8(name).c_str(), &info) == 0;
}

CallResult QuadNEXISTS(const Ref&, const Ref& right) {
  bool single;
  std::vector<std::u32string> names = Names(right, single);
  std::vector<bool> exist;
  for (const std::u32string& name : names) exist.push_back(Exists(name));
  return {Booleans(exist, single)};
}

// ---- ⎕NPARTS -------------------------------------------------------------------------------------

// A full path with "." and ".." resolved by name (the file need not exist) and no repeated "/".
std::u32string Normalised(const std::u32string& name) {
  std::u32string path = name;
  if (path.front() != U'/') {
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) NATIVE_OS_ERROR(U"Unable to normalise the file or directory name", errno);
    path = FromUtf8(cwd) + U"/" + path;
  }
  std::vector<std::u32string> parts;
  size_t at = 0;
  while (at <= path.size()) {
    size_t slash = std::min(path.find(U'/', at), path.size());
    std::u32string part = path.substr(at, slash - at);
    if (part == U"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != U".") {
      parts.push_back(part);
    }
    at = slash + 1;
  }
  std::u32string out;
  for (const std::u32string& part : parts) out += U"/" + part;
  if (out.empty() || name.back() == U'/' || name.ends_with(U"/.") || name.ends_with(U"/..")) out += U"/";
  return out;
}

struct NameParts {
  std::u32string directory, base, extension;
};

NameParts Split(const std::u32string& name) {
  size_t slash = name.rfind(U'/');
  NameParts parts;
  size_t fileStart = slash == std::u32string::npos ? 0 : slash + 1;
  parts.directory = name.substr(0, fileStart);
  std::u32string file = name.substr(fileStart);
  size_t dot = file.rfind(U'.');
  if (file == U"." || file == U"..") dot = std::u32string::npos;
  // A leading dot belongs to the name (".profile"), not to an extension.
  if (dot == std::u32string::npos || file.find_first_not_of(U'.') > dot) dot = file.size();
  parts.base = file.substr(0, dot);
  parts.extension = file.substr(dot);
  return parts;
}

CallResult QuadNPARTS(const Ref& left, const Ref& right) {
  bool normalise = Flag(left, 0, 1) == 1;
  bool single;
  std::vector<std::u32string> names = Names(right, single);
  std::vector<NameParts> parts;
  for (const std::u32string& name : names) parts.push_back(Split(normalise ? Normalised(name) : name));
  return {PerName(parts.size(), single, [&](uint64_t i) {
    return MakeNested({3}, [&](uint64_t k) {
      return MakeText(k == 0 ? parts[i].directory : k == 1 ? parts[i].base : parts[i].extension);
    });
  })};
}

// ---- ⎕MKDIR and ⎕NDELETE -------------------------------------------------------------------------

bool IsDirectory(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Creates a directory: true when created, false when one was there.
bool MakeDirectory(const std::string& path, bool withParents) {
  if (withParents) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
      std::string above = path.substr(0, slash);
      if (mkdir(above.c_str(), 0777) != 0 && errno != EEXIST) NATIVE_OS_ERROR(U"Unable to create directory", errno);
    }
  }
  if (mkdir(path.c_str(), 0777) == 0) return true;
  int err = errno;
  if (err == EEXIST && IsDirectory(path)) return false;
  NATIVE_OS_ERROR(U"Unable to create directory", err);
}

CallResult QuadMKDIR(const Ref& left, const Ref& right) {
  bool withParents = Flag(left, 0, 1) == 1;
  bool single;
  std::vector<std::u32string> names = Names(right, single);
  std::vector<bool> created;
  for (const std::u32string& name : names) created.push_back(MakeDirectory(ToUtf8(name), withParents));
  return {Booleans(created, single), true};
}

int RemoveEntry(const char* path, const struct stat*, int flag, struct FTW*) {
  return (flag == FTW_DP ? rmdir(path) : unlink(path)) == 0 ? 0 : errno;
}

// Deletes a file or directory: true when deleted, false when nothing had the name.
bool Delete(const std::string& path, bool tree) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return false;
    NATIVE_OS_ERROR(U"Unable to read file status", errno);
  }
  if (!S_ISDIR(info.st_mode)) {
    if (unlink(path.c_str()) != 0) NATIVE_OS_ERROR(U"Unable to delete file", errno);
    return true;
  }
  int err = 0;
  if (tree) err = nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  else if (rmdir(path.c_str()) != 0) err = errno;
  if (err != 0) NATIVE_OS_ERROR(U"Unable to delete directory", err > 0 ? err : errno);
  return true;
}

CallResult QuadNDELETE(const Ref& left, const Ref& right) {
  bool tree = Flag(left, 0, 1) == 1;
  bool single;
  std::vector<std::u32string> names = Names(right, single);
  std::vector<bool> deleted;
  for (const std::u32string& name : names) deleted.push_back(Delete(ToUtf8(name), tree));
  return {Booleans(deleted, single), true};
}

// ---- ⎕NINFO --------------------------------------------------------------------------------------

enum Property : int64_t {
  kName = 0, kType, kSize, kModified, kOwner, kHidden, kWritable, kLinkTarget, kPropertyCount
};

struct PropertyValue {
  bool isText = false;
  std::u32string text;
  std::vector<double> numbers;  // one number is a scalar
  bool vector = false;          // the numbers are a vector (a time)
};

int TypeOf(mode_t mode) {
  if (S_ISDIR(mode)) return 1;
  if (S_ISREG(mode)) return 2;
  if (S_ISCHR(mode)) return 3;
  if (S_ISLNK(mode)) return 4;
  if (S_ISBLK(mode)) return 5;
  if (S_ISFIFO(mode)) return 6;
  return 7;
}

PropertyValue Text(std::u32string text) { return {true, std::move(text), {}, false}; }
PropertyValue Number(double n) { return {false, U"", {n}, false}; }

std::vector<double> TimeStamp(const struct timespec& when) {
  struct tm local {};
  localtime_r(&when.tv_sec, &local);
  return {static_cast<double>(local.tm_year + 1900), static_cast<double>(local.tm_mon + 1),
          static_cast<double>(local.tm_mday),        static_cast<double>(local.tm_hour),
          static_cast<double>(local.tm_min),         static_cast<double>(local.tm_sec),
          static_cast<double>(when.tv_nsec / 1000000)};
}

std::u32string OwnerName(uid_t uid) {
  struct passwd entry, *found = nullptr;
  char buffer[4096];
  if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found) return FromUtf8(found->pw_name);
  return FromUtf8(std::to_string(uid));
}

std::u32string LinkTarget(const std::string& path) {
  char target[PATH_MAX];
  ssize_t n = readlink(path.c_str(), target, sizeof target);
  return n > 0 ? FromUtf8(std::string_view(target, static_cast<size_t>(n))) : U"";
}

PropertyValue PropertyOf(const std::u32string& name, int64_t property) {
  std::string path = ToUtf8(name);
  struct stat info;
  bool exists = lstat(path.c_str(), &info) == 0;
  int err = errno;
  if (property == kName) return Text(name);
  if (property == kType) return Number(exists ? TypeOf(info.st_mode) : 0);
  if (!exists) NATIVE_OS_ERROR(U"Unable to read file status", err);
  switch (property) {
    case kSize: return Number(static_cast<double>(info.st_size));
    case kModified: return {false, U"", TimeStamp(info.st_mtim), true};
    case kOwner: return Text(OwnerName(info.st_uid));
    case kHidden: return Number(Split(name).base.starts_with(U"."));
    case kWritable: return Number(access(path.c_str(), W_OK) == 0);
    default: return Text(S_ISLNK(info.st_mode) ? LinkTarget(path) : U"");
  }
}

Ref ValueOf(const PropertyValue& v) {
  if (v.isText) return MakeText(v.text);
  if (!v.vector) {
    Ref r = AllocScalar(kFloat64);
    DataOf<double>(r)[0] = v.numbers[0];
    Narrow(r);
    return r;
  }
  std::vector<uint32_t> whole(v.numbers.begin(), v.numbers.end());
  return IntegerVector(whole);
}

std::vector<std::u32string> Matches(const std::u32string& pattern) {
  glob_t found{};
  std::vector<std::u32string> names;
  int status = glob(ToUtf8(pattern).c_str(), 0, nullptr, &found);
  if (status == 0)
    for (size_t i = 0; i < found.gl_pathc; ++i) names.push_back(FromUtf8(found.gl_pathv[i]));
  globfree(&found);
  return names;
}

// The left argument of ⎕NINFO: property numbers, or (property numbers, wildcard flag).
void ReadInfoRequest(Ref left, std::vector<int64_t>& properties, bool& oneProperty, bool& wildcards) {
  properties = {kName};
  oneProperty = true;
  wildcards = false;
  if (!IsRef(left)) return;
  Ref numbers = left;
  if (IsArray(left) && KindOf(TypeWord(left)) == kKindNested && RankOf(TypeWord(left)) == 1 && ElementCount(left) == 2) {
    std::vector<int64_t> flag;
    if (!ReadIntegers(DataOf<Ref>(left)[1], flag) || flag.size() != 1 || flag[0] < 0 || flag[0] > 1)
      NATIVE_ERROR(kDomainError, U"Invalid left argument");
    wildcards = flag[0] == 1;
    numbers = DataOf<Ref>(left)[0];
  }
  properties.clear();
  if (!IsArray(numbers) || RankOf(TypeWord(numbers)) > 1 || !ReadIntegers(numbers, properties))
    NATIVE_ERROR(kDomainError, U"Invalid left argument");
  for (int64_t p : properties)
    if (p < 0 || p >= kPropertyCount) NATIVE_ERROR(kDomainError, U"Invalid left argument");
  oneProperty = RankOf(TypeWord(numbers)) == 0;
}

CallResult QuadNINFO(const Ref& left, const Ref& right) {
  std::vector<int64_t> properties;
  bool oneProperty, wildcards;
  ReadInfoRequest(left, properties, oneProperty, wildcards);
  bool single;
  std::vector<std::u32string> names = Names(right, single);
  // answers[name][property]; a pattern's answer holds one row per match
  std::vector<std::vector<std::vector<PropertyValue>>> answers;
  for (const std::u32string& name : names) {
    std::vector<std::u32string> files = wildcards ? Matches(name) : std::vector<std::u32string>{name};
    std::vector<std::vector<PropertyValue>> perFile;
    for (const std::u32string& file : files) {
      perFile.emplace_back();
      for (int64_t p : properties) perFile.back().push_back(PropertyOf(file, p));
    }
    answers.push_back(std::move(perFile));
  }
  auto propertyValue = [&](size_t n, size_t p) -> Ref {
    const auto& rows = answers[n];
    if (!wildcards) return ValueOf(rows[0][p]);
    return MakeNested({static_cast<uint32_t>(rows.size())}, [&](uint64_t f) { return ValueOf(rows[f][p]); });
  };
  return {PerName(names.size(), single, [&](uint64_t n) -> Ref {
    if (oneProperty) return propertyValue(n, 0);
    return MakeNested({static_cast<uint32_t>(properties.size())}, [&](uint64_t p) { return propertyValue(n, p); });
  })};
}

}  // namespace

void InitialiseFileSystemFunctions() {
  InstallSystemFunction(U"NEXISTS", QuadNEXISTS, nullptr);
  InstallSystemFunction(U"NPARTS", QuadNPARTS, QuadNPARTS);
  InstallSystemFunction(U"MKDIR", QuadMKDIR, QuadMKDIR);
  InstallSystemFunction(U"NDELETE", QuadNDELETE, QuadNDELETE);
  InstallSystemFunction(U"NINFO", QuadNINFO, QuadNINFO);
}

}  // namespace vantor
