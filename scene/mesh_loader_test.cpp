#include "scene/scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace scene {
namespace {

constexpr float kTol = 1e-4f;

std::string testMesh(const char* name) {
    return (std::filesystem::path(__FILE__).parent_path() / "testdata" / name).string();
}

void expectNear(glm::vec3 actual, glm::vec3 expected) {
    EXPECT_NEAR(actual.x, expected.x, kTol);
    EXPECT_NEAR(actual.y, expected.y, kTol);
    EXPECT_NEAR(actual.z, expected.z, kTol);
}

MeshBuilder newBuilder() { return CreateMeshBuilder(Direct3DRMCreate(CreateRoot())); }

// The side the corners' clockwise order marks as the front.
glm::vec3 frontOf(const Triangle& t) {
    return glm::normalize(glm::cross(t.p[1] - t.p[0], t.p[2] - t.p[0]));
}

// cube.x: a cube of side 2, stretched twice along x by an inner frame and moved to
// (10, 20, 30) by the outer one; red, with a green glowing top.
TEST(MeshLoading, CubeComesFlattenedAndColouredInTheFilesOwnLeftHandedNumbers) {
    MeshBuilder mesh = newBuilder();
    ASSERT_TRUE(LoadFromFile(mesh, testMesh("cube.x")));
    ASSERT_EQ(mesh->triangles.size(), 12u);   // six quads, two triangles each
    EXPECT_EQ(mesh->version, 1u);

    const glm::vec3 centre(10, 20, 30);
    glm::vec3 low(1e9f), high(-1e9f);
    for (const Triangle& t : mesh->triangles) {
        for (const glm::vec3& p : t.p) {
            low = glm::min(low, p);
            high = glm::max(high, p);
        }
        // Faces run clockwise seen from outside, and every corner normal leans outwards.
        const glm::vec3 middle = (t.p[0] + t.p[1] + t.p[2]) / 3.0f;
        EXPECT_GT(glm::dot(frontOf(t), middle - centre), 0.0f);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(glm::length(t.n[k]), 1.0f, kTol);
            EXPECT_GT(glm::dot(t.n[k], t.p[k] - centre), 0.0f);
        }
    }
    expectNear(low, {8, 19, 29});
    expectNear(high, {12, 21, 31});

    // Each triangle takes its material's colour and glow.
    int red = 0, green = 0;
    for (const Triangle& t : mesh->triangles) {
        const bool onTop = t.p[0].y > 20.5f && t.p[1].y > 20.5f && t.p[2].y > 20.5f;
        if (onTop) {
            ++green;
            expectNear(t.color, {0, 1, 0});
            expectNear(t.emissive, {0.5f, 0.5f, 0});
        } else {
            ++red;
            expectNear(t.color, {1, 0, 0});
            expectNear(t.emissive, {0, 0, 0});
        }
    }
    EXPECT_EQ(green, 2);
    EXPECT_EQ(red, 10);
}

// tetrahedron.x carries normals of its own (one per corner, the corner at (0, 0, 1) has
// (0, 0, 1)); they must come through as written, not mirrored.
TEST(MeshLoading, NormalsWrittenInTheFileAreKept) {
    MeshBuilder mesh = newBuilder();
    ASSERT_TRUE(LoadFromFile(mesh, testMesh("tetrahedron.x")));
    ASSERT_EQ(mesh->triangles.size(), 4u);
    int cornersOnZ = 0;
    for (const Triangle& t : mesh->triangles) {
        expectNear(t.color, {0, 0, 1});
        for (int k = 0; k < 3; ++k)
            if (glm::length(t.p[k] - glm::vec3(0, 0, 1)) < kTol) {
                ++cornersOnZ;
                expectNear(t.n[k], {0, 0, 1});
            }
    }
    EXPECT_EQ(cornersOnZ, 3);
}

TEST(MeshLoading, ALaterLoadReplacesTheMesh) {
    MeshBuilder mesh = newBuilder();
    ASSERT_TRUE(LoadFromFile(mesh, testMesh("cube.x")));
    ASSERT_TRUE(LoadFromFile(mesh, testMesh("tetrahedron.x")));
    EXPECT_EQ(mesh->triangles.size(), 4u);
    EXPECT_EQ(mesh->version, 2u);
}

class UnreadableMeshTest : public ::testing::TestWithParam<const char*> {};

TEST_P(UnreadableMeshTest, LeavesANewBuilderEmpty) {
    MeshBuilder mesh = newBuilder();
    EXPECT_FALSE(LoadFromFile(mesh, testMesh(GetParam())));
    EXPECT_TRUE(mesh->triangles.empty());
    EXPECT_EQ(mesh->version, 0u);
}

TEST_P(UnreadableMeshTest, LeavesAnEarlierMeshAsItWas) {
    MeshBuilder mesh = newBuilder();
    ASSERT_TRUE(LoadFromFile(mesh, testMesh("tetrahedron.x")));
    ScaleMesh(mesh, 2, 2, 2);
    const std::vector<Triangle> before = mesh->triangles;
    EXPECT_FALSE(LoadFromFile(mesh, testMesh(GetParam())));
    EXPECT_EQ(mesh->version, 2u);
    ASSERT_EQ(mesh->triangles.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i)
        for (int k = 0; k < 3; ++k) EXPECT_EQ(mesh->triangles[i].p[k], before[i].p[k]);
}

INSTANTIATE_TEST_SUITE_P(MeshLoading, UnreadableMeshTest,
                         ::testing::Values("no_such_mesh.x",   // missing
                                           "truncated.x",      // ends inside the vertex list
                                           "not_a_mesh.x",     // plain text, no .x header
                                           ""),                // the folder itself
                         [](const auto& info) {
                             std::string name;
                             for (const char* c = info.param; *c && *c != '.'; ++c)
                                 if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                             return name.empty() ? std::string("folder") : name;
                         });

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The text with its first `from` (searched after `after`) replaced by `to`.
std::string damaged(const std::string& text, const std::string& after, const std::string& from,
                    const std::string& to) {
    std::string out = text;
    const size_t at = out.find(from, out.find(after));
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? out : out.replace(at, from.size(), to);
}

// Damaged files as a tester made them: each refused with why, before the mesh reader could
// allocate for it or follow an index out of its list (the normal indices crashed it).
TEST(DamagedMeshes, AreRefusedWithWhyAndNeverReachTheReader) {
    const std::string tetra = readText(testMesh("tetrahedron.x"));
    const std::string cube = readText(testMesh("cube.x"));
    struct Case { const char* name; std::string text; const char* why; };
    const Case cases[] = {
        {"normal index far out", damaged(tetra, "MeshNormals", "3;0,2,1;", "3;0,99999999,1;"), "normal index 99999999"},
        {"normal index -1", damaged(tetra, "MeshNormals", "3;0,2,1;", "3;0,-1,1;"), "negative"},
        {"normal index 2^32-1", damaged(tetra, "MeshNormals", "3;0,2,1;", "3;0,4294967295,1;"), "ten digits"},
        {"normal index one past", damaged(tetra, "MeshNormals", "3;1,2,3;", "3;1,2,4;"), "normal index 4"},
        {"vertex index one past", damaged(tetra, "Tetrahedron", "3;1,2,3;", "3;1,2,4;"), "vertex index 4"},
        {"huge vertex count", damaged(tetra, "Tetrahedron", "4;", "100000000;"), "declares 100000000 vertices"},
        {"huge normal count", damaged(tetra, "MeshNormals", "4;", "99999999;"), "declares 99999999 normals"},
        {"huge face count", damaged(cube, "Mesh Cube", "6;", "400000000;"), "declares 400000000 faces"},
        {"normal faces fewer", damaged(tetra, "MeshNormals", "  4;\n    3;0,2,1", "  3;\n    3;0,2,1"), "normal faces for"},
        {"normal face of 4 corners", damaged(tetra, "MeshNormals", "3;0,2,1;", "4;0,2,1,1;"), "corners differ"},
        {"face of 2 corners", damaged(tetra, "Tetrahedron", "3;0,2,1;", "2;0,2;"), "a face of 2 corners"},
        {"material index out", damaged(cube, "MeshMaterialList", "1,", "2,"), "material index 2"},
        {"fewer materials than declared", damaged(cube, "MeshMaterialList", "2;\n", "3;\n"), "declares 3 materials and holds 2"},
        {"material by reference", damaged(cube, "MeshMaterialList", "Material GlowingGreen", "{ Red }\nMaterial GlowingGreen"), "by reference"},
        {"not a number", damaged(tetra, "Tetrahedron", "1.000000;0.000000;0.000000;,", "nan;0;0;,"), "not finite"},
        {"huge coordinate", damaged(tetra, "Tetrahedron", "1.000000;0.000000;0.000000;,", "1e300;0;0;,"), "out of range"},
        {"skin weights", damaged(tetra, "MeshMaterialList", "MeshMaterialList {", "SkinWeights { \"x\"; 1; 7; 1.0; 1;0;0;0;0;1;0;0;0;0;1;0;0;0;0;1;; }\nMeshMaterialList {"), "SkinWeights"},
        {"ends inside a mesh", tetra.substr(0, tetra.find("MeshNormals")), "ends inside a mesh"},
        {"binary .x", damaged(tetra, "xof", "txt ", "bin "), "not a text .x file"},
        {"zero byte", damaged(tetra, "Tetrahedron", "Tetrahedron", std::string("Tetra\0edron", 11)), "zero byte"},
        {"frames 40 deep", "xof 0303txt 0032\n" + [] { std::string f; for (int i = 0; i < 40; ++i) f += "Frame {\n"; for (int i = 0; i < 40; ++i) f += "}\n"; return f; }(), "nested deeper"},
        {"no triangles", "xof 0303txt 0032\nFrame Empty {\n}\n", "no triangles"},
    };
    for (const Case& c : cases) {
        std::vector<Triangle> out;
        std::string problem;
        EXPECT_FALSE(ParseMeshFile(c.text, out, problem)) << c.name;
        EXPECT_NE(problem.find(c.why), std::string::npos) << c.name << ": " << problem;
        EXPECT_TRUE(out.empty()) << c.name;
    }
    // ... and the same files undamaged read as before.
    for (const std::string* good : {&tetra, &cube}) {
        std::vector<Triangle> out;
        std::string problem;
        EXPECT_TRUE(ParseMeshFile(*good, out, problem)) << problem;
        EXPECT_FALSE(out.empty());
    }
}

// A scratch folder of this test's own, removed afterwards.
struct ScratchDir {
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 ("hopshot-meshes-" + std::to_string(::getpid()));
    ScratchDir() { std::filesystem::create_directories(path); }
    ~ScratchDir() { std::filesystem::remove_all(path); }
};

// Every game start loads the eight meshes: a file is read once a run, a damaged one is named on
// standard error once, and a file above the size limit is refused by its size alone.
TEST(MeshFiles, AreReadOnceARunAndADamagedOneIsNamedOnce) {
    ScratchDir dir;
    const std::string good = (dir.path / "good.x").string();
    const std::string bad = (dir.path / "bad.x").string();
    const std::string huge = (dir.path / "huge.x").string();
    std::filesystem::copy_file(testMesh("tetrahedron.x"), good);
    std::ofstream(bad) << damaged(readText(testMesh("tetrahedron.x")), "MeshNormals", "3;0,2,1;",
                                  "3;0,99999999,1;");
    std::ofstream(huge) << "xof 0303txt 0032\n";
    std::filesystem::resize_file(huge, 300u << 20);   // sparse: costs no disk

    ::testing::internal::CaptureStderr();
    for (int start = 0; start < 3; ++start) {
        MeshBuilder a = newBuilder(), b = newBuilder(), c = newBuilder();
        EXPECT_TRUE(LoadFromFile(a, good));
        EXPECT_EQ(a->triangles.size(), 4u);
        EXPECT_FALSE(LoadFromFile(b, bad));
        EXPECT_TRUE(b->triangles.empty());
        EXPECT_FALSE(LoadFromFile(c, huge));
        EXPECT_FALSE(LoadFromFile(c, (dir.path / "missing.x").string()));
        if (start == 0) {
            // Rewritten in place with the same size and time, the file is not read again.
            struct stat before {};
            ASSERT_EQ(::stat(good.c_str(), &before), 0);
            std::string text = readText(good);
            std::replace(text.begin(), text.end(), '1', '2');
            std::ofstream(good, std::ios::binary | std::ios::trunc) << text;
            const struct timespec times[2] = {before.st_atim, before.st_mtim};
            ASSERT_EQ(::utimensat(AT_FDCWD, good.c_str(), times, 0), 0);
        }
    }
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << said;
    EXPECT_NE(said.find(bad + ": line "), std::string::npos) << said;
    EXPECT_NE(said.find("normal index 99999999"), std::string::npos) << said;
    EXPECT_NE(said.find(huge + ": 314572800 bytes, more than a mesh file may have"), std::string::npos) << said;
    EXPECT_EQ(said.find("missing.x"), std::string::npos) << said;
    EXPECT_EQ(said.find("good.x"), std::string::npos) << said;
}

}  // namespace
}  // namespace scene
