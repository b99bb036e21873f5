#include "writers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "reader/decoder.h"
#include "reader/xml_writers.h"

namespace ocrb::reader {
namespace {

void AppendF(std::string& out, const char* format, int a, int b, int c, int d) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, format, a, b, c, d);
  out += buffer;
}

std::string Confidence(float value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3f", static_cast<double>(value));
  return buffer;
}

// A TSV cell: tab, newline, carriage return and backslash written as escapes.
std::string TsvField(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", u);
      out += buffer;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Text(const FileResult& file, size_t index, size_t count, const TextOptions& options) {
  std::string out;
  // The reason of a failure goes to standard error; the pages read before it stay.
  if (file.Status != kExitOk && file.Pages.empty()) return out;
  if (count > 1) out += (index > 0 ? "\n==> " : "==> ") + file.Name + " <==\n";
  for (size_t p = 0; p < file.Pages.size(); ++p) {
    if (p > 0) out += "\f\n";
    for (const TextLine& line : file.Pages[p].Lines) {
      if (line.Junk && !options.AllLines) continue;
      out += line.Text;
      if (options.Check && line.Check.Known()) out += '\t' + CheckSummary(line.Check);
      out += '\n';
    }
  }
  return out;
}

// "300 dpi", or "200 x 100 dpi" for a resolution that differs across and down.
std::string DpiFigure(int x_dpi, int y_dpi) {
  if (x_dpi == y_dpi) return std::to_string(x_dpi) + " dpi";
  return std::to_string(x_dpi) + " x " + std::to_string(y_dpi) + " dpi";
}

// A page's skew in degrees, to a hundredth.
std::string SkewFigure(double degrees) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", std::fabs(degrees) < 0.005 ? 0.0 : degrees);
  return text;
}

// The line's own cells, repeated on each of its character rows.
std::string TsvLineCells(const TextLine& line) {
  const LineFigures& f = line.Figures;
  return '\t' + Confidence(f.MeanConfidence) + '\t' + Confidence(f.MinConfidence) + '\t' +
         Confidence(f.UnnamedShare) + (line.Junk ? "\t1\t" : "\t0\t") + CheckSummary(line.Check);
}

std::string Tsv(const FileResult& file) {
  std::string out;
  const std::string name = TsvField(file.Name);
  for (size_t p = 0; p < file.Pages.size(); ++p) {
    if (file.Pages[p].Failed()) {
      // One row for the page: line and index 0, the ten cells of a character empty, and the
      // error where a line's check goes.
      out += name;
      AppendF(out, "\t%d\t0\t0", static_cast<int>(p + 1), 0, 0, 0);
      out += std::string(11, '\t') + "error: " + TsvField(file.Pages[p].Error) + "\t\t\n";
      continue;
    }
    const std::vector<TextLine>& lines = file.Pages[p].Lines;
    std::string page_cells = '\t' + SkewFigure(file.Pages[p].SkewDegrees);
    AppendF(page_cells, "\t%d", file.Pages[p].Orientation, 0, 0, 0);
    for (size_t l = 0; l < lines.size(); ++l) {
      const TextLine& line = lines[l];
      const std::string line_cells = TsvLineCells(line) + page_cells;
      for (size_t k = 0; k < line.Text.size(); ++k) {
        out += name;
        AppendF(out, "\t%d\t%d\t%d\t", static_cast<int>(p + 1), static_cast<int>(l + 1),
                static_cast<int>(k + 1), 0);
        out += line.Text[k];
        out += '\t' + Confidence(line.Confidences[k]);
        if (line.Text[k] == ' ') {
          out += "\t\t\t\t";  // a space has no box
        } else {
          const TRect& r = line.Boxes[k];
          AppendF(out, "\t%d\t%d\t%d\t%d", r.Left, r.Top, r.Right, r.Bottom);
        }
        out += line_cells + '\n';
      }
    }
  }
  return out;
}

// The line's figures, junk flag and check as members, each after a comma.
std::string JsonLineFigures(const TextLine& line) {
  const LineFigures& f = line.Figures;
  std::string out = ", \"mean_confidence\": " + Confidence(f.MeanConfidence) +
                    ", \"min_confidence\": " + Confidence(f.MinConfidence) +
                    ", \"unnamed_share\": " + Confidence(f.UnnamedShare) +
                    ", \"off_pitch_share\": " + Confidence(f.OffPitchShare) +
                    ", \"height_spread_share\": " + Confidence(f.HeightSpreadShare) +
                    ", \"junk\": " + (line.Junk ? "true" : "false") + ", \"check\": ";
  if (!line.Check.Known()) return out + "null";
  out += "{\"layout\": " + JsonString(LayoutName(line.Check.Layout)) +
         ", \"ok\": " + (line.Check.Valid() ? "true" : "false") + ", \"bad\": [";
  bool first = true;
  for (CodingField field : {kFieldAmount, kFieldReference, kFieldParticipant}) {
    if ((line.Check.BadFields & field) == 0) continue;
    out += (first ? "" : ", ") + JsonString(FieldName(field));
    first = false;
  }
  return out + "]}";
}

std::string Json(const FileResult& file, size_t index) {
  std::string out = index > 0 ? ",\n  {\"file\": " : "  {\"file\": ";
  out += JsonString(file.Name);
  if (file.Status != kExitOk) {
    // The file's own failure, or else its first failed page's.
    std::string error = file.Error;
    for (const PageResult& page : file.Pages) {
      if (error.empty() && page.Failed()) error = page.Error;
    }
    out += ", \"error\": " + JsonString(error);
    AppendF(out, ", \"status\": %d", file.Status, 0, 0, 0);
  }
  out += ", \"pages\": [";
  for (size_t p = 0; p < file.Pages.size(); ++p) {
    const PageResult& page = file.Pages[p];
    out += p > 0 ? ",\n    " : "\n    ";
    if (page.Failed()) {
      AppendF(out, "{\"page\": %d, \"status\": %d", static_cast<int>(p + 1), page.Status, 0, 0);
      out += ", \"error\": " + JsonString(page.Error) + ", \"lines\": []}";
      continue;
    }
    AppendF(out, "{\"page\": %d, \"width\": %d, \"height\": %d, \"xdpi\": %d",
            static_cast<int>(p + 1), page.Width, page.Height, page.XDpi);
    AppendF(out, ", \"ydpi\": %d", page.YDpi, 0, 0, 0);
    out += std::string(", \"dpi_source\": \"") + DpiSourceName(page.Source) + "\"";
    if (page.StatedXDpi > 0 || page.StatedYDpi > 0) {
      AppendF(out, ", \"stated_dpi\": [%d, %d]", page.StatedXDpi, page.StatedYDpi, 0, 0);
    } else {
      out += ", \"stated_dpi\": null";
    }
    out += ", \"skew_degrees\": " + SkewFigure(page.SkewDegrees);
    AppendF(out, ", \"orientation\": %d, \"lines\": [", page.Orientation, 0, 0, 0);
    for (size_t l = 0; l < page.Lines.size(); ++l) {
      const TextLine& line = page.Lines[l];
      out += l > 0 ? ",\n      {\"text\": " : "\n      {\"text\": ";
      out += JsonString(line.Text) + JsonLineFigures(line) + ", \"chars\": [";
      for (size_t k = 0; k < line.Text.size(); ++k) {
        out += k > 0 ? ", {\"char\": " : "{\"char\": ";
        out += JsonString(std::string(1, line.Text[k]));
        out += ", \"confidence\": " + Confidence(line.Confidences[k]) + ", \"box\": ";
        if (line.Text[k] == ' ') {
          out += "null}";
        } else {
          const TRect& r = line.Boxes[k];
          AppendF(out, "[%d, %d, %d, %d]}", r.Left, r.Top, r.Right, r.Bottom);
        }
      }
      out += "]}";
    }
    out += page.Lines.empty() ? "]}" : "\n    ]}";
  }
  out += file.Pages.empty() ? "]}" : "\n  ]}";
  return out;
}

}  // namespace

std::string FormatPrologue(Format format, const std::vector<std::string>& names) {
  switch (format) {
    case Format::kText:
      return "";
    case Format::kTsv:
      return "file\tpage\tline\tindex\tchar\tconfidence\tleft\ttop\tright\tbottom\tline_mean\t"
             "line_min\tline_unnamed\tline_junk\tline_check\tskew_degrees\torientation\n";
    case Format::kJson:
      return "{\"files\": [\n";
    case Format::kHocr:
      return HocrPrologue();
    case Format::kAlto:
      return AltoPrologue(names);
  }
  return "";
}

std::string FormatEpilogue(Format format) {
  switch (format) {
    case Format::kJson:
      return "\n]}\n";
    case Format::kHocr:
      return HocrEpilogue();
    case Format::kAlto:
      return AltoEpilogue();
    default:
      return "";
  }
}

std::string FormatFile(Format format, const FileResult& file, size_t index, size_t count,
                       const TextOptions& text) {
  switch (format) {
    case Format::kText:
      return Text(file, index, count, text);
    case Format::kTsv:
      return Tsv(file);
    case Format::kJson:
      return Json(file, index);
    case Format::kHocr:
      return HocrFile(file, index, text);
    case Format::kAlto:
      return AltoFile(file, index, text);
  }
  return "";
}

std::string ResolutionNotice(const PageResult& page) {
  const bool stated = std::max(page.StatedXDpi, page.StatedYDpi) > kScreenDpi;
  if (page.Failed() || !stated) return "";
  const bool replaced = page.XDpi != page.StatedXDpi || page.YDpi != page.StatedYDpi;
  if (!replaced || (page.Source != DpiSource::kOption && page.Source != DpiSource::kEstimated)) {
    return "";
  }
  const std::string read_at = DpiFigure(page.XDpi, page.YDpi);
  const std::string instead =
      "not at the " + DpiFigure(page.StatedXDpi, page.StatedYDpi) + " the file states";
  if (page.Source == DpiSource::kOption) return "read at " + read_at + " as given, " + instead;
  return "read at " + read_at + " as its digits measure, " + instead;
}

const char* FormatExtension(Format format) {
  switch (format) {
    case Format::kText:
      return "txt";
    case Format::kTsv:
      return "tsv";
    case Format::kJson:
      return "json";
    case Format::kHocr:
      return "hocr";
    case Format::kAlto:
      return "xml";
  }
  return "txt";
}

}  // namespace ocrb::reader
