#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

// The diagnostics report: findings in sections, each saying what was looked
// at and what was found, and, where something needs doing, what. Printed
// as text for people or as one JSON object for programs.
namespace tarvona::host::diagnose {

enum class Status {
  kOk,       // as it should be, or worth knowing
  kNote,     // works, with a limit or a risk the user should know of
  kProblem,  // something on the road is broken
};

struct Finding {
  std::string check;    // what was checked, a fixed name for programs ("manifest", "record", ...)
  std::string subject;  // what it was checked on ("Chromium", "Tarvonav4.dll"); may be empty
  Status status = Status::kOk;
  std::string text;  // what was found
  std::string fix;   // what to do; empty for kOk
  nlohmann::ordered_json facts = nlohmann::ordered_json::object();
};

class Section {
 public:
  explicit Section(std::string title) : title_(std::move(title)) {}
  Finding& Ok(std::string check, std::string subject, std::string text);
  Finding& Note(std::string check, std::string subject, std::string text, std::string fix);
  Finding& Problem(std::string check, std::string subject, std::string text, std::string fix);

  const std::string& title() const { return title_; }
  const std::vector<Finding>& findings() const { return findings_; }

 private:
  Finding& Add(Finding finding);

  std::string title_;
  std::vector<Finding> findings_;
};

class Report {
 public:
  explicit Report(std::string heading) : heading_(std::move(heading)) {}
  // The section of that title, made at the end the first time it is named.
  Section& In(std::string_view title);
  void Fact(std::string name, nlohmann::ordered_json value);

  size_t Count(Status status) const;
  std::string Text() const;
  nlohmann::ordered_json Json() const;

 private:
  std::string heading_;
  nlohmann::ordered_json facts_ = nlohmann::ordered_json::object();
  std::vector<Section> sections_;
};

// A path as UTF-8 text, on either system.
std::string PathText(const std::filesystem::path& path);
// "text" in double quotes, as the report names labels and values.
std::string Quoted(std::string_view text);
// "1 slot", "2 slots".
std::string Counted(size_t count, std::string_view one);
std::string Joined(const std::vector<std::string>& items, std::string_view separator = ", ");

}  // namespace tarvona::host::diagnose
