#include "vhost/lang/syntax.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "vhost/lang/values.hpp"

namespace vhost::lang {
namespace {

ExprPtr node(Expr::Kind kind) {
    auto e = std::make_unique<Expr>();
    e->kind = kind;
    return e;
}

struct Token {
    enum Kind { End, Newline, Number, Ident, Quoted, DoubleQuoted, Punct } kind = End;
    std::string text;
    double number = 0;
    bool imaginary = false;
    bool spaceBefore = false;
    std::size_t position = 0;
};

[[noreturn]] void syntaxError(const std::string& what, std::size_t position) {
    fail("VELTRA:parse", "Invalid expression at character " + std::to_string(position + 1) + ": " + what + ".");
}

std::vector<Token> tokenize(std::string_view s) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    bool space = false;
    while (i < s.size()) {
        const char c = s[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            space = true;
            ++i;
            continue;
        }
        if (c == '%') {  // comment to the end of the line
            while (i < s.size() && s[i] != '\n') ++i;
            continue;
        }
        if (c == '.' && i + 2 < s.size() && s.substr(i, 3) == "...") {  // continuation
            while (i < s.size() && s[i] != '\n') ++i;
            ++i;
            space = true;
            continue;
        }
        Token token;
        token.spaceBefore = space;
        token.position = i;
        space = false;
        if (c == '\n') {
            token.kind = Token::Newline;
            ++i;
        } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                   (c == '.' && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
            // strtod needs a terminated text: copy only what can be part of a number (letters,
            // digits, points, and a sign after an exponent letter), not the whole rest of the
            // source, or a text of many numbers would cost its length squared.
            std::size_t stop = i;
            while (stop < s.size()) {
                const char d = s[stop];
                const bool sign = (d == '+' || d == '-') && stop > i && std::strchr("eEpP", s[stop - 1]);
                if (!std::isalnum(static_cast<unsigned char>(d)) && d != '.' && !sign) break;
                ++stop;
            }
            const std::string digits(s.substr(i, stop - i));
            char* end = nullptr;
            token.kind = Token::Number;
            token.number = std::strtod(digits.c_str(), &end);
            i += static_cast<std::size_t>(end - digits.c_str());
            if (i < s.size() && (s[i] == 'i' || s[i] == 'j') &&
                !(i + 1 < s.size() && (std::isalnum(static_cast<unsigned char>(s[i + 1])) || s[i + 1] == '_'))) {
                token.imaginary = true;
                ++i;
            }
        } else if (std::isalpha(static_cast<unsigned char>(c))) {
            token.kind = Token::Ident;
            while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '_')) token.text += s[i++];
        } else if (c == '\'' || c == '"') {
            token.kind = c == '\'' ? Token::Quoted : Token::DoubleQuoted;
            ++i;
            for (;;) {
                if (i >= s.size() || s[i] == '\n') syntaxError("unterminated text", token.position);
                if (s[i] == c) {
                    if (i + 1 < s.size() && s[i + 1] == c) {  // doubled quote: the quote itself
                        token.text += c;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                token.text += s[i++];
            }
        } else if (std::string_view("()[]{},;=.+-*:@~").find(c) != std::string_view::npos) {
            token.kind = Token::Punct;
            token.text = c;
            ++i;
            if (c == '=' && i < s.size() && s[i] == '=') syntaxError("comparison is not supported", token.position);
        } else {
            syntaxError(std::string("unexpected character '") + c + "'", i);
        }
        tokens.push_back(std::move(token));
    }
    Token end;
    end.position = s.size();
    tokens.push_back(end);
    return tokens;
}

// Deeper is refused: parsing, evaluating and destroying a tree each recurse once per level, so
// text such as a hundred thousand "(" or "-" must end in a parse error, not a stack overflow.
// Both the parser's own nesting and the depth of the tree it builds (a long chain "1+1+...+1"
// is a deep tree built without recursion) are held to it.
constexpr std::size_t kMaxDepth = 500;

class Parser {
public:
    explicit Parser(std::vector<Token> tokens) : m_tokens(std::move(tokens)) {}

    std::vector<Statement> statements() {
        std::vector<Statement> result;
        for (;;) {
            while (isPunct(";") || isPunct(",") || peek().kind == Token::Newline) advance();
            if (peek().kind == Token::End) return result;
            Statement statement = this->statement();
            if (isPunct(";")) statement.show = false;
            else if (!isPunct(",") && peek().kind != Token::Newline && peek().kind != Token::End)
                syntaxError("expected the end of the statement", peek().position);
            result.push_back(std::move(statement));
        }
    }

    ExprPtr wholeExpression() {
        while (peek().kind == Token::Newline) advance();
        ExprPtr e = expression();
        while (peek().kind == Token::Newline) advance();
        if (peek().kind != Token::End) syntaxError("unexpected text after the expression", peek().position);
        return e;
    }

private:
    // One level of the parser's own recursion, for as long as the scope lasts.
    class Nesting {
    public:
        explicit Nesting(Parser& parser) : m_parser(parser) {
            if (++m_parser.m_nesting > kMaxDepth) syntaxError("the expression nests too deeply", m_parser.peek().position);
        }
        ~Nesting() { --m_parser.m_nesting; }
        Nesting(const Nesting&) = delete;
        Nesting& operator=(const Nesting&) = delete;

    private:
        Parser& m_parser;
    };

    // The depth of a tree this parser built (a leaf is 1).
    std::size_t depthOf(const Expr* e) const {
        const auto found = m_depths.find(e);
        return found == m_depths.end() ? 1 : found->second;
    }
    // Records the depth of `e`, one more than its deepest child, and refuses a tree too deep.
    ExprPtr measured(ExprPtr e, std::size_t position) {
        std::size_t deepest = 0;
        for (const ExprPtr* child : {&e->base, &e->left, &e->right}) {
            if (*child) deepest = std::max(deepest, depthOf(child->get()));
        }
        for (const auto& row : e->rows) {
            for (const auto& element : row) deepest = std::max(deepest, depthOf(element.get()));
        }
        for (const auto& suffix : e->suffixes) {
            for (const auto& arg : suffix.args) deepest = std::max(deepest, depthOf(arg.get()));
        }
        if (deepest + 1 > kMaxDepth) syntaxError("the expression nests too deeply", position);
        m_depths[e.get()] = deepest + 1;
        return e;
    }

    const Token& peek(std::size_t ahead = 0) const {
        return m_tokens[std::min(m_index + ahead, m_tokens.size() - 1)];
    }
    const Token& advance() { return m_tokens[m_index < m_tokens.size() - 1 ? m_index++ : m_index]; }
    bool isPunct(const char* p, std::size_t ahead = 0) const {
        return peek(ahead).kind == Token::Punct && peek(ahead).text == p;
    }
    void expect(const char* p) {
        if (!isPunct(p)) syntaxError(std::string("expected '") + p + "'", peek().position);
        advance();
    }
    bool atStatementEnd(std::size_t ahead = 0) const {
        const Token& t = peek(ahead);
        return t.kind == Token::End || t.kind == Token::Newline || (t.kind == Token::Punct && (t.text == ";" || t.text == ","));
    }

    Statement statement() {
        Statement st;
        // Command syntax: clear / global followed by plain words.
        if (peek().kind == Token::Ident && (peek().text == "clear" || peek().text == "global") && !isPunct("=", 1) &&
            !isPunct("(", 1)) {
            st.kind = Statement::Command;
            st.command = advance().text;
            while (!atStatementEnd()) {
                if (peek().kind != Token::Ident) syntaxError("expected a name", peek().position);
                st.words.push_back(advance().text);
            }
            return st;
        }
        if (isPunct("[") && bracketAssignment()) {
            advance();
            st.kind = Statement::Assignment;
            st.multiple = true;
            while (!isPunct("]")) {
                if (isPunct(",")) { advance(); continue; }
                if (peek().kind != Token::Ident) syntaxError("expected a variable name", peek().position);
                st.targets.push_back({advance().text, {}});
            }
            advance();
            expect("=");
            st.value = expression();
            return st;
        }
        if (peek().kind == Token::Ident) {
            // NAME(.field)* = expr
            std::size_t ahead = 1;
            while (isPunct(".", ahead) && peek(ahead + 1).kind == Token::Ident) ahead += 2;
            if (isPunct("=", ahead)) {
                st.kind = Statement::Assignment;
                Target target{advance().text, {}};
                while (isPunct(".")) {
                    advance();
                    target.fields.push_back(advance().text);
                }
                advance();
                st.targets.push_back(std::move(target));
                st.value = expression();
                return st;
            }
        }
        st.kind = Statement::Expression;
        st.value = expression();
        return st;
    }

    // Whether the '[' here opens the target list of "[a, b] = ...".
    bool bracketAssignment() const {
        std::size_t ahead = 1;
        while (peek(ahead).kind == Token::Ident || isPunct(",", ahead)) ++ahead;
        return isPunct("]", ahead) && isPunct("=", ahead + 1);
    }

    // Inside [ ] and { }, a blank before an operator that is not followed by one ends the element.
    bool separatesElements() const {
        return m_inList && peek().spaceBefore && !peek(1).spaceBefore;
    }

    ExprPtr expression() {
        ExprPtr left = term();
        while ((isPunct("+") || isPunct("-")) && !separatesElements()) {
            const std::size_t position = peek().position;
            const char op = advance().text[0];
            left = binary(op, std::move(left), term(), position);
        }
        return left;
    }

    ExprPtr term() {
        ExprPtr left = unary();
        while (isPunct("*") && !separatesElements()) {
            const std::size_t position = advance().position;
            left = binary('*', std::move(left), unary(), position);
        }
        return left;
    }

    ExprPtr binary(char op, ExprPtr left, ExprPtr right, std::size_t position) {
        auto e = node(Expr::Binary);
        e->op = op;
        e->left = std::move(left);
        e->right = std::move(right);
        return measured(std::move(e), position);
    }

    ExprPtr unary() {
        if (isPunct("-") || isPunct("+")) {
            const Nesting nesting(*this);
            const std::size_t position = peek().position;
            const char op = advance().text[0];
            auto e = node(Expr::Unary);
            e->op = op;
            e->base = unary();
            return measured(std::move(e), position);
        }
        return postfix();
    }

    std::vector<ExprPtr> arguments(const char* close) {
        const Nesting nesting(*this);
        const bool saved = m_inList;
        m_inList = false;
        std::vector<ExprPtr> args;
        while (peek().kind == Token::Newline) advance();
        if (!isPunct(close)) {
            for (;;) {
                if (isPunct(":") && (isPunct(",", 1) || isPunct(close, 1))) {
                    advance();
                    args.push_back(node(Expr::Colon));
                } else {
                    args.push_back(expression());
                }
                if (isPunct(",")) { advance(); continue; }
                break;
            }
        }
        expect(close);
        m_inList = saved;
        return args;
    }

    ExprPtr postfix() {
        const std::size_t position = peek().position;
        ExprPtr start = primary();
        auto e = node(Expr::Postfix);
        for (;;) {
            // In a list, "a (1)" is two elements.
            if (m_inList && peek().spaceBefore && (isPunct("(") || isPunct("{"))) break;
            if (isPunct("(")) {
                advance();
                e->suffixes.push_back({Suffix::Paren, arguments(")"), {}});
            } else if (isPunct("{") && start->kind != Expr::Number) {
                advance();
                e->suffixes.push_back({Suffix::Brace, arguments("}"), {}});
            } else if (isPunct(".") && peek(1).kind == Token::Ident && !peek(1).spaceBefore) {
                advance();
                e->suffixes.push_back({Suffix::Dot, {}, advance().text});
            } else {
                break;
            }
        }
        if (e->suffixes.empty()) return start;
        e->base = std::move(start);
        return measured(std::move(e), position);
    }

    ExprPtr primary() {
        const Token& t = peek();
        switch (t.kind) {
        case Token::Number: {
            auto e = node(Expr::Number);
            e->number = t.number;
            e->imaginary = t.imaginary;
            advance();
            return e;
        }
        case Token::Quoted:
        case Token::DoubleQuoted: {
            auto e = node(Expr::Text);
            e->text = t.text;
            advance();
            return e;
        }
        case Token::Ident: {
            auto e = node(Expr::Name);
            e->text = t.text;
            advance();
            return e;
        }
        case Token::Punct:
            if (t.text == "(") {
                const Nesting nesting(*this);
                advance();
                const bool saved = m_inList;
                m_inList = false;
                ExprPtr inner = expression();
                m_inList = saved;
                expect(")");
                return inner;
            }
            if (t.text == "[" || t.text == "{") return list(t.text == "[" ? "]" : "}");
            break;
        default: break;
        }
        syntaxError(t.kind == Token::End ? "the expression is incomplete" : "unexpected '" + t.text + "'", t.position);
    }

    ExprPtr list(const char* close) {
        const Nesting nesting(*this);
        const std::size_t position = peek().position;
        auto e = node(std::string(close) == "]" ? Expr::Matrix : Expr::CellLiteral);
        advance();
        const bool saved = m_inList;
        m_inList = true;
        e->rows.emplace_back();
        for (;;) {
            if (isPunct(close)) break;
            if (peek().kind == Token::End) syntaxError(std::string("expected '") + close + "'", peek().position);
            if (isPunct(";") || peek().kind == Token::Newline) {
                advance();
                if (!e->rows.back().empty()) e->rows.emplace_back();
                continue;
            }
            if (isPunct(",")) {
                advance();
                continue;
            }
            e->rows.back().push_back(expression());
        }
        advance();
        m_inList = saved;
        if (e->rows.back().empty()) e->rows.pop_back();
        return measured(std::move(e), position);
    }

    std::vector<Token> m_tokens;
    std::size_t m_index = 0;
    bool m_inList = false;
    std::size_t m_nesting = 0;
    std::unordered_map<const Expr*, std::size_t> m_depths;
};

}  // namespace

std::vector<Statement> parseStatements(std::string_view source) { return Parser(tokenize(source)).statements(); }

ExprPtr parseExpression(std::string_view source) { return Parser(tokenize(source)).wholeExpression(); }

}  // namespace vhost::lang
