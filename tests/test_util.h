#pragma once

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "workspace/graph_store.h"
#include "workspace/selection.h"

namespace varnix::test {

/// A fresh temporary folder, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    static std::mt19937_64 rng{std::random_device{}()};
    m_path = std::filesystem::temp_directory_path() / ("varnix-test-" + std::to_string(rng()));
    std::filesystem::create_directories(m_path);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  std::string file(const std::string& name) const { return (m_path / name).string(); }
  std::string path() const { return m_path.string(); }

 private:
  std::filesystem::path m_path;
};

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

/// Appends a graph with these points (added one by one, as a file read does).
inline Graph& addGraph(GraphStore& store, const std::string& name,
                       std::initializer_list<Point> points) {
  Graph& g = store.append(name, "/data/" + name);
  for (const Point& p : points) g.series.addPoint(p.x, p.y);
  return g;
}

inline Graph& addGraph(GraphStore& store, const std::string& name,
                       const std::vector<Point>& points) {
  Graph& g = store.append(name, "/data/" + name);
  for (const Point& p : points) g.series.addPoint(p.x, p.y);
  return g;
}

inline std::vector<double> ys(const Series& s) {
  std::vector<double> out;
  for (const Point& p : s.points()) out.push_back(p.y);
  return out;
}

inline std::vector<double> xs(const Series& s) {
  std::vector<double> out;
  for (const Point& p : s.points()) out.push_back(p.x);
  return out;
}

inline Selection select(std::initializer_list<std::size_t> rows, std::size_t current = 0) {
  Selection s;
  s.rows = rows;
  s.current = current;
  return s;
}

}  // namespace varnix::test

#include "workspace/error.h"

namespace varnix::test {

/// The message of the varnix::Error that f throws, or "" when it throws none.
template <typename F>
std::string errorOf(F&& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.what();
  }
  return {};
}

}  // namespace varnix::test
