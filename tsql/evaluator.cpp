// Variables of a batch (declare, read, assign), the built-in functions the subset has, and the
// evaluation of expressions and IF conditions in three-valued logic.
#include "tsql/evaluator.h"

#include "tsql/errors.h"
#include "tsql/operators.h"
#include "tsql/system_functions.h"
#include "tsql/text.h"

namespace dunmarrow::tsql {

void Variables::Declare(const std::string& name, const SqlType& type) {
  variables_[ToLowerAscii(name)] = Variable{name, type, Value::Null(type)};
}

const Variable& Variables::Get(const std::string& name) const {
  auto found = variables_.find(ToLowerAscii(name));
  if (found == variables_.end()) {
    throw SqlError(137, 15, 2, "Must declare the scalar variable \"" + name + "\".");
  }
  return found->second;
}

void Variables::Assign(const std::string& name, const Value& value) {
  Get(name);
  Variable& variable = variables_[ToLowerAscii(name)];
  variable.value = Convert(value, variable.type);
}

namespace {

// The argument of a string function as character text: other types become varchar.
Value AsCharacter(const Value& v) {
  if (v.untyped_null) return Value::Null(TypeOf(TypeId::VarChar, 1));
  if (IsCharacter(v.type.id)) return v;
  if (IsBinary(v.type.id)) {
    throw SqlError(8116, 16, 1,
                   std::string("Argument data type ") + BaseName(v.type.id) +
                       " is invalid for argument 1 of replicate function.");
  }
  return Convert(v, TypeOf(TypeId::VarChar, 8000));
}

Value Replicate(const Value& text_arg, const Value& count_arg) {
  Value text = AsCharacter(text_arg);
  Value count = Convert(count_arg, TypeOf(TypeId::BigInt));
  bool unicode = IsUnicode(text.type.id);
  bool max = text.type.IsMax() || IsLob(text.type.id);
  SqlType type = TypeOf(unicode ? TypeId::NVarChar : TypeId::VarChar,
                        max ? kMaxLength : (unicode ? 4000 : 8000));
  if (text.null || count.null || count.integer < 0) return Value::Null(type);
  // Without a (max) argument the result stops at 8000 bytes, as the server's does.
  const uint64_t limit = max ? 0x7FFFFFFFu : 8000u;
  uint64_t unit = unicode ? text.wide.size() * 2 : text.text.size();
  uint64_t wanted = unit * static_cast<uint64_t>(count.integer);
  if (unit > 0 && wanted / unit != static_cast<uint64_t>(count.integer)) wanted = UINT64_MAX;
  if (max && wanted > limit) {
    throw SqlError(7119, 16, 1,
                   "Attempting to grow LOB beyond maximum allowed size of 2147483647 bytes.");
  }
  uint64_t copies = unit == 0 ? 0 : std::min<uint64_t>(count.integer, (limit + unit - 1) / unit);
  if (unicode) {
    std::u16string out;
    out.reserve(static_cast<size_t>(copies * text.wide.size()));
    for (uint64_t i = 0; i < copies; ++i) out += text.wide;
    if (out.size() * 2 > limit) out.resize(limit / 2);
    return Value::WideChars(std::move(out), type);
  }
  std::string out;
  out.reserve(static_cast<size_t>(copies * text.text.size()));
  for (uint64_t i = 0; i < copies; ++i) out += text.text;
  if (out.size() > limit) out.resize(AnsiPrefixLength(out, limit));
  return Value::Chars(std::move(out), type);
}

Value Len(const Value& arg) {
  bool max = arg.type.IsMax() || IsLob(arg.type.id);
  TypeId result = max ? TypeId::BigInt : TypeId::Int;
  if (arg.null) return Value::Null(TypeOf(result));
  if (IsLob(arg.type.id)) {
    throw SqlError(8116, 16, 1,
                   std::string("Argument data type ") + BaseName(arg.type.id) +
                       " is invalid for argument 1 of len function.");
  }
  int64_t length;
  if (IsBinary(arg.type.id)) {
    length = static_cast<int64_t>(arg.bytes.size());
  } else {
    Value text = IsCharacter(arg.type.id) ? arg : Convert(arg, TypeOf(TypeId::VarChar, 8000));
    std::u16string wide = IsUnicode(text.type.id) ? text.wide : AnsiToWide(text.text);
    // Trailing blanks do not count.
    size_t end = wide.find_last_not_of(u' ');
    length = end == std::u16string::npos ? 0 : static_cast<int64_t>(end + 1);
  }
  return Value::Integer(length, result);
}

Value DataLength(const Value& arg) {
  bool max = arg.type.IsMax() || IsLob(arg.type.id);
  TypeId result = max ? TypeId::BigInt : TypeId::Int;
  if (arg.null) return Value::Null(TypeOf(result));
  int64_t length;
  if (IsUnicode(arg.type.id)) {
    length = static_cast<int64_t>(arg.wide.size() * 2);
  } else if (IsCharacter(arg.type.id)) {
    length = static_cast<int64_t>(arg.text.size());
  } else if (IsBinary(arg.type.id)) {
    length = static_cast<int64_t>(arg.bytes.size());
  } else {
    length = StorageSize(arg.type);
  }
  return Value::Integer(length, result);
}

// With CONCAT_NULL_YIELDS_NULL OFF, a NULL joined to text counts as empty text.
Value Concatenate(Value a, Value b, const SessionState* session) {
  if (session && !session->concat_null_yields_null) {
    auto text = [](const Value& v) { return !v.untyped_null && IsCharacter(v.type.id); };
    if (text(a) || text(b)) {
      for (Value* v : {&a, &b}) {
        if (!v->null) continue;
        SqlType type = v->untyped_null ? TypeOf(TypeId::VarChar, 1) : v->type;
        *v = IsUnicode(type.id) ? Value::WideChars(u"", type) : Value::Chars("", type);
      }
    }
  }
  return Add(a, b);
}

}  // namespace

Value Evaluate(const Expr& e, const Variables& variables) {
  switch (e.kind) {
    case Expr::Kind::kLiteral:
      return e.literal;
    case Expr::Kind::kVariable:
      return variables.Get(e.name).value;
    case Expr::Kind::kCast:
      return Convert(Evaluate(*e.args[0], variables), e.type, Conversion::kExplicit);
    case Expr::Kind::kConvert: {
      Value value = Evaluate(*e.args[0], variables);
      int style = 0;
      if (e.args.size() > 1) {
        Value given = Convert(Evaluate(*e.args[1], variables), TypeOf(TypeId::Int));
        if (given.null) return Value::Null(e.type);
        style = static_cast<int>(given.integer);
      }
      return Convert(value, e.type, Conversion::kExplicit, style);
    }
    case Expr::Kind::kAdd:
      return Concatenate(Evaluate(*e.args[0], variables), Evaluate(*e.args[1], variables),
                         variables.Session());
    case Expr::Kind::kSubtract:
      return Subtract(Evaluate(*e.args[0], variables), Evaluate(*e.args[1], variables));
    case Expr::Kind::kNegate:
      return Negate(Evaluate(*e.args[0], variables));
    case Expr::Kind::kFunction:
      if (e.name == "REPLICATE") {
        return Replicate(Evaluate(*e.args[0], variables), Evaluate(*e.args[1], variables));
      }
      if (e.name == "LEN") return Len(Evaluate(*e.args[0], variables));
      if (e.name == "DATALENGTH") return DataLength(Evaluate(*e.args[0], variables));
      {
        std::vector<Value> args;
        for (const auto& arg : e.args) args.push_back(Evaluate(*arg, variables));
        SessionState defaults;
        return SystemFunction(e.name, args, variables.Session() ? *variables.Session() : defaults);
      }
  }
  return Value::UntypedNull();
}

std::optional<bool> Test(const Condition& c, const Variables& variables) {
  switch (c.kind) {
    case Condition::Kind::kIsNull:
    case Condition::Kind::kIsNotNull: {
      bool null = Evaluate(*c.left, variables).null;
      return c.kind == Condition::Kind::kIsNull ? null : !null;
    }
    case Condition::Kind::kNot: {
      std::optional<bool> inner = Test(*c.a, variables);
      if (!inner) return std::nullopt;
      return !*inner;
    }
    case Condition::Kind::kAnd:
    case Condition::Kind::kOr: {
      // Three-valued logic: false AND unknown is false, true OR unknown is true.
      std::optional<bool> p = Test(*c.a, variables), q = Test(*c.b, variables);
      bool decisive = c.kind == Condition::Kind::kOr;
      if (p == decisive || q == decisive) return decisive;
      if (!p || !q) return std::nullopt;
      return !decisive;
    }
    case Condition::Kind::kCompare:
      break;
  }
  Value left = Evaluate(*c.left, variables), right = Evaluate(*c.right, variables);
  if (left.null || right.null) {
    // SET ANSI_NULLS OFF: = and <> compare NULL as a value.
    const SessionState* session = variables.Session();
    if (session && !session->ansi_nulls && (c.op == "=" || c.op == "<>")) {
      return (left.null == right.null) == (c.op == "=");
    }
    return std::nullopt;
  }
  int order = Compare(left, right);
  if (c.op == "=") return order == 0;
  if (c.op == "<>") return order != 0;
  if (c.op == "<") return order < 0;
  if (c.op == ">") return order > 0;
  if (c.op == "<=") return order <= 0;
  return order >= 0;
}

bool MayBeNull(const Expr& e) {
  if (e.kind == Expr::Kind::kLiteral) return e.literal.null;
  if (e.kind == Expr::Kind::kVariable) return true;
  for (const auto& arg : e.args) {
    if (MayBeNull(*arg)) return true;
  }
  // REPLICATE gives NULL for a negative count; CONVERT for a NULL style; SERVERPROPERTY for a
  // property it does not know.
  return e.kind == Expr::Kind::kFunction && (e.name == "REPLICATE" || e.name == "SERVERPROPERTY");
}

}  // namespace dunmarrow::tsql
