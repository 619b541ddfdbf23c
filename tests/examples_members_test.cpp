// The Visual Basic examples (.frm, .bas, .cls, .vbp under examples/) cannot run here, so they are
// held to the type library of the built DLL instead: every member they call on one of our objects
// exists, every event handler names an event of the object's source interface with the event's
// parameters, and every reference to the library names its GUID and version.
//
// An object of ours is a control on a form (Begin UDPLib.Udp Udp1), a variable declared as one of
// the library's classes or interfaces (Dim WithEvents s As UDPLib.UdpSocket), or a variable set from
// CreateObject with a registered ProgID. Uses are Name.Member, .Member inside With Name, and event
// handlers Sub Name_Event(...).
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/container.h"
#include "support/typelib.h"

namespace {

std::string Narrow(const std::wstring& text) { return {text.begin(), text.end()}; }
std::wstring Widen(const std::string& text) { return {text.begin(), text.end()}; }

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool SameText(const std::string& a, const std::wstring& b) { return Lower(a) == Lower(Narrow(b)); }

// The code of a line without its comment and with every string literal emptied.
std::string CodeOf(const std::string& line) {
  std::string out;
  bool inString = false;
  for (char c : line) {
    if (c == '"') {
      inString = !inString;
      out += c;
    } else if (inString) {
      continue;
    } else if (c == '\'') {
      break;
    } else {
      out += c;
    }
  }
  static const std::regex rem(R"(^\s*Rem\b.*)", std::regex::icase);
  return std::regex_replace(out, rem, "");
}

struct ObjectOfOurs {
  const host::LibInterface* calls = nullptr;
  const host::LibInterface* events = nullptr;  // null where VB binds no events
};

class VbChecker {
 public:
  using ProgIdResolver = std::function<const host::LibClass*(const std::wstring&)>;
  VbChecker(const host::LibModel& model, ProgIdResolver resolve)
      : model_(model), resolve_(std::move(resolve)) {}

  // The problems found in one file, each "file:line: what"; counts what it checked in uses().
  std::vector<std::string> Check(const std::string& file, const std::string& text) {
    problems_.clear();
    objects_.clear();
    withStack_.clear();
    file_ = file;
    uses_ = 0;
    std::istringstream in(text);
    std::string line, logical;
    int start = 0;
    for (int number = 1; std::getline(in, line); ++number) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (logical.empty()) start = number;
      // A line ending in " _" goes on in the next one.
      if (line.size() >= 2 && line.compare(line.size() - 2, 2, " _") == 0) {
        logical += line.substr(0, line.size() - 1);
        continue;
      }
      logical += line;
      CheckLine(logical, start);
      logical.clear();
    }
    return problems_;
  }
  int uses() const { return uses_; }

 private:
  void Problem(int line, const std::string& what) {
    problems_.push_back(file_ + ":" + std::to_string(line) + ": " + what);
  }

  const ObjectOfOurs* Find(const std::string& name) const {
    const auto it = objects_.find(Lower(name));
    return it == objects_.end() ? nullptr : &it->second;
  }

  // A type written in a declaration: one of the library's classes or interfaces, or nothing.
  std::optional<ObjectOfOurs> TypeOf(const std::string& library, const std::string& type,
                                     bool withEvents) const {
    if (!library.empty() && !SameText(library, model_.name)) return std::nullopt;
    if (const auto* c = model_.Class(Widen(type)))
      return ObjectOfOurs{model_.Interface(c->defaultInterface),
                          withEvents ? model_.Interface(c->defaultSource) : nullptr};
    if (const auto* i = model_.Interface(Widen(type))) return ObjectOfOurs{i, nullptr};
    return std::nullopt;
  }

  void CheckLibraryReference(const std::string& line, int number) {
    static const std::regex reference(R"(\{([0-9A-Fa-f-]{36})\}#([0-9A-Fa-f]+)\.([0-9A-Fa-f]+)#)");
    std::smatch m;
    if (!std::regex_search(line, m, reference)) return;
    wchar_t libId[40] = {};
    ::StringFromGUID2(model_.libId, libId, 40);
    const bool ours = SameText("{" + m[1].str() + "}", libId);
    if (!ours && Lower(line).find("udp.ocx") != std::string::npos)
      Problem(number, "udp.ocx is referenced with another GUID than the library's");
    if (ours && (std::stoul(m[2].str(), nullptr, 16) != model_.major ||
                 std::stoul(m[3].str(), nullptr, 16) != model_.minor))
      Problem(number, "the library is referenced with version " + m[2].str() + "." + m[3].str());
    if (ours) ++uses_;
  }

  void CheckMember(const ObjectOfOurs& object, const std::string& name, const std::string& member,
                   int line) {
    ++uses_;
    if (object.calls && !object.calls->Find(Widen(member)))
      Problem(line, name + "." + member + ": " + Narrow(object.calls->name) + " has no " + member);
  }

  void CheckHandler(const ObjectOfOurs& object, const std::string& handler, const std::string& event,
                    const std::string& params, int line) {
    ++uses_;
    const host::LibMember* e = object.events->Find(Widen(event));
    if (!e) {
      Problem(line, handler + ": " + Narrow(object.events->name) + " has no event " + event);
      return;
    }
    static const std::regex param(
        R"(^\s*(?:Optional\s+)?(ByVal\s+|ByRef\s+)?(\w+)(?:\(\))?(?:\s+As\s+(\w+))?\s*$)",
        std::regex::icase);
    std::vector<std::string> declared;
    std::stringstream list(params);
    for (std::string p; std::getline(list, p, ',');)
      if (p.find_first_not_of(" \t") != std::string::npos) declared.push_back(p);
    if (declared.size() != e->params.size()) {
      Problem(line, handler + ": " + std::to_string(declared.size()) + " parameters, the event has " +
                        std::to_string(e->params.size()));
      return;
    }
    for (size_t i = 0; i < declared.size(); ++i) {
      std::smatch m;
      const host::LibParam& expected = e->params[i];
      if (!std::regex_match(declared[i], m, param)) {
        Problem(line, handler + ": cannot read parameter \"" + declared[i] + "\"");
        continue;
      }
      const std::string type = m[3].matched ? m[3].str() : "Variant";
      const bool byVal = Lower(m[1].str()).rfind("byval", 0) == 0;
      if (!SameText(type, expected.type))
        Problem(line, handler + ": parameter " + m[2].str() + " As " + type + ", the event passes " +
                          Narrow(expected.type));
      if (byVal == expected.byRef)
        Problem(line, handler + ": parameter " + m[2].str() + " must be declared " +
                          (expected.byRef ? "ByRef (or without ByVal)" : "ByVal"));
    }
  }

  void CheckLine(const std::string& raw, int number) {
    CheckLibraryReference(raw, number);
    // Objects made by ProgID, read before the string literals go.
    static const std::regex created(R"re(\bSet\s+(\w+)\s*=\s*CreateObject\s*\(\s*"([^"]+)")re",
                                    std::regex::icase);
    std::smatch m;
    if (std::regex_search(raw, m, created)) {
      if (const auto* c = resolve_(Widen(m[2].str())))
        objects_[Lower(m[1].str())] = {model_.Interface(c->defaultInterface), nullptr};
      else if (Lower(m[2].str()).rfind("udp.", 0) == 0)
        Problem(number, "no registered class has the ProgID " + m[2].str());
    }
    const std::string code = CodeOf(raw);

    static const std::regex control(R"(^\s*Begin\s+(\w+)\.(\w+)\s+(\w+))", std::regex::icase);
    if (std::regex_search(code, m, control) && SameText(m[1].str(), model_.name)) {
      if (auto object = TypeOf(m[1].str(), m[2].str(), true))
        objects_[Lower(m[3].str())] = *object;
      else
        Problem(number, m[1].str() + "." + m[2].str() + " is no class of the library");
    }
    static const std::regex declaration(
        R"((WithEvents\s+)?(\w+)(?:\(\))?\s+As\s+(?:New\s+)?(?:(\w+)\.)?(\w+))", std::regex::icase);
    for (auto it = std::sregex_iterator(code.begin(), code.end(), declaration);
         it != std::sregex_iterator(); ++it) {
      const auto& d = *it;
      if (auto object = TypeOf(d[3].str(), d[4].str(), d[1].matched))
        objects_[Lower(d[2].str())] = *object;
      else if (d[3].matched && SameText(d[3].str(), model_.name))
        Problem(number, d[3].str() + "." + d[4].str() + " is no class or interface of the library");
    }

    static const std::regex sub(R"(\bSub\s+(\w+)\s*\(([^)]*)\))", std::regex::icase);
    if (std::regex_search(code, m, sub)) {
      const std::string name = m[1].str();
      for (const auto& [object, what] : objects_)
        if (what.events && Lower(name).rfind(object + "_", 0) == 0)
          CheckHandler(what, name, name.substr(object.size() + 1), m[2].str(), number);
    }

    static const std::regex withStart(R"(^\s*With\s+(\w+)\s*$)", std::regex::icase);
    static const std::regex withEnd(R"(^\s*End\s+With\b)", std::regex::icase);
    if (std::regex_search(code, m, withStart)) {
      withStack_.push_back(Lower(m[1].str()));
    } else if (std::regex_search(code, withEnd)) {
      if (!withStack_.empty()) withStack_.pop_back();
    } else if (!withStack_.empty()) {
      if (const auto* object = Find(withStack_.back())) {
        static const std::regex withMember(R"((?:^|[^\w\)\]\.])\.(\w+))");
        for (auto it = std::sregex_iterator(code.begin(), code.end(), withMember);
             it != std::sregex_iterator(); ++it)
          CheckMember(*object, "With " + withStack_.back(), (*it)[1].str(), number);
      }
    }

    static const std::regex use(R"(\b(\w+)\.(\w+)\b)");
    for (auto it = std::sregex_iterator(code.begin(), code.end(), use); it != std::sregex_iterator();
         ++it)
      if (const auto* object = Find((*it)[1].str()))
        CheckMember(*object, (*it)[1].str(), (*it)[2].str(), number);
  }

  const host::LibModel& model_;
  ProgIdResolver resolve_;
  std::string file_;
  std::map<std::string, ObjectOfOurs> objects_;  // by lower-case name
  std::vector<std::string> withStack_;
  std::vector<std::string> problems_;
  int uses_ = 0;
};

class VbExamples : public testing::Test {
 protected:
  void SetUp() override {
    auto lib = host::LoadOcxTypeLib();
    ASSERT_TRUE(lib) << "UDP_OCX must name the built DLL";
    model_ = host::ModelOf(lib.get());
    server_ = container::TheServer();
    ASSERT_NE(server_, nullptr);
    ASSERT_EQ(server_->RegisterServer(), S_OK);  // CreateObject's ProgIDs are looked up
  }
  void TearDown() override {
    if (server_) server_->UnregisterServer();
  }
  VbChecker Checker() {
    return VbChecker(model_, [this](const std::wstring& progId) -> const host::LibClass* {
      CLSID clsid;
      return SUCCEEDED(::CLSIDFromProgID(progId.c_str(), &clsid)) ? model_.Class(clsid) : nullptr;
    });
  }
  host::LibModel model_;
  const container::Server* server_ = nullptr;
};

// The checker finds what VB would refuse; each row names what its report must mention.
TEST_F(VbExamples, TheCheckerFindsWrongMembersHandlersAndReferences) {
  const std::string form =
      "Object = \"{F898A5F0-DC31-4ED8-AB16-C58E72891C2B}#1.0#0\"; \"udp.ocx\"\n"
      "   Begin UDPLib.Udp Udp1\n   End\n";
  const struct {
    const char* code;
    const char* reported;  // "" when nothing is wrong
  } cases[] = {
      {"Private Sub Udp1_Received(ByVal IpAddress As String, ByVal Port As String, _\n"
       "    ByVal Data As Variant)\n  Udp1.sendto \"h\", \"1\", Data\nEnd Sub\n",
       ""},
      {"Sub Go()\n  Udp1.OpenPort \"5000\"\nEnd Sub\n", "OpenPort"},
      {"Sub Go()\n  With Udp1\n    .Close\n    .Shut\n  End With\nEnd Sub\n", "Shut"},
      {"Private Sub Udp1_Recieved()\nEnd Sub\n", "Recieved"},
      {"Private Sub Udp1_WsError(ByVal Ecode As Long, ByVal Description As String, _\n"
       "    ByVal Where As String, ByVal CancelClose As Boolean)\nEnd Sub\n",
       "CancelClose must be declared ByRef"},
      {"Private Sub Udp1_Received(ByVal IpAddress As String, ByVal Port As Long, "
       "ByVal Data As Variant)\nEnd Sub\n",
       "Port As Long"},
      {"Dim u As Object\nSet u = CreateObject(\"UDP.UdpCtrl.1\")\nu.Bogus\n", "Bogus"},
      {"Dim u As UDPLib.Udpp\n", "UDPLib.Udpp"},
      {"Object={F898A5F0-DC31-4ED8-AB16-C58E72891C2B}#2.0#0; udp.ocx\n", "version 2.0"},
  };
  for (const auto& c : cases) {
    VbChecker checker = Checker();
    const auto problems = checker.Check("case.frm", form + c.code);
    std::string all;
    for (const auto& p : problems) all += p + "\n";
    if (*c.reported) {
      EXPECT_NE(all.find(c.reported), std::string::npos) << c.code << "\nreported:\n" << all;
    } else {
      EXPECT_TRUE(problems.empty()) << c.code << "\n" << all;
      EXPECT_EQ(checker.uses(), 3) << "the reference, the handler and the call";
    }
  }
}

TEST_F(VbExamples, UseOnlyMembersTheLibraryHas) {
  const std::filesystem::path root(host::SourcePath(L"examples"));
  ASSERT_TRUE(std::filesystem::is_directory(root)) << root;
  int files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string extension = Lower(entry.path().extension().string());
    if (extension != ".frm" && extension != ".bas" && extension != ".cls" && extension != ".vbp")
      continue;
    const std::string name = std::filesystem::relative(entry.path(), root).string();
    const std::string text = host::ReadFileBytes(entry.path().wstring());
    VbChecker checker = Checker();
    for (const auto& problem : checker.Check(name, text)) ADD_FAILURE() << problem;
    // A file about our objects whose uses the checker did not see would pass unread.
    const bool aboutOurs = Lower(text).find(Lower(Narrow(model_.name))) != std::string::npos ||
                           Lower(text).find("createobject(\"udp.") != std::string::npos;
    EXPECT_TRUE(!aboutOurs || checker.uses() > 0) << name << ": no use of the library recognised";
    ++files;
  }
  EXPECT_GT(files, 0) << "no Visual Basic example under " << root;
}

}  // namespace

namespace {

// examples/README.md names every example: a file under examples/ that its table lacks fails.
TEST(ExamplesReadme, ListsEveryExample) {
  const std::filesystem::path root(host::SourcePath(L"examples"));
  const std::string readme = host::ReadFileBytes((root / "README.md").wstring());
  ASSERT_FALSE(readme.empty());
  int files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file() || name == "README.md" || name == "CMakeLists.txt") continue;
    const std::string path = std::filesystem::relative(entry.path(), root).generic_string();
    EXPECT_NE(readme.find("`" + path + "`"), std::string::npos) << path << " is not listed";
    ++files;
  }
  EXPECT_GT(files, 0);
}

}  // namespace
