// xp_FormatStr: formats its arguments by a format string and returns the text through its
// first parameter.
#include <vector>

#include "procs/format/format_engine.h"
#include "runtime/context.h"
#include "runtime/export.h"
#include "runtime/failure.h"
#include "runtime/locale_values.h"
#include "runtime/module_steps.h"

namespace dunmarrow {
namespace {

// The engine's argument for one parameter. Kinds without a format letter (datetime, binary,
// uniqueidentifier, ...) count as the integer 0; nothing of them is read.
FormatArg ArgumentOf(const TxpItem& item) {
  switch (item.Kind()) {
    case dkString:
    case dkWideString:
      return FormatArg::WideText(item.AsWideString());
    case dkInteger:
      return FormatArg::Integer(item.AsInteger());
    case dkBoolean:
      return FormatArg::Boolean(item.AsBoolean());
    case dkFloat:
    case dkBCD:
      return FormatArg::Float(item.AsFloat());
    case dkCurrency:
      return FormatArg::Currency(item.AsCurrency());
    default:
      return FormatArg{};
  }
}

// Parameter 1 receives the text, parameter 2 is the format, the rest are the arguments.
int FormatStr(TXProc& proc) {
  TxpParams& params = proc.Params();
  if (params.Count() == 0) return 0;
  TxpItem& target = *params.Items(0);
  if (target.Kind() != dkString && target.Kind() != dkWideString) return 0;
  // Without a format the argument count would be -1.
  if (params.Count() < 2) RaiseRangeError();
  std::vector<FormatArg> args(static_cast<size_t>(params.Count() - 2));
  for (size_t i = 0; i < args.size(); ++i) {
    args[i] = ArgumentOf(*params.Items(static_cast<int>(i) + 2));
  }
  // The target takes back at most MaxLen bytes, so at most as many characters: no more is
  // built, however long the whole result would be.
  std::u16string text = FormatWideText(params.Items(1)->AsWideString(), args,
                                       CurrentRegionalFormat(), target.MaxLen());
  target.SetAsWideString(text);
  return 1;
}

// The engine makes its number settings once, as the module is loaded, of the locale's values
// that the runtime has read just before.
void LoadRegionalFormat() {
  SetRegionalFormat(RegionalFormatOf(CurrentLocaleValues()));
}

}  // namespace

DUNMARROW_MODULE_STEPS(kRegionalFormat, LoadRegionalFormat, nullptr)

}  // namespace dunmarrow

XP_PROCEDURE(xp_FormatStr) {
  return dunmarrow::RunContextFrame(srvproc, "xp_FormatStr: ", dunmarrow::FormatStr);
}
