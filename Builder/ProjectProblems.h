// What the strict build finds wrong with a project: every problem with its
// place in the project file, reported all at once as "FILE:LINE:COLUMN:
// error: message", and the near-miss suggestions of its messages.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "BuilderText.h"

namespace nvbuilder {

enum class TSeverity { Error, Warning };

struct TProblem {
  TSeverity Severity = TSeverity::Error;
  std::size_t Offset = std::string::npos;  // byte offset in the project text; npos: the file as a whole
  std::string Message;
};

// The problems of one project, in the order found.
class TProblemList {
public:
  void Error(std::size_t offset, std::string message) { FItems.push_back({TSeverity::Error, offset, std::move(message)}); }
  void Warning(std::size_t offset, std::string message) {
    FItems.push_back({TSeverity::Warning, offset, std::move(message)});
  }
  bool HasErrors() const;
  std::size_t Count(TSeverity severity) const;
  const std::vector<TProblem>& Items() const { return FItems; }

private:
  std::vector<TProblem> FItems;
};

// Line and column (both from 1; the column counts characters) of a byte
// offset in UTF-8 text.
struct TTextPosition {
  std::size_t Line = 1, Column = 1;
};
TTextPosition PositionOf(std::string_view text, std::size_t offset);

// "FILE:LINE:COLUMN: error: message" (no line and column for a problem of
// the whole file), sorted by place, errors before warnings at one place.
std::vector<std::string> FormatProblems(const std::string& file, std::string_view text, const TProblemList& problems);

// The project has errors (or warnings that the publisher asked to treat as
// errors): Lines are the formatted problems, Summary the one-line count;
// what() is every line and the summary, each ending in a line break.
class EProjectProblems : public EBuildError {
public:
  EProjectProblems(const std::string& summary, std::vector<std::string> lines)
      : EBuildError(Joined(lines) + summary), Lines(std::move(lines)), Summary(summary) {}
  std::vector<std::string> Lines;
  std::string Summary;

private:
  static std::string Joined(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& line : lines) s += line + "\n";
    return s;
  }
};

// The candidate nearest to name (letter case ignored; a swap of two
// neighbouring letters counts as one edit), when it is close enough to be a
// slip of the keyboard; empty otherwise.
std::string NearestName(std::string_view name, const std::vector<std::string>& candidates);
// " (did you mean X?)" for NearestName, or "".
std::string DidYouMean(std::string_view name, const std::vector<std::string>& candidates);

}  // namespace nvbuilder
