// Runtime basics every layer stands on: the exception tree, Format, checked
// arithmetic, text and number conversions.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

// ---------------------------------------------------------------- exceptions
// One tree rooted in Exception. ClassName() is virtual because class names
// appear in log lines ("Client Exception %s:%s").
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const noexcept { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }
  virtual const char* ClassName() const noexcept { return "Exception"; }

 private:
  std::string message_;
};

// Declares an exception class that keeps its base's constructors and reports
// its own name.
#define VT_DECLARE_EXCEPTION(Name, Base)                               \
  class Name : public Base {                                           \
   public:                                                             \
    using Base::Base;                                                  \
    const char* ClassName() const noexcept override { return #Name; } \
  }

// Exceptions whose text is fixed get a default constructor with it.
#define VT_DECLARE_FIXED_EXCEPTION(Name, Base, Text)                   \
  class Name : public Base {                                           \
   public:                                                             \
    using Base::Base;                                                  \
    Name() : Base(Text) {}                                             \
    const char* ClassName() const noexcept override { return #Name; } \
  }

VT_DECLARE_FIXED_EXCEPTION(EAbort, Exception, "Operation aborted");
VT_DECLARE_FIXED_EXCEPTION(EIntOverflow, Exception, "Integer overflow");
VT_DECLARE_FIXED_EXCEPTION(ERangeError, Exception, "Range check error");
VT_DECLARE_FIXED_EXCEPTION(EReadError, Exception, "Stream read error");
VT_DECLARE_FIXED_EXCEPTION(EWriteError, Exception, "Stream write error");
VT_DECLARE_EXCEPTION(EAssertionFailed, Exception);
VT_DECLARE_EXCEPTION(EConvertError, Exception);
VT_DECLARE_EXCEPTION(EInOutError, Exception);
VT_DECLARE_EXCEPTION(EOSError, Exception);

// Raises EAssertionFailed with Text when Condition is false. Internal
// consistency checks only; untrusted input never reaches one.
void Assert(bool condition, const char* text);

// -------------------------------------------------------------------- Format
// printf-style formatting with the rules the program relies on:
// %s, %d / %u (32- or 64-bit, decided by the argument), %x / %X, %.Nd (zero
// padded), %W.Pf, %e, %g, %p, %%, "*" for width or precision, the "-" and "0"
// flags; a bare %f prints two decimals. C length modifiers (l, ll, z ...) are
// accepted and ignored.
// The decimal point is always ".". A directive that does not fit its argument,
// or a missing argument, raises EConvertError.
class FormatArg {
 public:
  enum class Kind { Signed, Unsigned, Float, Text, Pointer };
  FormatArg(int v) : kind_(Kind::Signed), i_(v) {}
  FormatArg(long v) : kind_(Kind::Signed), i_(v) {}
  FormatArg(long long v) : kind_(Kind::Signed), i_(v) {}
  FormatArg(unsigned v) : kind_(Kind::Unsigned), u_(v) {}
  FormatArg(unsigned long v) : kind_(Kind::Unsigned), u_(v) {}
  FormatArg(unsigned long long v) : kind_(Kind::Unsigned), u_(v) {}
  FormatArg(short v) : kind_(Kind::Signed), i_(v) {}
  FormatArg(unsigned short v) : kind_(Kind::Unsigned), u_(v) {}
  FormatArg(signed char v) : kind_(Kind::Signed), i_(v) {}
  FormatArg(unsigned char v) : kind_(Kind::Unsigned), u_(v) {}
  FormatArg(bool v) : kind_(Kind::Signed), i_(v ? 1 : 0) {}
  FormatArg(double v) : kind_(Kind::Float), f_(v) {}
  FormatArg(float v) : kind_(Kind::Float), f_(v) {}
  FormatArg(const char* v) : kind_(Kind::Text), s_(v ? v : "") {}
  FormatArg(const std::string& v) : kind_(Kind::Text), s_(v) {}
  FormatArg(std::string_view v) : kind_(Kind::Text), s_(v) {}
  FormatArg(const void* v) : kind_(Kind::Pointer), p_(v) {}

  Kind kind() const { return kind_; }
  long long AsSigned() const { return i_; }
  unsigned long long AsUnsigned() const { return u_; }
  double AsFloat() const { return f_; }
  std::string_view AsText() const { return s_; }
  const void* AsPointer() const { return p_; }

 private:
  Kind kind_;
  union {
    long long i_;
    unsigned long long u_;
    double f_;
    const void* p_;
  };
  std::string_view s_;
};

std::string FormatList(std::string_view fmt, std::initializer_list<FormatArg> args);

template <class... Args>
std::string Format(std::string_view fmt, const Args&... args) {
  return FormatList(fmt, {FormatArg(args)...});
}

// -------------------------------------------------------- checked arithmetic
// Raise EIntOverflow ("Integer overflow") instead of wrapping.
int32_t CheckedAdd(int32_t a, int32_t b);
int32_t CheckedSub(int32_t a, int32_t b);
int32_t CheckedMul(int32_t a, int32_t b);
int64_t CheckedAdd64(int64_t a, int64_t b);
int64_t CheckedSub64(int64_t a, int64_t b);
int64_t CheckedMul64(int64_t a, int64_t b);
// Narrowing that raises ERangeError when the value does not fit.
int32_t CheckedToInt32(int64_t v);
// Raises ERangeError ("Range check error") unless 0 <= index < count.
void CheckIndex(int64_t index, int64_t count);

// ------------------------------------------------------- texts and numbers
std::string IntToStr(int64_t v);
std::string UIntToStr(uint64_t v);
std::string IntToHex(uint64_t v, int digits);
// Decimal with optional sign and surrounding blanks; "$" prefix for hex.
// StrToInt raises EConvertError ("'%s' is not a valid integer value").
int32_t StrToInt(std::string_view s);
int64_t StrToInt64(std::string_view s);
int32_t StrToIntDef(std::string_view s, int32_t def);
int64_t StrToInt64Def(std::string_view s, int64_t def);
bool TryStrToInt(std::string_view s, int32_t& out);
bool TryStrToInt64(std::string_view s, int64_t& out);
std::string FloatToStr(double v);  // shortest text, "." decimal point
// Decimal number with optional sign, fraction and exponent, surrounding
// blanks allowed, "." decimal point; EConvertError ("'%s' is not a valid
// floating point value") otherwise, also for values out of range.
double StrToFloat(std::string_view s);

// ASCII-only case rules: letters outside A-Z / a-z are left alone.
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);
// UpperCase of eight bytes at once: 0x20 off every byte in 'a'..'z'. No byte
// carries into the next, since the high bits are kept out of the sums.
inline uint64_t UpWord(uint64_t x) {
  constexpr uint64_t ones = 0x0101010101010101ull;
  constexpr uint64_t high = 0x8080808080808080ull;
  const uint64_t low7 = x & ~high;
  const uint64_t atLeastA = low7 + ones * (0x80 - 'a');
  const uint64_t aboveZ = low7 + ones * (0x80 - 'z' - 1);
  const uint64_t lower = atLeastA & ~aboveZ & ~x & high;
  return x - (lower >> 2);
}
int CompareText(std::string_view a, std::string_view b);  // <0, 0, >0
int CompareStr(std::string_view a, std::string_view b);
// Remove characters <= ' ' at either or both ends.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
// Trim without a copy: the part of S that Trim would return.
std::string_view TrimView(std::string_view s);
// 1-based position of Sub in S, 0 when absent (case-sensitive).
int Pos(std::string_view sub, std::string_view s);
// Whether S holds Sub, ASCII case ignored (an empty Sub is never held, as
// with Pos), without a copy of either.
bool ContainsText(std::string_view s, std::string_view sub);
// 1-based, clamped copy of up to Count characters from Index.
std::string Copy(std::string_view s, int64_t index, int64_t count);
std::string StringReplaceAll(std::string_view s, std::string_view from, std::string_view to,
                             bool ignoreCase = false);

// ------------------------------------------------------------------- files
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Creates every missing level; true when the folder exists afterwards.
bool ForceDirectories(const std::string& path);
bool DeleteFile(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);
std::string ExtractFilePath(const std::string& path);  // with trailing "/"
std::string ExtractFileName(const std::string& path);
std::string ExtractFileExt(const std::string& path);  // with the "."
std::string IncludeTrailingPathDelimiter(const std::string& path);
std::string GetCurrentDir();
// The whole content of a regular file; EInOutError when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string& path);
// The last MaxBytes bytes of a regular file (all of a smaller one), read
// from there without touching the rest; FileSize gets the file's size.
// EInOutError when it cannot be read.
std::vector<uint8_t> ReadFileTail(const std::string& path, uint64_t maxBytes, uint64_t& fileSize);
// Writes Bytes to a temporary file beside Path, syncs it and renames it over
// Path, creating missing folders: Path then holds its old or its new content,
// never a part. The file keeps the mode and owner of the one it replaces; a
// new file takes those of NewLike when that names a file, else NewMode.
// EInOutError on failure.
void WriteFileReplacing(const std::string& path, const std::vector<uint8_t>& bytes,
                        const std::string& newLike = "", unsigned newMode = 0640);
