#include "platform/d3d9/effect_source.h"

#include <cctype>
#include <cstdio>
#include <string>
#include <utility>

namespace qv::d3d9 {
namespace {

constexpr int kMaxArrayLength = 1024;

enum class TokenKind : uint8_t { Identifier, Number, Symbol, End };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;
    int line = 0;
};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string Describe(const Token& t) {
    switch (t.kind) {
        case TokenKind::End:
            return "the end of the source";
        default:
            return "'" + t.text + "'";
    }
}

// Every step returns false after recording the first error, which is the one reported.
class Parser {
public:
    explicit Parser(std::string_view source) : source_(source) {}

    bool Run(EffectLayout* layout, std::string* error) {
        if (!Tokenise()) return Fail(error);
        while (Peek().kind != TokenKind::End) {
            if (!ParseDeclaration()) return Fail(error);
        }
        *layout = std::move(layout_);
        return true;
    }

private:
    bool Fail(std::string* error) {
        if (error) *error = error_;
        return false;
    }

    bool Error(int line, const std::string& what) {
        if (error_.empty()) error_ = "line " + std::to_string(line) + ": " + what;
        return false;
    }

    // ---- tokens ----

    bool Tokenise() {
        int line = 1;
        size_t i = 0;
        const size_t n = source_.size();
        while (i < n) {
            const char c = source_[i];
            if (c == '\n') {
                ++line;
                ++i;
            } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
                ++i;
            } else if (c == '/' && i + 1 < n && source_[i + 1] == '/') {
                while (i < n && source_[i] != '\n') ++i;
            } else if (c == '/' && i + 1 < n && source_[i + 1] == '*') {
                const int start = line;
                i += 2;
                while (i < n && !(source_[i] == '*' && i + 1 < n && source_[i + 1] == '/')) {
                    if (source_[i] == '\n') ++line;
                    ++i;
                }
                if (i >= n) return Error(start, "comment is not closed");
                i += 2;
            } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
                const size_t start = i;
                while (i < n && (std::isalnum(static_cast<unsigned char>(source_[i])) || source_[i] == '_')) ++i;
                tokens_.push_back(Token{TokenKind::Identifier, std::string(source_.substr(start, i - start)), line});
            } else if (std::isdigit(static_cast<unsigned char>(c))) {
                const size_t start = i;
                while (i < n && std::isalnum(static_cast<unsigned char>(source_[i]))) ++i;
                tokens_.push_back(Token{TokenKind::Number, std::string(source_.substr(start, i - start)), line});
            } else if (c == '{' || c == '}' || c == ';' || c == '=' || c == '[' || c == ']') {
                tokens_.push_back(Token{TokenKind::Symbol, std::string(1, c), line});
                ++i;
            } else {
                const unsigned code = static_cast<unsigned char>(c);
                char shown[16];
                if (code >= 0x20 && code < 0x7F) {
                    std::snprintf(shown, sizeof(shown), "'%c'", c);
                } else {
                    std::snprintf(shown, sizeof(shown), "0x%02X", code);
                }
                return Error(line, std::string("unexpected character ") + shown);
            }
        }
        // The end is reported where the last text stands, not on the empty line after it.
        end_ = Token{TokenKind::End, "", tokens_.empty() ? 1 : tokens_.back().line};
        return true;
    }

    const Token& Peek() const { return next_ < tokens_.size() ? tokens_[next_] : end_; }
    const Token& Take() {
        const Token& t = Peek();
        if (next_ < tokens_.size()) ++next_;
        return t;
    }
    bool PeekSymbol(char s) const { return Peek().kind == TokenKind::Symbol && Peek().text[0] == s; }

    bool ExpectSymbol(char s, const char* context) {
        const Token& t = Take();
        if (t.kind == TokenKind::Symbol && t.text[0] == s) return true;
        return Error(t.line, std::string("expected '") + s + "' " + context + ", found " + Describe(t));
    }

    bool ExpectIdentifier(const char* what, Token* out) {
        const Token& t = Take();
        if (t.kind != TokenKind::Identifier)
            return Error(t.line, std::string("expected ") + what + ", found " + Describe(t));
        *out = t;
        return true;
    }

    // A closing brace may be followed by a semicolon, as in .fx files.
    void SkipOptionalSemicolon() {
        if (PeekSymbol(';')) Take();
    }

    bool DeclareName(const Token& name) {
        if (layout_.FindParameter(name.text) || layout_.FindTechnique(name.text)) {
            return Error(name.line, "'" + name.text + "' is already declared");
        }
        return true;
    }

    // ---- declarations ----

    bool ParseDeclaration() {
        Token keyword;
        if (!ExpectIdentifier("a declaration (texture, sampler, struct or technique)", &keyword)) return false;
        if (keyword.text == "texture") return ParseTexture(keyword);
        if (keyword.text == "sampler") return ParseSampler(keyword);
        if (keyword.text == "struct") return ParseBlock(keyword);
        if (keyword.text == "technique") return ParseTechnique(keyword);
        return Error(keyword.line,
                     "unknown declaration '" + keyword.text + "' (expected texture, sampler, struct or technique)");
    }

    bool ParseTexture(const Token& keyword) {
        Parameter p;
        p.kind = ParameterKind::Texture;
        p.line = keyword.line;
        Token name;
        if (!ExpectIdentifier("a texture name", &name) || !DeclareName(name)) return false;
        if (!ExpectSymbol(';', "after the texture name")) return false;
        p.name = name.text;
        layout_.parameters.push_back(std::move(p));
        return true;
    }

    static int SamplerSlot(const std::string& name) {
        if (name.size() < 2 || name.size() > 3 || name[0] != 's') return 0;
        int slot = 0;
        for (size_t i = 1; i < name.size(); ++i) {
            if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
            slot = slot * 10 + (name[i] - '0');
        }
        if (name[1] == '0' || slot < kFirstSamplerSlot || slot > kLastSamplerSlot) return 0;
        return slot;
    }

    struct SamplerStates {
        std::string addressU = "WRAP";  // the device's defaults
        std::string addressV = "WRAP";
        std::string minFilter = "POINT";
        std::string magFilter = "POINT";
        std::string mipFilter = "NONE";
    };

    bool CheckAddress(const std::string& sampler, const char* state, const std::string& value, int line, bool written) {
        if (EqualsIgnoringCase(value, "CLAMP")) return true;
        if (!written) {
            return Error(line, "sampler " + sampler + " leaves " + state + " at " + value +
                                   ", which the rasteriser does not implement; set it to CLAMP");
        }
        return Error(line, std::string(state) + " = " + value + " is not implemented by the rasteriser (only CLAMP)");
    }

    bool ToFilter(const char* state, const std::string& value, int line, gfx::Filter* filter) {
        if (EqualsIgnoringCase(value, "POINT")) {
            *filter = gfx::Filter::Point;
            return true;
        }
        if (EqualsIgnoringCase(value, "LINEAR")) {
            *filter = gfx::Filter::Linear;
            return true;
        }
        return Error(
            line, std::string(state) + " = " + value + " is not implemented by the rasteriser (only POINT or LINEAR)");
    }

    bool ParseSampler(const Token& keyword) {
        Parameter p;
        p.kind = ParameterKind::Sampler;
        p.line = keyword.line;
        Token name;
        if (!ExpectIdentifier("a sampler name", &name) || !DeclareName(name)) return false;
        p.name = name.text;
        p.slot = SamplerSlot(name.text);
        if (p.slot == 0) return Error(name.line, "sampler '" + name.text + "' must be named s1 to s11, after its slot");
        if (!ExpectSymbol('{', "to open the sampler's states")) return false;

        static constexpr const char* kStateNames[] = {"Texture",   "AddressU",  "AddressV",
                                                      "MinFilter", "MagFilter", "MipFilter"};
        SamplerStates states;
        std::string* values[] = {&p.texture,        &states.addressU,  &states.addressV,
                                 &states.minFilter, &states.magFilter, &states.mipFilter};
        int lines[6] = {};
        while (!PeekSymbol('}')) {
            Token state, value;
            if (!ExpectIdentifier("a sampler state or '}'", &state)) return false;
            int which = -1;
            for (int i = 0; i < 6; ++i) {
                if (EqualsIgnoringCase(state.text, kStateNames[i])) which = i;
            }
            if (which < 0) {
                return Error(state.line, "sampler state '" + state.text +
                                             "' is not implemented by the rasteriser (only Texture, AddressU, "
                                             "AddressV, MinFilter, MagFilter, MipFilter)");
            }
            if (lines[which] != 0) return Error(state.line, std::string(kStateNames[which]) + " is set twice");
            if (!ExpectSymbol('=', "after the state name") || !ExpectIdentifier("a state value", &value) ||
                !ExpectSymbol(';', "after the state value")) {
                return false;
            }
            *values[which] = value.text;
            lines[which] = value.line;
        }
        Take();  // '}'
        SkipOptionalSemicolon();

        if (p.texture.empty()) return Error(p.line, "sampler " + p.name + " names no texture");
        const Parameter* texture = layout_.FindParameter(p.texture);
        if (!texture || texture->kind != ParameterKind::Texture) {
            return Error(lines[0], "'" + p.texture + "' is not a texture declared before sampler " + p.name);
        }
        if (!CheckAddress(p.name, "AddressU", states.addressU, lines[1] ? lines[1] : p.line, lines[1] != 0) ||
            !CheckAddress(p.name, "AddressV", states.addressV, lines[2] ? lines[2] : p.line, lines[2] != 0) ||
            !ToFilter("MinFilter", states.minFilter, lines[3], &p.state.minFilter) ||
            !ToFilter("MagFilter", states.magFilter, lines[4], &p.state.magFilter)) {
            return false;
        }
        if (!EqualsIgnoringCase(states.mipFilter, "NONE")) {
            return Error(lines[5], "MipFilter = " + states.mipFilter +
                                       " is not implemented by the rasteriser (only NONE: textures have one level)");
        }
        layout_.parameters.push_back(std::move(p));
        return true;
    }

    static bool ToMemberType(const std::string& name, MemberType* type) {
        static constexpr std::pair<const char*, MemberType> kTypes[] = {
            {"float", MemberType::Float},   {"int", MemberType::Int},       {"float2", MemberType::Float2},
            {"float3", MemberType::Float3}, {"float4", MemberType::Float4},
        };
        for (const auto& [text, t] : kTypes) {
            if (name == text) {
                *type = t;
                return true;
            }
        }
        return false;
    }

    bool ParseArrayLength(int* length) {
        const Token& t = Take();
        if (t.kind != TokenKind::Number) return Error(t.line, "expected an array length, found " + Describe(t));
        int value = 0;
        for (const char c : t.text) {
            if (!std::isdigit(static_cast<unsigned char>(c)) || value > kMaxArrayLength) {
                return Error(t.line, "array length '" + t.text + "' is not a number from 1 to " +
                                         std::to_string(kMaxArrayLength));
            }
            value = value * 10 + (c - '0');
        }
        if (value < 1 || value > kMaxArrayLength) {
            return Error(t.line,
                         "array length '" + t.text + "' is not a number from 1 to " + std::to_string(kMaxArrayLength));
        }
        *length = value;
        return ExpectSymbol(']', "after the array length");
    }

    bool ParseBlock(const Token& keyword) {
        Parameter p;
        p.kind = ParameterKind::Block;
        p.line = keyword.line;
        Token name;
        if (!ExpectIdentifier("a struct name", &name) || !DeclareName(name)) return false;
        p.name = name.text;
        if (!ExpectSymbol('{', "to open the struct's members")) return false;
        while (!PeekSymbol('}')) {
            Token typeName, memberName;
            if (!ExpectIdentifier("a member type or '}'", &typeName)) return false;
            BlockMember m;
            if (!ToMemberType(typeName.text, &m.type)) {
                return Error(typeName.line,
                             "unknown member type '" + typeName.text + "' (float, int, float2, float3 or float4)");
            }
            if (!ExpectIdentifier("a member name", &memberName)) return false;
            for (const BlockMember& other : p.members) {
                if (other.name == memberName.text) {
                    return Error(memberName.line, "member '" + memberName.text + "' is declared twice");
                }
            }
            m.name = memberName.text;
            if (PeekSymbol('[')) {
                Take();
                if (!ParseArrayLength(&m.arrayLength)) return false;
            }
            if (!ExpectSymbol(';', "after the member")) return false;
            m.offset = p.bytes;
            m.bytes = MemberTypeBytes(m.type) * (m.arrayLength > 0 ? m.arrayLength : 1);
            p.bytes += m.bytes;
            p.members.push_back(std::move(m));
        }
        Take();  // '}'
        SkipOptionalSemicolon();
        if (p.members.empty()) return Error(p.line, "struct " + p.name + " has no members");
        layout_.parameters.push_back(std::move(p));
        return true;
    }

    bool ParseTechnique(const Token& keyword) {
        Technique technique;
        technique.line = keyword.line;
        Token name;
        if (!ExpectIdentifier("a technique name", &name) || !DeclareName(name)) return false;
        technique.name = name.text;
        if (!ExpectSymbol('{', "to open the technique's passes")) return false;
        while (!PeekSymbol('}')) {
            Token passKeyword;
            if (!ExpectIdentifier("'pass' or '}'", &passKeyword)) return false;
            if (passKeyword.text != "pass")
                return Error(passKeyword.line, "expected 'pass' or '}', found " + Describe(passKeyword));
            Pass pass;
            if (!ParsePass(passKeyword, technique, &pass)) return false;
            technique.passes.push_back(std::move(pass));
        }
        Take();  // '}'
        SkipOptionalSemicolon();
        if (technique.passes.empty()) return Error(technique.line, "technique " + technique.name + " has no passes");
        layout_.techniques.push_back(std::move(technique));
        return true;
    }

    bool ParsePass(const Token& keyword, const Technique& technique, Pass* pass) {
        Token name;
        if (!ExpectIdentifier("a pass name", &name)) return false;
        for (const Pass& other : technique.passes) {
            if (other.name == name.text) return Error(name.line, "pass '" + name.text + "' is declared twice");
        }
        pass->name = name.text;
        if (!ExpectSymbol('{', "to open the pass's states")) return false;
        bool vertexSet = false;
        while (!PeekSymbol('}')) {
            Token state, value;
            if (!ExpectIdentifier("a pass state or '}'", &state)) return false;
            const bool vertex = EqualsIgnoringCase(state.text, "VertexShader");
            const bool pixel = EqualsIgnoringCase(state.text, "PixelShader");
            if (!vertex && !pixel) {
                return Error(state.line, "pass state '" + state.text +
                                             "' is not implemented by the rasteriser (a pass sets only "
                                             "VertexShader and PixelShader)");
            }
            if ((vertex && vertexSet) || (pixel && !pass->program.empty())) {
                return Error(state.line, state.text + " is set twice");
            }
            if (!ExpectSymbol('=', "after the state name") || !ExpectIdentifier("a program name or NULL", &value) ||
                !ExpectSymbol(';', "after the state value")) {
                return false;
            }
            const bool none = EqualsIgnoringCase(value.text, "NULL");
            if (vertex) {
                if (!none) {
                    return Error(value.line, "VertexShader = " + value.text +
                                                 ": the rasteriser runs no vertex programs (corners come in "
                                                 "target pixels); use NULL");
                }
                vertexSet = true;
            } else {
                if (none) return Error(value.line, "pass " + pass->name + " needs a pixel program");
                pass->program = value.text;
                pass->line = value.line;
            }
        }
        Take();  // '}'
        SkipOptionalSemicolon();
        if (pass->program.empty()) return Error(keyword.line, "pass " + pass->name + " names no pixel program");
        return true;
    }

    std::string_view source_;
    std::vector<Token> tokens_;
    Token end_;
    size_t next_ = 0;
    EffectLayout layout_;
    std::string error_;
};

}  // namespace

int MemberTypeBytes(MemberType type) {
    switch (type) {
        case MemberType::Float:
        case MemberType::Int:
            return 4;
        case MemberType::Float2:
            return 8;
        case MemberType::Float3:
            return 12;
        case MemberType::Float4:
            return 16;
    }
    return 0;
}

const Parameter* EffectLayout::FindParameter(std::string_view name) const {
    for (const Parameter& p : parameters) {
        if (p.name == name) return &p;
    }
    return nullptr;
}

const Technique* EffectLayout::FindTechnique(std::string_view name) const {
    for (const Technique& t : techniques) {
        if (t.name == name) return &t;
    }
    return nullptr;
}

bool ParseEffectSource(std::string_view source, EffectLayout* layout, std::string* error) {
    Parser parser(source);
    return parser.Run(layout, error);
}

}  // namespace qv::d3d9
