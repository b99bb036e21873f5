// Line assembly. Characters arrive in the order the blob passes produce them, neither top
// to bottom nor left to right. A character joins the first line (in the order lines were
// opened) whose rows it shares, judged by the quarter points of its own height, and is
// inserted before the first character lying wholly to its right. Finishing sorts lines by
// their top, optionally keeps one line, and resolves characters whose centre column falls
// inside another character by keeping the one with more area times confidence.
#include "engine/lines.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/error.h"
#include "platform/rect.h"

namespace ocrb {
namespace {

// Rectangle arithmetic is done in 64 bits so that no rectangle, however odd, overflows.
int64_t Mid(int32_t low, int32_t high) {
  return low + (int64_t{high} - low) / 2;
}

int Length(const TResultLine& line) {
  return line.Text.Length;
}

// Inserts Count copies of a character at index K, moving K.. right. The caller has checked
// that Count characters fit.
void InsertAt(TResultLine& line, int k, int count, char ch, float conf, const TRect& rect) {
  const int n = Length(line);
  const int tail = n - k;
  std::memmove(line.Text.Chars + k + count, line.Text.Chars + k, tail);
  std::memmove(line.Confidences + k + count, line.Confidences + k, tail * sizeof(float));
  std::memmove(line.Rects + k + count, line.Rects + k, tail * sizeof(TRect));
  for (int i = k; i < k + count; ++i) {
    line.Text.Chars[i] = ch;
    line.Confidences[i] = conf;
    line.Rects[i] = rect;
  }
  line.Text.Length = static_cast<uint8_t>(n + count);
}

void DeleteAt(TResultLine& line, int k) {
  const int tail = Length(line) - k - 1;
  std::memmove(line.Text.Chars + k, line.Text.Chars + k + 1, tail);
  std::memmove(line.Confidences + k, line.Confidences + k + 1, tail * sizeof(float));
  std::memmove(line.Rects + k, line.Rects + k + 1, tail * sizeof(TRect));
  line.Text.Length = static_cast<uint8_t>(Length(line) - 1);
}

void Widen(TRect& bounds, const TRect& rect) {
  bounds.Left = std::min(bounds.Left, rect.Left);
  bounds.Top = std::min(bounds.Top, rect.Top);
  bounds.Right = std::max(bounds.Right, rect.Right);
  bounds.Bottom = std::max(bounds.Bottom, rect.Bottom);
}

bool LineMatches(const TRect& bounds, const TRect& rect) {
  const int64_t q = (int64_t{rect.Bottom} - rect.Top) / 4;
  const int64_t a = rect.Top + q;     // upper quarter point
  const int64_t b = rect.Bottom - q;  // lower quarter point
  const int64_t t = bounds.Top;
  const int64_t bt = bounds.Bottom;
  return (t >= rect.Top && bt <= rect.Bottom) || (t <= a && a <= bt) || (t <= b && b <= bt);
}

// Removes every character whose centre column lies inside a character of greater weight.
void RemoveOverlaps(TResultLine& line) {
  const int n = Length(line);
  bool compared = false;
  for (int i = 0; i < n; ++i) {
    const TRect& ri = line.Rects[i];
    for (int j = 0; j < n; ++j) {
      if (j == i) continue;
      const TRect& rj = line.Rects[j];
      if (platform::IsRectEmpty(rj)) continue;
      const int64_t cx = Mid(rj.Left, rj.Right);
      if (cx < ri.Left || cx > ri.Right) continue;
      compared = true;
      const long double si =
          static_cast<long double>((int64_t{ri.Right} - ri.Left) * (int64_t{ri.Bottom} - ri.Top)) *
          line.Confidences[i];
      const long double sj =
          static_cast<long double>((int64_t{rj.Right} - rj.Left) * (int64_t{rj.Bottom} - rj.Top)) *
          line.Confidences[j];
      // The mark takes effect at once: later pairs see -1 for a removed character.
      if (sj <= si) {
        line.Confidences[j] = -1.0f;
      } else {
        line.Confidences[i] = -1.0f;
      }
    }
  }
  if (!compared) return;
  for (int k = n - 1; k >= 0; --k) {
    if (line.Confidences[k] == -1.0f) DeleteAt(line, k);
  }
}

}  // namespace

void ClearResults(TResultStore& store) {
  std::memset(static_cast<void*>(store.Lines), 0, sizeof(TResultLine) * store.Touched);
  store.LineCount = 0;
  store.Touched = 0;
}

void PlaceCharInLine(TResultLine& line, char ch, const TRect& rect, float conf) {
  const int n = Length(line);
  if (n >= kMaxLineLength) return;  // the line is full: the character is dropped
  int k = n;
  if (rect.Left < line.Bounds.Right) {
    for (int i = 0; i < n; ++i) {
      if (line.Rects[i].Left > rect.Left && line.Rects[i].Right > rect.Right) {
        k = i;
        break;
      }
    }
  }
  InsertAt(line, k, 1, ch, conf, rect);
  Widen(line.Bounds, rect);
}

void DeleteCharAt(TResultLine& line, int index) {
  if (index < 0 || index >= Length(line)) return;
  DeleteAt(line, index);
}

void AddCharToLines(TResultStore& store, char ch, const TRect& rect, float conf) {
  for (int l = 0; l < store.LineCount; ++l) {
    TResultLine& line = store.Lines[l];
    if (!LineMatches(line.Bounds, rect)) continue;
    PlaceCharInLine(line, ch, rect, conf);
    return;
  }
  if (store.LineCount >= kMaxLines) return;  // no room for another line: dropped
  TResultLine& line = store.Lines[store.LineCount++];
  store.Touched = std::max(store.Touched, store.LineCount);
  line.Text.Length = 0;
  InsertAt(line, 0, 1, ch, conf, rect);
  line.Bounds = rect;
}

void InsertLineSpaces(TResultStore& store, int32_t unit) {
  // Unit is the space width already scaled to the working resolution: one space per Unit
  // of gap at every resolution.
  const int32_t gap = unit;
  for (int l = 0; l < store.LineCount; ++l) {
    TResultLine& line = store.Lines[l];
    // From the end of the line, so that the indexes below k stay valid.
    for (int k = Length(line) - 1; k >= 1; --k) {
      if (gap == 0) throw Error("Division by zero");
      const int64_t d = (int64_t{line.Rects[k].Left} - line.Rects[k - 1].Right) / gap;
      if (d <= 0) continue;
      const int room = kMaxLineLength - Length(line);
      const int count = static_cast<int>(std::min<int64_t>(d, room));
      if (count > 0) InsertAt(line, k, count, ' ', 1.0f, TRect{0, 0, 0, 0});
    }
    for (int k = 0; k < Length(line); ++k) {
      if (line.Text.Chars[k] == ' ') {
        line.Rects[k] = TRect{0, 0, 0, 0};
        line.Confidences[k] = 1.0f;
      }
    }
  }
}

void FinishLines(const TRect& image_rect, TResultStore& store, bool single_line) {
  // Stable bubble sort by Top: only a strictly greater Top moves down.
  for (bool swapped = true; swapped;) {
    swapped = false;
    for (int l = 0; l + 1 < store.LineCount; ++l) {
      if (store.Lines[l].Bounds.Top > store.Lines[l + 1].Bounds.Top) {
        std::swap(store.Lines[l], store.Lines[l + 1]);
        swapped = true;
      }
    }
  }

  if (single_line) {
    const int64_t mid_y = (int64_t{image_rect.Bottom} - image_rect.Top) / 2;
    int best = 0;
    int64_t best_distance = INT64_MAX;
    for (int l = 0; l < store.LineCount; ++l) {
      const TRect& b = store.Lines[l].Bounds;
      const int64_t distance = std::llabs(Mid(b.Top, b.Bottom) - mid_y);
      if (distance < best_distance) {
        best_distance = distance;
        best = l;
      }
    }
    const TRect& b0 = store.Lines[0].Bounds;
    const TRect& b1 = store.Lines[1].Bounds;
    if (store.LineCount == 2 && (b0.Right < b1.Left || b1.Right < b0.Left)) {
      const int left = b1.Left < b0.Left ? 1 : 0;
      TResultLine& into = store.Lines[left];
      const TResultLine& from = store.Lines[1 - left];
      for (int k = 0; k < Length(from) && Length(into) < kMaxLineLength; ++k)
        InsertAt(into, Length(into), 1, from.Text.Chars[k], from.Confidences[k], from.Rects[k]);
      if (left == 1) store.Lines[0] = store.Lines[1];
    } else if (store.LineCount == 0) {
      store.Lines[0] = TResultLine{};
      store.Touched = std::max(store.Touched, 1);
    } else if (best != 0) {
      store.Lines[0] = store.Lines[best];
    }
    store.LineCount = 1;
  }

  for (int l = 0; l < store.LineCount; ++l) RemoveOverlaps(store.Lines[l]);
}

std::string SpaceString(int32_t n) {
  return n <= 0 ? std::string() : std::string(n, ' ');
}

}  // namespace ocrb
