// ⎕FNUMS, ⎕FNAMES and ⎕FLIB. Names are given back as character matrices, one name a row, padded
// with blanks.
#include "files/qfile2.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "files/qfile1.h"
#include "files/qfile5.h"
#include "base/platform/regularfile.h"
#include "base/utf8.h"
#include "language/dmx.h"
#include "primitives/dispatch.h"
#include "base/messages.h"
#include "language/space.h"
#include "base/errors.h"
#include "memory/pockutil.h"

namespace vantor {

static constexpr char kUnit[] = "qfile2";

namespace {

Ref NameMatrix(const std::vector<std::u32string>& names) {
  size_t width = 0;
  for (const std::u32string& n : names) width = std::max(width, n.size());
  Ref r = AllocMatrix(kChar32, static_cast<uint32_t>(names.size()), static_cast<uint32_t>(width));
  char32_t* out = DataOf<char32_t>(r);
  for (const std::u32string& n : names) {
    std::copy(n.begin(), n.end(), out);
    std::fill(out + n.size(), out + width, U' ');
    out += width;
  }
  Narrow(r);
  return r;
}

Ref QuadFNUMS() {
  std::vector<TiedComponentFile> tied = TiedComponentFiles();
  Ref r = AllocVector(kInt32, static_cast<uint32_t>(tied.size()));
  for (size_t i = 0; i < tied.size(); ++i) DataOf<int32_t>(r)[i] = tied[i].tie;
  Narrow(r);
  return r;
}

Ref QuadFNAMES() {
  std::vector<std::u32string> names;
  for (const TiedComponentFile& t : TiedComponentFiles()) names.push_back(t.name);
  return NameMatrix(names);
}

// Whether the file starts as a component file does.
bool IsComponentFile(const std::string& path) {
  FileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) return false;
  uint8_t start[2];
  return read(fd.get(), start, 2) == 2 && start[0] == kComponentFileMagic && KindOfFileType(start[1]).has_value();
}

// ⎕FLIB directory: the component files in it, each name prefixed with the directory as given.
CallResult QuadFLIB(const Ref&, const Ref& right) {
  if (!IsArray(right) || RankOf(TypeWord(right)) > 1 || (ElementCount(right) > 0 && !IsSimpleCharacterArray(right)))
    SIGNAL_MESSAGE_IN(kDomainError, kCategoryComponentFiles, U"Invalid right argument");
  std::u32string directory = ElementCount(right) ? CharacterText(right) : U"";
  std::string path = directory.empty() ? "." : ToUtf8(directory);
  DIR* dir = opendir(path.c_str());
  if (!dir) SignalError(kFileNameError, MessageRow(kCategoryComponentFiles, U"Unable to open file"), kOsErrorErrno, errno, kUnit, __LINE__);
  std::vector<std::string> found;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".vcf") == 0 && IsComponentFile(path + "/" + name))
      found.push_back(name);
  }
  closedir(dir);
  std::sort(found.begin(), found.end());
  std::u32string prefix = directory.empty() || directory.back() == U'/' ? directory : directory + U"/";
  std::vector<std::u32string> names;
  for (const std::string& n : found) names.push_back(prefix + FromUtf8(n));
  return {NameMatrix(names)};
}

}  // namespace

void InitialiseComponentFileNames() {
  InstallNiladicFunction(U"FNUMS", QuadFNUMS);
  InstallNiladicFunction(U"FNAMES", QuadFNAMES);
  InstallSystemFunction(U"FLIB", QuadFLIB, nullptr);
}

}  // namespace vantor
