// The bad-input sweep: every name of the export table is called with many parameter lists made
// from a pool of values, and each must end its call as its family's rules say, without a crash.
#include "tests/unit/sweep.h"

#include <algorithm>
#include <map>
#include <random>
#include <regex>

#include "export_table.h"
#include "ods/params.h"
#include "platform/linux/module.h"
#include "tests/unit/call_helpers.h"

namespace dunmarrow::test {

namespace {

std::map<std::string, SweepRule>& Rules() {
  static std::map<std::string, SweepRule> rules;
  return rules;
}

std::map<std::string, std::function<bool(const std::vector<ods::Param>&)>>& Skips() {
  static std::map<std::string, std::function<bool(const std::vector<ods::Param>&)>> skips;
  return skips;
}

using namespace ods::params;

}  // namespace

bool RegisterSweepRule(const std::string& export_name, SweepRule rule) {
  Rules()[export_name] = std::move(rule);
  return true;
}

bool RegisterSweepSkip(const std::string& export_name,
                       std::function<bool(const std::vector<ods::Param>& params)> skip) {
  Skips()[export_name] = std::move(skip);
  return true;
}

std::vector<ods::Param> SweepValuePool() {
  return {
      VarChar("c:\\sweep\\a.txt"),
      NVarChar(u"c:\\sweep\\b.txt"),
      VarChar(""),
      NVarChar(u""),
      Null(SRVBIGVARCHAR, 10),
      Null(SRVNVARCHAR, 20),
      Null(SRVINTN, 4),
      Int(0),
      Int(1),
      Int(-1),
      Int(2147483647),
      TinyInt(255),
      SmallInt(-2),
      BigInt(-5000000000LL),
      Bit(true),
      Float(2.5),
      Real(-1.5f),
      Money(15000),
      SmallMoney(-1),
      Decimal(12.34, 10, 2),
      DateTime(0, 12960000),
      SmallDateTime(1, 2),
      VarBinary({}),
      VarBinary({0x00, 0x01, 0xFF}),
      Guid(ods::Bytes(16, 0xAB)),
      Text("%s %d %f"),
      NText(u"%5.2m"),
      Image(ods::Bytes(10, 7)),
      VarChar(std::string(8000, 'x')),
      VarCharMax(std::string(8001, 'y')),
      NVarChar(std::u16string(4000, u'z')),
      NVarCharMax(std::u16string(4001, u'w')),
      // Whole numbers of other types, which name handles and counts by their value.
      Numeric(3, 5, 0),
      Money(20000),
      SmallMoney(10000),
      Float(1),
      Real(3),
      // Names that a NUL would cut or a lone surrogate would turn into U+FFFD.
      VarChar(std::string("c:\\sweep\\a.txt\0.bak", 19)),
      NVarChar(std::u16string(u"c:\\sweep\\b\0.txt", 15)),
      NVarChar(u"c:\\sweep\\\xD800.txt"),
      NVarChar(u"c:\\sweep\\\xDC00\xD800"),
      // Texts with line breaks, and hosts no echo may go to.
      VarChar("x\r\nAdmin=1\r\n[Other]"),
      NVarChar(u"a\nb"),
      VarChar("255.255.255.255"),
      VarChar("224.0.0.1"),
      VarChar("127.0.0.08"),
      Output(VarChar("out", 5)),
      Output(NVarChar(u"out", 10)),
      Output(Null(SRVINTN, 4)),
      Named("@Count", Int(2)),
  };
}

namespace {

std::vector<std::vector<ods::Param>> SweepLists() {
  std::vector<ods::Param> pool = SweepValuePool();
  std::vector<std::vector<ods::Param>> lists = {{}};
  for (const auto& a : pool) lists.push_back({a});
  // Every pair from a smaller pool, then random lists of 3 to 5.
  for (size_t i = 0; i < pool.size(); i += 2) {
    for (size_t j = 0; j < pool.size(); j += 3) lists.push_back({pool[i], pool[j]});
  }
  std::mt19937 random(20261209);
  for (int n = 0; n < 300; ++n) {
    size_t count = 3 + random() % 3;
    std::vector<ods::Param> list;
    for (size_t k = 0; k < count; ++k) list.push_back(pool[random() % pool.size()]);
    lists.push_back(list);
  }
  return lists;
}

std::string Describe(const std::vector<ods::Param>& params) {
  std::string out;
  for (const auto& p : params) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "[type 0x%02X len %zu%s%s] ", p.type, p.value.size(),
                  p.is_null ? " NULL" : "", p.is_output ? " OUTPUT" : "");
    out += buf;
  }
  return out.empty() ? "(no parameters)" : out;
}

// Checks one call's transcript; returns an empty string or what is wrong.
std::string CheckCall(const std::string& name, const SweepRule* rule, const CallResult& result,
                      const std::vector<ods::Param>& params) {
  const auto& events = result.events;
  if (!rule) {
    if (result.status != -1)
      return "reserved entry point returned " + std::to_string(result.status);
    if (!events.empty()) return "reserved entry point sent " + ods::DescribeEvent(events[0]);
    return "";
  }
  static const std::regex suffix(R"( \(Runtime Addr: \$[0-9A-F]{8}\)$)");
  int final_dones = 0, messages = 0;
  size_t last_done = events.size(), message_at = events.size();
  for (size_t i = 0; i < events.size(); ++i) {
    const auto& e = events[i];
    if (e.kind == ods::EventKind::SendDone && e.status == SRV_DONE_MORE && e.count == 0) {
      ++final_dones;
      last_done = i;
    }
    if (e.kind == ods::EventKind::SendMsg) {
      ++messages;
      message_at = i;
      if (e.text.rfind(rule->prefix, 0) != 0) return "message without the prefix: " + e.text;
      if (e.msg_type == SRV_MSG_INFO && !std::regex_search(e.text, suffix)) {
        return "report without the address suffix: " + e.text;
      }
    }
  }
  if (final_dones != 1) return "expected one plain DONE, saw " + std::to_string(final_dones);
  if (messages > 1) return "more than one message";
  if (messages == 1 && result.status != -1)
    return "a message with status " + std::to_string(result.status);
  if (rule->frame == SweepFrame::kDirect) {
    if (last_done != events.size() - 1) return "the DONE is not the last event";
  } else if (rule->frame == SweepFrame::kContextOwnMessage) {
    if (messages == 1 && message_at > last_done) return "the message comes after the DONE";
  } else {
    if (messages == 1 && message_at < last_done) return "the message comes before the DONE";
  }
  if (messages == 0 && result.status == -1) return "";  // unreadable parameter: -1, no message
  if (messages == 0 && rule->status_ok && !rule->status_ok(result.status, params)) {
    return "undocumented status " + std::to_string(result.status);
  }
  (void)name;
  return "";
}

class SweepTest : public DriveRootTest {};

TEST_F(SweepTest, EveryExportSurvivesEveryParameterList) {
  std::filesystem::create_directories(c_drive_ / "sweep");
  HMODULE module = LoadLibraryA(DUNMARROW_MODULE_PATH);
  ASSERT_NE(module, nullptr) << "cannot load " << DUNMARROW_MODULE_PATH;
  auto lists = SweepLists();
  for (const std::string name : kExportNames) {
    FARPROC entry = GetProcAddress(module, name.c_str());
    ASSERT_NE(entry, nullptr) << name;
    if (name == "__GetXpVersion") {
      auto version = reinterpret_cast<uint32_t (*)()>(reinterpret_cast<void (*)()>(entry));
      EXPECT_EQ(version(), 0x07000000u);
      continue;
    }
    auto proc = reinterpret_cast<ods::ProcEntry>(reinterpret_cast<void (*)()>(entry));
    auto found = Rules().find(name);
    const SweepRule* rule = found == Rules().end() ? nullptr : &found->second;
    // A working procedure has its family's rules; a reserved entry point has none.
    bool reserved = std::find(std::begin(kReservedNames), std::end(kReservedNames), name) !=
                    std::end(kReservedNames);
    EXPECT_EQ(rule == nullptr, reserved)
        << name << (reserved ? " is reserved and has sweep rules" : " has no sweep rules");
    auto skip = Skips().find(name);
    int failures = 0;
    for (const auto& params : lists) {
      if (skip != Skips().end() && skip->second(params)) continue;
      if (rule && rule->before_each) rule->before_each();
      CallResult result = Call(proc, params);
      std::string problem = CheckCall(name, rule, result, params);
      if (!problem.empty() && ++failures <= 3) {
        ADD_FAILURE() << name << " " << Describe(params) << ": " << problem;
      }
    }
  }
  FreeLibrary(module);
}

}  // namespace
}  // namespace dunmarrow::test
