// The setup programs' replacements for the standard library's failure paths:
// the same messages, caught as std::exception; allocation failures stay
// std::bad_alloc.
#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <string>
#include <vector>

namespace {

template <class F>
std::string FailureText(F&& action) {
  try {
    action();
  } catch (const std::bad_alloc&) {
    return "bad_alloc";
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no failure";
}

TEST(StdFailures, FormattedIndexMessagesKeepTheirNumbers) {
  std::string text = "abc";
  EXPECT_EQ(FailureText([&] { (void)text.substr(5); }),
            "basic_string::substr: __pos (which is 5) > this->size() (which is 3)");
  std::vector<int> values(2);
  EXPECT_EQ(FailureText([&] { (void)values.at(1234567890); }),
            "vector::_M_range_check: __n (which is 1234567890) >= this->size() (which is 2)");
  std::wstring wide = L"x";
  EXPECT_EQ(FailureText([&] { wide.erase(7); }),
            "basic_string::erase: __pos (which is 7) > this->size() (which is 1)");
}

TEST(StdFailures, PlainMessagesPassThrough) {
  std::vector<int> values;
  EXPECT_EQ(FailureText([&] { values.reserve(values.max_size() + 1); }), "vector::reserve");
  std::string text;
  EXPECT_EQ(FailureText([&] { text.reserve(text.max_size() + 1); }), "basic_string::_M_create");
  const char* none = nullptr;
  EXPECT_EQ(FailureText([&] { std::string s(none); }), "basic_string: construction from null is not valid");
}

TEST(StdFailures, AllocationFailuresStayBadAlloc) {
  std::allocator<std::int64_t> allocator;
  EXPECT_EQ(FailureText([&] { (void)allocator.allocate(SIZE_MAX / 4); }), "bad_alloc");
}

}  // namespace
