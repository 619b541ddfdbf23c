// docs/reference.md and the type library of the built DLL describe one surface: every dispatch
// interface of the library has a section "## `Name`" whose table lists exactly its members, with
// their DISPIDs, kinds and declarations; a property's access agrees with what the control enforces.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "control/surface.h"
#include "support/typelib.h"

namespace {

struct Row {
  std::string dispid, member, kind, declared, access;
  int line = 0;
  bool operator==(const Row& o) const {
    return dispid == o.dispid && member == o.member && kind == o.kind && declared == o.declared &&
           access == o.access;
  }
};
struct Section {
  std::map<std::string, Row> rows;
  std::vector<std::pair<std::string, int>> headingNames;  // code spans of ### headings, with lines
  int line = 0;
};

std::string Narrow(const std::wstring& text) { return {text.begin(), text.end()}; }

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string WithoutBackticks(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != '`') out += c;
  return Trim(out);
}

std::vector<std::string> CodeSpans(const std::string& text) {
  std::vector<std::string> spans;
  for (size_t open = text.find('`'); open != std::string::npos; open = text.find('`', open + 1)) {
    const size_t close = text.find('`', open + 1);
    if (close == std::string::npos) break;
    spans.push_back(text.substr(open + 1, close - open - 1));
    open = close;
  }
  return spans;
}

bool IsDispid(const std::string& cell) {
  size_t i = cell.size() > 1 && cell[0] == '-' ? 1 : 0;
  if (i == cell.size()) return false;
  for (; i < cell.size(); ++i)
    if (cell[i] < '0' || cell[i] > '9') return false;
  return true;
}

std::map<std::string, Section> ParseReference(const std::string& text) {
  std::map<std::string, Section> sections;
  Section* current = nullptr;
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("## ", 0) == 0) {
      const auto spans = CodeSpans(line);
      current = line.rfind("## `", 0) == 0 && !spans.empty() ? &sections[spans[0]] : nullptr;
      if (current) current->line = number;
    } else if (current && line.rfind("### ", 0) == 0) {
      for (const auto& span : CodeSpans(line)) current->headingNames.push_back({span, number});
    } else if (current && line.rfind("|", 0) == 0) {
      std::vector<std::string> cells;
      std::stringstream cellStream(line.substr(1));
      for (std::string cell; std::getline(cellStream, cell, '|');) cells.push_back(Trim(cell));
      if (cells.size() < 5 || !IsDispid(cells[0])) continue;
      Row row{cells[0], WithoutBackticks(cells[1]), cells[2], WithoutBackticks(cells[3]),
              cells[4], number};
      EXPECT_TRUE(current->rows.emplace(row.member, row).second)
          << "line " << number << ": " << row.member << " listed twice";
    }
  }
  return sections;
}

// What the dispatcher refuses to set, whether or not the library marks it read-only: the list's
// access, which the drift test holds the tables to.
bool RefusesPut(const std::wstring& member) {
  for (const udp::SurfaceMember* m : udp::kSurface)
    if (member == m->name) return m->access == fw::DispAccess::ReadOnly;
  return false;
}

std::map<std::string, Row> ExpectedRows(const host::LibInterface& itf) {
  std::map<std::string, Row> rows;
  for (const auto& m : itf.members) {
    Row row{std::to_string(m.id), Narrow(m.name),
            m.property ? "property" : itf.source ? "event" : "method",
            Narrow(host::Declaration(m)), ""};
    if (m.property) row.access = m.readOnly || RefusesPut(m.name) ? "read-only" : "read/write";
    rows[row.member] = row;
  }
  return rows;
}

std::string AsTableRow(const Row& r) {
  return "| " + r.dispid + " | `" + r.member + "` | " + r.kind + " | `" + r.declared + "` |" +
         (r.access.empty() ? "" : " " + r.access) + " |";
}

class Reference : public testing::Test {
 protected:
  void SetUp() override {
    const std::string text = host::ReadFileBytes(host::SourcePath(L"docs/reference.md"));
    ASSERT_FALSE(text.empty()) << "cannot read docs/reference.md";
    sections_ = ParseReference(text);
    auto lib = host::LoadOcxTypeLib();
    ASSERT_TRUE(lib) << "UDP_OCX must name the built DLL";
    model_ = host::ModelOf(lib.get());
    ASSERT_FALSE(model_.interfaces.empty());
  }
  std::map<std::string, Section> sections_;
  host::LibModel model_;
};

TEST_F(Reference, EveryInterfaceHasATableOfExactlyItsMembers) {
  for (const auto& itf : model_.interfaces) {
    const std::string name = Narrow(itf.name);
    const auto section = sections_.find(name);
    if (section == sections_.end()) {
      ADD_FAILURE() << "docs/reference.md has no section \"## `" << name << "`\"";
      continue;
    }
    const auto expected = ExpectedRows(itf);
    for (const auto& [member, row] : expected) {
      const auto found = section->second.rows.find(member);
      if (found == section->second.rows.end())
        ADD_FAILURE() << name << ": " << member << " is missing; its row is\n" << AsTableRow(row);
      else
        EXPECT_TRUE(found->second == row) << name << ", line " << found->second.line << " reads\n"
                                      << AsTableRow(found->second) << "\nthe library says\n"
                                      << AsTableRow(row);
    }
    for (const auto& [member, row] : section->second.rows)
      EXPECT_TRUE(expected.count(member))
          << name << ", line " << row.line << ": " << member << " is no member of " << name;
  }
}

TEST_F(Reference, DocumentsNoInterfaceTheLibraryLacks) {
  for (const auto& [name, section] : sections_)
    EXPECT_NE(model_.Interface(std::wstring(name.begin(), name.end())), nullptr)
        << "line " << section.line << ": " << name << " is no interface of the type library";
}

TEST_F(Reference, DetailHeadingsNameMembersOfTheirInterface) {
  for (const auto& [name, section] : sections_) {
    const auto* itf = model_.Interface(std::wstring(name.begin(), name.end()));
    if (!itf) continue;  // reported above
    for (const auto& [member, line] : section.headingNames)
      EXPECT_NE(itf->Find(std::wstring(member.begin(), member.end())), nullptr)
          << "line " << line << ": " << member << " is no member of " << name;
  }
}

}  // namespace
