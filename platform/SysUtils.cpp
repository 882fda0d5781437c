#include "platform/SysUtils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

void Assert(bool condition, const char* text) {
  if (!condition) throw EAssertionFailed(text);
}

// -------------------------------------------------------------------- Format
namespace {

[[noreturn]] void FormatError(std::string_view fmt) {
  throw EConvertError("Format '" + std::string(fmt) + "' invalid or incompatible with argument");
}

struct Directive {
  bool leftAlign = false;
  bool zeroPad = false;
  int width = -1;
  int precision = -1;
  char type = 0;
};

void Pad(std::string& out, std::string_view body, const Directive& dir) {
  const size_t width = dir.width > 0 ? static_cast<size_t>(dir.width) : 0;
  if (body.size() >= width) {
    out.append(body);
  } else if (dir.leftAlign) {
    out.append(body);
    out.append(width - body.size(), ' ');
  } else {
    out.append(width - body.size(), ' ');
    out.append(body);
  }
}

// Digits of a magnitude with a sign, zero padded to Precision digits and, with
// the "0" flag, to the field width.
void AppendInteger(std::string& out, bool negative, std::string digits, const Directive& dir) {
  if (dir.precision >= 0 && digits.size() < static_cast<size_t>(dir.precision))
    digits.insert(0, static_cast<size_t>(dir.precision) - digits.size(), '0');
  std::string body = negative ? "-" + digits : digits;
  if (dir.zeroPad && !dir.leftAlign && dir.precision < 0 && dir.width > 0 &&
      body.size() < static_cast<size_t>(dir.width))
    body.insert(negative ? 1 : 0, static_cast<size_t>(dir.width) - body.size(), '0');
  Pad(out, body, dir);
}

// A negative signed value given to %u or %x is shown as its two's complement,
// 32 bits wide when it fits an Int32 (as the 32-bit original would).
unsigned long long AsBits(const FormatArg& a) {
  const long long v = a.AsSigned();
  if (v < 0 && v >= INT32_MIN) return static_cast<uint32_t>(static_cast<int32_t>(v));
  return static_cast<unsigned long long>(v);
}

std::string FloatText(double v, char type, int precision) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
  char conv = type == 'e' ? 'E' : type == 'g' ? 'G' : 'f';
  if (precision < 0) precision = type == 'f' ? 2 : 15;
  if (precision > 300) precision = 300;
  const char fmt[] = {'%', '.', '*', conv, 0};
  const int n = std::snprintf(nullptr, 0, fmt, precision, v);
  std::string s(static_cast<size_t>(n), '\0');
  std::snprintf(s.data(), s.size() + 1, fmt, precision, v);
  // A value that rounds to zero carries no sign.
  if (!s.empty() && s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  return s;
}

}  // namespace

std::string FormatList(std::string_view fmt, std::initializer_list<FormatArg> args) {
  std::string out;
  out.reserve(fmt.size() + 16 * args.size());
  const FormatArg* next = args.begin();
  const FormatArg* const end = args.end();
  auto take = [&]() -> const FormatArg& {
    if (next == end) FormatError(fmt);
    return *next++;
  };
  auto number = [&](size_t& i) -> int {
    if (i < fmt.size() && fmt[i] == '*') {
      ++i;
      const FormatArg& a = take();
      if (a.kind() != FormatArg::Kind::Signed && a.kind() != FormatArg::Kind::Unsigned) FormatError(fmt);
      const long long v = a.kind() == FormatArg::Kind::Signed ? a.AsSigned() : static_cast<long long>(a.AsUnsigned());
      return v < 0 ? -1 : static_cast<int>(std::min<long long>(v, 100000));
    }
    int v = -1;
    while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
      v = (v < 0 ? 0 : v) * 10 + (fmt[i] - '0');
      if (v > 100000) FormatError(fmt);
      ++i;
    }
    return v;
  };

  for (size_t i = 0; i < fmt.size();) {
    const char c = fmt[i];
    if (c != '%') {
      const size_t j = fmt.find('%', i);
      const size_t stop = j == std::string_view::npos ? fmt.size() : j;
      out.append(fmt.substr(i, stop - i));
      i = stop;
      continue;
    }
    ++i;
    if (i >= fmt.size()) FormatError(fmt);
    if (fmt[i] == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    Directive dir;
    for (; i < fmt.size() && (fmt[i] == '-' || fmt[i] == '0'); ++i) (fmt[i] == '-' ? dir.leftAlign : dir.zeroPad) = true;
    dir.width = number(i);
    if (i < fmt.size() && fmt[i] == '.') {
      ++i;
      dir.precision = number(i);
      if (dir.precision < 0) dir.precision = 0;
    }
    // C length modifiers change nothing: the argument itself tells its size.
    while (i < fmt.size() && (fmt[i] == 'l' || fmt[i] == 'h' || fmt[i] == 'z' || fmt[i] == 'j' || fmt[i] == 't' ||
                              fmt[i] == 'L'))
      ++i;
    if (i >= fmt.size()) FormatError(fmt);
    dir.type = static_cast<char>(fmt[i] | 0x20);  // directive letters ignore case
    ++i;

    const FormatArg& a = take();
    const FormatArg::Kind k = a.kind();
    const bool integral = k == FormatArg::Kind::Signed || k == FormatArg::Kind::Unsigned;
    switch (dir.type) {
      case 'd':
        if (!integral) FormatError(fmt);
        if (k == FormatArg::Kind::Signed) {
          const long long v = a.AsSigned();
          const unsigned long long mag = v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
          AppendInteger(out, v < 0, std::to_string(mag), dir);
        } else {
          AppendInteger(out, false, std::to_string(a.AsUnsigned()), dir);
        }
        break;
      case 'u':
        if (!integral) FormatError(fmt);
        AppendInteger(out, false, std::to_string(k == FormatArg::Kind::Signed ? AsBits(a) : a.AsUnsigned()), dir);
        break;
      case 'x': {
        if (!integral) FormatError(fmt);
        char buf[32];
        const unsigned long long v = k == FormatArg::Kind::Signed ? AsBits(a) : a.AsUnsigned();
        auto r = std::to_chars(buf, buf + sizeof buf, v, 16);
        // Hex digits are upper case whatever the directive's case.
        AppendInteger(out, false, UpperCase(std::string_view(buf, static_cast<size_t>(r.ptr - buf))), dir);
        break;
      }
      case 'f':
      case 'e':
      case 'g': {
        double v;
        if (k == FormatArg::Kind::Float) v = a.AsFloat();
        else if (k == FormatArg::Kind::Signed) v = static_cast<double>(a.AsSigned());
        else if (k == FormatArg::Kind::Unsigned) v = static_cast<double>(a.AsUnsigned());
        else FormatError(fmt);
        std::string body = FloatText(v, dir.type, dir.precision);
        if (dir.zeroPad && !dir.leftAlign && dir.width > 0 && body.size() < static_cast<size_t>(dir.width) &&
            std::isfinite(v))
          body.insert(body[0] == '-' ? 1 : 0, static_cast<size_t>(dir.width) - body.size(), '0');
        Pad(out, body, dir);
        break;
      }
      case 's': {
        if (k != FormatArg::Kind::Text) FormatError(fmt);
        std::string_view s = a.AsText();
        if (dir.precision >= 0 && s.size() > static_cast<size_t>(dir.precision)) s = s.substr(0, static_cast<size_t>(dir.precision));
        Pad(out, s, dir);
        break;
      }
      case 'p': {
        if (k != FormatArg::Kind::Pointer) FormatError(fmt);
        Pad(out, IntToHex(reinterpret_cast<uintptr_t>(a.AsPointer()), 2 * sizeof(void*)), dir);
        break;
      }
      default:
        FormatError(fmt);
    }
  }
  return out;
}

// -------------------------------------------------------- checked arithmetic
int32_t CheckedAdd(int32_t a, int32_t b) {
  int32_t r;
  if (__builtin_add_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}
int32_t CheckedSub(int32_t a, int32_t b) {
  int32_t r;
  if (__builtin_sub_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}
int32_t CheckedMul(int32_t a, int32_t b) {
  int32_t r;
  if (__builtin_mul_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}
int64_t CheckedAdd64(int64_t a, int64_t b) {
  int64_t r;
  if (__builtin_add_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}
int64_t CheckedSub64(int64_t a, int64_t b) {
  int64_t r;
  if (__builtin_sub_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}
int64_t CheckedMul64(int64_t a, int64_t b) {
  int64_t r;
  if (__builtin_mul_overflow(a, b, &r)) throw EIntOverflow();
  return r;
}
int32_t CheckedToInt32(int64_t v) {
  if (v < INT32_MIN || v > INT32_MAX) throw ERangeError();
  return static_cast<int32_t>(v);
}
void CheckIndex(int64_t index, int64_t count) {
  if (index < 0 || index >= count) throw ERangeError();
}

// ------------------------------------------------------- texts and numbers
std::string IntToStr(int64_t v) { return std::to_string(v); }
std::string UIntToStr(uint64_t v) { return std::to_string(v); }

std::string IntToHex(uint64_t v, int digits) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v, 16);
  std::string s = UpperCase(std::string_view(buf, static_cast<size_t>(r.ptr - buf)));
  if (digits > 0 && s.size() < static_cast<size_t>(digits)) s.insert(0, static_cast<size_t>(digits) - s.size(), '0');
  return s;
}

bool TryStrToInt64(std::string_view s, int64_t& out) {
  size_t i = 0, e = s.size();
  while (i < e && static_cast<unsigned char>(s[i]) <= ' ') ++i;
  while (e > i && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  bool negative = false;
  if (i < e && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  int base = 10;
  if (i < e && s[i] == '$') {
    base = 16;
    ++i;
  } else if (e - i > 2 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == e) return false;
  uint64_t mag = 0;
  auto r = std::from_chars(s.data() + i, s.data() + e, mag, base);
  if (r.ec != std::errc() || r.ptr != s.data() + e) return false;
  if (base == 16 && !negative) {
    // Hex texts may spell the bit pattern of a negative value.
    out = static_cast<int64_t>(mag);
    return true;
  }
  if (negative) {
    if (mag > static_cast<uint64_t>(INT64_MAX) + 1) return false;
    out = static_cast<int64_t>(0ULL - mag);
  } else {
    if (mag > static_cast<uint64_t>(INT64_MAX)) return false;
    out = static_cast<int64_t>(mag);
  }
  return true;
}

bool TryStrToInt(std::string_view s, int32_t& out) {
  int64_t v;
  if (!TryStrToInt64(s, v)) return false;
  if (v < INT32_MIN || v > INT32_MAX) {
    // "$FFFFFFFF" is -1, as a 32-bit hex text.
    if (v > INT32_MAX && v <= static_cast<int64_t>(UINT32_MAX) && s.find_first_of("$xX") != std::string_view::npos &&
        s.find('-') == std::string_view::npos) {
      out = static_cast<int32_t>(static_cast<uint32_t>(v));
      return true;
    }
    return false;
  }
  out = static_cast<int32_t>(v);
  return true;
}

int32_t StrToInt(std::string_view s) {
  int32_t v;
  if (!TryStrToInt(s, v)) throw EConvertError("'" + std::string(s) + "' is not a valid integer value");
  return v;
}
int64_t StrToInt64(std::string_view s) {
  int64_t v;
  if (!TryStrToInt64(s, v)) throw EConvertError("'" + std::string(s) + "' is not a valid integer value");
  return v;
}
int32_t StrToIntDef(std::string_view s, int32_t def) {
  int32_t v;
  return TryStrToInt(s, v) ? v : def;
}
int64_t StrToInt64Def(std::string_view s, int64_t def) {
  int64_t v;
  return TryStrToInt64(s, v) ? v : def;
}

std::string FloatToStr(double v) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

double StrToFloat(std::string_view s) {
  const std::string_view t = TrimView(s);
  double v = 0;
  const char* end = t.data() + t.size();
  const char* first = t.data();
  if (first != end && *first == '+' && first + 1 != end && first[1] != '-') ++first;  // from_chars takes no "+"
  const auto r = std::from_chars(first, end, v, std::chars_format::general);
  if (t.empty() || r.ec != std::errc() || r.ptr != end || !std::isfinite(v))
    throw EConvertError("'" + std::string(s) + "' is not a valid floating point value");
  return v;
}

namespace {
inline char Up(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
inline char Low(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
inline bool Blank(char c) { return static_cast<unsigned char>(c) <= ' '; }
}  // namespace

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = Up(c);
  return r;
}
std::string LowerCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = Low(c);
  return r;
}
// Header names and host names are compared on every request, most of them
// unequal: eight bytes at a time.
bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const size_t n = a.size();
  auto sameWord = [&](size_t at) {
    uint64_t x, y;
    std::memcpy(&x, a.data() + at, 8);
    std::memcpy(&y, b.data() + at, 8);
    return x == y || UpWord(x) == UpWord(y);
  };
  if (n < 8) {
    for (size_t i = 0; i < n; ++i) {
      if (Up(a[i]) != Up(b[i])) return false;
    }
    return true;
  }
  for (size_t i = 0; i + 8 < n; i += 8) {
    if (!sameWord(i)) return false;
  }
  // The last eight bytes, overlapping the words before when N is not a
  // multiple of eight.
  return sameWord(n - 8);
}

int CompareText(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const int d = static_cast<unsigned char>(Up(a[i])) - static_cast<unsigned char>(Up(b[i]));
    if (d) return d;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}
int CompareStr(std::string_view a, std::string_view b) {
  const int c = a.compare(b);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

std::string_view TrimView(std::string_view s) {
  size_t i = 0, e = s.size();
  while (i < e && Blank(s[i])) ++i;
  while (e > i && Blank(s[e - 1])) --e;
  return s.substr(i, e - i);
}
std::string Trim(std::string_view s) { return std::string(TrimView(s)); }
std::string TrimLeft(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && Blank(s[i])) ++i;
  return std::string(s.substr(i));
}
std::string TrimRight(std::string_view s) {
  size_t e = s.size();
  while (e > 0 && Blank(s[e - 1])) --e;
  return std::string(s.substr(0, e));
}

int Pos(std::string_view sub, std::string_view s) {
  if (sub.empty()) return 0;
  const size_t p = s.find(sub);
  return p == std::string_view::npos ? 0 : static_cast<int>(p + 1);
}

bool ContainsText(std::string_view s, std::string_view sub) {
  if (sub.empty() || sub.size() > s.size()) return false;
  for (size_t i = 0; i + sub.size() <= s.size(); ++i) {
    if (Up(s[i]) == Up(sub[0]) && SameText(s.substr(i, sub.size()), sub)) return true;
  }
  return false;
}

std::string Copy(std::string_view s, int64_t index, int64_t count) {
  if (index < 1) index = 1;
  if (count <= 0 || index > static_cast<int64_t>(s.size())) return std::string();
  const size_t start = static_cast<size_t>(index - 1);
  return std::string(s.substr(start, static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(s.size() - start)))));
}

std::string StringReplaceAll(std::string_view s, std::string_view from, std::string_view to, bool ignoreCase) {
  if (from.empty()) return std::string(s);
  const std::string hay = ignoreCase ? UpperCase(s) : std::string();
  const std::string needle = ignoreCase ? UpperCase(from) : std::string();
  const std::string_view h = ignoreCase ? std::string_view(hay) : s;
  const std::string_view n = ignoreCase ? std::string_view(needle) : from;
  std::string out;
  size_t i = 0;
  for (size_t p; (p = h.find(n, i)) != std::string_view::npos; i = p + n.size()) {
    out.append(s.substr(i, p - i));
    out.append(to);
  }
  out.append(s.substr(i));
  return out;
}

// ------------------------------------------------------------------- files
bool FileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (DirectoryExists(p)) return true;
  const size_t slash = p.rfind('/');
  if (slash != std::string::npos && slash > 0 && !ForceDirectories(p.substr(0, slash))) return false;
  return ::mkdir(p.c_str(), 0777) == 0 || (errno == EEXIST && DirectoryExists(p));
}

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool RenameFile(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

std::string ExtractFilePath(const std::string& path) {
  const size_t p = path.rfind('/');
  return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

std::string ExtractFileName(const std::string& path) {
  const size_t p = path.rfind('/');
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string ExtractFileExt(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
  return path.substr(dot);
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
  if (!path.empty() && path.back() == '/') return path;
  return path + "/";
}

std::string GetCurrentDir() {
  std::vector<char> buf(4096);
  while (::getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE) return std::string();
    buf.resize(buf.size() * 2);
  }
  return std::string(buf.data());
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0)
    throw EInOutError(Format("Cannot open file \"%s\". %s", path, std::strerror(errno)));
  if (!S_ISREG(st.st_mode)) throw EInOutError(Format("Cannot open file \"%s\". Not a file", path));
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EInOutError(Format("Cannot open file \"%s\". %s", path, std::strerror(errno)));
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw EInOutError(Format("Cannot read file \"%s\". %s", path, std::strerror(errno)));
  return bytes;
}

std::vector<uint8_t> ReadFileTail(const std::string& path, uint64_t maxBytes, uint64_t& fileSize) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw EInOutError(Format("Cannot open file \"%s\". %s", path, std::strerror(errno)));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st;
  if (::fstat(fd, &st) != 0) throw EInOutError(Format("Cannot open file \"%s\". %s", path, std::strerror(errno)));
  if (!S_ISREG(st.st_mode)) throw EInOutError(Format("Cannot open file \"%s\". Not a file", path));
  fileSize = static_cast<uint64_t>(st.st_size);
  const uint64_t count = std::min(fileSize, maxBytes);
  const off_t start = static_cast<off_t>(fileSize - count);
  std::vector<uint8_t> bytes(static_cast<size_t>(count));
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::pread(fd, bytes.data() + got, bytes.size() - got, start + static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EInOutError(Format("Cannot read file \"%s\". %s", path, std::strerror(errno)));
    if (n == 0) break;  // the file shrank meanwhile: what was there
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

void WriteFileReplacing(const std::string& path, const std::vector<uint8_t>& bytes, const std::string& newLike,
                        unsigned newMode) {
  const std::string folder = ExtractFilePath(path);
  if (!folder.empty()) ForceDirectories(folder);
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) throw EInOutError(Format("Cannot create file \"%s\". %s", path, std::strerror(errno)));
  auto fail = [&](bool open) {
    const std::string reason = std::strerror(errno);
    if (open) ::close(fd);
    ::unlink(temp.c_str());
    throw EInOutError(Format("Cannot write file \"%s\". %s", path, reason));
  };
  // The temporary file is 0600 and the writer's: a save by another user
  // (root, say) must not take the file away from the account that runs the
  // switch, so it gets the mode and owner of what it replaces.
  struct stat like {};
  const bool known = (::stat(path.c_str(), &like) == 0 && S_ISREG(like.st_mode)) ||
                     (!newLike.empty() && ::stat(newLike.c_str(), &like) == 0 && S_ISREG(like.st_mode));
  if (known) {
    // Only root may give a file away; others keep at least the group if they can.
    if (::fchown(fd, like.st_uid, like.st_gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), like.st_gid) != 0) {
      // Then the file is the writer's, as a new one would be.
    }
    if (::fchmod(fd, like.st_mode & 07777) != 0) fail(true);
  } else if (::fchmod(fd, static_cast<mode_t>(newMode)) != 0) {
    fail(true);
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(true);
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) fail(true);
  if (::close(fd) != 0) fail(false);
  if (::rename(temp.c_str(), path.c_str()) != 0) fail(false);
}
