// The standard library's failure paths for the setup programs. A container
// asked for too much, an index out of range or a null text makes the library
// call one of the std::__throw_* functions below. Its own versions throw
// std::logic_error and kin, whose constructors bring in a second, reference-
// counted string implementation with all its members (some 80 KB of a 32-bit
// program). These throw the same what() text in a small class instead; the
// programs catch such failures as std::exception only. Linked into Setup.exe
// and Uninstall.exe as an object of their own, so that the library's versions
// are never searched for.
#include <bits/functexcept.h>

#include <cstdarg>
#include <cstddef>
#include <exception>
#include <new>
#include <typeinfo>

namespace {

// A failure reported by the standard library, with its message.
class EStdFailure : public std::exception {
public:
  EStdFailure() noexcept { FText[0] = '\0'; }
  explicit EStdFailure(const char* text) noexcept : EStdFailure() { Append(text); }
  const char* what() const noexcept override { return FText; }

  void Append(const char* text) noexcept {
    for (; text && *text; ++text) Put(*text);
  }
  void AppendNumber(std::size_t value) noexcept {
    char digits[24];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value);
    while (n) Put(digits[--n]);
  }

private:
  void Put(char c) noexcept {
    if (FLength + 1 >= sizeof FText) return;
    FText[FLength++] = c;
    FText[FLength] = '\0';
  }

  char FText[400];
  std::size_t FLength = 0;
};

}  // namespace

namespace std {

void __throw_bad_exception() { throw bad_exception(); }
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }

void __throw_logic_error(const char* text) { throw EStdFailure(text); }
void __throw_domain_error(const char* text) { throw EStdFailure(text); }
void __throw_invalid_argument(const char* text) { throw EStdFailure(text); }
void __throw_length_error(const char* text) { throw EStdFailure(text); }
void __throw_out_of_range(const char* text) { throw EStdFailure(text); }
void __throw_runtime_error(const char* text) { throw EStdFailure(text); }
void __throw_range_error(const char* text) { throw EStdFailure(text); }
void __throw_overflow_error(const char* text) { throw EStdFailure(text); }
void __throw_underflow_error(const char* text) { throw EStdFailure(text); }

// The library formats these messages with "%s", "%zu" and "%%" only.
void __throw_out_of_range_fmt(const char* format, ...) {
  EStdFailure failure;
  va_list args;
  va_start(args, format);
  for (const char* p = format; p && *p; ++p) {
    char one[2] = {*p, '\0'};
    if (*p != '%') {
      failure.Append(one);
    } else if (p[1] == 's') {
      failure.Append(va_arg(args, const char*));
      ++p;
    } else if (p[1] == 'z' && p[2] == 'u') {
      failure.AppendNumber(va_arg(args, std::size_t));
      p += 2;
    } else if (p[1] == '%') {
      failure.Append("%");
      ++p;
    } else {
      failure.Append(one);
    }
  }
  va_end(args);
  throw failure;
}

}  // namespace std
