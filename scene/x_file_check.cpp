// The .x check: a walk over the file with the same tokens as Assimp's text reader (blanks and
// comments skipped, ; , { } as tokens of their own, numbers read the way its number reader
// reads them), so that what passes here is read there the same way. Nothing is allocated for a
// declared count: each count is first held against the bytes left in the file.
#include "scene/x_file_check.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace scene {

namespace {

constexpr int kMaxFrameDepth = 32;           // frames in frames; ours nest one or two deep
constexpr uint32_t kMaxFaceCorners = 64;     // corners of one face; ours have 3 or 4
constexpr uint32_t kMaxTextureSets = 8;      // the reader's own limit
constexpr double kMaxMagnitude = 1e6;        // any coordinate, normal, colour or matrix entry
constexpr int kMaxCountDigits = 9;           // counts and indices below 1,000,000,000
constexpr int kMaxIntegerDigits = 15;        // digits before a number's point
constexpr int kMaxExponentDigits = 3;
// Normals are smoothed for a mesh that brings none, at a cost that grows with the square of
// the corners that share a place; a mesh without normals is kept to a size where that is quick.
constexpr uint64_t kMaxCornersWithoutNormals = 16384;
// The fewest bytes one entry of each list takes: "0;0;0;" for a vector, "3;0,0,0;" for a
// triangle, "0," for an index, "0;0;" for a texture coordinate.
constexpr std::size_t kMinVectorBytes = 6;
constexpr std::size_t kMinFaceBytes = 8;
constexpr std::size_t kMinIndexBytes = 2;
constexpr std::size_t kMinCoordBytes = 4;

struct Refused {
    std::string why;
};

class XWalk {
public:
    explicit XWalk(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

    // Meshes stand either in frames or outside any frame: the reader hangs those outside on
    // the first frame, dropping (and leaking) what that frame held.
    void file() {
        header();
        bool framed = false, unframed = false;
        for (;;) {
            const std::string_view t = token();
            if (t.empty()) break;
            if (t == "template") template_();
            else if (t == "Frame") framed = true, frame(1);
            else if (t == "Mesh") unframed = true, mesh();
            else if (t == "Material") material();
            else if (t == "AnimTicksPerSecond" || t == "AnimationSet") fail("animations are not supported");
            else if (t == "}") fail("a closing brace with no object open");
            else unknownObject();
            if (framed && unframed) fail("meshes both in frames and outside any frame");
        }
    }

    int line() const { return line_; }

private:
    [[noreturn]] void fail(const std::string& why) { throw Refused{why}; }

    char at(const char* c) const { return c < end_ ? *c : '\0'; }
    static bool digit(char c) { return c >= '0' && c <= '9'; }
    std::size_t left() const { return std::size_t(end_ - p_); }

    // "xof 0303txt 0032": a text file with 32- or 64-bit floats; the rest of the line is skipped.
    void header() {
        if (left() < 16 || std::memcmp(p_, "xof ", 4) != 0) fail("not a DirectX .x file");
        if (std::memcmp(p_ + 8, "txt ", 4) != 0) fail("not a text .x file");
        if (std::memcmp(p_ + 12, "0032", 4) != 0 && std::memcmp(p_ + 12, "0064", 4) != 0)
            fail("a float size other than 32 or 64 bits");
        if (std::memchr(p_, '\0', left())) fail("a zero byte in the text");
        p_ += 16;
        untilEndOfLine();
    }

    void untilEndOfLine() {
        while (p_ < end_) {
            const char c = *p_++;
            if (c == '\n' || c == '\r') {
                ++line_;
                return;
            }
        }
    }

    void skipBlanks() {
        for (;;) {
            while (p_ < end_ && std::isspace(static_cast<unsigned char>(*p_))) {
                if (*p_ == '\n') ++line_;
                ++p_;
            }
            if (p_ >= end_) return;
            if ((*p_ == '/' && at(p_ + 1) == '/') || *p_ == '#') untilEndOfLine();
            else return;
        }
    }

    static bool delimiter(char c) { return c == ';' || c == '}' || c == '{' || c == ','; }

    // A run of non-blanks, or one delimiter on its own; empty at the end of the file.
    std::string_view token() {
        skipBlanks();
        const char* start = p_;
        while (p_ < end_ && !std::isspace(static_cast<unsigned char>(*p_))) {
            if (delimiter(*p_)) {
                if (p_ == start) ++p_;
                break;
            }
            ++p_;
        }
        return {start, std::size_t(p_ - start)};
    }

    void expect(std::string_view what, const char* name) {
        if (token() != what) fail(std::string(name) + " expected");
    }
    void separator() {
        const std::string_view t = token();
        if (t != "," && t != ";") fail("a separator (; or ,) expected");
    }
    void optionalSeparator() {
        skipBlanks();
        if (p_ < end_ && (*p_ == ';' || *p_ == ',')) ++p_;
    }
    // "Name {" or "{"
    void objectHead() {
        if (token() != "{" && token() != "{") fail("an opening brace expected");
    }

    uint32_t count() {
        skipBlanks();
        if (at(p_) == '-') fail("a negative count or index");
        if (!digit(at(p_))) fail("a whole number expected");
        uint32_t value = 0;
        int digits = 0;
        while (digit(at(p_))) {
            if (++digits > kMaxCountDigits) fail("a count or index of ten digits or more");
            value = value * 10 + uint32_t(*p_++ - '0');
        }
        separator();
        return value;
    }

    // A count of entries that each take at least `entryBytes`: more than the rest of the file
    // can hold is refused before anything walks them.
    uint32_t listCount(const char* what, std::size_t entryBytes) {
        const uint32_t n = count();
        if (uint64_t(n) * entryBytes > left())
            fail("declares " + std::to_string(n) + " " + what + ", more than the " +
                 std::to_string(left()) + " bytes left in the file can hold");
        return n;
    }

    uint32_t index(uint32_t size, const char* what) {
        const uint32_t i = count();
        if (i >= size)
            fail(std::string(what) + " index " + std::to_string(i) + " out of range (" +
                 std::to_string(size) + " in the list)");
        return i;
    }

    // The number reader's grammar: sign, digits, a point (or a comma) with digits, an exponent.
    void number() {
        skipBlanks();
        for (const char* marker : {"-1.#IND00", "1.#IND00", "1.#QNAN0"})
            if (left() >= std::strlen(marker) && std::memcmp(p_, marker, std::strlen(marker)) == 0)
                fail("a number that is not a number");
        const char* c = p_;
        if (at(c) == '-' || at(c) == '+') ++c;
        const char first = at(c);
        if (first == 'n' || first == 'N' || first == 'i' || first == 'I') fail("a number that is not finite");
        const bool point = first == '.' || first == ',';
        if (!digit(first) && !(point && digit(at(c + 1)))) fail("a number expected");
        int digits = 0;
        if (!point)
            while (digit(at(c))) {
                ++c;
                if (++digits > kMaxIntegerDigits) fail("a number with too many digits");
            }
        if ((at(c) == '.' || at(c) == ',') && digit(at(c + 1))) {
            ++c;
            while (digit(at(c))) ++c;
        } else if (at(c) == '.') {
            ++c;
        }
        if (at(c) == 'e' || at(c) == 'E') {
            ++c;
            if (at(c) == '-' || at(c) == '+') ++c;
            if (!digit(at(c))) fail("an exponent without digits");
            for (int e = 0; digit(at(c)); ++c)
                if (++e > kMaxExponentDigits) fail("an exponent with too many digits");
        }
        std::string text(p_, c);
        for (char& ch : text)
            if (ch == ',') ch = '.';
        const double value = std::strtod(text.c_str(), nullptr);
        if (!std::isfinite(value) || std::fabs(value) > kMaxMagnitude)
            fail("the number " + text + " is out of range");
        p_ = c;
        separator();
    }

    void numbers(int n) {
        for (int i = 0; i < n; ++i) number();
        optionalSeparator();
    }

    void template_() {
        objectHead();
        token();   // its GUID
        for (;;) {
            const std::string_view t = token();
            if (t.empty()) fail("the file ends inside a template");
            if (t == "}") return;
        }
    }

    // Skipped whole, as the reader skips it: everything up to its opening brace, then to the
    // brace that closes it.
    void unknownObject() {
        for (;;) {
            const std::string_view t = token();
            if (t.empty()) fail("the file ends inside an object");
            if (t == "{") break;
        }
        for (uint64_t open = 1; open > 0;) {
            const std::string_view t = token();
            if (t.empty()) fail("the file ends inside an object");
            if (t == "{") ++open;
            else if (t == "}") --open;
        }
    }

    void frame(int depth) {
        if (depth > kMaxFrameDepth) fail("frames nested deeper than " + std::to_string(kMaxFrameDepth));
        objectHead();
        for (;;) {
            const std::string_view t = token();
            if (t.empty()) fail("the file ends inside a frame");
            if (t == "}") return;
            if (t == "Frame") frame(depth + 1);
            else if (t == "FrameTransformMatrix") {
                objectHead();
                for (int i = 0; i < 16; ++i) number();
                expect(";", "a semicolon after the matrix");
                expect("}", "a closing brace");
            } else if (t == "Mesh") mesh();
            else unknownObject();
        }
    }

    void mesh() {
        objectHead();
        const uint32_t vertices = listCount("vertices", kMinVectorBytes);
        for (uint32_t v = 0; v < vertices; ++v) numbers(3);
        const uint32_t faces = listCount("faces", kMinFaceBytes);
        std::vector<uint8_t> corners(faces);   // held against the file's size above
        uint64_t allCorners = 0;
        for (uint32_t f = 0; f < faces; ++f) {
            const uint32_t k = count();
            if (k < 3 || k > kMaxFaceCorners)
                fail("a face of " + std::to_string(k) + " corners (3 to " +
                     std::to_string(kMaxFaceCorners) + " allowed)");
            for (uint32_t i = 0; i < k; ++i) index(vertices, "a face's vertex");
            optionalSeparator();
            corners[f] = uint8_t(k);
            allCorners += k;
        }
        bool normals = false, materials = false;
        uint32_t textureSets = 0;
        for (;;) {
            const std::string_view t = token();
            if (t.empty()) fail("the file ends inside a mesh");
            if (t == "}") break;
            if (t == "MeshNormals") {
                if (normals) fail("a second normal list in one mesh");
                normals = true;
                meshNormals(corners);
            } else if (t == "MeshMaterialList") {
                if (materials) fail("a second material list in one mesh");
                materials = true;
                materialList(faces);
            } else if (t == "MeshTextureCoords") {
                if (++textureSets > kMaxTextureSets) fail("too many texture coordinate sets");
                objectHead();
                if (listCount("texture coordinates", kMinCoordBytes) != vertices)
                    fail("texture coordinates that do not match the vertices");
                for (uint32_t v = 0; v < vertices; ++v) numbers(2);
                expect("}", "a closing brace");
            } else if (t == "MeshVertexColors" || t == "XSkinMeshHeader" || t == "SkinWeights") {
                fail(std::string(t) + " is not supported");
            } else {
                unknownObject();
            }
        }
        if (!normals && allCorners > kMaxCornersWithoutNormals)
            fail("a mesh of " + std::to_string(allCorners) + " corners without normals (at most " +
                 std::to_string(kMaxCornersWithoutNormals) + ")");
    }

    // Each normal face has the corners of its vertex face, and each names a normal of the list.
    void meshNormals(const std::vector<uint8_t>& corners) {
        objectHead();
        const uint32_t n = listCount("normals", kMinVectorBytes);
        for (uint32_t i = 0; i < n; ++i) numbers(3);
        const uint32_t faces = listCount("normal faces", kMinFaceBytes);
        if (faces != corners.size())
            fail(std::to_string(faces) + " normal faces for " + std::to_string(corners.size()) + " faces");
        for (uint32_t f = 0; f < faces; ++f) {
            if (count() != corners[f]) fail("a normal face whose corners differ from its face's");
            for (uint32_t i = 0; i < corners[f]; ++i) index(n, "a normal");
            optionalSeparator();
        }
        expect("}", "a closing brace");
    }

    // One material index per face (or one for all), each naming one of the materials that
    // follow in the list itself.
    void materialList(uint32_t faces) {
        objectHead();
        const uint32_t declared = count();
        const uint32_t indices = listCount("material indices", kMinIndexBytes);
        if (faces == 0 || (indices != faces && indices != 1))
            fail(std::to_string(indices) + " material indices for " + std::to_string(faces) + " faces");
        for (uint32_t i = 0; i < indices; ++i) index(declared, "a material");
        if (p_ < end_ && *p_ == ';') ++p_;
        uint32_t held = 0;
        for (;;) {
            const std::string_view t = token();
            if (t.empty()) fail("the file ends inside a material list");
            if (t == "}") break;
            if (t == "{") fail("a material given by reference");
            if (t == "Material") {
                material();
                ++held;
            } else if (t != ";") {
                unknownObject();
            }
        }
        if (held != declared)
            fail("declares " + std::to_string(declared) + " materials and holds " + std::to_string(held));
    }

    void material() {
        objectHead();
        numbers(4);   // diffuse colour and alpha
        number();     // specular power
        numbers(3);   // specular colour
        numbers(3);   // emissive colour
        for (;;) {
            const std::string_view t = token();
            if (t.empty()) fail("the file ends inside a material");
            if (t == "}") return;
            if (t == "TextureFilename" || t == "TextureFileName" || t == "NormalmapFilename" ||
                t == "NormalmapFileName") {
                objectHead();
                quoted();
                expect("}", "a closing brace");
            } else {
                unknownObject();
            }
        }
    }

    // "text"; with nothing between the closing quote and the semicolon.
    void quoted() {
        skipBlanks();
        if (at(p_) != '"') fail("a quoted name expected");
        ++p_;
        while (p_ < end_ && *p_ != '"') ++p_;
        if (p_ >= end_ - 1 || p_[1] != ';') fail("a quoted name not ended by \";");
        p_ += 2;
    }

    const char* p_;
    const char* end_;
    int line_ = 1;
};

}  // namespace

bool CheckXFile(std::string_view text, std::string& problem) {
    if (text.size() > kMaxMeshFileBytes) {
        problem = std::to_string(text.size()) + " bytes, more than a mesh file may have (" +
                  std::to_string(kMaxMeshFileBytes) + ")";
        return false;
    }
    XWalk walk(text);
    try {
        walk.file();
        return true;
    } catch (const Refused& r) {
        problem = "line " + std::to_string(walk.line()) + ": " + r.why;
        return false;
    }
}

}  // namespace scene
