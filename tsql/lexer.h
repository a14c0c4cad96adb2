// Tokens of a T-SQL batch, with the line and column (from 1, within the batch) where they start.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dunmarrow::tsql {

enum class TokenKind {
  kIdentifier,  // regular, [bracketed] or "quoted"; `text` holds the name
  kVariable,    // @name; `text` holds it with its "@"
  kString,      // 'text' or N'text'; `text` holds the value (UTF-8), `national` the N
  kInteger,     // 42
  kDecimal,     // 4.5
  kFloat,       // 1e3
  kMoney,       // $1.25 (`text` without the "$")
  kBinary,      // 0x0A0B (`text` holds the hex digits)
  kSymbol,      // ( ) , ; = + - * / . and +=
  kEnd,
};

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string text;
  std::string raw;  // as written, for messages
  bool national = false;
  bool quoted = false;  // a [bracketed] or "quoted" identifier is never a keyword
  int line = 1;
  int column = 1;

  bool Is(std::string_view symbol) const { return kind == TokenKind::kSymbol && text == symbol; }
  // A regular identifier spelled like the keyword, in any case.
  bool IsWord(std::string_view keyword) const;
};

// Splits a batch into tokens, skipping blanks and comments (-- to the end of the line, and
// /* */, which nest). Raises SqlError for an unclosed string, identifier or comment and for a
// character that starts no token.
std::vector<Token> Tokenize(std::string_view batch);

}  // namespace dunmarrow::tsql
