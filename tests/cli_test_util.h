// Running the ocrb program from a test: its exit status, standard output and standard error.
#ifndef OCRB_TESTS_CLI_TEST_UTIL_H_
#define OCRB_TESTS_CLI_TEST_UTIL_H_

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace ocrb::cli_test {

inline std::string Slurp(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The cells of a TSV row; a row ending in a tab has an empty last cell.
inline std::vector<std::string> Split(const std::string& row) {
  std::vector<std::string> cells;
  std::string cell;
  std::istringstream in(row);
  while (std::getline(in, cell, '\t')) cells.push_back(cell);
  if (!row.empty() && row.back() == '\t') cells.push_back("");
  return cells;
}

struct Outcome {
  int Status = -1;
  std::string Out;
  std::string Err;
};

// S quoted for the shell.
inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs Program with Args, standard input from StdinPath and the environment variables of Env
// ("NAME=value ...") added; its output goes through files in Scratch, numbered by run.
inline Outcome Run(const std::string& program, const std::vector<std::string>& args,
                   const std::filesystem::path& scratch, const std::string& stdin_path,
                   const std::string& env = "") {
  static int count = 0;
  const std::filesystem::path out = scratch / ("run" + std::to_string(++count) + ".out");
  const std::filesystem::path err = scratch / ("run" + std::to_string(count) + ".err");
  std::string command = (env.empty() ? "" : "env " + env + " ") + Quote(program);
  for (const std::string& a : args) command += " " + Quote(a);
  command += " <" + Quote(stdin_path) + " >" + Quote(out.string()) + " 2>" + Quote(err.string());
  const int raw = std::system(command.c_str());
  Outcome run;
  run.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  run.Out = Slurp(out);
  run.Err = Slurp(err);
  return run;
}

}  // namespace ocrb::cli_test

#endif  // OCRB_TESTS_CLI_TEST_UTIL_H_
