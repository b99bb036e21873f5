// _ocrb: the compiled half of the Python package. It wraps one reader Engine per Python
// Engine, releases the GIL while an image is decoded, binarised and read, and refuses a
// second thread that tries to use the same engine while it is busy. Results come back as
// plain tuples; ocrb/__init__.py turns them into dataclasses.
#include <leptonica/allheaders.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "reader/reader.h"

namespace py = pybind11;
using ocrb::reader::Binarisation;
using ocrb::reader::InputError;

namespace {

// None for a line of no known layout, else (layout, bad field names).
py::object CheckToPython(const ocrb::reader::CodingCheck& check) {
  if (!check.Known()) return py::none();
  py::list bad;
  for (auto field : {ocrb::reader::kFieldAmount, ocrb::reader::kFieldReference,
                     ocrb::reader::kFieldParticipant}) {
    if ((check.BadFields & field) != 0) bad.append(ocrb::reader::FieldName(field));
  }
  return py::make_tuple(ocrb::reader::LayoutName(check.Layout), py::tuple(bad));
}

// (char, confidence, box or None) per character; (text, chars, figures, junk, check) per line,
// figures being (mean, min, unnamed share, off-pitch share, height-spread share); (width,
// height, xdpi, ydpi, lines, dpi source, number, error or None, skew, orientation, stated
// (x, y) or None) per page.
py::list PagesToPython(const std::vector<ocrb::reader::PageResult>& pages) {
  py::list out;
  for (const ocrb::reader::PageResult& page : pages) {
    py::list lines;
    for (const ocrb::reader::TextLine& line : page.Lines) {
      py::list chars;
      for (size_t k = 0; k < line.Text.size(); ++k) {
        const TRect& r = line.Boxes[k];
        py::object box = line.Text[k] == ' '
                             ? py::object(py::none())
                             : py::object(py::make_tuple(r.Left, r.Top, r.Right, r.Bottom));
        chars.append(py::make_tuple(std::string(1, line.Text[k]),
                                    static_cast<double>(line.Confidences[k]), box));
      }
      const ocrb::reader::LineFigures& f = line.Figures;
      py::tuple figures = py::make_tuple(
          static_cast<double>(f.MeanConfidence), static_cast<double>(f.MinConfidence),
          static_cast<double>(f.UnnamedShare), static_cast<double>(f.OffPitchShare),
          static_cast<double>(f.HeightSpreadShare));
      lines.append(py::make_tuple(line.Text, chars, figures, line.Junk, CheckToPython(line.Check)));
    }
    out.append(
        py::make_tuple(page.Width, page.Height, page.XDpi, page.YDpi, lines,
                       ocrb::reader::DpiSourceName(page.Source), page.Number,
                       page.Failed() ? py::object(py::str(page.Error)) : py::object(py::none()),
                       page.SkewDegrees, page.Orientation,
                       page.StatedXDpi > 0 || page.StatedYDpi > 0
                           ? py::object(py::make_tuple(page.StatedXDpi, page.StatedYDpi))
                           : py::object(py::none())));
  }
  return out;
}

Binarisation MethodFromName(const std::string& name) {
  Binarisation method = Binarisation::kSauvola;
  if (!ocrb::reader::ParseBinarisation(name, &method)) {
    throw py::value_error("binarise must be 'sauvola', 'normalised-otsu' or 'otsu', not '" + name +
                          "'");
  }
  return method;
}

// The bounds of one read, as Engine.read takes them; 0 keeps ocrb's default.
struct Limits {
  double Timeout = 0;
  double FileTimeout = 0;
  uint64_t MaxMemory = 0;
  uint64_t MaxFileSize = 0;
  int64_t MaxPixels = 0;
  int MaxPages = 0;
  // How pages are stood up and levelled (LoadOptions).
  bool Deskew = true;
  int Orientation = ocrb::reader::kOrientationAuto;
};

ocrb::reader::LoadOptions Options(int dpi, const std::string& binarise, const Limits& limits) {
  ocrb::reader::LoadOptions options;
  options.Dpi = dpi;
  options.Method = MethodFromName(binarise);
  if (limits.Timeout > 0) options.Timeout = limits.Timeout;
  options.FileTimeout = limits.FileTimeout;
  if (limits.MaxMemory > 0) options.MaxMemory = limits.MaxMemory;
  if (limits.MaxFileSize > 0) options.MaxFileSize = limits.MaxFileSize;
  if (limits.MaxPixels > 0) options.MaxPixels = limits.MaxPixels;
  if (limits.MaxPages > 0) options.MaxPages = limits.MaxPages;
  options.Deskew = limits.Deskew;
  options.Orientation = limits.Orientation;
  return options;
}

class PyEngine {
 public:
  explicit PyEngine(const std::vector<int>& values) {
    const auto& table = ocrb::reader::ParameterTable();
    if (values.size() != table.size()) {
      throw py::value_error("the engine takes " + std::to_string(table.size()) + " parameters");
    }
    ocrb::reader::Parameters parameters;
    for (size_t i = 0; i < table.size(); ++i) {
      const ocrb::reader::ParameterInfo& p = table[i];
      if (values[i] < p.Min || values[i] > p.Max) {
        std::string name = p.Name;
        for (char& c : name) c = c == '-' ? '_' : c;
        throw py::value_error(name + " must be within " + std::to_string(p.Min) + ".." +
                              std::to_string(p.Max) + ", not " + std::to_string(values[i]));
      }
      parameters[p.Id] = values[i];
    }
    engine_ = std::make_unique<ocrb::reader::Engine>(parameters);
  }

  py::list ReadBytes(const py::bytes& data, int dpi, bool single_line, bool best_line,
                     const std::string& binarise, const Limits& limits) {
    const ocrb::reader::LoadOptions options = Options(dpi, binarise, limits);
    const std::string_view view = data;  // the bytes object stays alive while we read
    if (view.size() > options.MaxFileSize) {
      throw InputError(ocrb::reader::kExitCorrupt, "the input (" + std::to_string(view.size()) +
                                                       " bytes) exceeds max_file_size (" +
                                                       std::to_string(options.MaxFileSize) +
                                                       " bytes)");
    }
    const std::vector<uint8_t> bytes(view.begin(), view.end());
    return Run([&] { return ocrb::reader::ReadImage(*engine_, bytes, options, single_line); },
               best_line);
  }

  // Reads the file open as Fd (the caller's, left open): its size by fstat, or for a device or
  // pipe no more than the limit allows, and a stream whose first bytes are no image not past
  // them.
  py::list ReadFile(int fd, int dpi, bool single_line, bool best_line, const std::string& binarise,
                    const Limits& limits) {
    const ocrb::reader::LoadOptions options = Options(dpi, binarise, limits);
    return Run(
        [&] {
          const int own = dup(fd);
          if (own < 0) throw InputError(ocrb::reader::kExitEnvironment, std::strerror(errno));
          std::unique_ptr<FILE, int (*)(FILE*)> file(fdopen(own, "rb"), std::fclose);
          if (!file) {
            close(own);
            throw InputError(ocrb::reader::kExitEnvironment, std::strerror(errno));
          }
          const std::vector<uint8_t> bytes = ocrb::reader::ReadInputStream(file.get(), options);
          file.reset();
          return ocrb::reader::ReadImage(*engine_, bytes, options, single_line);
        },
        best_line);
  }

  // Pixels stating X_dpi by Y_dpi (0: nothing), read at Dpi by YDpi when given (0: not).
  py::list ReadPixels(const py::buffer& data, int width, int height, size_t stride, int channels,
                      bool bilevel, int x_dpi, int y_dpi, int dpi, int ydpi, bool single_line,
                      bool best_line, const std::string& binarise, int64_t max_pixels,
                      const Limits& limits) {
    ocrb::reader::LoadOptions options = Options(dpi, binarise, limits);
    options.YDpi = ydpi;
    options.MaxPixels = max_pixels;
    const py::buffer_info info = data.request();
    const size_t needed = height > 0 ? stride * static_cast<size_t>(height - 1) +
                                           static_cast<size_t>(width) * channels
                                     : 0;
    if (info.itemsize != 1 || static_cast<size_t>(info.size) < needed) {
      throw py::value_error("the pixel buffer is smaller than its shape says");
    }
    ocrb::reader::PixelView view;
    view.Data = static_cast<const uint8_t*>(info.ptr);
    view.Width = width;
    view.Height = height;
    view.Stride = stride;
    view.Channels = channels;
    view.Bilevel = bilevel;
    return Run(
        [&] {
          std::vector<ocrb::reader::PageResult> results;
          results.push_back(ocrb::reader::ReadPage(
              *engine_, ocrb::reader::PageFromPixels(view, x_dpi, y_dpi, options), options,
              single_line));
          return results;
        },
        best_line);
  }

 private:
  // Marks the engine busy, reads without the GIL (keeping each page's best line when asked),
  // and converts the result with it.
  template <typename Work>
  py::list Run(Work work, bool best_line) {
    bool idle = false;
    if (!busy_.compare_exchange_strong(idle, true)) {
      throw std::runtime_error(
          "this ocrb.Engine is already reading in another thread; an engine serves one thread "
          "at a time, so create one engine per thread");
    }
    struct Release {
      std::atomic<bool>& flag;
      ~Release() { flag = false; }
    } release{busy_};
    std::vector<ocrb::reader::PageResult> pages;
    {
      py::gil_scoped_release unlocked;
      pages = work();
      if (best_line) {
        for (ocrb::reader::PageResult& page : pages) ocrb::reader::KeepBestLine(page);
      }
    }
    return PagesToPython(pages);
  }

  std::unique_ptr<ocrb::reader::Engine> engine_;
  std::atomic<bool> busy_{false};
};

}  // namespace

PYBIND11_MODULE(_ocrb, m) {
  m.doc() = "Compiled core of the ocrb package; use the ocrb module instead.";
  setMsgSeverity(L_SEVERITY_NONE);  // failures become exceptions, not Leptonica chatter

  // InputError becomes ocrb.ImageError (not an image, damaged, refused by the engine) or
  // ocrb.Error (the engine did not start or answered out of turn), with the engine's status.
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const InputError& e) {
      const char* kind = e.Status() == ocrb::reader::kExitCorrupt ? "ImageError" : "Error";
      py::object type = py::module_::import("ocrb._errors").attr(kind);
      py::object error = type(e.what(), e.EngineStatus());
      PyErr_SetObject(type.ptr(), error.ptr());
    }
  });

  py::list table;
  const ocrb::reader::Parameters defaults;
  for (const ocrb::reader::ParameterInfo& p : ocrb::reader::ParameterTable()) {
    table.append(py::make_tuple(p.Name, p.Flag, p.Min, p.Max, defaults[p.Id], p.Meaning));
  }
  m.attr("PARAMETERS") = table;
  m.attr("VERSION") = ocrb::reader::Version();
  m.def(
      "check_line",
      [](const std::string& text) { return CheckToPython(ocrb::reader::CheckCodingLine(text)); },
      py::arg("text"));

  py::class_<Limits>(m, "Limits")
      .def(py::init<>())
      .def_readwrite("timeout", &Limits::Timeout)
      .def_readwrite("file_timeout", &Limits::FileTimeout)
      .def_readwrite("max_memory", &Limits::MaxMemory)
      .def_readwrite("max_file_size", &Limits::MaxFileSize)
      .def_readwrite("max_pixels", &Limits::MaxPixels)
      .def_readwrite("max_pages", &Limits::MaxPages)
      .def_readwrite("deskew", &Limits::Deskew)
      .def_readwrite("orientation", &Limits::Orientation);
  m.attr("DEFAULT_TIMEOUT") = ocrb::reader::kDefaultTimeout;
  m.attr("DEFAULT_MAX_MEMORY") = ocrb::reader::kDefaultMaxMemory;
  m.attr("DEFAULT_MAX_FILE_SIZE") = ocrb::reader::kDefaultMaxFileSize;
  m.attr("DEFAULT_MAX_PIXELS") = ocrb::reader::kDefaultMaxPixels;
  m.attr("DEFAULT_MAX_PAGES") = ocrb::reader::kDefaultMaxPages;

  py::class_<PyEngine>(m, "Engine")
      .def(py::init<const std::vector<int>&>(), py::arg("values"))
      .def("read_bytes", &PyEngine::ReadBytes, py::arg("data"), py::arg("dpi"),
           py::arg("single_line"), py::arg("best_line"), py::arg("binarise"), py::arg("limits"))
      .def("read_file", &PyEngine::ReadFile, py::arg("fd"), py::arg("dpi"), py::arg("single_line"),
           py::arg("best_line"), py::arg("binarise"), py::arg("limits"))
      .def("read_pixels", &PyEngine::ReadPixels, py::arg("data"), py::arg("width"),
           py::arg("height"), py::arg("stride"), py::arg("channels"), py::arg("bilevel"),
           py::arg("x_dpi"), py::arg("y_dpi"), py::arg("dpi"), py::arg("ydpi"),
           py::arg("single_line"), py::arg("best_line"), py::arg("binarise"), py::arg("max_pixels"),
           py::arg("limits"));
}
