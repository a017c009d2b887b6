#include "fit/least_squares.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "fit/nist_harder_data.h"
#include "workspace/error.h"

namespace varnix {
namespace {

// --- the NIST StRD reference problems ------------------------------------------

struct NistProblem {
  std::vector<double> start1, start2, certified, certifiedError;
  double certifiedRss = 0;
  std::vector<Point> points;
};

std::vector<double> numbersOf(const std::string& line) {
  std::vector<double> out;
  const char* p = line.data();
  const char* end = p + line.size();
  while (p < end) {
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\r')) ++p;
    if (p == end) break;
    double v = 0;
    auto r = std::from_chars(p, end, v);
    if (r.ec != std::errc()) break;
    out.push_back(v);
    p = r.ptr;
  }
  return out;
}

/// Reads a problem file of the NIST collection: starting and certified
/// values from the "bN = ..." lines, data from the "Data: y x" block.
NistProblem readNist(const std::string& file) {
  std::ifstream in(std::string(VARNIX_SOURCE_DIR) + "/tests/fit/nist/" + file);
  EXPECT_TRUE(in) << file;
  NistProblem p;
  std::string line;
  bool data = false;
  while (std::getline(in, line)) {
    const auto first = line.find_first_not_of(' ');
    if (first == std::string::npos) continue;
    if (data) {
      const std::vector<double> v = numbersOf(line);
      if (v.size() == 2) p.points.push_back({v[1], v[0]});
      continue;
    }
    if (line.compare(first, 5, "Data:") == 0 && line.find(" y ") != std::string::npos &&
        line.find("Variable") == std::string::npos && line.find("Response") == std::string::npos) {
      data = true;
    } else if (line[first] == 'b' && line.find(" = ") != std::string::npos) {
      const std::vector<double> v = numbersOf(line.substr(line.find('=') + 1));
      EXPECT_EQ(v.size(), 4u) << line;
      p.start1.push_back(v[0]);
      p.start2.push_back(v[1]);
      p.certified.push_back(v[2]);
      p.certifiedError.push_back(v[3]);
    } else if (line.find("Residual Sum of Squares:") != std::string::npos) {
      p.certifiedRss = numbersOf(line.substr(line.find(':') + 1)).at(0);
    }
  }
  std::sort(p.points.begin(), p.points.end(),
            [](const Point& a, const Point& b) { return a.x < b.x; });
  return p;
}

/// The log relative error: the number of agreeing significant digits.
double lre(double value, double certified) {
  if (value == certified) return 15;
  return -std::log10(std::fabs(value - certified) / std::fabs(certified));
}

/// Starts for the parameters b1, b2, ... (wherever they first appear).
FitSettings startAt(const FitModel& model, const std::vector<double>& start) {
  FitSettings s;
  for (const std::string& name : model.parameters())
    s.parameters.push_back({start.at(std::stoul(name.substr(1)) - 1)});
  return s;
}

/// The fitted value of parameter bk+1.
double valueOf(const FitModel& model, const FitResult& r, std::size_t k) {
  return r.values[*model.parameterIndex("b" + std::to_string(k + 1))];
}

struct NistCase {
  const char* file;
  const char* formula;
};

const std::vector<NistCase> kLowerDifficulty = {
    {"Misra1a.dat", "b1*(1-exp(-b2*x))"},
    {"Chwirut2.dat", "exp(-b1*x)/(b2+b3*x)"},
    {"Chwirut1.dat", "exp(-b1*x)/(b2+b3*x)"},
    {"Lanczos3.dat", "b1*exp(-b2*x) + b3*exp(-b4*x) + b5*exp(-b6*x)"},
    {"Gauss1.dat", "b1*exp(-b2*x) + b3*exp(-(x-b4)^2/b5^2) + b6*exp(-(x-b7)^2/b8^2)"},
    {"Gauss2.dat", "b1*exp(-b2*x) + b3*exp(-(x-b4)^2/b5^2) + b6*exp(-(x-b7)^2/b8^2)"},
    {"DanWood.dat", "b1*x^b2"},
    {"Misra1b.dat", "b1 * (1-(1+b2*x/2)^(-2))"},
};

TEST(LeastSquares, ReferenceProblemsFromBothStarts) {
  for (const NistCase& c : kLowerDifficulty) {
    const NistProblem p = readNist(c.file);
    ASSERT_FALSE(p.points.empty()) << c.file;
    const FitModel model(c.formula);
    ASSERT_EQ(model.parameters().size(), p.certified.size()) << c.file;
    for (int start = 1; start <= 2; ++start) {
      SCOPED_TRACE(std::string(c.file) + " from start " + std::to_string(start));
      const FitResult r =
          fitPoints(model, startAt(model, start == 1 ? p.start1 : p.start2), p.points);
      ASSERT_TRUE(r.converged) << r.failure;
      EXPECT_EQ(r.dof, p.points.size() - p.certified.size());
      EXPECT_GE(lre(r.chi2, p.certifiedRss), 6) << r.chi2;
      for (std::size_t k = 0; k < p.certified.size(); ++k) {
        const std::size_t i = *model.parameterIndex("b" + std::to_string(k + 1));
        EXPECT_GE(lre(r.values[i], p.certified[k]), 6) << "b" << k + 1 << "=" << r.values[i];
        EXPECT_GE(lre(r.errors[i], p.certifiedError[k]), 4)
            << "b" << k + 1 << ".err=" << r.errors[i];
      }
    }
  }
}

TEST(LeastSquares, HarderReferenceProblemsFromBothStarts) {
  for (const test::HarderProblem& h : test::harderProblems()) {
    std::vector<Point> points;
    for (std::size_t i = 0; i < h.x.size(); ++i) points.push_back({h.x[i], h.y[i]});
    std::sort(points.begin(), points.end(),
              [](const Point& a, const Point& b) { return a.x < b.x; });
    const FitModel model(h.formula);
    for (int start = 1; start <= 2; ++start) {
      SCOPED_TRACE(std::string(h.name) + " from start " + std::to_string(start));
      const FitResult r =
          fitPoints(model, startAt(model, start == 1 ? h.start1 : h.start2), points);
      ASSERT_TRUE(r.converged) << r.failure;
      EXPECT_GE(lre(r.chi2, h.certifiedRss), 6) << r.chi2;
      for (std::size_t k = 0; k < h.certified.size(); ++k)
        EXPECT_GE(lre(valueOf(model, r, k), h.certified[k]), 6) << "b" << k + 1;
    }
  }
}

}  // namespace
}  // namespace varnix
