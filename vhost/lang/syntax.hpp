// The syntax tree of the host language and its parser.
//
//   statements  separated by ';' (result not shown), ',' or newlines (result shown)
//   statement   NAME = expr | NAME.f.g = expr | [A, B] = call | expr | clear ... | global ...
//   expr        sum of terms with + and -, terms joined by *, unary -
//   primary     number (1, 2.5e3, 2i) | 'char' | "text" | [rows] | {rows} | NAME | (expr) | ':'
//               followed by (args), {args} and .name in any order
// Inside [ ] and { }, blanks separate elements the way commas do: [1 -2] has two elements,
// [1 - 2] one.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_api.hpp"

namespace vhost::lang {

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

struct Suffix {
    enum Kind { Paren, Brace, Dot } kind;
    std::vector<ExprPtr> args;  // Paren, Brace
    std::string name;           // Dot
};

struct Expr {
    enum Kind { Number, Text, Name, Matrix, CellLiteral, Postfix, Binary, Unary, Colon } kind = Number;
    double number = 0;
    bool imaginary = false;
    std::string text;                         // Text, Name
    std::vector<std::vector<ExprPtr>> rows;   // Matrix, CellLiteral
    ExprPtr base;                             // Postfix (the named or bracketed start), Unary
    std::vector<Suffix> suffixes;             // Postfix
    char op = 0;                              // Binary, Unary
    ExprPtr left, right;                      // Binary
};

struct Target {
    std::string name;
    std::vector<std::string> fields;  // s.a.b = ...
};

struct Statement {
    enum Kind { Expression, Assignment, Command } kind;
    bool show = true;              // not ended by ';'
    std::vector<Target> targets;   // Assignment: one, or several for [a, b] = f(...)
    bool multiple = false;         // written with brackets
    ExprPtr value;                 // Expression, Assignment
    std::string command;           // Command: "clear" or "global"
    std::vector<std::string> words;
};

// Raises host::UserException "VELTRA:parse" with the position of the problem.
HOST_API std::vector<Statement> parseStatements(std::string_view source);
HOST_API ExprPtr parseExpression(std::string_view source);

}  // namespace vhost::lang
