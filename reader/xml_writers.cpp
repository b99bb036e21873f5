// hOCR and ALTO. A line's characters are grouped into words at its spaces, since both formats
// hang character figures on words; the boxes of words and lines are the unions of their
// characters' boxes. Everything a file or the engine gives as text passes through XmlEscape,
// so that a file name of any bytes still makes a well-formed document.
#include "reader/xml_writers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "reader/reader.h"

namespace ocrb::reader {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8
constexpr char kAltoNamespace[] = "http://www.loc.gov/standards/alto/ns-v4#";
constexpr char kAltoSchema[] = "http://www.loc.gov/standards/alto/v4/alto-4-2.xsd";
// ALTO's character confidence: one digit, 0 for sure to 9 for unsure.
constexpr int kAltoUnsure = 9;

// An inclusive box growing to hold others.
struct Extent {
  int Left = 0, Top = 0, Right = -1, Bottom = -1;
  bool Empty() const { return Right < Left; }
  void Add(const TRect& r) {
    if (Empty()) {
      *this = Extent{r.Left, r.Top, r.Right, r.Bottom};
      return;
    }
    Left = std::min(Left, static_cast<int>(r.Left));
    Top = std::min(Top, static_cast<int>(r.Top));
    Right = std::max(Right, static_cast<int>(r.Right));
    Bottom = std::max(Bottom, static_cast<int>(r.Bottom));
  }
};

// A run of characters between spaces: Text[First..Last).
struct Word {
  size_t First = 0, Last = 0;
  Extent Box;
  double MeanConfidence = 0;
};

// The words of a line, in order; characters without a box or a confidence end the line.
std::vector<Word> WordsOf(const TextLine& line) {
  const size_t n = std::min({line.Text.size(), line.Boxes.size(), line.Confidences.size()});
  std::vector<Word> words;
  for (size_t k = 0; k < n;) {
    if (line.Text[k] == ' ') {
      ++k;
      continue;
    }
    Word word;
    word.First = k;
    double sum = 0;
    for (; k < n && line.Text[k] != ' '; ++k) {
      word.Box.Add(line.Boxes[k]);
      sum += line.Confidences[k];
    }
    word.Last = k;
    word.MeanConfidence = sum / static_cast<double>(word.Last - word.First);
    words.push_back(word);
  }
  return words;
}

bool Shown(const TextLine& line, const TextOptions& options) {
  return options.AllLines || !line.Junk;
}

std::string Figure(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// hOCR's "bbox x0 y0 x1 y1", one past the last pixel.
std::string HocrBox(const Extent& e) {
  return std::to_string(e.Left) + ' ' + std::to_string(e.Top) + ' ' + std::to_string(e.Right + 1) +
         ' ' + std::to_string(e.Bottom + 1);
}

// A quoted string inside an hOCR title: backslash and quote escaped by a backslash.
std::string HocrQuoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + '"';
}

// ALTO's position attributes of an inclusive box.
std::string AltoBox(const Extent& e) {
  return " HPOS=\"" + std::to_string(e.Left) + "\" VPOS=\"" + std::to_string(e.Top) +
         "\" WIDTH=\"" + std::to_string(e.Right - e.Left + 1) + "\" HEIGHT=\"" +
         std::to_string(e.Bottom - e.Top + 1) + '"';
}

std::string Confidence01(double value) {
  return Figure("%.3f", std::clamp(value, 0.0, 1.0));
}

// The length of the UTF-8 sequence at Text[At] and its code point; 0 when it is no sequence.
size_t DecodeUtf8(const std::string& text, size_t at, uint32_t* code) {
  const auto byte = [&text](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length = 0;
  uint32_t value = 0, least = 0;
  if (lead < 0x80) {
    *code = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    value = value << 6 | (byte(at + i) & 0x3F);
  }
  // Overlong forms, surrogates and code points beyond Unicode are no characters.
  if (value < least || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) return 0;
  *code = value;
  return length;
}

// Whether XML 1.0 allows the character.
bool XmlChar(uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

std::string HocrPage(const PageResult& page, size_t file, size_t p, const std::string& name,
                     const TextOptions& options) {
  const std::string id = std::to_string(file + 1) + '_' + std::to_string(p + 1);
  std::string title = "image " + HocrQuoted(name) + "; bbox 0 0 " + std::to_string(page.Width) +
                      ' ' + std::to_string(page.Height) + "; ppageno " + std::to_string(p);
  if (page.XDpi > 0 && page.YDpi > 0) {
    title += "; scan_res " + std::to_string(page.XDpi) + ' ' + std::to_string(page.YDpi);
  }
  std::string out =
      "  <div class=\"ocr_page\" id=\"page_" + id + "\" title=\"" + XmlEscape(title) + "\">\n";
  size_t l = 0;
  for (const TextLine& line : page.Lines) {
    const std::vector<Word> words = WordsOf(line);
    if (!Shown(line, options) || words.empty()) continue;
    Extent box;
    for (const Word& w : words) {
      box.Add(TRect{w.Box.Left, w.Box.Top, w.Box.Right, w.Box.Bottom});
    }
    const std::string line_id = id + '_' + std::to_string(++l);
    out += "   <span class=\"ocr_line\" id=\"line_" + line_id + "\" title=\"bbox " + HocrBox(box) +
           "\">";
    for (size_t w = 0; w < words.size(); ++w) {
      const Word& word = words[w];
      std::string boxes, confidences;
      for (size_t k = word.First; k < word.Last; ++k) {
        const TRect& r = line.Boxes[k];
        boxes += (k > word.First ? " " : "") + HocrBox(Extent{r.Left, r.Top, r.Right, r.Bottom});
        confidences += (k > word.First ? " " : "") +
                       Figure("%.1f", 100.0 * std::clamp(line.Confidences[k], 0.0f, 1.0f));
      }
      out += "\n    <span class=\"ocrx_word\" id=\"word_" + line_id + '_' + std::to_string(w + 1) +
             "\" title=\"bbox " + HocrBox(word.Box) + "; x_wconf " +
             std::to_string(std::lround(100 * std::clamp(word.MeanConfidence, 0.0, 1.0))) +
             "; x_bboxes " + boxes + "; x_confs " + confidences + "\">" +
             XmlEscape(line.Text.substr(word.First, word.Last - word.First)) + "</span>";
    }
    out += "\n   </span>\n";
  }
  return out + "  </div>\n";
}

std::string AltoPage(const PageResult& page, size_t file, size_t p, const TextOptions& options) {
  const std::string id = std::to_string(file + 1) + '_' + std::to_string(p + 1);
  const std::string size =
      "WIDTH=\"" + std::to_string(page.Width) + "\" HEIGHT=\"" + std::to_string(page.Height) + '"';
  std::string out = "    <Page ID=\"page_" + id + "\" PHYSICAL_IMG_NR=\"" + std::to_string(p + 1) +
                    "\" " + size + ">\n      <PrintSpace HPOS=\"0\" " + "VPOS=\"0\" " + size +
                    ">\n";
  std::string lines;
  Extent block;
  size_t l = 0;
  for (const TextLine& line : page.Lines) {
    const std::vector<Word> words = WordsOf(line);
    if (!Shown(line, options) || words.empty()) continue;
    Extent box;
    for (const Word& w : words) box.Add(TRect{w.Box.Left, w.Box.Top, w.Box.Right, w.Box.Bottom});
    block.Add(TRect{box.Left, box.Top, box.Right, box.Bottom});
    const std::string line_id = id + '_' + std::to_string(++l);
    lines += "          <TextLine ID=\"line_" + line_id + '"' + AltoBox(box) + ">\n";
    for (size_t w = 0; w < words.size(); ++w) {
      const Word& word = words[w];
      if (w > 0) {
        // The gap between the two words' boxes.
        const Extent& before = words[w - 1].Box;
        const int left = before.Right + 1, width = std::max(1, word.Box.Left - left);
        lines += "            <SP HPOS=\"" + std::to_string(left) + "\" VPOS=\"" +
                 std::to_string(box.Top) + "\" WIDTH=\"" + std::to_string(width) + "\"/>\n";
      }
      std::string cc;
      std::string glyphs;
      for (size_t k = word.First; k < word.Last; ++k) {
        const double confidence = std::clamp(static_cast<double>(line.Confidences[k]), 0.0, 1.0);
        cc += (k > word.First ? " " : "") +
              std::to_string(std::lround(kAltoUnsure * (1 - confidence)));
        const TRect& r = line.Boxes[k];
        glyphs += "              <Glyph ID=\"glyph_" + line_id + '_' + std::to_string(k + 1) +
                  "\" CONTENT=\"" + XmlEscape(std::string(1, line.Text[k])) + '"' +
                  AltoBox(Extent{r.Left, r.Top, r.Right, r.Bottom}) + " GC=\"" +
                  Confidence01(confidence) + "\"/>\n";
      }
      lines += "            <String ID=\"string_" + line_id + '_' + std::to_string(w + 1) + '"' +
               AltoBox(word.Box) + " CONTENT=\"" +
               XmlEscape(line.Text.substr(word.First, word.Last - word.First)) + "\" WC=\"" +
               Confidence01(word.MeanConfidence) + "\" CC=\"" + cc + "\">\n" + glyphs +
               "            </String>\n";
    }
    lines += "          </TextLine>\n";
  }
  if (!block.Empty()) {
    out += "        <TextBlock ID=\"block_" + id + "\" TAGREFS=\"file_" + std::to_string(file + 1) +
           '"' + AltoBox(block) + ">\n" + lines + "        </TextBlock>\n";
  }
  return out + "      </PrintSpace>\n    </Page>\n";
}

}  // namespace

std::string XmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    uint32_t code = 0;
    const size_t length = DecodeUtf8(text, i, &code);
    if (length == 0 || !XmlChar(code)) {
      out += kReplacement;
      i += std::max<size_t>(length, 1);
      continue;
    }
    switch (code) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out.append(text, i, length);
    }
    i += length;
  }
  return out;
}

std::string HocrPrologue() {
  return std::string(
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
             "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\"\n"
             "    \"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\n"
             "<html xmlns=\"http://www.w3.org/1999/xhtml\" xml:lang=\"en\" lang=\"en\">\n"
             " <head>\n"
             "  <title></title>\n"
             "  <meta http-equiv=\"Content-Type\" content=\"text/html;charset=utf-8\"/>\n"
             "  <meta name=\"ocr-system\" content=\"ocrb ") +
         XmlEscape(Version()) +
         "\"/>\n"
         "  <meta name=\"ocr-capabilities\" content=\"ocr_page ocr_line ocrx_word\"/>\n"
         " </head>\n"
         " <body>\n";
}

std::string HocrEpilogue() {
  return " </body>\n</html>\n";
}

std::string AltoPrologue(const std::vector<std::string>& names) {
  std::string out = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<alto xmlns=\"") +
                    kAltoNamespace +
                    "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"\n"
                    "      xsi:schemaLocation=\"" +
                    kAltoNamespace + ' ' + kAltoSchema +
                    "\">\n"
                    "  <Description>\n"
                    "    <MeasurementUnit>pixel</MeasurementUnit>\n";
  // One input names the source image; several are named by the tags below.
  if (names.size() == 1) {
    out += "    <sourceImageInformation>\n      <fileName>" + XmlEscape(names[0]) +
           "</fileName>\n    </sourceImageInformation>\n";
  }
  out += std::string(
             "    <Processing ID=\"ocr_1\">\n"
             "      <processingSoftware>\n"
             "        <softwareName>ocrb</softwareName>\n"
             "        <softwareVersion>") +
         XmlEscape(Version()) +
         "</softwareVersion>\n"
         "      </processingSoftware>\n"
         "    </Processing>\n"
         "  </Description>\n";
  // Each input's pages have IDs page_F_P, and their text blocks refer to tag file_F.
  if (!names.empty()) {
    out += "  <Tags>\n";
    for (size_t i = 0; i < names.size(); ++i) {
      out += "    <OtherTag ID=\"file_" + std::to_string(i + 1) +
             "\" TYPE=\"source image\" LABEL=\"" + XmlEscape(names[i]) + "\"/>\n";
    }
    out += "  </Tags>\n";
  }
  return out + "  <Layout>\n";
}

std::string AltoEpilogue() {
  return "  </Layout>\n</alto>\n";
}

std::string HocrFile(const FileResult& file, size_t index, const TextOptions& options) {
  std::string out;
  for (size_t p = 0; p < file.Pages.size(); ++p) {
    if (!file.Pages[p].Failed()) out += HocrPage(file.Pages[p], index, p, file.Name, options);
  }
  return out;
}

std::string AltoFile(const FileResult& file, size_t index, const TextOptions& options) {
  std::string out;
  for (size_t p = 0; p < file.Pages.size(); ++p) {
    if (!file.Pages[p].Failed()) out += AltoPage(file.Pages[p], index, p, options);
  }
  return out;
}

}  // namespace ocrb::reader
