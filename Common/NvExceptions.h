// Exception classes of the system. Every failure is an exception carrying a
// UTF-16 message; what() gives the same message in UTF-8 for logs and tests.
#pragma once

#include <exception>
#include <string>

std::string Utf8Encode(const std::wstring& text);

class Exception : public std::exception {
public:
  explicit Exception(std::wstring message) : FMessage(std::move(message)), FUtf8(Utf8Encode(FMessage)) {}
  const std::wstring& Message() const noexcept { return FMessage; }
  const char* what() const noexcept override { return FUtf8.c_str(); }

private:
  std::wstring FMessage;
  std::string FUtf8;
};

// The message of any exception: Message() of ours, else what() read as UTF-8.
std::wstring ExceptionMessage(const std::exception& e);

#define NV_DECLARE_EXCEPTION(Name, Base)          \
  class Name : public Base {                      \
  public:                                         \
    using Base::Base;                             \
  }

NV_DECLARE_EXCEPTION(EXmlException, Exception);     // malformed XML
NV_DECLARE_EXCEPTION(EAssertionFailed, Exception);  // programming-contract check
NV_DECLARE_EXCEPTION(EConvertError, Exception);     // text that does not convert
NV_DECLARE_EXCEPTION(EListError, Exception);        // list index out of bounds
NV_DECLARE_EXCEPTION(EPropertyError, Exception);    // unknown set element
NV_DECLARE_EXCEPTION(EInOutError, Exception);       // file open / create / read / write
NV_DECLARE_EXCEPTION(EFOpenError, EInOutError);
NV_DECLARE_EXCEPTION(EFCreateError, EInOutError);
NV_DECLARE_EXCEPTION(EZlibError, Exception);        // compression layer
NV_DECLARE_EXCEPTION(ERegistryException, Exception);
NV_DECLARE_EXCEPTION(EResNotFound, Exception);      // package resource missing
NV_DECLARE_EXCEPTION(EOSError, Exception);          // a system call failed

// Raises EAssertionFailed with the message "%s (%s, line %d)".
[[noreturn]] void NvAssertFailed(const std::wstring& message, const wchar_t* source, int line);

// NV_ASSERT(cond, L"Common\\NvXmlUtils", 469): the contract check of the given
// source and line, with the message "Assertion failure".
#define NV_ASSERT(cond, source, line)                                       \
  do {                                                                      \
    if (!(cond)) NvAssertFailed(L"Assertion failure", source, line);        \
  } while (0)
