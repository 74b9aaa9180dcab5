// Reading a call as the command line gives it: Twain.Name(arg, ...), where an argument is a
// number, a text in double quotes, $name or $name:picture.
#include <cctype>

#include "standins/velmar/velmar_host.h"

namespace velmar {
namespace {

class Reader {
 public:
  explicit Reader(const std::string& text) : text_(text) {}
  void SkipBlanks() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++pos_;
    return true;
  }
  std::string Word() {
    size_t start = pos_;
    while (!AtEnd() && (std::isalnum(static_cast<unsigned char>(Peek())) || Peek() == '_')) ++pos_;
    return text_.substr(start, pos_ - start);
  }
  size_t pos_ = 0;
  const std::string& text_;
};

bool Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

bool ReadArgument(Reader& in, Argument* argument, std::string* error) {
  char c = in.Peek();
  if (c == '"') {
    in.Take('"');
    argument->kind = Argument::kText;
    while (!in.AtEnd() && in.Peek() != '"') {
      if (in.Take('\\') && in.AtEnd()) break;
      argument->text += in.text_[in.pos_++];
    }
    if (!in.Take('"')) return Fail(error, "unterminated text");
    return true;
  }
  if (c == '$') {
    in.Take('$');
    argument->text = in.Word();
    if (argument->text.empty()) return Fail(error, "a variable needs a name after '$'");
    argument->kind = Argument::kVariable;
    if (in.Take(':')) {
      if (in.Word() != "picture") return Fail(error, "the only variable kind is ':picture'");
      argument->kind = Argument::kPictureVariable;
    }
    return true;
  }
  size_t start = in.pos_;
  in.Take('+') || in.Take('-');
  size_t digits = 0;
  while (std::isdigit(static_cast<unsigned char>(in.Peek()))) in.pos_++, digits++;
  if (digits == 0) return Fail(error, "expected a number, a \"text\" or a $variable");
  if (in.Take('.'))
    while (std::isdigit(static_cast<unsigned char>(in.Peek()))) in.pos_++;
  argument->kind = Argument::kNumber;
  argument->number = ParseNumber(in.text_.substr(start, in.pos_ - start));
  return true;
}

}  // namespace

bool ParseCall(const std::string& text, ParsedCall* call, std::string* error) {
  Reader in(text);
  *call = ParsedCall();
  in.SkipBlanks();
  std::string group = in.Word();
  if (group.empty() || !in.Take('.')) return Fail(error, "expected Group.Name(...)");
  std::string name = in.Word();
  if (name.empty()) return Fail(error, "expected a function name after '.'");
  call->function = group + "." + name;
  in.SkipBlanks();
  if (!in.Take('(')) return Fail(error, "expected '(' after " + call->function);
  in.SkipBlanks();
  if (!in.Take(')')) {
    for (;;) {
      in.SkipBlanks();
      Argument argument;
      if (!ReadArgument(in, &argument, error)) return false;
      call->arguments.push_back(argument);
      in.SkipBlanks();
      if (in.Take(')')) break;
      if (!in.Take(',')) return Fail(error, "expected ',' or ')' in the argument list");
    }
  }
  in.SkipBlanks();
  if (!in.AtEnd()) return Fail(error, "unexpected text after ')'");
  return true;
}

}  // namespace velmar
