#include "ProjectProblems.h"

#include <algorithm>

namespace nvbuilder {

bool TProblemList::HasErrors() const { return Count(TSeverity::Error) > 0; }

std::size_t TProblemList::Count(TSeverity severity) const {
  return static_cast<std::size_t>(
      std::count_if(FItems.begin(), FItems.end(), [&](const TProblem& p) { return p.Severity == severity; }));
}

TTextPosition PositionOf(std::string_view text, std::size_t offset) {
  TTextPosition p;
  offset = std::min(offset, text.size());
  for (std::size_t i = 0; i < offset; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\n') {
      ++p.Line;
      p.Column = 1;
    } else if ((c & 0xC0) != 0x80) {  // not a continuation byte: a new character
      ++p.Column;
    }
  }
  return p;
}

std::vector<std::string> FormatProblems(const std::string& file, std::string_view text, const TProblemList& problems) {
  std::vector<const TProblem*> sorted;
  for (const TProblem& p : problems.Items()) sorted.push_back(&p);
  std::stable_sort(sorted.begin(), sorted.end(), [](const TProblem* a, const TProblem* b) {
    const std::size_t oa = a->Offset == std::string::npos ? 0 : a->Offset + 1;
    const std::size_t ob = b->Offset == std::string::npos ? 0 : b->Offset + 1;
    return oa != ob ? oa < ob : a->Severity < b->Severity;
  });
  std::vector<std::string> lines;
  for (const TProblem* p : sorted) {
    std::string where = file;
    if (p->Offset != std::string::npos) {
      const TTextPosition at = PositionOf(text, p->Offset);
      where += ":" + std::to_string(at.Line) + ":" + std::to_string(at.Column);
    }
    lines.push_back(where + (p->Severity == TSeverity::Error ? ": error: " : ": warning: ") + p->Message);
  }
  return lines;
}

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Edit distance with adjacent swaps (optimal string alignment), ignoring case.
std::size_t Distance(std::string_view a, std::string_view b) {
  const std::size_t n = a.size(), m = b.size();
  std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
  for (std::size_t i = 0; i <= n; ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= m; ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= n; ++i)
    for (std::size_t j = 1; j <= m; ++j) {
      const std::size_t cost = Lower(a[i - 1]) == Lower(b[j - 1]) ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && Lower(a[i - 1]) == Lower(b[j - 2]) && Lower(a[i - 2]) == Lower(b[j - 1]))
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[n][m];
}

}  // namespace

std::string NearestName(std::string_view name, const std::vector<std::string>& candidates) {
  std::string best;
  std::size_t bestDistance = std::string::npos;
  for (const std::string& c : candidates) {
    const std::size_t d = Distance(name, c);
    if (d < bestDistance) {
      bestDistance = d;
      best = c;
    }
  }
  // One slip per four letters, at least one and at most three.
  const std::size_t allowed = std::clamp<std::size_t>(std::max(name.size(), best.size()) / 4, 1, 3);
  return bestDistance <= allowed ? best : std::string();
}

std::string DidYouMean(std::string_view name, const std::vector<std::string>& candidates) {
  const std::string nearest = NearestName(name, candidates);
  return nearest.empty() ? std::string() : " (did you mean " + nearest + "?)";
}

}  // namespace nvbuilder
