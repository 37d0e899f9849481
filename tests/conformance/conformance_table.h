#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// The conformance vectors (vectors.js) as the C++ runners read them: the
// table, the values a runner provides, the checks of a step's result and
// OpenSSL's judgement of what a step produced. The JScript runner under
// Wine applies the same checks but the judgement, which it leaves to
// `conformance_tool judge` here.
namespace tarvona::conformance {

using json = nlohmann::json;

// The table: the object after "TARVONA_VECTORS =" in the file.
json LoadTable(const std::string& path);

enum class PathStyle { kUnix, kWindows };

// The values named "$pem:KEY" ... that the runner provides, for every key of
// the fixture; paths in the given form (Windows: Wine's Z: drive).
std::map<std::string, json> FixtureValues(const json& table, const std::string& test_data_dir,
                                          PathStyle style);

// The values of one group's run: what the runner provides and what steps
// saved.
class Variables {
 public:
  explicit Variables(std::map<std::string, json> fixture) : values_(std::move(fixture)) {}
  // Resolves "$name", {"text": X} and {"concat": [...]}; throws
  // std::runtime_error for an unknown name.
  json Evaluate(const json& expression) const;
  void Save(const std::string& name, const json& value) { values_[name] = value; }

 private:
  std::map<std::string, json> values_;
};

// What a step's call gave: its result, or the name of the automation error.
struct Outcome {
  json result;
  std::string error;
};

// The step's own checks (all but "judge"): empty when they hold, else what
// failed. Saves the result when the step says so.
std::string CheckStep(const json& step, const Outcome& outcome, Variables& variables);

// OpenSSL's judgement of a step's "judge" on the text it produced: empty
// when it holds, else what failed.
std::string Judge(const json& judge, const std::string& text, const std::string& test_data_dir);

// Every judged step of a group, by its id.
std::vector<std::string> JudgedIds(const json& group);
const json* FindJudgedStep(const json& table, const std::string& id);

}  // namespace tarvona::conformance
