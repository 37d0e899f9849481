#include "host/diagnose_report.h"

#include <algorithm>

namespace tarvona::host::diagnose {
namespace {

using json = nlohmann::ordered_json;

// Each status's name in JSON, and its label in the text's first column
// (problems stand out).
struct StatusWords {
  std::string_view name;
  std::string_view label;
};
StatusWords WordsOf(Status status) {
  switch (status) {
    case Status::kOk:
      return {"ok", "  ok       "};
    case Status::kNote:
      return {"note", "  note     "};
    case Status::kProblem:
      return {"problem", "  PROBLEM  "};
  }
  return {};
}
std::string_view StatusName(Status status) { return WordsOf(status).name; }
std::string_view StatusLabel(Status status) { return WordsOf(status).label; }

}  // namespace

Finding& Section::Add(Finding finding) { return findings_.emplace_back(std::move(finding)); }

Finding& Section::Ok(std::string check, std::string subject, std::string text) {
  return Add(
      {std::move(check), std::move(subject), Status::kOk, std::move(text), {}, json::object()});
}

Finding& Section::Note(std::string check, std::string subject, std::string text, std::string fix) {
  return Add({std::move(check), std::move(subject), Status::kNote, std::move(text), std::move(fix),
              json::object()});
}

Finding& Section::Problem(std::string check, std::string subject, std::string text,
                          std::string fix) {
  return Add({std::move(check), std::move(subject), Status::kProblem, std::move(text),
              std::move(fix), json::object()});
}

Section& Report::In(std::string_view title) {
  auto found = std::find_if(sections_.begin(), sections_.end(),
                            [&](const Section& section) { return section.title() == title; });
  return found != sections_.end() ? *found : sections_.emplace_back(std::string(title));
}

void Report::Fact(std::string name, nlohmann::ordered_json value) {
  facts_[std::move(name)] = std::move(value);
}

size_t Report::Count(Status status) const {
  size_t count = 0;
  for (const Section& section : sections_) {
    count += static_cast<size_t>(
        std::count_if(section.findings().begin(), section.findings().end(),
                      [&](const Finding& finding) { return finding.status == status; }));
  }
  return count;
}

std::string Report::Text() const {
  std::string out = heading_ + "\n";
  for (const Section& section : sections_) {
    out += "\n" + section.title() + "\n";
    for (const Finding& finding : section.findings()) {
      out += std::string(StatusLabel(finding.status));
      out += finding.subject.empty() ? finding.text : finding.subject + ": " + finding.text;
      out += "\n";
      if (!finding.fix.empty()) out += "           fix: " + finding.fix + "\n";
    }
  }
  const size_t problems = Count(Status::kProblem);
  const size_t notes = Count(Status::kNote);
  out += "\n";
  out += problems == 0 ? "No problems found" : Counted(problems, "problem") + " found";
  out += notes == 0 ? std::string(".") : ", " + Counted(notes, "note") + ".";
  out += problems == 0 ? "\n" : " Each problem says how to fix it.\n";
  return out;
}

nlohmann::ordered_json Report::Json() const {
  json out = facts_;
  out["problems"] = Count(Status::kProblem);
  out["notes"] = Count(Status::kNote);
  json sections = json::array();
  for (const Section& section : sections_) {
    json findings = json::array();
    for (const Finding& finding : section.findings()) {
      json item = {{"check", finding.check},
                   {"subject", finding.subject},
                   {"status", StatusName(finding.status)},
                   {"text", finding.text}};
      if (!finding.fix.empty()) item["fix"] = finding.fix;
      if (!finding.facts.empty()) item["facts"] = finding.facts;
      findings.push_back(std::move(item));
    }
    sections.push_back({{"title", section.title()}, {"findings", std::move(findings)}});
  }
  out["sections"] = std::move(sections);
  return out;
}

std::string PathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return {reinterpret_cast<const char*>(text.data()), text.size()};
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::string Counted(size_t count, std::string_view one) {
  return std::to_string(count) + " " + std::string(one) + (count == 1 ? "" : "s");
}

std::string Joined(const std::vector<std::string>& items, std::string_view separator) {
  std::string out;
  for (const std::string& item : items) {
    if (!out.empty()) out += separator;
    out += item;
  }
  return out;
}

}  // namespace tarvona::host::diagnose
