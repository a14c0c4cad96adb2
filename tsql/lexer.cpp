// The tokenizer of T-SQL batches: words, quoted names, strings (N'...'), numbers, binary
// literals, variables, operators and comments, with their positions.
#include "tsql/lexer.h"

#include "tsql/errors.h"
#include "tsql/text.h"

namespace dunmarrow::tsql {

bool Token::IsWord(std::string_view keyword) const {
  return kind == TokenKind::kIdentifier && !quoted && EqualsNoCase(text, keyword);
}

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsHex(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsIdentStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '#' ||
         static_cast<unsigned char>(c) >= 0x80;
}
bool IsIdentPart(char c) {
  return IsIdentStart(c) || IsDigit(c) || c == '@' || c == '$';
}

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  std::vector<Token> Run() {
    std::vector<Token> tokens;
    for (;;) {
      SkipBlanksAndComments();
      Token token;
      token.line = line_;
      token.column = column_;
      size_t start = pos_;
      if (pos_ >= text_.size()) {
        tokens.push_back(token);
        return tokens;
      }
      Scan(token);
      token.raw = std::string(text_.substr(start, pos_ - start));
      tokens.push_back(std::move(token));
    }
  }

 private:
  char Peek(size_t ahead = 0) const {
    return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0';
  }

  void Advance() {
    if (text_[pos_] == '\n') {
      ++line_;
      column_ = 1;
    } else if ((static_cast<unsigned char>(text_[pos_]) & 0xC0) != 0x80) {
      ++column_;
    }
    ++pos_;
  }

  [[noreturn]] void Fail(int number, const std::string& message, int line) {
    throw CompileError(number, 1, message, line);
  }

  void SkipBlanksAndComments() {
    for (;;) {
      char c = Peek();
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
        Advance();
      } else if (c == '-' && Peek(1) == '-') {
        while (pos_ < text_.size() && Peek() != '\n') Advance();
      } else if (c == '/' && Peek(1) == '*') {
        int line = line_;
        int depth = 0;
        do {
          if (pos_ >= text_.size()) Fail(113, "Missing end comment mark '*/'.", line);
          if (Peek() == '/' && Peek(1) == '*') {
            ++depth;
            Advance();
          } else if (Peek() == '*' && Peek(1) == '/') {
            --depth;
            Advance();
          }
          Advance();
        } while (depth > 0);
      } else {
        return;
      }
    }
  }

  // A quoted run ending in `close`, where a doubled `close` stands for one.
  std::string Quoted(char close, int line) {
    size_t start = pos_;
    Advance();  // the opening quote
    std::string value;
    for (;;) {
      if (pos_ >= text_.size()) {
        std::string partial(text_.substr(start + 1));
        Fail(105, "Unclosed quotation mark after the character string '" + partial + "'.", line);
      }
      char c = Peek();
      if (c == close) {
        if (Peek(1) == close) {
          value += close;
          Advance();
          Advance();
          continue;
        }
        Advance();
        return value;
      }
      value += c;
      Advance();
    }
  }

  void Scan(Token& token) {
    char c = Peek();
    if ((c == 'N' || c == 'n') && Peek(1) == '\'') {
      Advance();
      token.kind = TokenKind::kString;
      token.national = true;
      token.text = Quoted('\'', token.line);
      return;
    }
    if (c == '\'') {
      token.kind = TokenKind::kString;
      token.text = Quoted('\'', token.line);
      return;
    }
    if (c == '[') {
      token.kind = TokenKind::kIdentifier;
      token.quoted = true;
      token.text = Quoted(']', token.line);
      return;
    }
    if (c == '"') {
      token.kind = TokenKind::kIdentifier;
      token.quoted = true;
      token.text = Quoted('"', token.line);
      return;
    }
    if (c == '0' && (Peek(1) == 'x' || Peek(1) == 'X')) {
      Advance();
      Advance();
      token.kind = TokenKind::kBinary;
      while (IsHex(Peek())) {
        token.text += Peek();
        Advance();
      }
      return;
    }
    if (IsDigit(c) || (c == '.' && IsDigit(Peek(1)))) {
      ScanNumber(token);
      return;
    }
    if (c == '$' && (IsDigit(Peek(1)) || Peek(1) == '.' || Peek(1) == '-' || Peek(1) == '+')) {
      Advance();
      token.kind = TokenKind::kMoney;
      if (Peek() == '-' || Peek() == '+') {
        token.text += Peek();
        Advance();
      }
      while (IsDigit(Peek()) || Peek() == '.') {
        token.text += Peek();
        Advance();
      }
      return;
    }
    if (c == '@') {
      token.kind = TokenKind::kVariable;
      token.text += c;
      Advance();
      while (IsIdentPart(Peek())) {
        token.text += Peek();
        Advance();
      }
      return;
    }
    if (IsIdentStart(c)) {
      token.kind = TokenKind::kIdentifier;
      while (IsIdentPart(Peek())) {
        token.text += Peek();
        Advance();
      }
      return;
    }
    token.kind = TokenKind::kSymbol;
    if (c == '+' && Peek(1) == '=') {
      token.text = "+=";
      Advance();
      Advance();
      return;
    }
    static const std::string kSymbols = "(),;=+-*/.%<>!";
    if (kSymbols.find(c) != std::string::npos) {
      token.text = c;
      Advance();
      return;
    }
    // Take the whole character for the message.
    std::string bad(1, c);
    Advance();
    while (pos_ < text_.size() && (static_cast<unsigned char>(Peek()) & 0xC0) == 0x80) {
      bad += Peek();
      Advance();
    }
    Fail(102, "Incorrect syntax near '" + bad + "' at column " + std::to_string(token.column) + ".",
         token.line);
  }

  void ScanNumber(Token& token) {
    token.kind = TokenKind::kInteger;
    while (IsDigit(Peek())) {
      token.text += Peek();
      Advance();
    }
    if (Peek() == '.') {
      token.kind = TokenKind::kDecimal;
      token.text += '.';
      Advance();
      while (IsDigit(Peek())) {
        token.text += Peek();
        Advance();
      }
    }
    if ((Peek() == 'e' || Peek() == 'E') &&
        (IsDigit(Peek(1)) || ((Peek(1) == '+' || Peek(1) == '-') && IsDigit(Peek(2))))) {
      token.kind = TokenKind::kFloat;
      token.text += Peek();
      Advance();
      if (Peek() == '+' || Peek() == '-') {
        token.text += Peek();
        Advance();
      }
      while (IsDigit(Peek())) {
        token.text += Peek();
        Advance();
      }
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
  int line_ = 1;
  int column_ = 1;
};

}  // namespace

std::vector<Token> Tokenize(std::string_view batch) {
  return Lexer(batch).Run();
}

}  // namespace dunmarrow::tsql
